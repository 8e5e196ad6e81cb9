// Every simulated family live: who it is, its dose rate from its own source,
// its spectra in each stream numbered without false gaps, and an M30's
// alarm confirmed back to it.
#include "instrument_session.h"

#include <instrument_live.h>
#include <live_family.h>

#include <mxx_comm.h>
#include <mxx_family_id.h>

#include <QSignalSpy>
#include <QTest>

#include <cmath>

namespace {

// What one connection brought, taken as the window takes it.
struct Seen
{
    explicit Seen(InstrumentLive& live)
    {
        const LiveFamily& family = live.family();
        for (int i = 0; i < family.streams.size(); ++i)
            streams.emplace_back(family.mode);
        if (!streams.empty())
            streams.front().setSequenceStep(uint64_t(family.sequenceStep));
        QObject::connect(&live, &InstrumentLive::identified, &live,
                         [this](const SpectrumSource& s) {
                             source = s;
                             identified = true;
                         });
        QObject::connect(&live, &InstrumentLive::doseRate, &live,
                         [this](double rate) { doseRates.push_back(rate); });
        QObject::connect(&live, &InstrumentLive::spectrum, &live,
                         [this](int stream, const SpectrumData& data, quint64 sequence) {
                             QVERIFY(stream >= 0 && std::size_t(stream) < streams.size());
                             streams[std::size_t(stream)].add(data, sequence);
                             calibration = data.calibration;
                         });
    }

    bool enough(int spectraEach, bool wantDose) const
    {
        if (!identified || (wantDose && doseRates.empty()))
            return false;
        for (const SpectrumAccumulator& a : streams)
            if (a.spectraAdded() < uint64_t(spectraEach))
                return false;
        return true;
    }

    SpectrumSource source;
    bool identified = false;
    std::vector<double> doseRates;
    std::vector<SpectrumAccumulator> streams;
    EnergyCalibration calibration;
};

} // namespace

class TestInstrumentLive : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QCOMPARE(MXX_init(nullptr, nullptr, nullptr), 0); }
    void cleanupTestCase() { MXX_shut(); }

    void everyFamilyLive_data()
    {
        QTest::addColumn<QString>("family");
        for (const char* f : {"M15", "M16", "M17", "M20", "M21", "M22", "M24", "M26", "M28", "M30",
                              "M34", "M36", "M38"})
            QTest::newRow(f) << QString::fromLatin1(f);
    }

    void everyFamilyLive()
    {
        QFETCH(QString, family);
        const QByteArray name = family.toLatin1();
        sim::SimOptions options = testing::familyOptions(name.constData());
        options.events_hz = 50;
        testing::InstrumentSession session(options);
        QVERIFY(session.connectDevice());
        InstrumentLive live(&session.device);
        live.start();
        QCOMPARE(live.source().family, family);
        const LiveFamily& row = live.family();
        QCOMPARE(row.type, session.device.type());
        Seen seen(live);
        const bool wantDose = row.dose != DoseSource::None;
        // Polled files come once a second; events fifty times.
        const int spectraEach = family == "M26" ? 3 : 6;
        QTRY_VERIFY_WITH_TIMEOUT(seen.enough(spectraEach, wantDose), 20000);

        QCOMPARE(seen.source.family, family);
        if (family != "M15" && family != "M16")
            QVERIFY2(!seen.source.serial.isEmpty(), "the serial is asked for");
        QVERIFY(!seen.source.report.isEmpty());
        // Each family's own source of the dose rate, near the simulator's 0.09-0.11 uSv/h.
        if (wantDose) {
            for (double rate : seen.doseRates)
                QVERIFY2(rate > 0.05 && rate < 0.2, qPrintable(QString::number(rate)));
        } else {
            QVERIFY(seen.doseRates.empty());
        }
        // Each stream numbered as the family numbers it: no gap that is not one.
        for (const SpectrumAccumulator& a : seen.streams) {
            QCOMPARE(a.gaps(), uint64_t(0));
            QCOMPARE(a.renumberings(), uint64_t(0));
            if (family != "M26") // a file read again within its second is the same spectrum
                QCOMPARE(a.duplicates(), uint64_t(0));
            QVERIFY(a.totalCounts() > 0);
        }
        // The probes give their factory calibration; its Cs-137 line lies at 662 keV.
        if (family == "M15" || family == "M16") {
            QVERIFY(seen.calibration.known());
            QVERIFY(std::abs(seen.calibration.energyOf(220.67) - 662.0) < 0.1);
        }
        QCOMPARE(bool(live.surveyBuffer()), row.surveyStore);
        live.stop();
        QVERIFY(!live.running());
    }

    // An M30's dose-rate alarm reaches the window's side, and acknowledging
    // it is told to the instrument.
    void alarmsConfirmedToTheInstrument()
    {
        sim::SimOptions options = testing::familyOptions("M30");
        options.events_hz = 100;
        testing::InstrumentSession session(options);
        QVERIFY(session.connectDevice());
        InstrumentLive live(&session.device);
        QSignalSpy alarms(&live, &InstrumentLive::alarm);
        live.start();
        QTRY_VERIFY_WITH_TIMEOUT(!alarms.isEmpty() && alarms.last().at(0).toInt() == 1, 20000);
        live.confirmAlarms(1);
        QTRY_COMPARE(testing::requestsOf(*session.instrument(), 8215).size(), std::size_t(1));
        QCOMPARE(session::u32(testing::requestsOf(*session.instrument(), 8215)[0].payload, 0), 1u);
    }

    // A connection that closes leaves nothing running, and a new one starts clean.
    void reconnectsClean()
    {
        testing::InstrumentSession session(testing::familyOptions("M22"));
        QVERIFY(session.connectDevice());
        InstrumentLive live(&session.device);
        QSignalSpy identified(&live, &InstrumentLive::identified);
        live.start();
        QVERIFY(identified.wait(5000));
        QVERIFY(session.disconnect());
        live.stop();
        QVERIFY(session.connectDevice());
        live.start();
        QVERIFY(identified.wait(5000));
        QCOMPARE(identified.size(), 2);
    }
};

QTEST_MAIN(TestInstrumentLive)
#include "test_instrument_live.moc"
