#include "m32_comm.h"

#define MXX_TABLE_FAMILY M32
#define MXX_TABLE_FILE "m32_commands.def"
#define M32_COMMAND MXX_TABLE_ROW
#define M32_FILE MXX_TABLE_FILE_ROW
#include "mxx_command_table.inc"
#undef M32_COMMAND
#undef M32_FILE

int M32_read_sd_raw(int conn, uint32_t sector, void* data, int wait)
{
    return M23_file_get(conn, M32_commands[M32_row_read_sd_raw], sector, 0, data, wait);
}
