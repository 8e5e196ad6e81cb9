#include "m32_protocol.h"

#include "family_support.h"

#define MXX_METHODS_FAMILY M32
#define MXX_METHODS_OWNER M32Protocol
#define M32_COMMAND MXX_NO_METHOD
#define M32_FILE MXX_NO_METHOD
#define M32_METHOD MXX_DEFINE_COMMAND_METHOD
#define M32_FILE_METHOD MXX_DEFINE_FILE_METHOD
#include <m32_commands.def>
#undef M32_COMMAND
#undef M32_FILE
#undef MXX_METHODS_OWNER
#undef MXX_METHODS_FAMILY

bool M32Protocol::deleteRecords(quint32 first, quint32 last)
{
    uint8_t request[MXX_REQUEST_SIZE(M32, delete_records)];
    MXX_put_u32(request, first);
    MXX_put_u32(request + 4, last);
    return M32_delete_records(connection(), request, 1) == 0;
}

bool M32Protocol::getIpWindows(QVector<Window>& windows)
{
    uint8_t file[M32_IP_WINDOWS_SIZE];
    if (M32_get_ip_windows(connection(), file, 1) != 0)
        return false;
    windows.clear();
    for (int i = 0; i < M32_IP_WINDOWS; ++i)
        windows.append({MXX_get_u32(file + 8 * i), MXX_get_u32(file + 8 * i + 4)});
    return true;
}

bool M32Protocol::setIpWindows(const QVector<Window>& windows)
{
    if (windows.size() > M32_IP_WINDOWS)
        return false;
    uint8_t file[M32_IP_WINDOWS_SIZE] = {};
    for (int i = 0; i < windows.size(); ++i) {
        MXX_put_u32(file + 8 * i, windows[i].first);
        MXX_put_u32(file + 8 * i + 4, windows[i].second);
    }
    return M32_set_ip_windows(connection(), file, 1) == 0;
}

bool M32Protocol::getSdRawSize(quint32& bytes)
{
    uint32_t size = 0;
    if (M32_get_sd_raw_size(connection(), &size, 1) != 0)
        return false;
    bytes = size;
    return true;
}

bool M32Protocol::readSdSector(quint32 sector, QByteArray& data)
{
    QByteArray bytes(M32_SECTOR_SIZE, 0);
    if (M32_read_sd_raw(connection(), sector, bytes.data(), 1) != 0)
        return false;
    data = bytes;
    return true;
}
