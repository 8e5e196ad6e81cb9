// M28, M34 and M36 against simulated instruments of each: the M30 commands
// they share, their own commands, and their event streams in records of
// their own.
#include "instrument_session.h"

#include <m28_protocol.h>
#include <m34_protocol.h>
#include <m36_protocol.h>
#include <mxx_bytes.h>
#include <sim/commands.h>
#include <sim/events.h>

#include <QSignalSpy>
#include <QTest>

#include <cstring>

using testing::InstrumentSession;

namespace {

sim::Bytes word(uint32_t value)
{
    sim::Bytes b(4, 0);
    MXX_put_u32(b.data(), value);
    return b;
}

template <class P> struct Family
{
    std::unique_ptr<InstrumentSession> s;
    std::shared_ptr<P> protocol = std::make_shared<P>();

    bool start(const char* name)
    {
        s = std::make_unique<InstrumentSession>(testing::familyOptions(name));
        return s->connectDevice() && s->device.type() == protocol->type() &&
               s->device.registerProtocol(protocol) && s->device.registerProtocol(s->m30);
    }
    sim::Bytes sent(uint16_t code) const
    {
        auto f = s->instrument()->last_request(code);
        return f ? f->payload : sim::Bytes{};
    }
    void push(uint16_t code, sim::Bytes payload)
    {
        s->sim.server().push(*s->instrument(), {sim::Frame{code, 0, 0, std::move(payload)}});
    }
    // Pushes an alarm behind what was sent before and waits for it: the
    // frames before it have been handled by then.
    bool settle(QSignalSpy& alarms)
    {
        push(10011, word(5));
        return alarms.wait(3000);
    }
};

} // namespace

class TestDerivedFamilies : public QObject
{
    Q_OBJECT

    Family<M28Protocol> m28;
    Family<M34Protocol> m34;
    Family<M36Protocol> m36;

private slots:
    void initTestCase()
    {
        QCOMPARE(MXX_init(nullptr, nullptr, nullptr), 0);
        QVERIFY(m28.start("M28"));
        QVERIFY(m34.start("M34"));
        QVERIFY(m36.start("M36"));
    }

    void cleanupTestCase()
    {
        m28.s.reset();
        m34.s.reset();
        m36.s.reset();
        MXX_shut();
    }

    void sharedCommandsAreM30s()
    {
        // The same marshalling as M30's, on each family's connection.
        QVERIFY(m34.protocol->setLeds(3));
        QCOMPARE(MXX_get_u32(m34.sent(sim::m30::set_leds).data()), 577u);
        QVERIFY(m28.protocol->setInhibition(1, 2));
        QCOMPARE(m28.sent(sim::m30::set_inhibition), (sim::Bytes{1, 0, 2, 0}));
        M30_status status;
        QVERIFY(m36.protocol->getStatus(status));
        QVERIFY(m36.protocol->setNameServers("a", "b"));
        QCOMPARE(m36.sent(sim::m30::set_nameservers)[20], uint8_t('a'));

        // The survey download over M28's transmit buffer.
        std::vector<uint32_t> indices(10000, 0);
        int count = -1;
        QVERIFY(m28.protocol->txBuffDownload(1, 0, 1, 10000, 0, 0, &count, nullptr, nullptr,
                                             reinterpret_cast<char*>(indices.data()), nullptr));
        QCOMPARE(count, int(m28.s->store().records().size()));

        // A row M36 lacks is not answered by the instrument either.
        const int conn = m36.s->device.connId();
        uint8_t leds[4] = {1, 0, 0, 0};
        QCOMPARE(M30_set_leds(conn, leds, 1), 255);
    }

    void m34PalletsAndHoles()
    {
        M34Protocol& p = *m34.protocol;
        M34_pallet pallet;
        std::memcpy(pallet.bytes + 4, "North face", 10);
        MXX_put_f32(pallet.bytes + 36, 1.5f);
        int id = 0;
        QVERIFY(p.savePallet(pallet, id));
        QCOMPARE(id, 1);
        int current = 0;
        QVERIFY(p.getCurrentPalletId(current));
        QCOMPARE(current, 1);
        M34_pallet last;
        QVERIFY(p.getLastUnfinishedPallet(last));
        QCOMPARE(MXX_get_u32(last.bytes), 1u);
        QCOMPARE(QByteArray(reinterpret_cast<char*>(last.bytes + 4)), QByteArray("North face"));

        QVERIFY(p.setCurrentHole(7, QStringLiteral("H-7")));
        const sim::Bytes hole = m34.sent(sim::m34::set_current_hole);
        QCOMPARE(hole.size(), std::size_t(40));
        QCOMPARE(MXX_get_u32(hole.data()), 7u);
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(hole.data() + 4)), QByteArray("H-7"));
        M34_hole_state state;
        QVERIFY(p.getHoleState(state));
        QCOMPARE(MXX_get_u32(state.bytes), 7u);

        QVERIFY(p.setAssayDepth(2.25f));
        float depth = 0;
        QVERIFY(p.getCurrentPalletDepth(depth));
        QCOMPARE(depth, 2.25f);
        QVERIFY(p.recreateDatabase());
        QCOMPARE(m34.s->instrument()->last_request(sim::m34::recreate_database)->param,
                 uint16_t(10000));
    }

    void m36EthernetAndEfficiency()
    {
        QList<QStringList> interfaces;
        QVERIFY(m36.protocol->getEthernetList(interfaces));
        QCOMPARE(interfaces.size(), 1);
        QCOMPARE(interfaces[0], (QStringList{"eth0", "127.0.0.1", "::1", "02:00:00:00:00:01"}));

        QVector<QPair<float, float>> points = {{59.5f, 0.8f}, {661.7f, 0.21f}};
        QVERIFY(m36.protocol->uploadEfficiencyLut(points));
        const sim::Bytes lut = m36.sent(sim::m36::upload_efficiency_lut);
        QCOMPARE(lut.size(), std::size_t(4100));
        QCOMPARE(MXX_get_u32(lut.data()), 2u);
        QCOMPARE(MXX_get_f32(lut.data() + 12), 661.7f);
        QCOMPARE(MXX_get_f32(lut.data() + 16), 0.21f);
        const std::size_t uploads = m36.s->instrument()->count(sim::m36::upload_efficiency_lut);
        QVERIFY(!m36.protocol->uploadEfficiencyLut(QVector<QPair<float, float>>(513)));
        QCOMPARE(m36.s->instrument()->count(sim::m36::upload_efficiency_lut), uploads);
    }

    void m28OwnCommands()
    {
        M28Protocol& p = *m28.protocol;
        QVERIFY(p.setDate(QDate(2026, 3, 14)));
        QDate date;
        QVERIFY(p.getDate(date));
        QCOMPARE(date, QDate(2026, 3, 14));
        QVERIFY(p.setTime(QTime(23, 5, 9)));
        QTime time;
        QVERIFY(p.getTime(time));
        QCOMPARE(time, QTime(23, 5, 9));
        const std::size_t sets = m28.s->instrument()->count(sim::m28::set_date);
        QVERIFY(!p.setDate(QDate()));
        QCOMPARE(m28.s->instrument()->count(sim::m28::set_date), sets);
        // An answer that is no date leaves the output alone.
        m28.s->instrument()->set_rule(sim::m28::get_date, sim::Rule::reply(sim::Bytes(12, 0xFF)));
        QVERIFY(!p.getDate(date));
        QCOMPARE(date, QDate(2026, 3, 14));
        m28.s->instrument()->clear_rule(sim::m28::get_date);

        QVERIFY(p.modifyUser(4, QStringLiteral("Ilze"), QStringLiteral("1234")));
        QVERIFY(p.setLoggedUser(4, QStringLiteral("1234")));
        int number = 0;
        QString name;
        QVERIFY(p.getLoggedUser(number, name));
        QCOMPARE(number, 4);
        QCOMPARE(name, QStringLiteral("Ilze"));
        QVERIFY(!p.setLoggedUser(9, QStringLiteral("0000"))); // no such user

        QList<M28Protocol::FileEntry> files;
        QVERIFY(p.listFiles(QStringLiteral("/"), files));
        QCOMPARE(files.size(), 3);
        QCOMPARE(files[2].name, QStringLiteral("params.txt"));
        QVERIFY(files[0].folder && !files[2].folder);
        int state = -1;
        quint32 total = 0, free = 0;
        QVERIFY(p.checkMassStorage(state, total, free));
        QCOMPARE(state, 0);
        QVERIFY(free < total);
        QVERIFY(p.exportData(1, 2, QStringLiteral("export/2026")));
        QCOMPARE(m28.sent(sim::m28::export_data).size(), std::size_t(72));

        QSignalSpy announced(&p, &M28Protocol::identResultsData);
        QList<QStringList> found;
        QVERIFY(p.getIdentResults(found));
        QCOMPARE(found.size(), 2);
        QCOMPARE(found[0], (QStringList{"Cs-137", "Industrial", "92.5"}));
        QCOMPARE(announced.count(), 1);
        QCOMPARE(*announced[0][0].value<std::shared_ptr<QList<QStringList>>>(), found);
    }

    void m34EventsInItsOwnRecords()
    {
        M34Protocol* p = m34.protocol.get();
        QSignalSpy status(p, &M34Protocol::statusData);
        QSignalSpy assay(p, &M34Protocol::assayResultsData);
        QSignalSpy accumulated(p, &M34Protocol::accumulatedSpectrumData);
        QSignalSpy alarms(p, &M34Protocol::alarmData);
        QSignalSpy m30Status(m34.s->m30.get(), &M30Protocol::statusData);
        QSignalSpy m30Accumulated(m34.s->m30.get(), &M30Protocol::accumulatedSpectrumData);
        QSignalSpy m30Alarms(m34.s->m30.get(), &M30Protocol::alarmData);
        sim::EventStream stream(3, sim::StatusValues{});
        m34.push(10007, stream.make(10007).payload);
        m34.push(10017, stream.make(10017).payload); // not M34's: no assay result
        m34.push(10002, stream.spectrum(4));
        QVERIFY(m34.settle(alarms));
        QCOMPARE(status.count(), 1);
        QVERIFY(status[0][0].value<std::shared_ptr<M34_status>>());
        QCOMPARE(assay.count(), 0);
        QCOMPARE(accumulated.count(), 1);
        QCOMPARE(accumulated[0][0].value<std::shared_ptr<Spectrum>>()->type(), 2u);
        // The M30 object registered beside it takes none of M34's items,
        // not even those of types it reads too (spectra, tagged values).
        QCOMPARE(m30Status.count(), 0);
        QCOMPARE(m30Accumulated.count(), 0);
        QCOMPARE(m30Alarms.count(), 0);
    }

    void m36EventsInItsOwnRecords()
    {
        M36Protocol* p = m36.protocol.get();
        QSignalSpy status(p, &M36Protocol::statusData);
        QSignalSpy stab(p, &M36Protocol::csStabResultsData);
        QSignalSpy identify(p, &M36Protocol::identifyResultsData);
        QSignalSpy keys(m36.s->m30.get(), &M30Protocol::keyboardData);
        sim::EventStream stream(4, sim::StatusValues{});
        m36.push(10003, stream.make(10003).payload); // M36 has no keyboard event
        m36.push(10007, sim::Bytes{9, 8, 7});
        m36.push(10009, stream.make(10009).payload);
        m36.push(10015, word(3));
        QVERIFY(stab.wait(3000));
        QCOMPARE(stab[0][0].toInt(), 3);
        QCOMPARE(identify.count(), 1);
        auto record = status.at(0).at(0).value<std::shared_ptr<M36_status_data>>();
        QCOMPARE(record->bytes[2], uint8_t(7));
        QCOMPARE(record->bytes[3], uint8_t(0)); // zero-filled past the short payload
        QCOMPARE(keys.count(), 1);              // went to the M30 object, whose event it is
    }

    void m28EventsInItsOwnForms()
    {
        M28Protocol* p = m28.protocol.get();
        QSignalSpy spectra(p, &M28Protocol::spectrumData);
        QSignalSpy accumulated(p, &M28Protocol::accSpectrumData);
        QSignalSpy messages(p, &M28Protocol::messageData);
        QSignalSpy calibration(p, &M28Protocol::csCalibData);
        QSignalSpy alarms(p, &M28Protocol::alarmData);
        sim::EventStream stream(5, sim::StatusValues{});
        m28.push(10002, stream.spectrum(3)); // its kind does not decide here
        m28.push(10008, stream.spectrum(1));
        m28.push(10014, word(2));
        sim::Bytes cs(16, 0);
        MXX_put_u32(cs.data(), 1);
        m28.push(10015, cs);
        QVERIFY(m28.settle(alarms));
        QCOMPARE(alarms[0][0].toInt(), 5);
        QCOMPARE(spectra.count(), 1);
        QCOMPARE(spectra[0][0].value<std::shared_ptr<Spectrum>>()->type(), 1u);
        QCOMPARE(accumulated.count(), 1);
        QCOMPARE(accumulated[0][0].value<std::shared_ptr<Spectrum>>()->type(), 2u);
        QCOMPARE(messages.count(), 1);
        QCOMPARE(messages[0][0].toInt(), 2);
        QCOMPARE(calibration.count(), 1);
        QCOMPARE(MXX_get_u32(calibration[0][0].value<std::shared_ptr<M28_cs_calib_data>>()->bytes),
                 1u);
    }

    void theSimulatorsStreamInEachFamilysForms()
    {
        // The program's own stream, adapted per family: an M28 sends its
        // accumulated spectrum and messages under its own events.
        sim::SimOptions o = testing::familyOptions("M28");
        o.events_hz = 100;
        Family<M28Protocol> streaming;
        streaming.s = std::make_unique<InstrumentSession>(o);
        QVERIFY(streaming.s->connectDevice());
        QVERIFY(streaming.s->device.registerProtocol(streaming.protocol));
        QSignalSpy accumulated(streaming.protocol.get(), &M28Protocol::accSpectrumData);
        QSignalSpy messages(streaming.protocol.get(), &M28Protocol::messageData);
        QVERIFY(accumulated.wait(5000));
        QTRY_VERIFY_WITH_TIMEOUT(messages.count() > 0, 5000);
        QCOMPARE(messages[0][0].toInt(), 2);
    }
};

QTEST_GUILESS_MAIN(TestDerivedFamilies)
#include "test_derived_families.moc"
