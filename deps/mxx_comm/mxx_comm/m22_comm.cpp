#include "m22_comm.h"

#define MXX_TABLE_FAMILY M22
#define MXX_TABLE_FILE "m22_commands.def"
#define M22_COMMAND MXX_TABLE_ROW
#include "mxx_command_table.inc"
#undef M22_COMMAND
