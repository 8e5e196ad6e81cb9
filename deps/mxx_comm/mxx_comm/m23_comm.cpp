#include "m23_comm.h"

#include "mxx_buffer.h"
#include "mxx_bytes.h"

#include <algorithm>
#include <string.h>
#include <vector>

namespace {

// Cutting a path at its field would address another file.
bool fits(const char* path)
{
    return strlen(path ? path : "") <= M23_PATH_FIELD;
}

uint32_t chunkOf(uint32_t instrument, uint32_t limit)
{
    if (instrument == 0)
        return limit;
    return limit == 0 ? instrument : std::min(instrument, limit);
}

} // namespace

int M23_data_buff_op(int conn, uint32_t operation, const char* path, uint32_t argument1,
                     uint32_t argument2, void* response, int timeout_ms, int wait)
{
    if (!fits(path))
        return -1;
    const char* text = path ? path : "";
    uint8_t request[M23_OP_SIZE] = {};
    MXX_put_u32(request, operation);
    MXX_put_text(request + 4, M23_PATH_FIELD, text, strlen(text));
    MXX_put_u32(request + 28, argument1);
    MXX_put_u32(request + 32, argument2);
    uint32_t status = 0;
    const int result = MXX_send_cmd(conn, M23_code_data_buff_op, request, sizeof request, response,
                                    response ? M23_OP_ANSWER_SIZE : 0, nullptr, nullptr, &status,
                                    timeout_ms, wait);
    if (result == 0)
        return 0;
    // A failure frame may carry status 0, which must not read as done.
    if (result == 1 && status != 0)
        return static_cast<int>(status);
    return M23_OP_NO_ANSWER;
}

int M23_data_buff_info(int conn, void* response, int wait)
{
    return M23_data_buff_op(conn, M23_OP_BUFFER_INFO, "", 0, 0, response,
                            M23_commands[M23_row_data_buff_info].timeout_ms, wait);
}

int M23_file_info(int conn, const char* path, uint32_t* size, int wait)
{
    uint8_t answer[M23_OP_ANSWER_SIZE] = {};
    const int result = M23_data_buff_op(conn, M23_OP_FILE_INFO, path, 0, 0, answer,
                                        M23_commands[M23_row_file_info].timeout_ms, wait);
    if (result == 0 && size)
        *size = MXX_get_u32(answer);
    return result;
}

int M23_file_read(int conn, const char* path, void* destination, uint32_t max_length,
                  uint32_t argument1, uint32_t argument2, uint32_t chunk_limit, uint32_t* received,
                  int timeout_ms, int wait)
{
    uint8_t loaded[M23_OP_ANSWER_SIZE] = {};
    int result =
        M23_data_buff_op(conn, M23_OP_LOAD, path, argument1, argument2, loaded, timeout_ms, wait);
    if (result != 0)
        return result;
    const uint32_t length = std::min(max_length, MXX_get_u32(loaded + 4));
    const uint32_t chunk = chunkOf(MXX_get_u32(loaded + 16), chunk_limit);
    return MXX_buffer_read(conn, M23_code_file_read, destination, length, chunk, received,
                           timeout_ms, wait);
}

int M23_file_write(int conn, const char* path, const void* source, uint32_t length,
                   uint32_t argument1, uint32_t argument2, uint32_t chunk_limit, uint32_t* output,
                   int timeout_ms, int wait)
{
    if (!fits(path))
        return -1;
    uint8_t info[M23_OP_ANSWER_SIZE] = {};
    int result = M23_data_buff_info(conn, info, wait);
    if (result != 0)
        return result;
    // A file cut at the capacity would be stored as if it were whole.
    if (length > MXX_get_u32(info + 20))
        return -1;
    result = MXX_buffer_write(conn, M23_code_file_write, source, length,
                              chunkOf(MXX_get_u32(info + 12), chunk_limit), timeout_ms, wait);
    if (result != 0)
        return result;
    uint8_t stored[M23_OP_ANSWER_SIZE] = {};
    result =
        M23_data_buff_op(conn, M23_OP_STORE, path, argument1, argument2, stored, timeout_ms, wait);
    if (result == 0 && output)
        *output = MXX_get_u32(stored + 8);
    return result;
}

int M23_get_status_info(int conn, void* response, int timeout_ms, int wait)
{
    return MXX_send_cmd(conn, M23_code_get_status_info, nullptr, 0, response,
                        response ? M23_STATUS_INFO_SIZE : 0, nullptr, nullptr, nullptr, timeout_ms,
                        wait);
}

int M23_file_get(int conn, const MXX_command& row, uint32_t argument1, uint32_t argument2,
                 void* data, int wait)
{
    const uint32_t size = static_cast<uint32_t>(row.response);
    if (!data)
        return -1;
    std::vector<uint8_t> file(size);
    uint32_t got = 0;
    const int result = M23_file_read(conn, row.path, file.data(), size, argument1, argument2,
                                     M23_CHUNK_LIMIT, &got, row.timeout_ms, wait);
    if (result != 0)
        return result;
    if (got != size)
        return -1;
    std::copy(file.begin(), file.end(), static_cast<uint8_t*>(data));
    return 0;
}

int M23_file_put(int conn, const MXX_command& row, const void* data, int wait)
{
    return M23_file_write(conn, row.path, data, static_cast<uint32_t>(row.request), 0, 0,
                          M23_CHUNK_LIMIT, nullptr, row.timeout_ms, wait);
}
