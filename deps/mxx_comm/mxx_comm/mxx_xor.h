// XOR of a byte range, eight bytes at a time: the frame checks of the receive
// path run over whole payloads, so this loop is the parser's inner cost.
#ifndef ORVISK_MXX_XOR_H
#define ORVISK_MXX_XOR_H

#include <stddef.h>
#include <stdint.h>
#include <string.h>

namespace mxx {

inline uint8_t mxxXor(const uint8_t* p, size_t n)
{
    uint64_t a = 0, b = 0, c = 0, d = 0;
    while (n >= 32) {
        uint64_t w[4];
        memcpy(w, p, sizeof w);
        a ^= w[0];
        b ^= w[1];
        c ^= w[2];
        d ^= w[3];
        p += 32;
        n -= 32;
    }
    a ^= b ^ c ^ d;
    while (n >= 8) {
        uint64_t w;
        memcpy(&w, p, sizeof w);
        a ^= w;
        p += 8;
        n -= 8;
    }
    a ^= a >> 32;
    a ^= a >> 16;
    a ^= a >> 8;
    uint8_t x = static_cast<uint8_t>(a);
    while (n--)
        x ^= *p++;
    return x;
}

} // namespace mxx

#endif
