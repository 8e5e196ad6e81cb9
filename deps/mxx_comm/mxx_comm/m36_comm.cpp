#include "m36_comm.h"

#define MXX_TABLE_FAMILY M36
#define MXX_TABLE_FILE "m36_commands.def"
#define M36_COMMAND MXX_TABLE_ROW
#define M30_COLUMN(m28, m34, m36) m36
#include "m30_derived_table.inc"
