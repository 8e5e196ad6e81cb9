#include "m24_comm.h"

#include "mxx_buffer.h"
#include "mxx_bytes.h"

#include <algorithm>
#include <vector>

namespace {

const MXX_command& row(int index)
{
    return M24_commands[index];
}

int readItem(int conn, int index, uint32_t item, void* record, int wait)
{
    const uint32_t size = static_cast<uint32_t>(row(index).response);
    std::vector<uint8_t> bytes(size);
    uint32_t got = 0;
    const int result = M24_data_buff_read(conn, item, 0, 0, bytes.data(), size, &got, wait);
    if (result != 0)
        return result;
    if (got != size || !record)
        return -1;
    std::copy(bytes.begin(), bytes.end(), static_cast<uint8_t*>(record));
    return 0;
}

int writeItem(int conn, int index, uint32_t item, const void* record, int wait)
{
    return M24_data_buff_write(conn, item, 0, 0, record, static_cast<uint32_t>(row(index).request),
                               wait);
}

} // namespace

int M24_data_buff_op(int conn, uint32_t item, uint32_t argument1, uint32_t argument2,
                     uint32_t length, void* response, int wait)
{
    uint8_t request[M24_OP_SIZE];
    MXX_put_u32(request, item);
    MXX_put_u32(request + 4, argument1);
    MXX_put_u32(request + 8, argument2);
    MXX_put_u32(request + 12, length);
    return MXX_send_cmd(conn, row(M24_row_data_buff_op).code, request, sizeof request, response,
                        response ? M24_OP_ANSWER_SIZE : 0, nullptr, nullptr, nullptr,
                        row(M24_row_data_buff_op).timeout_ms, wait);
}

int M24_data_buff_read(int conn, uint32_t item, uint32_t argument1, uint32_t argument2,
                       void* destination, uint32_t max_length, uint32_t* received, int wait)
{
    uint8_t loaded[M24_OP_ANSWER_SIZE] = {};
    const int result = M24_data_buff_op(conn, item, argument1, argument2, 0, loaded, wait);
    if (result != 0)
        return result;
    const MXX_command& read = row(M24_row_data_buff_read);
    return MXX_buffer_read(conn, read.code, destination, std::min(max_length, MXX_get_u32(loaded)),
                           MXX_get_u32(loaded + 4), received, read.timeout_ms, wait);
}

int M24_data_buff_write(int conn, uint32_t item, uint32_t argument1, uint32_t argument2,
                        const void* source, uint32_t length, int wait)
{
    const MXX_command& write = row(M24_row_data_buff_write);
    const int result =
        MXX_buffer_write(conn, write.code, source, length, M24_WRITE_CHUNK, write.timeout_ms, wait);
    if (result != 0)
        return result;
    return M24_data_buff_op(conn, item, argument1, argument2, length, nullptr, wait);
}

#define M24_ITEM_BODY_OUT(name, item) return readItem(conn, M24_row_##name, item, response, wait);
#define M24_ITEM_BODY_IN(name, item) return writeItem(conn, M24_row_##name, item, request, wait);
#define M24_DEFINE_ITEM(name, item, form)                                                          \
    MXX_SIGNATURE(M24_##name, form)                                                                \
    {                                                                                              \
        M24_ITEM_BODY_##form(name, item)                                                           \
    }
M24_RECORD_ITEMS(M24_DEFINE_ITEM)
#undef M24_DEFINE_ITEM
#undef M24_ITEM_BODY_OUT
#undef M24_ITEM_BODY_IN

int M24_read_memory(int conn, uint32_t address, void* destination, uint32_t length,
                    uint32_t* received, int wait)
{
    return M24_data_buff_read(conn, M24_ITEM_MEMORY_READ, address, length, destination, length,
                              received, wait);
}

int M24_write_memory(int conn, uint32_t address, const void* source, uint32_t length, int wait)
{
    return M24_data_buff_write(conn, M24_ITEM_MEMORY_WRITE, address, length, source, length, wait);
}
