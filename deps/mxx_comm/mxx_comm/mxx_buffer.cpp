#include "mxx_buffer.h"

#include "mxx_bytes.h"

#include <algorithm>
#include <vector>

namespace {

uint32_t limited(uint32_t chunk, uint32_t most)
{
    return chunk == 0 ? most : std::min(chunk, most);
}

} // namespace

int MXX_buffer_read(int conn, uint16_t code, void* destination, uint32_t length, uint32_t chunk,
                    uint32_t* received, int timeout_ms, int wait)
{
    if (length > 0 && !destination)
        return -1;
    chunk = limited(chunk, MXX_BUFFER_MAX_READ_CHUNK);
    std::vector<uint8_t> answer(std::min(chunk, length));
    uint8_t* out = static_cast<uint8_t*>(destination);
    uint32_t done = 0;
    while (done < length) {
        const uint32_t ask = std::min(chunk, length - done);
        uint8_t request[MXX_BUFFER_CHUNK_HEAD];
        MXX_put_u32(request, done);
        MXX_put_u32(request + 4, ask);
        uint32_t got = 0;
        // A capacity of `ask` leaves a longer answer untaken, so `got` never
        // exceeds what is left of the destination.
        const int result =
            MXX_send_cmd(conn, code, request, sizeof request, answer.data(), static_cast<int>(ask),
                         &got, nullptr, nullptr, timeout_ms, wait);
        if (result != 0)
            return result;
        if (got == 0)
            return -1;
        std::copy_n(answer.data(), got, out + done);
        done += got;
    }
    if (received)
        *received = done;
    return 0;
}

int MXX_buffer_write(int conn, uint16_t code, const void* source, uint32_t length, uint32_t chunk,
                     int timeout_ms, int wait)
{
    if (length > 0 && !source)
        return -1;
    chunk = limited(chunk, MXX_BUFFER_MAX_WRITE_CHUNK);
    std::vector<uint8_t> request(MXX_BUFFER_CHUNK_HEAD + std::min(chunk, length));
    const uint8_t* in = static_cast<const uint8_t*>(source);
    for (uint32_t done = 0; done < length;) {
        const uint32_t n = std::min(chunk, length - done);
        MXX_put_u32(request.data(), done);
        MXX_put_u32(request.data() + 4, n);
        std::copy_n(in + done, n, request.data() + MXX_BUFFER_CHUNK_HEAD);
        const int result =
            MXX_send_cmd(conn, code, request.data(), static_cast<int>(MXX_BUFFER_CHUNK_HEAD + n),
                         nullptr, 0, nullptr, nullptr, nullptr, timeout_ms, wait);
        if (result != 0)
            return result;
        done += n;
    }
    return 0;
}
