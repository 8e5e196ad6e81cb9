#include "instrument_live.h"

#include "spectrum_accumulator_from_instrument.h"

#include <m15_protocol.h>
#include <m16_protocol.h>
#include <m17_comm.h>
#include <m20_protocol.h>
#include <m21_protocol.h>
#include <m22_protocol.h>
#include <m24_protocol.h>
#include <m26_protocol.h>
#include <m28_protocol.h>
#include <m30_protocol.h>
#include <m34_protocol.h>
#include <m36_protocol.h>
#include <m38_protocol.h>
#include <mxx_bytes.h>
#include <mxx_device.h>
#include <mxx_family_id.h>

#include <QTimer>

#include <chrono>
#include <cmath>

namespace {

QString textOf(const char* bytes, std::size_t size)
{
    return QString::fromLatin1(bytes, int(qstrnlen(bytes, uint(size)))).trimmed();
}

// Where the event and status records carry their values (little-endian f32).
constexpr int kSurveyStatusDoseRate = 16, kSurveyStatusLatitude = 36, kSurveyStatusLongitude = 40;
constexpr int kSurveyTotalsDoseRate = 8;
constexpr int kMeterDoseRate = 4; // M20's and M21's live measurement
constexpr int kM24StatusDoseRate = 8;
constexpr int kM26StatusDoseRate = 4;
constexpr int kSerialTries = 5;

bool plausibleDoseRate(float value)
{
    return std::isfinite(value) && value >= 0;
}

// An M24 spectrum record: u32 channels, live and real time in milliseconds,
// sequence number, then the counts.
std::optional<std::pair<SpectrumData, uint64_t>> m24Spectrum(const M24_mca_spect& record)
{
    const uint8_t* b = record.bytes;
    const uint32_t channels = MXX_get_u32(b);
    if (channels == 0 || channels > M24_MCA_SPECT_CHANNELS)
        return std::nullopt;
    SpectrumData data;
    data.liveSeconds = MXX_get_u32(b + 4) / 1000.0;
    data.realSeconds = MXX_get_u32(b + 8) / 1000.0;
    data.counts.resize(channels);
    for (uint32_t c = 0; c < channels; ++c)
        data.counts[c] = MXX_get_u32(b + M24_MCA_SPECT_HEAD + 4 * c);
    return std::pair{std::move(data), uint64_t(MXX_get_u32(b + 12))};
}

// The instrument's calibration (keV = constant + linear·ch + quadratic·ch²),
// taken only when it rises: an instrument never calibrated answers zeros.
EnergyCalibration calibrationOf(const uint8_t* answer)
{
    const double c0 = MXX_get_f32(answer), c1 = MXX_get_f32(answer + 4),
                 c2 = MXX_get_f32(answer + 8);
    if (!std::isfinite(c0) || !std::isfinite(c1) || !std::isfinite(c2) || c1 <= 0)
        return {};
    return EnergyCalibration{{c0, c1, c2}};
}

// The transmit buffer of a survey command set; the buffer keeps its
// protocol, as a download may outlast the connection.
template <class P> InstrumentLive::TxBuffer txBufferOf(std::shared_ptr<P> protocol)
{
    return [protocol](int kind, int start, int limit, int* count, char* data, int capacity,
                      int* total) {
        return protocol->txBuffDownload(kind, 0, start, limit, 0, 0, count, nullptr, nullptr, data,
                                        capacity, total);
    };
}

template <class P> InstrumentLive::TxBuffer registeredBuffer(MXXDevice& device)
{
    auto protocol = std::make_shared<P>();
    device.registerProtocol(protocol);
    return txBufferOf(protocol);
}

} // namespace

InstrumentLive::TxBuffer InstrumentLive::surveyBufferOf(MXXDevice& device)
{
    switch (device.type()) {
    case MXX_TYPE_M28:
        return registeredBuffer<M28Protocol>(device);
    case MXX_TYPE_M30:
        return registeredBuffer<M30Protocol>(device);
    case MXX_TYPE_M34:
        return registeredBuffer<M34Protocol>(device);
    case MXX_TYPE_M36:
        return registeredBuffer<M36Protocol>(device);
    default:
        return nullptr;
    }
}

InstrumentLive::InstrumentLive(MXXDevice* device, QObject* parent)
    : QObject(parent), m_device(device)
{
}

InstrumentLive::~InstrumentLive()
{
    stop();
}

template <class F> void InstrumentLive::post(unsigned generation, F&& f)
{
    QMetaObject::invokeMethod(
        this,
        [this, generation, f = std::forward<F>(f)]() mutable {
            if (generation == m_generation && running())
                f();
        },
        Qt::QueuedConnection);
}

template <class P> std::shared_ptr<P> InstrumentLive::take()
{
    auto protocol = std::make_shared<P>();
    m_device->registerProtocol(protocol);
    m_protocols.push_back(protocol);
    return protocol;
}

void InstrumentLive::start()
{
    stop();
    m_type = m_device->type();
    if (m_type == 0)
        return;
    m_source = SpectrumSource{};
    m_source.family = QString::fromLatin1(MXX_family_name(m_type));
    m_doseRate.reset();
    m_latitude.reset();
    m_longitude.reset();
    m_calibration = EnergyCalibration{};
    followEvents();
    const unsigned generation = ++m_generation;
    {
        std::lock_guard<std::mutex> lock(m_pollMutex);
        m_stopPolling = false;
        m_questions.clear();
    }
    m_poller =
        std::thread(&InstrumentLive::runPoller, this, m_device->connId(), m_type, generation);
}

void InstrumentLive::stop()
{
    if (m_poller.joinable()) {
        {
            std::lock_guard<std::mutex> lock(m_pollMutex);
            m_stopPolling = true;
        }
        m_pollWake.notify_all();
        m_poller.join();
    }
    delete m_statusTimer;
    m_statusTimer = nullptr;
    for (const auto& protocol : m_protocols)
        protocol->disconnect(this);
    m_protocols.clear();
    m_surveyBuffer = nullptr;
    m_confirmAlarms = nullptr;
    m_type = 0;
    ++m_generation;
}

void InstrumentLive::confirmAlarms(int alarms)
{
    if (m_confirmAlarms)
        ask([confirm = m_confirmAlarms, alarms] { confirm(alarms); });
}

void InstrumentLive::ask(std::function<void()> question)
{
    {
        std::lock_guard<std::mutex> lock(m_pollMutex);
        m_questions.push_back(std::move(question));
    }
    m_pollWake.notify_all();
}

void InstrumentLive::takeSpectrum(int stream, SpectrumData data, uint64_t sequence)
{
    if (data.counts.empty())
        return;
    if (!data.calibration.known())
        data.calibration = m_calibration;
    if (!data.start.isValid())
        data.start = QDateTime::currentDateTimeUtc().addMSecs(-qint64(data.realSeconds * 1000));
    data.doseRate = m_doseRate;
    data.latitude = m_latitude;
    data.longitude = m_longitude;
    emit spectrum(stream, data, sequence);
}

void InstrumentLive::takeDoseRate(double microSievertPerHour)
{
    m_doseRate = microSievertPerHour;
    emit doseRate(microSievertPerHour);
}

// The survey instruments' stream: spectra, totals and status with the dose
// rate, the status with the place.
template <class P> void InstrumentLive::followSurveyEvents(std::shared_ptr<P> protocol)
{
    P* p = protocol.get();
    m_surveyBuffer = txBufferOf(protocol);
    m_confirmAlarms = [protocol](int alarms) { return protocol->confirmAlarms(alarms); };
    connect(p, &P::spectrumData, this, [this](std::shared_ptr<Spectrum> s) {
        if (s)
            takeSpectrum(0, fromInstrument(*s), s->sequenceNumber());
    });
    connect(p, &P::totalData, this, [this](auto record) {
        const float rate = MXX_get_f32(record->bytes + kSurveyTotalsDoseRate);
        if (plausibleDoseRate(rate))
            takeDoseRate(rate);
    });
    connect(p, &P::statusData, this, [this](auto record) {
        const uint8_t* b = record->bytes;
        const float rate = MXX_get_f32(b + kSurveyStatusDoseRate);
        const double latitude = MXX_get_f32(b + kSurveyStatusLatitude),
                     longitude = MXX_get_f32(b + kSurveyStatusLongitude);
        if (std::isfinite(latitude) && std::isfinite(longitude) && std::abs(latitude) <= 90 &&
            std::abs(longitude) <= 180 && (latitude != 0 || longitude != 0)) {
            m_latitude = latitude;
            m_longitude = longitude;
        }
        if (plausibleDoseRate(rate))
            takeDoseRate(rate);
    });
}

void InstrumentLive::followEvents()
{
    auto spectraOf = [this](int stream) {
        return [this, stream](std::shared_ptr<Spectrum> s) {
            if (s)
                takeSpectrum(stream, fromInstrument(*s), s->sequenceNumber());
        };
    };
    auto meter = [this](auto record) {
        const float rate = MXX_get_f32(record->bytes + kMeterDoseRate);
        if (plausibleDoseRate(rate))
            takeDoseRate(rate);
    };
    switch (m_type) {
    case MXX_TYPE_M15:
        connect(take<M15Protocol>().get(), &M15Protocol::spectrumData, this, spectraOf(0));
        break;
    case MXX_TYPE_M16:
        connect(take<M16Protocol>().get(), &M16Protocol::spectrumData, this, spectraOf(0));
        break;
    case MXX_TYPE_M20:
        connect(take<M20Protocol>().get(), &M20Protocol::spectrumData, this, meter);
        break;
    case MXX_TYPE_M21:
        connect(take<M21Protocol>().get(), &M21Protocol::spectrumData, this, meter);
        break;
    case MXX_TYPE_M22:
        connect(take<M22Protocol>().get(), &M22Protocol::spectrumData, this, spectraOf(0));
        break;
    case MXX_TYPE_M24:
        connect(take<M24Protocol>().get(), &M24Protocol::spectrumData, this,
                [this](std::shared_ptr<M24_mca_spect> record) {
                    if (!record)
                        return;
                    if (auto s = m24Spectrum(*record))
                        takeSpectrum(0, std::move(s->first), s->second);
                });
        break;
    case MXX_TYPE_M26: {
        M26Protocol* m26 = take<M26Protocol>().get();
        connect(m26, &M26Protocol::spectrumSecLin, this, spectraOf(0));
        connect(m26, &M26Protocol::spectrumSecRaw, this, spectraOf(1));
        connect(m26, &M26Protocol::spectrumStab, this, spectraOf(2));
        connect(m26, &M26Protocol::statusChanged, this, [this](M26_status status) {
            const float rate = MXX_get_f32(status.bytes + kM26StatusDoseRate);
            if (plausibleDoseRate(rate))
                takeDoseRate(rate);
        });
        // Its reader asks on the device's own thread, one read at a time.
        m_statusTimer = new QTimer(this);
        connect(m_statusTimer, &QTimer::timeout, m26, &M26Protocol::readStatus);
        m_statusTimer->start(kPollMilliseconds);
        break;
    }
    case MXX_TYPE_M28: {
        auto m28 = take<M28Protocol>();
        followSurveyEvents(m28);
        connect(m28.get(), &M28Protocol::alarmData, this, &InstrumentLive::alarm);
        break;
    }
    case MXX_TYPE_M30: {
        auto m30 = take<M30Protocol>();
        followSurveyEvents(m30);
        connect(m30.get(), &M30Protocol::alarmData, this, &InstrumentLive::alarm);
        break;
    }
    case MXX_TYPE_M34: {
        auto m34 = take<M34Protocol>();
        followSurveyEvents(m34);
        connect(m34.get(), &M34Protocol::alarmData, this, &InstrumentLive::alarm);
        break;
    }
    case MXX_TYPE_M36:
        followSurveyEvents(take<M36Protocol>());
        break;
    case MXX_TYPE_M38: {
        M38Protocol* m38 = take<M38Protocol>().get();
        connect(m38, &M38Protocol::spectrumData, this, spectraOf(0));
        connect(m38, &M38Protocol::spectrumData256, this, spectraOf(1));
        break;
    }
    default:
        break;
    }
}

// On its own thread: who the instrument is, then the questions asked and,
// for an M24, its status every poll.
void InstrumentLive::runPoller(int conn, int type, unsigned generation)
{
    QString serial;
    QByteArray report;
    EnergyCalibration calibration;
    switch (type) {
    case MXX_TYPE_M15:
    case MXX_TYPE_M16: {
        char version[16] = {};
        uint8_t calib[12] = {};
        const bool m15 = type == MXX_TYPE_M15;
        if ((m15 ? M15_Get_SW_Version : M16_Get_SW_Version)(conn, version, 1) == 0)
            report = textOf(version, sizeof version).toLatin1();
        if ((m15 ? M15_Get_Energy_Calib : M16_Get_Energy_Calib)(conn, calib, 1) == 0)
            calibration = calibrationOf(calib);
        break;
    }
    case MXX_TYPE_MVD:
        break;
    default: {
        // The identity query waits only 100 ms: a slow link may miss one answer.
        for (int attempt = 0; attempt < kSerialTries && serial.isEmpty(); ++attempt) {
            char text[8] = {};
            if (M17_get_serial(conn, text, 1) == 0)
                serial = textOf(text, sizeof text);
        }
        if (liveFamily(type).surveyStore) {
            QByteArray versions(int(sizeof(M30_versions)), 0);
            if (M30_get_versions(conn, versions.data(), 1) == 0)
                report = versions;
        } else {
            char version[8] = {};
            if (M17_get_fw_version(conn, version, 1) == 0)
                report = textOf(version, sizeof version).toLatin1();
        }
        if (type == MXX_TYPE_M20 || type == MXX_TYPE_M21) // the live measurement on
            M20_set_events(conn, "\1\0\0\0", 1);
        break;
    }
    }
    post(generation, [this, serial, report, calibration] {
        m_source.serial = serial;
        m_source.report = report;
        m_calibration = calibration;
        emit identified(m_source);
    });

    auto* m24 = type == MXX_TYPE_M24 && !m_protocols.empty()
                    ? static_cast<M24Protocol*>(m_protocols.front().get())
                    : nullptr;
    std::unique_lock<std::mutex> lock(m_pollMutex);
    while (!m_stopPolling) {
        while (!m_questions.empty()) {
            auto question = std::move(m_questions.front());
            m_questions.erase(m_questions.begin());
            lock.unlock();
            question();
            lock.lock();
        }
        if (m24) {
            lock.unlock();
            M24_status status;
            const bool ok = m24->getStatus(status);
            lock.lock();
            const float rate = MXX_get_f32(status.bytes + kM24StatusDoseRate);
            if (ok && plausibleDoseRate(rate))
                post(generation, [this, rate] { takeDoseRate(rate); });
        }
        m_pollWake.wait_for(lock, std::chrono::milliseconds(kPollMilliseconds),
                            [this] { return m_stopPolling || !m_questions.empty(); });
    }
}
