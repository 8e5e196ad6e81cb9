#include "m23_protocol.h"

#include "protocol_bytes.h"
#include "protocol_events.h"

namespace {

constexpr int kM23 = 7;

namespace detail {

constexpr MXX_event_handler M23StatusInfoEvent = mxx_events::recordEvent<kM23, M23_status_info>;

} // namespace detail

const mxx_events::Hook kHooks[] = {{M23_STATUS_EVENT, detail::M23StatusInfoEvent}};

} // namespace

M23Protocol::M23Protocol()
{
    mxx_events::registerRecord<M23_status_info>("std::shared_ptr<M23_status_info>");
}

void M23Protocol::bind(int connection, QThread* thread)
{
    Protocol::bind(connection, thread);
    mxx_events::hookAll(connection, kHooks);
}

bool M23Protocol::receiveData(QVariant& data)
{
    if (!data.canConvert<std::shared_ptr<M23_status_info>>())
        return false;
    m_lastStatus = data.value<std::shared_ptr<M23_status_info>>();
    return true;
}

bool M23Protocol::dataBuffInfo(M23_buff_info& info)
{
    std::lock_guard<std::mutex> lock(*m_exchange);
    return M23_data_buff_info(connection(), info.bytes, 1) == 0;
}

bool M23Protocol::fileInfo(const QString& path, uint32_t& size)
{
    std::lock_guard<std::mutex> lock(*m_exchange);
    return M23_file_info(connection(), path.toUtf8().constData(), &size, 1) == 0;
}

bool M23Protocol::readFile(const QString& path, QByteArray& data, uint32_t maxLength,
                           uint32_t argument1, uint32_t argument2)
{
    std::lock_guard<std::mutex> lock(*m_exchange);
    return mxx_marshal::readInto(data, maxLength, [&](char* to, uint32_t* got) {
        return M23_file_read(connection(), path.toUtf8().constData(), to, maxLength, argument1,
                             argument2, m_chunkLimit, got, m_timeout, 1);
    });
}

bool M23Protocol::writeFile(const QString& path, const QByteArray& data, uint32_t argument1,
                            uint32_t argument2, uint32_t* output)
{
    std::lock_guard<std::mutex> lock(*m_exchange);
    return M23_file_write(connection(), path.toUtf8().constData(), data.constData(),
                          static_cast<uint32_t>(data.size()), argument1, argument2, m_chunkLimit,
                          output, m_timeout, 1) == 0;
}

bool M23Protocol::getStatusInfo(M23_status_info& info)
{
    std::lock_guard<std::mutex> lock(*m_exchange);
    return M23_get_status_info(connection(), info.bytes, m_timeout, 1) == 0;
}
