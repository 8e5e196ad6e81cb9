#include "m26_comm.h"

#include <string>

int M26_get_stab_log_entry(int conn, uint32_t index, uint32_t base, void* entry, int wait)
{
    return M23_file_get(conn, M26_commands[M26_row_get_stab_log_entry], index, base, entry, wait);
}

int M26_get_spectrum(int conn, const char* name, void* response, uint32_t capacity, uint32_t* size,
                     int wait)
{
    const MXX_command& row = M26_commands[M26_row_get_spectrum];
    const std::string path = std::string(row.path) + "/" + (name ? name : "");
    return M23_file_read(conn, path.c_str(), response, capacity, 0, 0, M23_CHUNK_LIMIT, size,
                         row.timeout_ms, wait);
}
