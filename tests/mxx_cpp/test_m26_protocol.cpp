// M26Protocol against a simulated M26: its files through the methods, and
// the reader on the device's thread for status, spectra and the
// stabilisation log, again after a reconnect; M26Spectrum's addition.
#include "instrument_session.h"

#include <m26_protocol.h>
#include <mxx_bytes.h>
#include <sim/commands.h>

#include <QSignalSpy>
#include <QTest>

#include <cstring>

using testing::InstrumentSession;

namespace {

uint32_t idOf(const M26_stab_log_entry& entry)
{
    return MXX_get_u32(entry.bytes);
}

} // namespace

class TestM26Protocol : public QObject
{
    Q_OBJECT

    std::unique_ptr<InstrumentSession> s;
    std::shared_ptr<M26Protocol> m26 = std::make_shared<M26Protocol>();

    sim::Instrument& instrument() { return *s->instrument(); }
    sim::M26State& state() { return *s->sim.instruments()[0].set.m26; }

    bool connect() { return s->connectDevice() && s->device.registerProtocol(m26); }

    // Asks the reader for status and spectra; true when the instrument was
    // asked for all five files while the main thread ran no event loop, so
    // that only a reader on another thread can have asked, and the last
    // spectrum came back.
    bool readOffTheMainThread(QSignalSpy& stab)
    {
        instrument().clear_log();
        emit m26->readStatus();
        return instrument().wait_for(sim::m23::data_buff_op, 5, std::chrono::seconds(5)) &&
               stab.wait(5000);
    }

private slots:
    void initTestCase()
    {
        QCOMPARE(MXX_init(nullptr, nullptr, nullptr), 0);
        s = std::make_unique<InstrumentSession>(testing::familyOptions("M26"));
        QVERIFY(connect());
        QCOMPARE(s->device.type(), 9);
        QCOMPARE(m26->type(), 9);
    }

    void cleanupTestCase()
    {
        s.reset();
        m26.reset();
        MXX_shut();
    }

    void recordsThroughTheMethods()
    {
        M26_params params;
        for (std::size_t i = 0; i < sizeof params.bytes; ++i)
            params.bytes[i] = static_cast<uint8_t>(200 - i);
        QVERIFY(m26->setParams(params));
        M26_params back;
        QVERIFY(m26->getParams(back));
        QCOMPARE(std::memcmp(back.bytes, params.bytes, sizeof params.bytes), 0);
        QCOMPARE(s->sim.instruments()[0].set.files->get("etc/params")->size(), std::size_t(192));

        QVERIFY(m26->setStab(3));
        int mode = 0;
        QVERIFY(m26->getStab(mode));
        QCOMPARE(mode, 3);
        QVERIFY(m26->energyCalib(220.5f, 661.7f));
        const sim::Frame chunk = *instrument().last_request(sim::m23::file_write);
        QCOMPARE(MXX_get_f32(chunk.payload.data() + 12), 661.7f);

        M26_stab_log_info info;
        QVERIFY(m26->getStabLogInfo(info));
        const uint32_t count = MXX_get_u32(info.bytes + 4), base = MXX_get_u32(info.bytes + 8),
                       first = MXX_get_u32(info.bytes + 12);
        QCOMPARE(count, uint32_t(state().stab_entries()));
        M26_stab_log_entry entry;
        QVERIFY(m26->getStabLogEntry(count - 1, base, entry));
        QCOMPARE(idOf(entry), first + count - 1);
        QVERIFY(M26Protocol::isValidStabEntry(entry));

        std::shared_ptr<M26Spectrum> spectrum;
        QVERIFY(m26->getSpectrum(QStringLiteral("sec1024"), spectrum));
        QCOMPARE(spectrum->size(), std::size_t(1024));
        QCOMPARE(spectrum->typeName(), QStringLiteral("Second"));
        QVERIFY(spectrum->pileup() > 0);
        QVERIFY(!m26->getSpectrum(QStringLiteral("nothing"), spectrum));

        // A record file shorter than the record fails and leaves it as it was.
        s->sim.instruments()[0].set.files->put("etc/mca_params", sim::Bytes(10, 1));
        M26_mca_params mca;
        mca.bytes[0] = 0x42;
        QVERIFY(!m26->getMcaParams(mca));
        QCOMPARE(mca.bytes[0], uint8_t(0x42));
    }

    // The buffer's status event (M23's) is the M26's own: its object keeps it.
    void keepsTheBufferStatusOfItsEvent()
    {
        sim::Bytes status(8, 0);
        MXX_put_u32(status.data(), 2);
        MXX_put_u32(status.data() + 4, 4096);
        s->sim.server().push(instrument(), {sim::Frame{M23_STATUS_EVENT, 0, 0, status}});
        QTRY_VERIFY_WITH_TIMEOUT(
            m26->lastStatusInfo() && MXX_get_u32(m26->lastStatusInfo()->bytes + 4) == 4096, 3000);
        QCOMPARE(MXX_get_u32(m26->lastStatusInfo()->bytes), 2u);
    }

    void readerRunsOffTheMainThread()
    {
        QSignalSpy status(m26.get(), &M26Protocol::statusChanged);
        QSignalSpy raw(m26.get(), &M26Protocol::spectrumSecRaw);
        QSignalSpy lin(m26.get(), &M26Protocol::spectrumSecLin);
        QSignalSpy stab(m26.get(), &M26Protocol::spectrumStab);
        QVERIFY(readOffTheMainThread(stab));
        QCOMPARE(status.count(), 1);
        QCOMPARE(raw.count(), 1);
        QCOMPARE(lin.count(), 1);
        auto rawSpectrum = raw[0][0].value<std::shared_ptr<Spectrum>>();
        QCOMPARE(rawSpectrum->size(), std::size_t(512));
        QCOMPARE(lin[0][0].value<std::shared_ptr<Spectrum>>()->size(), std::size_t(1024));
        auto stabSpectrum =
            std::dynamic_pointer_cast<M26Spectrum>(stab[0][0].value<std::shared_ptr<Spectrum>>());
        QVERIFY(stabSpectrum);
        QCOMPARE(stabSpectrum->typeName(), QStringLiteral("Stabilization"));
        QCOMPARE(stabSpectrum->property("type").toString(), QStringLiteral("Stabilization"));
        const auto record = status[0][0].value<M26_status>();
        QCOMPARE(MXX_get_u32(record.bytes), 1u); // measuring

        // A record added to the log since the last look is reported, once.
        // (The reader takes one request after the other: once the second
        // one's spectra came, the first look at the log is done.)
        QSignalSpy added(m26.get(), &M26Protocol::stabEntryAdded);
        emit m26->readStatus();
        QTRY_COMPARE_WITH_TIMEOUT(stab.count(), 2, 5000);
        state().add_stab_entry();
        emit m26->readStatus();
        QVERIFY(added.wait(5000));
        QCOMPARE(idOf(added[0][0].value<M26_stab_log_entry>()), uint32_t(state().stab_entries()));
        emit m26->readStatus();
        emit m26->readStatus();
        QTRY_COMPARE_WITH_TIMEOUT(stab.count(), 5, 5000);
        QCOMPARE(added.count(), 1);

        // A record asked for by index and base.
        M26_stab_log_info info;
        QVERIFY(m26->getStabLogInfo(info));
        QSignalSpy entry(m26.get(), &M26Protocol::stabLogEntry);
        emit m26->stabLogEntryRead(0, MXX_get_u32(info.bytes + 8));
        QVERIFY(entry.wait(5000));
        QCOMPARE(idOf(entry[0][0].value<M26_stab_log_entry>()), MXX_get_u32(info.bytes + 12));
    }

    void readsAgainAfterAReconnect()
    {
        QVERIFY(s->disconnect());
        QVERIFY(!m26->isBound());
        QVERIFY(connect());
        QSignalSpy status(m26.get(), &M26Protocol::statusChanged);
        QSignalSpy stab(m26.get(), &M26Protocol::spectrumStab);
        QVERIFY(readOffTheMainThread(stab));
        QCOMPARE(status.count(), 1);
        // The synchronous methods share the connection with the reader.
        M26_status now;
        QVERIFY(m26->getStatus(now));
        QVERIFY(m26->clearStabLog());
        M26_stab_log_info info;
        QVERIFY(m26->getStabLogInfo(info));
        QCOMPARE(MXX_get_u32(info.bytes + 4), 0u);
    }

    void spectrumAddition()
    {
        M26Spectrum second({1, 2, 3, 4}, 10, 20, 10, 1, 0);
        second.setPileup(5);
        second.setTypeName(M26Spectrum::kSecond);
        M26Spectrum stab({10, 20}, 1, 2, 30, 2, 0);
        stab.setPileup(7);
        stab.setTypeName(M26Spectrum::kStabilization);
        Spectrum& sum = second;
        sum += stab; // through the base's virtual operator
        QCOMPARE(second.data(), (QVector<int>{11, 12, 23, 24}));
        QCOMPARE(second.liveTime(), uint64_t(11));
        QCOMPARE(second.pileup(), 12u);
        QCOMPARE(second.typeName(), M26Spectrum::kStabilization);

        // A stabilisation spectrum stays one; a plain spectrum adds no pile-up.
        stab += second;
        QCOMPARE(stab.typeName(), M26Spectrum::kStabilization);
        QCOMPARE(stab.pileup(), 19u);
        Spectrum plain(QVector<int>{1, 1}, 1, 1, 1, 1, 0);
        stab += plain;
        QCOMPARE(stab.pileup(), 19u);
        QCOMPARE(stab.data(), (QVector<int>{22, 44}));

        QCOMPARE(M26Protocol::getModelName(1), QStringLiteral("M26 Gamma"));
        QCOMPARE(M26Protocol::getModelName(99), QStringLiteral("M26 (model 99)"));
    }
};

QTEST_GUILESS_MAIN(TestM26Protocol)
#include "test_m26_protocol.moc"
