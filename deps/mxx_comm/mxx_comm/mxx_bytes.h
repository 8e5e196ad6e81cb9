// Little-endian wire values and fixed-size text fields, for the command
// functions and the protocol objects that marshal requests and answers.
#ifndef ORVISK_MXX_BYTES_H
#define ORVISK_MXX_BYTES_H

#include <stddef.h>
#include <stdint.h>
#include <string.h>

inline uint16_t MXX_get_u16(const void* at)
{
    const uint8_t* p = static_cast<const uint8_t*>(at);
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

inline uint32_t MXX_get_u32(const void* at)
{
    const uint8_t* p = static_cast<const uint8_t*>(at);
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

inline float MXX_get_f32(const void* at)
{
    uint32_t bits = MXX_get_u32(at);
    float v;
    memcpy(&v, &bits, sizeof v);
    return v;
}

inline void MXX_put_u16(void* at, uint16_t v)
{
    uint8_t* p = static_cast<uint8_t*>(at);
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

inline void MXX_put_u32(void* at, uint32_t v)
{
    uint8_t* p = static_cast<uint8_t*>(at);
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}

inline void MXX_put_f32(void* at, float v)
{
    uint32_t bits;
    memcpy(&bits, &v, sizeof bits);
    MXX_put_u32(at, bits);
}

// A text field: the bytes cut at the field size and NUL-padded up to it; a
// text that fills the field has no terminating NUL.
inline void MXX_put_text(void* at, size_t field, const char* text, size_t length)
{
    size_t n = length < field ? length : field;
    memcpy(at, text, n);
    memset(static_cast<uint8_t*>(at) + n, 0, field - n);
}

#endif
