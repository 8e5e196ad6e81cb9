#include "m34_comm.h"

#define MXX_TABLE_FAMILY M34
#define MXX_TABLE_FILE "m34_commands.def"
#define M34_COMMAND MXX_TABLE_ROW
#define M30_COLUMN(m28, m34, m36) m34
#include "m30_derived_table.inc"
