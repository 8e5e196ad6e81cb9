#include "m23_protocol.h"

#include "protocol_bytes.h"
#include "protocol_events.h"

MXX_DEFINE_EVENTS(M23)

M23Protocol::M23Protocol()
{
    registerEventTypes();
    mxx_events::registerRecord<M23_status_info>("std::shared_ptr<M23_status_info>");
}

bool M23Protocol::keepStatusInfo(QVariant& data)
{
    if (!data.canConvert<std::shared_ptr<M23_status_info>>())
        return false;
    m_lastStatus = data.value<std::shared_ptr<M23_status_info>>();
    return true;
}

bool M23Protocol::dataBuffInfo(M23_buff_info& info)
{
    const auto exchange = exchangeGuard();
    return M23_data_buff_info(connection(), info.bytes, 1) == 0;
}

bool M23Protocol::fileInfo(const QString& path, uint32_t& size)
{
    const auto exchange = exchangeGuard();
    return M23_file_info(connection(), path.toUtf8().constData(), &size, 1) == 0;
}

bool M23Protocol::readFile(const QString& path, QByteArray& data, uint32_t maxLength,
                           uint32_t argument1, uint32_t argument2)
{
    const auto exchange = exchangeGuard();
    return mxx_marshal::readInto(data, maxLength, [&](char* to, uint32_t* got) {
        return M23_file_read(connection(), path.toUtf8().constData(), to, maxLength, argument1,
                             argument2, m_chunkLimit, got, m_timeout, 1);
    });
}

bool M23Protocol::writeFile(const QString& path, const QByteArray& data, uint32_t argument1,
                            uint32_t argument2, uint32_t* output)
{
    const auto exchange = exchangeGuard();
    return M23_file_write(connection(), path.toUtf8().constData(), data.constData(),
                          static_cast<uint32_t>(data.size()), argument1, argument2, m_chunkLimit,
                          output, m_timeout, 1) == 0;
}

bool M23Protocol::getStatusInfo(M23_status_info& info)
{
    const auto exchange = exchangeGuard();
    return M23_get_status_info(connection(), info.bytes, m_timeout, 1) == 0;
}
