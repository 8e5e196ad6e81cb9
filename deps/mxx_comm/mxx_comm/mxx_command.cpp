#include "mxx_command.h"

int MXX_command_send(int conn, const MXX_command& cmd, const void* in, void* out, uint32_t* status,
                     int wait)
{
    return MXX_send_cmd(conn, cmd.code, in, in ? cmd.request : 0, out, out ? cmd.response : 0,
                        nullptr, nullptr, status, cmd.timeout_ms, wait);
}
