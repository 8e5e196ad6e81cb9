#include "m18_comm.h"

#define MXX_TABLE_FAMILY M18
#define MXX_TABLE_FILE "m18_commands.def"
#define M18_COMMAND MXX_TABLE_ROW
#include "mxx_command_table.inc"
#undef M18_COMMAND
