// The live side of a connection: the connected family's protocol objects,
// and what they stream turned into one form for the window and
// orvisk-spectrum: who the instrument is, its dose rate, its alarms and its
// spectra. Families whose status must be asked for are polled on a thread
// of their own, each question through the connection's exchange turn, so
// nothing here waits on the instrument.
#pragma once

#include "live_family.h"

#include <spectrum_data.h>

#include <QObject>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

class MXXDevice;
class Protocol;
class QTimer;

class InstrumentLive : public QObject
{
    Q_OBJECT

public:
    static constexpr int kPollMilliseconds = 1000;

    explicit InstrumentLive(MXXDevice* device, QObject* parent = nullptr);
    ~InstrumentLive() override;

    // Once the device reports connected: takes the family's events, asks
    // the instrument who it is and starts polling where the family needs it.
    void start();
    // When the connection closed; the poller ends after its current question.
    void stop();
    bool running() const { return m_type != 0; }

    int type() const { return m_type; }
    const LiveFamily& family() const { return liveFamily(m_type); }
    // Family and serial as soon as connected; the report follows identified().
    const SpectrumSource& source() const { return m_source; }
    // The survey command set's transmit buffer, for Download (as a
    // SurveyDownload takes it); empty for a family without a survey store.
    using TxBuffer = std::function<bool(int kind, int start, int limit, int* count, char* data,
                                        int capacity, int* total)>;
    const TxBuffer& surveyBuffer() const { return m_surveyBuffer; }
    // The same without following anything live: the family's survey command
    // set registered on the connected device (orvisk-download's way).
    static TxBuffer surveyBufferOf(MXXDevice& device);
    // Tells the instrument the surveyor saw the alarms (bits as alarm() gave them).
    void confirmAlarms(int alarms);

signals:
    void identified(const SpectrumSource& source);
    void doseRate(double microSievertPerHour);
    // The alarm bits the instrument sent; 0 when its alarms ended.
    void alarm(int alarms);
    void spectrum(int stream, const SpectrumData& spectrum, quint64 sequence);

private:
    void followEvents();
    template <class P> std::shared_ptr<P> take();
    template <class P> void followSurveyEvents(std::shared_ptr<P> protocol);
    void takeSpectrum(int stream, SpectrumData data, uint64_t sequence);
    void takeDoseRate(double microSievertPerHour);
    void runPoller(int connection, int type, unsigned generation);
    void ask(std::function<void()> question);
    // Runs `f` on this object's thread unless a newer connection began.
    template <class F> void post(unsigned generation, F&& f);

    MXXDevice* m_device;
    int m_type = 0;
    SpectrumSource m_source;
    std::vector<std::shared_ptr<Protocol>> m_protocols;
    TxBuffer m_surveyBuffer;
    std::function<bool(int alarms)> m_confirmAlarms;
    std::optional<double> m_doseRate;
    std::optional<double> m_latitude, m_longitude;
    QTimer* m_statusTimer = nullptr; // M26: its reader reads on the device's thread

    // The poller: identification, then the status where it must be asked for.
    std::thread m_poller;
    std::mutex m_pollMutex;
    std::condition_variable m_pollWake;
    bool m_stopPolling = false;
    std::vector<std::function<void()>> m_questions; // asked between polls
    // Counts connections: an answer of an earlier one is dropped.
    std::atomic<unsigned> m_generation{0};
    EnergyCalibration m_calibration; // the instrument's, when it gives one
};
