#include "m32_comm.h"

int M32_read_sd_raw(int conn, uint32_t sector, void* data, int wait)
{
    return M23_file_get(conn, M32_commands[M32_row_read_sd_raw], sector, 0, data, wait);
}
