// M23Protocol: the data-buffer file transfer, by which the instrument keeps
// files that the host reads and writes by path. M26Protocol builds on it.
#pragma once

#include "protocol.h"
#include "protocol_events.h"

#include <m23_comm.h>

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <memory>
#include <mutex>

// The buffer's status information, kept without a signal; M26's too, posted
// under its own family.
template <int Family>
inline constexpr MXX_event_handler M23StatusInfoEvent =
    mxx_events::recordEvent<Family, M23_status_info>;
#define M23_EVENTS(X, F)                                                                           \
    X(F, M23_STATUS_EVENT, CUSTOM, , (M23StatusInfoEvent<MXX_TYPE_##F>, keepStatusInfo))

class M23Protocol : public Protocol
{
    Q_OBJECT

public:
    M23Protocol();

    int type() const override { return MXX_TYPE_M23; }
    bool receiveData(QVariant& data) override;

    // Each exchange's time-out and the largest chunk asked for are the
    // caller's to choose; 2000 ms and M23_CHUNK_LIMIT at first.
    void setTimeout(int ms) { m_timeout = ms; }
    int timeout() const { return m_timeout; }
    void setChunkLimit(uint32_t bytes) { m_chunkLimit = bytes; }

    bool dataBuffInfo(M23_buff_info& info);
    bool fileInfo(const QString& path, uint32_t& size);
    // At most `maxLength` bytes of the file; `data` holds what came.
    bool readFile(const QString& path, QByteArray& data, uint32_t maxLength, uint32_t argument1 = 0,
                  uint32_t argument2 = 0);
    // The instrument's answer to the store (the bytes stored) goes to `output`.
    bool writeFile(const QString& path, const QByteArray& data, uint32_t argument1 = 0,
                   uint32_t argument2 = 0, uint32_t* output = nullptr);
    bool getStatusInfo(M23_status_info& info);
    // The status information of the last event; null before the first.
    std::shared_ptr<M23_status_info> lastStatusInfo() const { return m_lastStatus; }

protected:
    void hookEvents(int connection) override;
    // Exchanges of this object run one at a time, whichever thread issues
    // them: M26Protocol reads files on a thread of its own.
    std::shared_ptr<std::mutex> exchangeLock() const { return m_exchange; }
    std::unique_lock<std::mutex> exchangeGuard() const
    {
        return std::unique_lock<std::mutex>(*m_exchange);
    }
    bool keepStatusInfo(QVariant& data);

private:
    static void registerEventTypes();

    int m_timeout = 2000;
    uint32_t m_chunkLimit = M23_CHUNK_LIMIT;
    std::shared_ptr<std::mutex> m_exchange = std::make_shared<std::mutex>();
    std::shared_ptr<M23_status_info> m_lastStatus;
};

Q_DECLARE_METATYPE(std::shared_ptr<M23_status_info>)
