// The event paths of M15, M16, M20, M21, M22, M38, M48 and MCH, from frames
// the simulated instrument sends to the protocol objects' signals, and the
// M22 spectrum's addition.
#include "family_session.h"

#include <m15_protocol.h>
#include <m16_protocol.h>
#include <m20_protocol.h>
#include <m21_protocol.h>
#include <m22_protocol.h>
#include <m38_protocol.h>
#include <m48_protocol.h>
#include <mch_protocol.h>
#include <mxx_bytes.h>
#include <sim/family_tables.h>

#include <QTest>

#include <cstring>

using testing::FamilySession;

namespace {

sim::SpectrumValues values(std::size_t channels, uint32_t first, uint32_t step)
{
    sim::SpectrumValues v;
    v.live = 80;
    v.clock = 100;
    v.sequence = 7;
    for (std::size_t c = 0; c < channels; ++c)
        v.counts.push_back(first + step * static_cast<uint32_t>(c));
    for (uint32_t n : v.counts)
        v.total += n;
    return v;
}

std::shared_ptr<Spectrum> spectrumAt(const QSignalSpy& spy, int i)
{
    return spy.at(i).at(0).value<std::shared_ptr<Spectrum>>();
}

} // namespace

class TestFamilyEvents : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QCOMPARE(MXX_init(nullptr, nullptr, nullptr), 0); }
    void cleanupTestCase() { MXX_shut(); }

    void m38FrameGivesTwoSpectra()
    {
        FamilySession<M38Protocol> s("M38");
        QVERIFY(s.connect());
        QSignalSpy full(s.protocol.get(), &M38Protocol::spectrumData);
        QSignalSpy small(s.protocol.get(), &M38Protocol::spectrumData256);

        s.push({sim::m38_spectrum_event(values(1024, 1, 1), values(256, 5, 2))});
        QVERIFY(small.wait(3000));
        QCOMPARE(full.count(), 1);
        const auto a = spectrumAt(full, 0), b = spectrumAt(small, 0);
        QCOMPARE(a->size(), std::size_t(1024));
        QCOMPARE(a->data()[0], 1);
        QCOMPARE(a->data()[1022], 1023);
        QCOMPARE(a->data()[1023], 0);
        QCOMPARE(b->size(), std::size_t(256));
        QCOMPARE(b->data()[0], 5);
        QCOMPARE(b->data()[254], 5 + 2 * 254);
        QCOMPARE(b->data()[255], 0);
        for (const auto& sp : {a, b}) {
            QCOMPARE(sp->type(), 1u);
            QCOMPARE(sp->liveTime(), uint64_t(80));
            QCOMPARE(sp->clockTime(), uint64_t(100));
            QCOMPARE(sp->sequenceNumber(), uint64_t(7));
        }
        QCOMPARE(a->totalCount(), uint64_t(values(1024, 1, 1).total));
        QCOMPARE(b->totalCount(), uint64_t(values(256, 5, 2).total));

        // A frame too short for both spectra, and a pulse record: nothing.
        sim::Frame cut = sim::m38_spectrum_event(values(1024, 9, 0), values(256, 9, 0));
        cut.payload.resize(3511);
        s.push({cut, sim::Frame{9001, 0, 0, sim::Bytes(100, 1)},
                sim::m38_spectrum_event(values(1024, 3, 0), values(256, 4, 0))});
        QVERIFY(small.wait(3000));
        QCOMPARE(full.count(), 2);
        QCOMPARE(small.count(), 2);
        QCOMPARE(spectrumAt(full, 1)->data()[0], 3);
    }

    void probeSpectraAndTotals()
    {
        FamilySession<M15Protocol> m15("M15");
        QVERIFY(m15.connect());
        QSignalSpy spectra(m15.protocol.get(), &M15Protocol::spectrumData);
        // A channel count beyond the payload, a payload without its head,
        // totals and a button: no signal; the good spectrum behind them
        // arrives alone.
        sim::Frame overlong = sim::probe_spectrum_event(values(4, 1, 1));
        MXX_put_u16(overlong.payload.data() + 12, 5);
        sim::Frame headless{2020, 0, 0, sim::Bytes(15, 0)};
        m15.push({overlong, headless, sim::Frame{2030, 0, 0, sim::Bytes(8, 0)},
                  sim::Frame{2105, 0, 0, {1}}, sim::probe_spectrum_event(values(1024, 10, 1))});
        QVERIFY(spectra.wait(3000));
        QCOMPARE(spectra.count(), 1);
        const auto sp = spectrumAt(spectra, 0);
        QCOMPARE(sp->size(), std::size_t(1024));
        QCOMPARE(sp->data()[1], 11);
        QCOMPARE(sp->data()[1023], 0);
        QCOMPARE(sp->liveTime(), uint64_t(80));
        QCOMPARE(sp->totalCount(), uint64_t(values(1024, 10, 1).total));

        FamilySession<M16Protocol> m16("M16");
        QVERIFY(m16.connect());
        QSignalSpy totals(m16.protocol.get(), &M16Protocol::gmNeutData);
        QSignalSpy m16Spectra(m16.protocol.get(), &M16Protocol::spectrumData);
        m16.push({sim::Frame{2031, 0, 0, {1, 2, 3}}, sim::probe_spectrum_event(values(2, 4, 0))});
        QVERIFY(m16Spectra.wait(3000));
        QCOMPARE(totals.count(), 1);
        const auto total = totals[0][0].value<std::shared_ptr<M16_gm_neut_total>>();
        QCOMPARE(total->bytes[2], uint8_t(3));
        QCOMPARE(total->bytes[3], uint8_t(0)); // zero past the short payload
        QCOMPARE(spectrumAt(m16Spectra, 0)->data(), (QVector<int>{4, 0}));
    }

    void liveMeasurementRecords()
    {
        sim::Bytes live(64);
        for (std::size_t i = 0; i < live.size(); ++i)
            live[i] = static_cast<uint8_t>(i + 1);
        FamilySession<M20Protocol> m20("M20");
        QVERIFY(m20.connect());
        QSignalSpy spy20(m20.protocol.get(), &M20Protocol::spectrumData);
        m20.push({sim::Frame{9302, 0, 0, live}});
        QVERIFY(spy20.wait(3000));
        auto r20 = spy20[0][0].value<std::shared_ptr<M20_live_meas_data>>();
        QCOMPARE(std::memcmp(r20->bytes, live.data(), 64), 0);

        FamilySession<M21Protocol> m21("M21");
        QVERIFY(m21.connect());
        QSignalSpy spy21(m21.protocol.get(), &M21Protocol::spectrumData);
        m21.push({sim::Frame{9302, 0, 0, live}});
        QVERIFY(spy21.wait(3000));
        auto r21 = spy21[0][0].value<std::shared_ptr<M21_live_meas_data>>();
        QCOMPARE(r21->bytes[63], uint8_t(64));
    }

    void m22SpectrumCarriesTotalsAndAdc()
    {
        FamilySession<M22Protocol> s("M22");
        QVERIFY(s.connect());
        QSignalSpy spy(s.protocol.get(), &M22Protocol::spectrumData);
        s.push({sim::m22_spectrum_event(values(1024, 2, 3), 2, 11, 22, 712)});
        QVERIFY(spy.wait(3000));
        const auto sp = spectrumAt(spy, 0);
        auto* m22 = qobject_cast<M22Spectrum*>(sp.get());
        QVERIFY(m22);
        QCOMPARE(sp->property("total1").toUInt(), 11u);
        QCOMPARE(sp->property("total2").toUInt(), 22u);
        QCOMPARE(sp->property("adc_num").toUInt(), 2u);
        QCOMPARE(sp->fwhmCs137(), float(712 / 100.0));
        QCOMPARE(sp->data()[1], 5);
        QCOMPARE(sp->data()[1023], 0);
        QCOMPARE(sp->sequenceNumber(), uint64_t(7));

        // Another family's spectrum is not an M22 item.
        QVariant plain =
            QVariant::fromValue(std::make_shared<Spectrum>(QVector<int>{1}, 0, 0, 0, 0, 0));
        QVERIFY(!s.protocol->receiveData(plain));
    }

    void m22SpectrumAddition()
    {
        M22Spectrum a(QVector<int>{1, 2}, 10, 20, 30, 1, 0);
        a.setTotal1(1);
        a.setTotal2(2);
        a.setAdcNum(1);
        M22Spectrum b(QVector<int>{5, 7}, 1, 2, 3, 4, 0);
        b.setTotal1(100);
        b.setTotal2(200);
        b.setAdcNum(2);
        Spectrum& base = a; // through the base, as spectra are handed around
        base += b;
        QCOMPARE(a.data(), (QVector<int>{6, 9}));
        QCOMPARE(a.liveTime(), uint64_t(11));
        QCOMPARE(a.total1(), 100u);
        QCOMPARE(a.total2(), 200u);
        QCOMPARE(a.adcNum(), 2u);

        // A spectrum without them leaves them; one with only some gives those.
        Spectrum plain(QVector<int>{1, 1}, 0, 0, 0, 0, 0);
        a += plain;
        QCOMPARE(a.total1(), 100u);
        plain.setProperty("total2", 5u);
        a += plain;
        QCOMPARE(a.total1(), 100u);
        QCOMPARE(a.total2(), 5u);
        QCOMPARE(a.data(), (QVector<int>{8, 11}));
    }

    void mchMessages()
    {
        FamilySession<MCHProtocol> s("M17");
        QVERIFY(s.connect());
        QSignalSpy spy(s.protocol.get(), &MCHProtocol::message);
        sim::Bytes padded(4096, 0);
        std::memcpy(padded.data(), "grüezi", 7);
        s.push({sim::Frame{48878, 0, 0, padded}, sim::Frame{48878, 0, 0, {'a', 'b', 'c'}},
                sim::Frame{48878, 0, 0, {}}});
        QTRY_COMPARE_WITH_TIMEOUT(spy.count(), 3, 3000);
        QCOMPARE(spy[0][0].toString(), QStringLiteral("grüezi"));
        QCOMPARE(spy[1][0].toString(), QStringLiteral("abc"));
        QCOMPARE(spy[2][0].toString(), QString());
    }

    void m48ReportsTheProbeConnection()
    {
        FamilySession<M48Protocol> s("M48");
        QSignalSpy spy(s.protocol.get(), &M48Protocol::probeConnectionChanged);
        QVERIFY(s.connect());
        QCOMPARE(s.device.type(), 72);
        QCOMPARE(spy.count(), 1);
        QCOMPARE(spy[0][0].toBool(), true);
        QSignalSpy gone(&s.device, &MXXDevice::disconnected);
        s.device.disconnect();
        QVERIFY(gone.wait(5000));
        QCOMPARE(spy.count(), 2);
        QCOMPARE(spy[1][0].toBool(), false);
        QCOMPARE(M48Protocol::getModelName(714), QStringLiteral("ZN-714KA"));
    }

    // What the simulator sends on its own for each family reaches the signals.
    // At 20 Hz no timer period is free of bytes, yet M15 and M16, probed for
    // only after the identity query, are still found.
    void everyFamilyStreamReachesItsSignals()
    {
        FamilySession<M15Protocol> m15("M15", 20);
        FamilySession<M16Protocol> m16("M16", 20);
        FamilySession<M20Protocol> m20("M20", 20);
        FamilySession<M21Protocol> m21("M21", 20);
        FamilySession<M22Protocol> m22("M22", 20);
        FamilySession<M38Protocol> m38("M38", 20);
        QSignalSpy spies[] = {
            QSignalSpy(m15.protocol.get(), &M15Protocol::spectrumData),
            QSignalSpy(m16.protocol.get(), &M16Protocol::spectrumData),
            QSignalSpy(m16.protocol.get(), &M16Protocol::gmNeutData),
            QSignalSpy(m20.protocol.get(), &M20Protocol::spectrumData),
            QSignalSpy(m21.protocol.get(), &M21Protocol::spectrumData),
            QSignalSpy(m22.protocol.get(), &M22Protocol::spectrumData),
            QSignalSpy(m38.protocol.get(), &M38Protocol::spectrumData),
            QSignalSpy(m38.protocol.get(), &M38Protocol::spectrumData256),
        };
        QVERIFY(m15.connect());
        QVERIFY(m16.connect());
        QVERIFY(m20.connect());
        QVERIFY(m21.connect());
        QVERIFY(m22.connect());
        QVERIFY(m38.connect());
        for (QSignalSpy& spy : spies)
            QVERIFY(spy.count() > 0 || spy.wait(5000));
        QCOMPARE(spectrumAt(spies[6], 0)->size(), std::size_t(1024));
        QCOMPARE(spectrumAt(spies[7], 0)->size(), std::size_t(256));
    }
};

QTEST_GUILESS_MAIN(TestFamilyEvents)
#include "test_family_events.moc"
