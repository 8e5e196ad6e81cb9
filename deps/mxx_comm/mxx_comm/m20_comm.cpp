#include "m20_comm.h"

#define MXX_TABLE_FAMILY M20
#define MXX_TABLE_FILE "m20_commands.def"
#define M20_COMMAND MXX_TABLE_ROW
#include "mxx_command_table.inc"
#undef M20_COMMAND
