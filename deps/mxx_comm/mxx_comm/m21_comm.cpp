#include "m21_comm.h"

#define MXX_TABLE_FAMILY M21
#define MXX_TABLE_FILE "m21_commands.def"
#define M21_COMMAND MXX_TABLE_ROW
#include "mxx_command_table.inc"
#undef M21_COMMAND
