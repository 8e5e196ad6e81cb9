#include "m26_protocol.h"

#include "family_support.h"

#include <QThread>

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

using namespace mxx_marshal;

// Our own table of the M26 models by the number the instrument reports.
const char* const kModelNames[] = {"M26", "M26 Gamma", "M26 Gamma-Neutron", "M26 Stab"};

// A spectrum file: head of channel count, live and real time, total count,
// pile-up and sequence number, then the counts. The channel count is taken
// no further than the bytes that came.
std::shared_ptr<M26Spectrum> spectrumOf(const QByteArray& file, const QString& name)
{
    if (file.size() < M26_SPECTRUM_HEAD)
        return nullptr;
    const auto* p = reinterpret_cast<const uint8_t*>(file.constData());
    const uint32_t room = static_cast<uint32_t>(file.size() - M26_SPECTRUM_HEAD) / 4;
    const uint32_t n = std::min(MXX_get_u32(p), room);
    QVector<int> counts(static_cast<int>(n));
    for (uint32_t i = 0; i < n; ++i)
        counts[static_cast<int>(i)] = static_cast<int>(MXX_get_u32(p + M26_SPECTRUM_HEAD + 4 * i));
    auto spectrum = std::make_shared<M26Spectrum>(counts, MXX_get_u32(p + 4), MXX_get_u32(p + 8),
                                                  MXX_get_u32(p + 12), MXX_get_u32(p + 20), 0.0f);
    spectrum->setPileup(MXX_get_u32(p + 16));
    spectrum->setTypeName(name.startsWith(QLatin1String("stab")) ? M26Spectrum::kStabilization
                                                                 : M26Spectrum::kSecond);
    return spectrum;
}

bool readSpectrum(int conn, const QString& name, std::shared_ptr<M26Spectrum>& spectrum)
{
    QByteArray file(M26_SPECTRUM_MAX_SIZE, 0);
    uint32_t got = 0;
    if (M26_get_spectrum(conn, name.toUtf8().constData(), file.data(),
                         static_cast<uint32_t>(file.size()), &got, 1) != 0)
        return false;
    file.truncate(static_cast<int>(got));
    auto read = spectrumOf(file, name);
    if (!read)
        return false;
    spectrum = read;
    return true;
}

} // namespace

// Reads on the thread it was moved to; every exchange under the protocol's
// exchange lock, which it shares.
class M26Reader : public QObject
{
    Q_OBJECT

public:
    M26Reader(int connection, std::shared_ptr<std::mutex> exchange)
        : m_conn(connection), m_exchange(std::move(exchange))
    {
    }

public slots:
    void readStatus();
    void readStabLogEntry(uint32_t index, uint32_t base);

signals:
    void spectrumSecLin(std::shared_ptr<Spectrum> spectrum);
    void spectrumSecRaw(std::shared_ptr<Spectrum> spectrum);
    void spectrumStab(std::shared_ptr<Spectrum> spectrum);
    void statusChanged(M26_status status);
    void stabEntryAdded(M26_stab_log_entry entry);
    void stabLogEntry(M26_stab_log_entry entry);

private:
    void readNewEntries();

    int m_conn;
    std::shared_ptr<std::mutex> m_exchange;
    bool m_haveStatus = false;
    M26_status m_status;
    bool m_haveLog = false;
    int64_t m_lastId = 0; // of the newest record seen
};

void M26Reader::readStatus()
{
    {
        std::lock_guard<std::mutex> lock(*m_exchange);
        M26_status status;
        if (M26_get_status(m_conn, status.bytes, 1) == 0 &&
            (!m_haveStatus || std::memcmp(status.bytes, m_status.bytes, sizeof status.bytes))) {
            m_status = status;
            m_haveStatus = true;
            emit statusChanged(status);
        }
        using Signal = void (M26Reader::*)(std::shared_ptr<Spectrum>);
        const std::pair<const char*, Signal> files[] = {
            {M26_SPECTRUM_SEC512, &M26Reader::spectrumSecRaw},
            {M26_SPECTRUM_SEC1024, &M26Reader::spectrumSecLin},
            {M26_SPECTRUM_STAB512, &M26Reader::spectrumStab},
        };
        for (auto [name, signal] : files) {
            std::shared_ptr<M26Spectrum> spectrum;
            if (readSpectrum(m_conn, QString::fromLatin1(name), spectrum))
                emit(this->*signal)(spectrum);
        }
    }
    readNewEntries();
}

// Record i of the log has the id first + i; those above the newest seen are
// new. The first look only learns where the log stands.
void M26Reader::readNewEntries()
{
    std::lock_guard<std::mutex> lock(*m_exchange);
    M26_stab_log_info info;
    if (M26_get_stab_log_info(m_conn, info.bytes, 1) != 0)
        return;
    const uint32_t count = MXX_get_u32(info.bytes + 4), base = MXX_get_u32(info.bytes + 8);
    const int64_t first = MXX_get_u32(info.bytes + 12);
    const int64_t newest = first + count - 1;
    if (!m_haveLog || newest < m_lastId) { // first look, or the log was cleared
        m_haveLog = true;
        m_lastId = newest;
        return;
    }
    for (int64_t index = std::max<int64_t>(m_lastId + 1 - first, 0); index < count; ++index) {
        M26_stab_log_entry entry;
        if (M26_get_stab_log_entry(m_conn, static_cast<uint32_t>(index), base, entry.bytes, 1) != 0)
            return;
        if (MXX_get_u32(entry.bytes) == first + index)
            emit stabEntryAdded(entry);
        m_lastId = first + index;
    }
}

void M26Reader::readStabLogEntry(uint32_t index, uint32_t base)
{
    std::lock_guard<std::mutex> lock(*m_exchange);
    M26_stab_log_entry entry;
    if (M26_get_stab_log_entry(m_conn, index, base, entry.bytes, 1) == 0 &&
        M26Protocol::isValidStabEntry(entry))
        emit stabLogEntry(entry);
}

MXX_DEFINE_EVENTS(M26)

M26Protocol::M26Protocol()
{
    registerEventTypes();
    qRegisterMetaType<M26_status>("M26_status");
    qRegisterMetaType<M26_stab_log_entry>("M26_stab_log_entry");
    qRegisterMetaType<uint32_t>("uint32_t");
}

namespace {

// Deleted at once where no event loop of another thread may still run it
// (its thread is this one, stopped, or gone), else by that loop.
void dispose(M26Reader* reader)
{
    if (!reader)
        return;
    QThread* thread = reader->thread();
    if (!thread || thread == QThread::currentThread() || !thread->isRunning())
        delete reader;
    else
        reader->deleteLater();
}

} // namespace

M26Protocol::~M26Protocol()
{
    forgetReader();
}

void M26Protocol::forgetReader()
{
    if (!m_reader)
        return;
    m_reader->disconnect();
    disconnect(m_reader);
    dispose(m_reader);
    m_reader = nullptr;
}

void M26Protocol::bind(int connection, QThread* thread)
{
    forgetReader();
    M23Protocol::bind(connection, thread);
    auto* reader = new M26Reader(connection, exchangeLock());
    if (thread)
        reader->moveToThread(thread);
    const auto queued = Qt::QueuedConnection;
    connect(this, &M26Protocol::readStatus, reader, &M26Reader::readStatus, queued);
    connect(this, &M26Protocol::stabLogEntryRead, reader, &M26Reader::readStabLogEntry, queued);
    connect(reader, &M26Reader::spectrumSecLin, this, &M26Protocol::spectrumSecLin, queued);
    connect(reader, &M26Reader::spectrumSecRaw, this, &M26Protocol::spectrumSecRaw, queued);
    connect(reader, &M26Reader::spectrumStab, this, &M26Protocol::spectrumStab, queued);
    connect(reader, &M26Reader::statusChanged, this, &M26Protocol::statusChanged, queued);
    connect(reader, &M26Reader::stabEntryAdded, this, &M26Protocol::stabEntryAdded, queued);
    connect(reader, &M26Reader::stabLogEntry, this, &M26Protocol::stabLogEntry, queued);
    m_reader = reader;
}

void M26Protocol::unbind()
{
    forgetReader();
    M23Protocol::unbind();
}

QString M26Protocol::getModelName(int model)
{
    return modelName(kModelNames, "M26", model);
}

bool M26Protocol::isValidStabEntry(const M26_stab_log_entry& entry)
{
    const uint32_t id = MXX_get_u32(entry.bytes);
    return id != 0 && id != UINT32_MAX;
}

#define MXX_METHODS_FAMILY M26
#define MXX_METHODS_OWNER M26Protocol
#define M26_FILE MXX_NO_METHOD
#define M26_FILE_METHOD MXX_DEFINE_FILE_METHOD
#include <m26_commands.def>
#undef M26_FILE
#undef MXX_METHODS_OWNER
#undef MXX_METHODS_FAMILY

bool M26Protocol::clearStabLog()
{
    const auto exchange = exchangeGuard();
    return mxx_family::writeWords<MXX_REQUEST_SIZE(M26, clear_stab_log)>(M26_clear_stab_log,
                                                                         connection(), 1);
}

bool M26Protocol::getStabLogEntry(uint32_t index, uint32_t base, M26_stab_log_entry& entry)
{
    const auto exchange = exchangeGuard();
    return M26_get_stab_log_entry(connection(), index, base, entry.bytes, 1) == 0;
}

bool M26Protocol::getSpectrum(const QString& name, std::shared_ptr<M26Spectrum>& spectrum)
{
    const auto exchange = exchangeGuard();
    return readSpectrum(connection(), name, spectrum);
}

bool M26Protocol::energyCalib(float channel, float energyKeV)
{
    uint8_t request[MXX_REQUEST_SIZE(M26, energy_calib)];
    MXX_put_f32(request, channel);
    MXX_put_f32(request + 4, energyKeV);
    const auto exchange = exchangeGuard();
    return M26_energy_calib(connection(), request, 1) == 0;
}

#include "m26_protocol.moc"
