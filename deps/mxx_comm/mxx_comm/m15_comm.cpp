#include "m15_comm.h"

#define MXX_TABLE_FAMILY M15
#define MXX_TABLE_FILE "m15_commands.def"
#define M15_COMMAND MXX_TABLE_ROW
#include "mxx_command_table.inc"
#undef M15_COMMAND
