// Little-endian fields in fixed-size records.
#pragma once

#include "sim/frame.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

namespace sim::detail {

inline void put16(std::uint8_t* p, std::uint16_t v)
{
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}

inline void put32(std::uint8_t* p, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

inline void putf(std::uint8_t* p, float f)
{
    std::uint32_t v;
    std::memcpy(&v, &f, 4);
    put32(p, v);
}

// 0 when the record is too short for the field.
inline std::uint32_t get32(const Bytes& b, std::size_t at)
{
    if (at + 4 > b.size())
        return 0;
    return static_cast<std::uint32_t>(b[at]) | static_cast<std::uint32_t>(b[at + 1]) << 8 |
           static_cast<std::uint32_t>(b[at + 2]) << 16 |
           static_cast<std::uint32_t>(b[at + 3]) << 24;
}

// Cut at the field; the field is assumed zeroed, so shorter texts end in NUL.
inline void put_text(std::uint8_t* p, std::size_t field, const std::string& text)
{
    std::memcpy(p, text.data(), std::min(field, text.size()));
}

} // namespace sim::detail
