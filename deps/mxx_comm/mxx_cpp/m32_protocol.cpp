#include "m32_protocol.h"

#include "protocol_bytes.h"

namespace {

using namespace mxx_marshal;

} // namespace

bool M32Protocol::getParams(M32_params& params)
{
    return M32_get_params(connection(), params.bytes, 1) == 0;
}

bool M32Protocol::setParams(const M32_params& params)
{
    return M32_set_params(connection(), params.bytes, 1) == 0;
}

bool M32Protocol::getStatus(M32_status& status)
{
    return M32_get_status(connection(), status.bytes, 1) == 0;
}

bool M32Protocol::deleteRecords(quint32 first, quint32 last)
{
    uint8_t request[8];
    MXX_put_u32(request, first);
    MXX_put_u32(request + 4, last);
    return M32_delete_records(connection(), request, 1) == 0;
}

bool M32Protocol::getHeadInfo(M32_head_info& info, int& status)
{
    uint32_t st = kNoFrame;
    return withStatus(M32_get_head_info(connection(), info.bytes, &st, 1), st, status);
}

bool M32Protocol::setHeadInfo(const M32_head_info& info, int& status)
{
    uint32_t st = kNoFrame;
    return withStatus(M32_set_head_info(connection(), info.bytes, &st, 1), st, status);
}

bool M32Protocol::getHeadParams(M32_head_params& params)
{
    return M32_get_head_params(connection(), params.bytes, 1) == 0;
}

bool M32Protocol::setHeadParams(const M32_head_params& params)
{
    return M32_set_head_params(connection(), params.bytes, 1) == 0;
}

bool M32Protocol::getConcLut(M32_conc_lut& table)
{
    return M32_get_conc_lut(connection(), table.bytes, 1) == 0;
}

bool M32Protocol::setConcLut(const M32_conc_lut& table)
{
    return M32_set_conc_lut(connection(), table.bytes, 1) == 0;
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

bool M32Protocol::getLogInfo(M32_log_info& info)
{
    return M32_get_info(connection(), info.bytes, 1) == 0;
}
