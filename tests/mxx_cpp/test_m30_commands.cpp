#include "instrument_session.h"

#include <mxx_bytes.h>

#include <QTest>

#include <cstring>

using testing::InstrumentSession;

namespace {

sim::Bytes bytesAt(const sim::Bytes& b, std::size_t at, std::size_t n)
{
    return sim::Bytes(b.begin() + static_cast<long>(at), b.begin() + static_cast<long>(at + n));
}

sim::Bytes text(const char* t, std::size_t field)
{
    sim::Bytes b(field, 0);
    std::memcpy(b.data(), t, std::min(std::strlen(t), field));
    return b;
}

} // namespace

class TestM30Commands : public QObject
{
    Q_OBJECT

    std::unique_ptr<InstrumentSession> s;

    sim::Bytes sent(std::uint16_t code) const
    {
        auto f = s->instrument()->last_request(code);
        return f ? f->payload : sim::Bytes{};
    }

private slots:
    void initTestCase()
    {
        QCOMPARE(MXX_init(nullptr, nullptr, nullptr), 0);
        s = std::make_unique<InstrumentSession>();
        QVERIFY(s->connect());
        QCOMPARE(s->device.type(), 12);
        QCOMPARE(s->m30->type(), 12);
    }

    void cleanup() { s->restoreRules(); }

    void cleanupTestCase()
    {
        s.reset();
        MXX_shut();
    }

    void ledWord()
    {
        const std::pair<int, uint32_t> cases[] = {{0, 1},   {1, 513}, {2, 65},
                                                  {3, 577}, {7, 577}, {-4, 1}};
        for (auto [arg, word] : cases) {
            QVERIFY(s->m30->setLeds(arg));
            QCOMPARE(MXX_get_u32(sent(8301).data()), word);
        }
        const std::size_t before = s->instrument()->total_received();
        QVERIFY(!s->m30->getLeds());
        QCOMPARE(s->instrument()->total_received(), before);
    }

    void smallRequestLayouts()
    {
        QVERIFY(s->m30->setInhibition(1, 2));
        QCOMPARE(sent(8018), (sim::Bytes{1, 0, 2, 0}));
        int a = 0, b = 0;
        QVERIFY(s->m30->getInhitibion(a, b));
        QCOMPARE(a, 1);
        QCOMPARE(b, 2);

        QVERIFY(s->m30->deleteRecord(1, 2, 3, 4));
        QCOMPARE(sent(8312), (sim::Bytes{1, 0, 0, 0, 2, 0, 0, 0, 3, 0, 4, 0}));

        QVERIFY(s->m30->setEventFilter(0x1234));
        QCOMPARE(sent(8016), (sim::Bytes{0x34, 0x12, 0, 0, 0, 0, 0, 0}));
        int filter = 0;
        QVERIFY(s->m30->getEventFilter(filter));
        QCOMPARE(filter, 0x1234);

        QVERIFY(s->m30->setGpsPower(-2));
        int power = 0;
        QVERIFY(s->m30->getGpsPower(power));
        QCOMPARE(power, -2);

        QVERIFY(s->m30->setAdcParameter(7, 70000));
        QCOMPARE(sent(8420), (sim::Bytes{7, 0, 0, 0, 0x70, 0x11, 1, 0}));
        QVERIFY(s->m30->setAssayCoreDepth(1.5f));
        QCOMPARE(sent(8551).size(), std::size_t(68));
        QCOMPARE(MXX_get_f32(sent(8551).data()), 1.5f);
    }

    void textFields()
    {
        QVERIFY(s->m30->setNameServers("a", "b"));
        sim::Bytes ns = sent(8437);
        QCOMPARE(ns.size(), std::size_t(52));
        QCOMPARE(bytesAt(ns, 0, 20), text("b", 20));
        QCOMPARE(bytesAt(ns, 20, 32), text("a", 32));

        QVERIFY(s->m30->setIpv4("wlan0", "static", "", "127.0.0.2", "127.0.0.3"));
        sim::Bytes v4 = sent(8435);
        QCOMPARE(v4.size(), std::size_t(140));
        QCOMPARE(bytesAt(v4, 0, 64), text("wlan0", 64));
        QCOMPARE(bytesAt(v4, 64, 16), text("static", 16));
        QCOMPARE(bytesAt(v4, 80, 20), sim::Bytes(20, 0));
        QCOMPARE(bytesAt(v4, 120, 20), text("127.0.0.3", 20));

        QVERIFY(s->m30->setIpv6("e", "d", "c", "b", "a"));
        sim::Bytes v6 = sent(8436);
        QCOMPARE(bytesAt(v6, 80, 30), text("c", 30));
        QCOMPARE(bytesAt(v6, 110, 34), sim::Bytes(34, 0));
        QCOMPARE(bytesAt(v6, 144, 8), text("b", 8));
        QCOMPARE(bytesAt(v6, 152, 32), text("a", 32));
        QCOMPARE(bytesAt(v6, 184, 48), sim::Bytes(48, 0));

        // A text longer than its field is cut there, with no terminating NUL.
        QVERIFY(s->m30->setGuiSerial(QStringLiteral("C123456789")));
        QCOMPARE(sent(8011), text("C1234567", 8));
        const QString longName(300, QLatin1Char('w'));
        QVERIFY(s->m30->connectWifi(longName, 0x0102));
        sim::Bytes wifi = sent(8427);
        QCOMPARE(wifi.size(), std::size_t(257));
        QCOMPARE(bytesAt(wifi, 0, 2), (sim::Bytes{2, 1}));
        QCOMPARE(bytesAt(wifi, 2, 255), sim::Bytes(255, 'w'));
        QVERIFY(s->m30->setAutoconnect(QStringLiteral("net"), 1));
        QCOMPARE(bytesAt(sent(8438), 64, 2), (sim::Bytes{1, 0}));

        QVERIFY(s->m30->saveCalibLog(9, QStringLiteral("checked")));
        sim::Bytes log = sent(8320);
        QCOMPARE(bytesAt(log, 4, 4), (sim::Bytes{0xFF, 0xFF, 0xFF, 0xFF}));
        QCOMPARE(bytesAt(log, 8, 4), (sim::Bytes{9, 0, 0, 0}));
        QCOMPARE(bytesAt(log, 24, 256), text("checked", 256));
    }

    void calibrationSpectra()
    {
        M30_spectrum_data spectrum;
        MXX_put_u32(spectrum.bytes, 1024);
        for (int i = 0; i < 16; ++i)
            spectrum.bytes[106 + i] = static_cast<uint8_t>(0xA0 + i);
        for (uint32_t c = 0; c < 1024; ++c)
            MXX_put_u32(spectrum.bytes + 124 + 4 * c, c * 7 + 1);
        int status = -1;
        QVERIFY(s->m30->uploadCalibSpect(spectrum, QStringLiteral("bg"), 3, 70000, status));
        QCOMPARE(status, 0);
        sim::Bytes up = sent(8352);
        QCOMPARE(up.size(), std::size_t(4270));
        QCOMPARE(bytesAt(up, 0, 2), (sim::Bytes{3, 0}));
        QCOMPARE(bytesAt(up, 2, 16), text("bg", 16));
        QCOMPARE(MXX_get_u32(up.data() + 18), 70000u);
        QCOMPARE(MXX_get_u32(up.data() + 50), 1024u);
        QCOMPARE(up[156], uint8_t(0xA0));
        QCOMPARE(up[171], uint8_t(0xAF));
        QCOMPARE(MXX_get_u32(up.data() + 174), 1u);
        QCOMPARE(MXX_get_u32(up.data() + 4266), 1023u * 7 + 1);

        // More channels than the request holds: refused, nothing sent.
        const std::size_t uploads = s->instrument()->count(8352);
        MXX_put_u32(spectrum.bytes, 1025);
        QVERIFY(!s->m30->uploadCalibSpect(spectrum, QStringLiteral("bg"), 3, 1, status));
        QCOMPARE(s->instrument()->count(8352), uploads);

        M30_calib_spectrum down;
        QVERIFY(s->m30->downloadCalibSpect(5, 6, 7, down, status));
        QCOMPARE(sent(8353),
                 (sim::Bytes{6, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 5, 0, 7, 0}));
        QCOMPARE(MXX_get_u32(down.bytes + 174), 1u);

        QVERIFY(s->m30->saveCalibSpect(QStringLiteral("K"), 2, 4, status));
        QCOMPARE(sent(8350),
                 (sim::Bytes{2, 0, 'K', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 4, 0, 0, 0}));
    }

    void statusOutputs()
    {
        // The cloud request's words go 1 at 0, 3 at 4, 2 at 8; a refusal
        // hands its status byte out with the false result.
        int e = -1;
        QVERIFY(s->m30->updateCloudAssayId(1, 2, 3, &e));
        QCOMPARE(e, 0);
        sim::Bytes cloud = sent(8565);
        QCOMPARE(cloud.size(), std::size_t(264));
        QCOMPARE(bytesAt(cloud, 0, 12), (sim::Bytes{1, 0, 0, 0, 3, 0, 0, 0, 2, 0, 0, 0}));
        QCOMPARE(s->instrument()->last_request(8565)->param, uint16_t(5000));
        s->instrument()->set_rule(8565, sim::Rule::reply({}, 9));
        QVERIFY(!s->m30->updateCloudAssayId(1, 2, 3, &e));
        QCOMPARE(e, 9);
        s->instrument()->set_rule(8225, sim::Rule::fail(4));
        int st = -1;
        QVERIFY(!s->m30->loadGammaBackupParams(st));
        QCOMPARE(st, 4);
        // No answer at all: the status output keeps its value.
        s->instrument()->set_rule(8349, sim::Rule::silence());
        M30_calibration_methods methods;
        st = 77;
        QVERIFY(!s->m30->saveCalibMethods(methods, st));
        QCOMPARE(st, 77);
    }

    // Records the caller may leave out are asked for all the same; records
    // the caller must give are not sent without one.
    void optionalAndRequiredRecords()
    {
        const std::size_t lists = s->instrument()->count(8424);
        QVERIFY(s->m30->getUsbGadgetList(nullptr));
        QCOMPARE(s->instrument()->count(8424), lists + 1);
        QVERIFY(s->m30->checkCalibDate(5, nullptr));
        QCOMPARE(sent(8321), (sim::Bytes{5, 0, 0, 0}));
        M30_expanded_spectrum_data expanded;
        QVERIFY(s->m30->getExpandedStabSpect(2, &expanded));
        QCOMPARE(sent(8530), (sim::Bytes{2, 0, 0, 0}));
        QVERIFY(s->m30->getWifiIpv4List(QStringLiteral("net"), nullptr));
        QCOMPARE(sent(8425), text("net", 255));
        s->instrument()->set_rule(8426, sim::Rule::fail());
        M30_wifi_ipv6_list list;
        QVERIFY(!s->m30->getWifiIpv6List(QStringLiteral("net"), &list));

        const std::size_t sets = s->instrument()->count(8481) + s->instrument()->count(8550) +
                                 s->instrument()->count(8561);
        QVERIFY(!s->m30->setNuclideLibrary(nullptr));
        QVERIFY(!s->m30->setCoreInfo(nullptr));
        QVERIFY(!s->m30->setVirtualComponents(nullptr));
        QCOMPARE(s->instrument()->count(8481) + s->instrument()->count(8550) +
                     s->instrument()->count(8561),
                 sets);
        M30_nuclib_entry library;
        library.bytes[14443] = 9;
        QVERIFY(s->m30->setNuclideLibrary(&library));
        QCOMPARE(sent(8481).size(), std::size_t(14444));
        QCOMPARE(sent(8481)[14443], uint8_t(9));
    }

    void recordsPassThrough()
    {
        M30_params params;
        for (std::size_t i = 0; i < sizeof params.bytes; ++i)
            params.bytes[i] = static_cast<uint8_t>(i);
        QVERIFY(s->m30->setParams(params));
        M30_params back;
        QVERIFY(s->m30->getParams(back));
        QCOMPARE(std::memcmp(back.bytes, params.bytes, sizeof params.bytes), 0);
        M30_versions versions;
        QVERIFY(s->m30->getVersions(versions));
        QCOMPARE(QByteArray(reinterpret_cast<char*>(versions.bytes)), QByteArray("M30"));
        int count = 0;
        QVERIFY(s->m30->prepareNoteDB(1, count));
        QCOMPARE(count, 3);
        // A failed get leaves the caller's record as it was.
        s->instrument()->set_rule(8203, sim::Rule::fail());
        M30_status status;
        status.bytes[0] = 0x77;
        QVERIFY(!s->m30->getStatus(status));
        QCOMPARE(status.bytes[0], uint8_t(0x77));
    }
};

QTEST_GUILESS_MAIN(TestM30Commands)
#include "test_m30_commands.moc"
