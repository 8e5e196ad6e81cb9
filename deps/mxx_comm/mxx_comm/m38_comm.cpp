#include "m38_comm.h"

#define MXX_TABLE_FAMILY M38
#define MXX_TABLE_FILE "m38_commands.def"
#define M38_COMMAND MXX_TABLE_ROW
#include "mxx_command_table.inc"
#undef M38_COMMAND
