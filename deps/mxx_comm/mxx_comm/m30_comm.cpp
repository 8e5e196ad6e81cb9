#include "m30_comm.h"

#include "mxx_bytes.h"

namespace {

// The sharing table has one line per row, in the table's order.
#define M30_SHARED(row, ...) M30_row_##row,
#define M30_SHARED_ROW(row, ...) M30_row_##row,
constexpr M30_row kSharedRows[] = {
#include "m30_shared.def"
};
#undef M30_SHARED
#undef M30_SHARED_ROW

constexpr bool sharedRowsInOrder()
{
    int i = 0;
    for (M30_row row : kSharedRows)
        if (row != i++)
            return false;
    return i == M30_row_count;
}
static_assert(sharedRowsInOrder(),
              "m30_shared.def: one line per row of m30_commands.def, in order");

int exchange(int conn, const MXX_command& command, const uint8_t* request, void* response,
             uint32_t* response_size, int wait)
{
    return MXX_send_cmd(conn, command.code, request, command.request, response, command.response,
                        response_size, nullptr, nullptr, command.timeout_ms, wait);
}

} // namespace

int M30_tx_buff_info(int conn, int argument, void* response, int wait)
{
    uint8_t request[4];
    MXX_put_u32(request, static_cast<uint32_t>(argument));
    return exchange(conn, M30_commands[M30_row_tx_buff_info], request, response, nullptr, wait);
}

int M30_tx_buff_prepare(int conn, M30_tx_buff_prepare_request request, void* response, int wait)
{
    uint8_t bytes[M30_TX_PREPARE_SIZE];
    for (int i = 0; i < M30_TX_PREPARE_SIZE / 4; ++i)
        MXX_put_u32(bytes + 4 * i, request.word[i]);
    return exchange(conn, M30_commands[M30_row_tx_buff_prepare], bytes, response, nullptr, wait);
}

int M30_tx_buff_get(int conn, M30_tx_buff_chunk_request request, void* response,
                    uint32_t* response_size, int wait)
{
    uint8_t bytes[12];
    MXX_put_u32(bytes, request.offset);
    MXX_put_u32(bytes + 4, request.handle);
    MXX_put_u32(bytes + 8, request.selector);
    return exchange(conn, M30_commands[M30_row_tx_buff_get], bytes, response, response_size, wait);
}
