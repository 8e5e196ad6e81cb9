// Frames for the fuzz targets: any code and payload, checks computed.
#pragma once

#include <mxx_comm.h>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace fuzz_frames {

inline std::vector<uint8_t> frame(uint16_t code, const uint8_t* payload, size_t size,
                                  uint16_t param = 0, uint8_t status = 0)
{
    std::vector<uint8_t> f(MXX_FRAME_OVERHEAD + size);
    const uint16_t length = static_cast<uint16_t>(size + 1);
    f[0] = 'B', f[1] = 'R', f[2] = 'N', f[3] = 'O';
    f[4] = static_cast<uint8_t>(code), f[5] = static_cast<uint8_t>(code >> 8);
    f[6] = static_cast<uint8_t>(length), f[7] = static_cast<uint8_t>(length >> 8);
    f[8] = static_cast<uint8_t>(param), f[9] = static_cast<uint8_t>(param >> 8);
    f[10] = status;
    uint8_t x = 0;
    for (int i = 0; i < 11; ++i)
        x ^= f[static_cast<size_t>(i)];
    f[11] = x;
    x = 0;
    for (size_t i = 0; i < size; ++i)
        x ^= f[MXX_FRAME_HEADER_SIZE + i] = payload[i];
    f[MXX_FRAME_HEADER_SIZE + size] = x;
    return f;
}

inline std::vector<uint8_t> frame(uint16_t code, const std::vector<uint8_t>& payload,
                                  uint16_t param = 0, uint8_t status = 0)
{
    return frame(code, payload.data(), payload.size(), param, status);
}

} // namespace fuzz_frames
