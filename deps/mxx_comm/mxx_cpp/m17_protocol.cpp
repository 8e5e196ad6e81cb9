#include "m17_protocol.h"

#include "family_support.h"

#include <mxx_bytes.h>

#include <vector>

#define MXX_METHODS_FAMILY M17
#define MXX_METHODS_OWNER M17Protocol
#define M17_COMMAND MXX_NO_METHOD
#define M17_METHOD MXX_DEFINE_CONST_COMMAND_METHOD
#include <m17_commands.def>
#undef M17_COMMAND
#undef MXX_METHODS_OWNER
#undef MXX_METHODS_FAMILY

bool M17Protocol::getTime(QDateTime& time) const
{
    uint8_t clock[MXX_RESPONSE_SIZE(M17, get_time)] = {};
    if (M17_get_time(connection(), clock, 1) != 0)
        return false;
    int field[6];
    for (int i = 0; i < 6; ++i)
        field[i] = static_cast<int32_t>(MXX_get_u32(clock + 4 * i));
    time.setDate(QDate(field[0], field[1], field[2]));
    time.setTime(QTime(field[3], field[4], field[5], 0));
    return true;
}

bool M17Protocol::setTime(const QDateTime& time) const
{
    const QDate date = time.date();
    const QTime clockTime = time.time();
    const int field[6] = {date.year(),      date.month(),       date.day(),
                          clockTime.hour(), clockTime.minute(), clockTime.second()};
    uint8_t clock[MXX_REQUEST_SIZE(M17, set_time)];
    for (int i = 0; i < 6; ++i)
        MXX_put_u32(clock + 4 * i, static_cast<uint32_t>(field[i]));
    return M17_set_time(connection(), clock, 1) == 0;
}

bool M17Protocol::eraseExtFlash(int& result) const
{
    uint32_t param = 0;
    if (M17_erase_ext_flash(connection(), &param, 1) != 0)
        return false;
    result = static_cast<int>(param);
    return true;
}

bool M17Protocol::readExtFlash(short page, unsigned char* data) const
{
    uint8_t request[MXX_REQUEST_SIZE(M17, read_ext_flash)];
    MXX_put_u16(request, static_cast<uint16_t>(page));
    uint8_t bytes[MXX_RESPONSE_SIZE(M17, read_ext_flash)] = {};
    if (M17_read_ext_flash(connection(), request, bytes, 1) != 0)
        return false;
    std::copy(bytes, bytes + sizeof bytes, data);
    return true;
}

bool M17Protocol::writeExtFlash(short page, const unsigned char* data, unsigned int size) const
{
    if (size > static_cast<unsigned int>(MXX_MAX_CMD_PAYLOAD - 2))
        return false;
    std::vector<uint8_t> request(2 + size);
    MXX_put_u16(request.data(), static_cast<uint16_t>(page));
    std::copy(data, data + size, request.begin() + 2);
    return M17_write_ext_flash(connection(), request.data(), static_cast<int>(request.size()), 1) ==
           0;
}

bool M17Protocol::flashFW(bool flag, unsigned int value) const
{
    uint8_t request[MXX_REQUEST_SIZE(M17, flash_FW)];
    MXX_put_u32(request, flag ? 1 : 0);
    MXX_put_u32(request + 4, value);
    return M17_flash_FW(connection(), request, 1) == 0;
}

bool M17Protocol::restart() const
{
    return M17_restart(connection(), 0) == 0;
}
