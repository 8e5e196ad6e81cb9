#include "mch_comm.h"

#define MXX_TABLE_FAMILY MCH
#define MXX_TABLE_FILE "mch_commands.def"
#define MCH_COMMAND MXX_TABLE_ROW
#include "mxx_command_table.inc"
#undef MCH_COMMAND
