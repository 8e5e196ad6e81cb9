#include "mxx_command.h"

int MXX_command_send(int conn, const MXX_command& cmd, const void* in, void* out, uint32_t* status,
                     int wait)
{
    return MXX_send_cmd(conn, cmd.code, in, in ? cmd.request : 0, out, out ? cmd.response : 0,
                        nullptr, nullptr, status, cmd.timeout_ms, wait);
}

int MXX_command_send_sized(int conn, const MXX_command& cmd, const void* in, int size, void* out,
                           uint32_t* out_size, int wait)
{
    if (size < 0 || size > cmd.request)
        return -1;
    return MXX_send_cmd(conn, cmd.code, in, size, out, out ? cmd.response : 0, out_size, nullptr,
                        nullptr, cmd.timeout_ms, wait);
}
