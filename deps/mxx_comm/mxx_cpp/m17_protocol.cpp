#include "m17_protocol.h"

#include <m17_comm.h>
#include <mxx_bytes.h>

#include <vector>

namespace {

constexpr int kTextSize = 8;
constexpr int kPageSize = 64;

QString textOf(const char* bytes, int capacity)
{
    int n = 0;
    while (n < capacity && bytes[n])
        ++n;
    return QString::fromUtf8(bytes, n);
}

} // namespace

QString M17Protocol::getFWVersion() const
{
    char text[kTextSize] = {};
    M17_get_fw_version(connection(), text, 1);
    return textOf(text, kTextSize);
}

QString M17Protocol::getSerial() const
{
    char text[kTextSize + 1] = {};
    M17_get_serial(connection(), text, 1);
    return textOf(text, kTextSize);
}

bool M17Protocol::setSerial(const QString& serial) const
{
    const QByteArray utf8 = serial.toUtf8();
    uint8_t field[kTextSize];
    MXX_put_text(field, sizeof field, utf8.constData(), static_cast<size_t>(utf8.size()));
    return M17_set_serial(connection(), field, 1) == 0;
}

bool M17Protocol::getTime(QDateTime& time) const
{
    uint8_t clock[24] = {};
    if (M17_get_time(connection(), clock, 1) != 0)
        return false;
    int v[6];
    for (int i = 0; i < 6; ++i)
        v[i] = static_cast<int32_t>(MXX_get_u32(clock + 4 * i));
    time.setDate(QDate(v[0], v[1], v[2]));
    time.setTime(QTime(v[3], v[4], v[5], 0));
    return true;
}

bool M17Protocol::setTime(const QDateTime& time) const
{
    const QDate d = time.date();
    const QTime t = time.time();
    const int v[6] = {d.year(), d.month(), d.day(), t.hour(), t.minute(), t.second()};
    uint8_t clock[24];
    for (int i = 0; i < 6; ++i)
        MXX_put_u32(clock + 4 * i, static_cast<uint32_t>(v[i]));
    return M17_set_time(connection(), clock, 1) == 0;
}

bool M17Protocol::getModelRev(Revision& revision) const
{
    uint8_t bytes[4] = {};
    if (M17_get_model_rev(connection(), bytes, 1) != 0)
        return false;
    std::copy(bytes, bytes + 4, revision.byte);
    return true;
}

bool M17Protocol::setModelRev(const Revision& revision) const
{
    return M17_set_model_rev(connection(), revision.byte, 1) == 0;
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
    uint8_t request[2];
    MXX_put_u16(request, static_cast<uint16_t>(page));
    uint8_t bytes[kPageSize] = {};
    if (M17_read_ext_flash(connection(), request, bytes, 1) != 0)
        return false;
    std::copy(bytes, bytes + kPageSize, data);
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
    uint8_t request[8];
    MXX_put_u32(request, flag ? 1 : 0);
    MXX_put_u32(request + 4, value);
    return M17_flash_FW(connection(), request, 1) == 0;
}

bool M17Protocol::restart() const
{
    return M17_restart(connection(), 0) == 0;
}
