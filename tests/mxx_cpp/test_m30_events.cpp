#include "instrument_session.h"

#include <mxx_bytes.h>
#include <sim/events.h>

#include <QSignalSpy>
#include <QTest>

using testing::InstrumentSession;

namespace {

sim::Bytes spectrumPayload(uint16_t kind, uint32_t n, std::size_t channelsSent)
{
    sim::Bytes p(126 + 4 * channelsSent, 0);
    MXX_put_u16(p.data(), kind);
    MXX_put_u32(p.data() + 2, n);
    MXX_put_u16(p.data() + 6, 712); // FWHM 7.12
    MXX_put_u16(p.data() + 8, 41);
    MXX_put_f32(p.data() + 14, 2.5f);
    MXX_put_u32(p.data() + 20, 17);
    MXX_put_u32(p.data() + 24, 3);
    MXX_put_f32(p.data() + 28, 0.25f);
    MXX_put_u32(p.data() + 52, 4);
    MXX_put_u32(p.data() + 56, 9);
    MXX_put_u32(p.data() + 104, 1);
    MXX_put_u32(p.data() + 108, 100);
    MXX_put_u32(p.data() + 116, 80);
    MXX_put_u16(p.data() + 124, 5000);
    for (std::size_t c = 0; c < channelsSent; ++c)
        MXX_put_u32(p.data() + 126 + 4 * c, uint32_t(c + 10));
    return p;
}

} // namespace

class TestM30Events : public QObject
{
    Q_OBJECT

    std::unique_ptr<InstrumentSession> s;

    void send(uint16_t code, sim::Bytes payload)
    {
        s->sim.server().push(*s->instrument(), {sim::Frame{code, 0, 0, std::move(payload)}});
    }

private slots:
    void initTestCase()
    {
        QCOMPARE(MXX_init(nullptr, nullptr, nullptr), 0);
        s = std::make_unique<InstrumentSession>();
        QVERIFY(s->connect());
    }

    void cleanupTestCase()
    {
        s.reset();
        MXX_shut();
    }

    void everyEventOfTheSimulatorReachesItsSignal()
    {
        M30Protocol* p = s->m30.get();
        const std::pair<uint16_t, QSignalSpy*> spies[] = {
            {10003, new QSignalSpy(p, &M30Protocol::keyboardData)},
            {10005, new QSignalSpy(p, &M30Protocol::totalData)},
            {10004, new QSignalSpy(p, &M30Protocol::total20HzData)},
            {10006, new QSignalSpy(p, &M30Protocol::pulseData)},
            {10007, new QSignalSpy(p, &M30Protocol::statusData)},
            {10010, new QSignalSpy(p, &M30Protocol::lightSensorMonoData)},
            {10011, new QSignalSpy(p, &M30Protocol::alarmData)},
            {10012, new QSignalSpy(p, &M30Protocol::progressData)},
            {10013, new QSignalSpy(p, &M30Protocol::connmanData)},
            {10014, new QSignalSpy(p, &M30Protocol::assayResultsData)},
            {10017, new QSignalSpy(p, &M30Protocol::onflyAssayResultsData)},
            {10009, new QSignalSpy(p, &M30Protocol::identifyResultsData)},
            {10015, new QSignalSpy(p, &M30Protocol::csStabResultsData)},
            {10016, new QSignalSpy(p, &M30Protocol::messageData)},
        };
        sim::EventStream stream(7, sim::StatusValues{});
        for (auto [code, spy] : spies) {
            s->sim.server().push(*s->instrument(), {stream.make(code)});
            QVERIFY2(spy->count() == 1 || spy->wait(3000), qPrintable(QString::number(code)));
        }
        // The status record arrives byte for byte.
        const sim::Frame status = stream.make(10007);
        auto record = spies[4].second->at(0).at(0).value<std::shared_ptr<M30_status>>();
        QCOMPARE(QByteArray(reinterpret_cast<char*>(record->bytes), 372),
                 QByteArray(reinterpret_cast<const char*>(status.payload.data()), 372));
        for (auto& entry : spies)
            delete entry.second;

        // Spectra of kinds 1 to 6, each to its own signal with its own type.
        const std::pair<uint16_t, void (M30Protocol::*)(std::shared_ptr<Spectrum>)> kinds[] = {
            {1, &M30Protocol::spectrumData},        {2, &M30Protocol::csStabSpectrumData},
            {3, &M30Protocol::assaySpectrumData},   {4, &M30Protocol::accumulatedSpectrumData},
            {5, &M30Protocol::bgCalibSpectrumData}, {6, &M30Protocol::identSpectrumData}};
        const unsigned types[] = {0, 1, 4, 3, 2, 5, 6};
        for (auto [kind, signal] : kinds) {
            QSignalSpy spy(p, signal);
            send(10002, stream.spectrum(kind));
            QVERIFY(spy.wait(3000));
            auto spectrum = spy[0][0].value<std::shared_ptr<Spectrum>>();
            QCOMPARE(spectrum->type(), types[kind]);
            QCOMPARE(spectrum->size(), std::size_t(1024));
            QCOMPARE(spectrum->data().last(), 0);
        }
    }

    void spectrumFields()
    {
        QSignalSpy accumulated(s->m30.get(), &M30Protocol::accumulatedSpectrumData);
        send(10002, spectrumPayload(4, 1024, 1024));
        QVERIFY(accumulated.wait(3000));
        auto sp = accumulated[0][0].value<std::shared_ptr<Spectrum>>();
        QCOMPARE(sp->type(), 2u);
        QCOMPARE(sp->size(), std::size_t(1024));
        QCOMPARE(sp->data()[0], 10);
        QCOMPARE(sp->data()[1022], 1032);
        QCOMPARE(sp->data()[1023], 0);
        QCOMPARE(sp->fwhmCs137(), float(712 / 100.0));
        QCOMPARE(sp->sequenceNumber(), uint64_t(41));
        QCOMPARE(sp->liveTime(), uint64_t(80));
        QCOMPARE(sp->clockTime(), uint64_t(100));
        QCOMPARE(sp->totalCount(), uint64_t(5000));
        QCOMPARE(sp->dr_summ(), 2.5f);
        QCOMPARE(sp->geigerTotal(), 17);
        QCOMPARE(sp->neutronsTotal(), 3);
        QCOMPARE(sp->dose(), 0.25f);
        QCOMPARE(sp->actSample(), 4);
        QCOMPARE(sp->totalSample(), 9);
        QCOMPARE(sp->finished(), 1);
        QCOMPARE(sp->deadTime(), 20.0f);
    }

    void spectrumEdgeCases()
    {
        QSignalSpy plain(s->m30.get(), &M30Protocol::spectrumData);
        QSignalSpy alarms(s->m30.get(), &M30Protocol::alarmData);
        // Kind 7: no signal. A channel count the payload cannot hold: dropped.
        send(10002, spectrumPayload(7, 4, 4));
        send(10002, spectrumPayload(1, 1000, 10));
        send(10002, spectrumPayload(1, 0xFFFFFFFFu, 10));
        sim::Bytes headOnly = spectrumPayload(1, 0, 0);
        headOnly.resize(100);
        send(10002, headOnly);
        // N = 0: an empty spectrum, nothing zeroed.
        send(10002, spectrumPayload(1, 0, 0));
        // An alarm behind them all marks the end of what was sent.
        sim::Bytes alarm(4, 0);
        MXX_put_u32(alarm.data(), 5);
        send(10011, alarm);
        QVERIFY(alarms.wait(3000));
        QCOMPARE(alarms[0][0].toInt(), 5);
        QCOMPARE(plain.count(), 1);
        QCOMPARE(plain[0][0].value<std::shared_ptr<Spectrum>>()->size(), std::size_t(0));
    }

    void shortPayloadsAreZeroFilled()
    {
        QSignalSpy status(s->m30.get(), &M30Protocol::statusData);
        QSignalSpy light(s->m30.get(), &M30Protocol::lightSensorMonoData);
        send(10007, sim::Bytes{1, 2, 3});
        send(10010, sim::Bytes{0x34, 0x12});
        QVERIFY(light.wait(3000));
        QCOMPARE(light[0][0].toInt(), 0x1234);
        QCOMPARE(status.count(), 1);
        auto record = status[0][0].value<std::shared_ptr<M30_status>>();
        QCOMPARE(record->bytes[2], uint8_t(3));
        QCOMPARE(record->bytes[3], uint8_t(0));
        QCOMPARE(record->bytes[371], uint8_t(0));
    }

    void receiveDataTellsItemsApart()
    {
        M30Protocol p;
        QSignalSpy alarm(&p, &M30Protocol::alarmData);
        QSignalSpy stab(&p, &M30Protocol::csStabResultsData);
        QVariant tagged(QStringList{"ALARMS", "5"});
        QVERIFY(p.receiveData(tagged));
        QVariant stabResult(QStringList{"cs_stab_results", "3"});
        QVERIFY(p.receiveData(stabResult));
        QVariant unknownTag(QStringList{"weather", "1"});
        QVERIFY(p.receiveData(unknownTag));
        QCOMPARE(alarm.count(), 1);
        QCOMPARE(alarm[0][0].toInt(), 5);
        QCOMPARE(stab[0][0].toInt(), 3);
        QVariant number(42);
        QVERIFY(!p.receiveData(number));

        QSignalSpy onfly(&p, &M30Protocol::onflyAssayResultsData);
        QSignalSpy assay(&p, &M30Protocol::assayResultsData);
        auto record = std::make_shared<M30_assay_results>();
        MXX_put_u16(record->bytes, 1007);
        QVariant onflyItem = QVariant::fromValue(record);
        QVERIFY(p.receiveData(onflyItem));
        QCOMPARE(onfly.count(), 1);
        QCOMPARE(MXX_get_u16(onfly[0][0].value<std::shared_ptr<M30_assay_results>>()->bytes), 7);
        auto plain = std::make_shared<M30_assay_results>();
        MXX_put_u16(plain->bytes, 7);
        QVariant plainItem = QVariant::fromValue(plain);
        QVERIFY(p.receiveData(plainItem));
        QCOMPARE(assay.count(), 1);
        QCOMPARE(onfly.count(), 1);
    }
};

QTEST_GUILESS_MAIN(TestM30Events)
#include "test_m30_events.moc"
