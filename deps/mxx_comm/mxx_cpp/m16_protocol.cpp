#include "m16_protocol.h"

#include "family_support.h"

MXX_DEFINE_EVENTS(M16)

#define MXX_METHODS_FAMILY M16
#define MXX_METHODS_OWNER M16Protocol
#define M16_COMMAND MXX_NO_METHOD
#define M16_METHOD MXX_DEFINE_COMMAND_METHOD
#include <m16_commands.def>
#undef M16_COMMAND
#undef MXX_METHODS_OWNER
#undef MXX_METHODS_FAMILY

bool M16Protocol::usbTest()
{
    constexpr int kSize = MXX_REQUEST_SIZE(M16, USB_Test);
    uint8_t pattern[kSize], echo[kSize] = {};
    for (int i = 0; i < kSize; ++i) // every bit in both states, no two bytes alike
        pattern[i] = static_cast<uint8_t>(i * 37 + 0x5a);
    return M16_USB_Test(connection(), pattern, echo, 1) == 0 &&
           std::memcmp(pattern, echo, kSize) == 0;
}

int M16Protocol::lutChecksum(const QVector<int>& table)
{
    uint16_t sum = 0;
    for (int entry : table)
        sum = static_cast<uint16_t>(sum + entry);
    return sum;
}

bool M16Protocol::writeLut(int slot, const QVector<int>& table)
{
    if (slot < 0 || slot > UINT16_MAX || table.size() != M16_LUT_ENTRIES)
        return false;
    uint8_t request[MXX_REQUEST_SIZE(M16, Write_LUT)];
    static_assert(sizeof request == 2 + 2 * M16_LUT_ENTRIES, "u16 slot, then the table");
    MXX_put_u16(request, static_cast<uint16_t>(slot));
    for (int i = 0; i < M16_LUT_ENTRIES; ++i) {
        if (table[i] < 0 || table[i] > UINT16_MAX)
            return false;
        MXX_put_u16(request + 2 + 2 * i, static_cast<uint16_t>(table[i]));
    }
    uint8_t answer[MXX_RESPONSE_SIZE(M16, Write_LUT)] = {};
    return M16_Write_LUT(connection(), request, answer, 1) == 0 &&
           MXX_get_u16(answer) == lutChecksum(table);
}
