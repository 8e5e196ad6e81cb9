#include "m17_comm.h"

int M17_erase_ext_flash(int conn, uint32_t* param, int wait)
{
    const MXX_command& c = M17_commands[M17_row_erase_ext_flash];
    return MXX_send_cmd(conn, c.code, nullptr, 0, nullptr, 0, nullptr, param, nullptr, c.timeout_ms,
                        wait);
}

int M17_write_ext_flash(int conn, const void* request, int size, int wait)
{
    const MXX_command& c = M17_commands[M17_row_write_ext_flash];
    if (size < 0 || size > MXX_MAX_CMD_PAYLOAD)
        return -1;
    return MXX_send_cmd(conn, c.code, request, size, nullptr, 0, nullptr, nullptr, nullptr,
                        c.timeout_ms, wait);
}
