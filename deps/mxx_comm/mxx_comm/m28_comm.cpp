#include "m28_comm.h"

#define MXX_TABLE_FAMILY M28
#define MXX_TABLE_FILE "m28_commands.def"
#define M28_COMMAND MXX_TABLE_ROW
#define M30_COLUMN(m28, m34, m36) m28
#include "m30_derived_table.inc"
