#include "m16_comm.h"

#define MXX_TABLE_FAMILY M16
#define MXX_TABLE_FILE "m16_commands.def"
#define M16_COMMAND MXX_TABLE_ROW
#include "mxx_command_table.inc"
#undef M16_COMMAND
