// The command sets of M15, M16, M18, M20, M21, M22, M38 and MCH through their
// protocol objects and the real command layer, against the simulator posing
// as each family: what reaches the instrument, and what comes back.
#include "family_session.h"

#include <m15_protocol.h>
#include <m16_protocol.h>
#include <m18_protocol.h>
#include <m20_protocol.h>
#include <m21_protocol.h>
#include <m22_protocol.h>
#include <m38_protocol.h>
#include <mch_protocol.h>
#include <mxx_bytes.h>
#include <sim/family_tables.h>

#include <QTest>

#include <cstring>

using testing::FamilySession;

namespace {

sim::Bytes bytes(std::initializer_list<int> values)
{
    sim::Bytes out;
    for (int v : values)
        out.push_back(static_cast<uint8_t>(v));
    return out;
}

sim::Bytes textField(const char* text, std::size_t field)
{
    sim::Bytes b(field, 0);
    std::memcpy(b.data(), text, std::min(std::strlen(text), field));
    return b;
}

QByteArray pattern(int size)
{
    QByteArray data(size, '\0');
    for (int i = 0; i < size; ++i)
        data[i] = static_cast<char>(i * 7 + i / 251);
    return data;
}

} // namespace

class TestFamilyCommands : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QCOMPARE(MXX_init(nullptr, nullptr, nullptr), 0); }
    void cleanupTestCase() { MXX_shut(); }

    void m15()
    {
        FamilySession<M15Protocol> s("M15");
        QVERIFY(s.connect());
        QCOMPARE(s.device.type(), 1);
        M15Protocol& p = *s.protocol;

        // 1109 is the identification query and the version command at once.
        QCOMPARE(p.getSWVersion(), QStringLiteral("1.4.2"));

        QVERIFY(p.setHv(700));
        QCOMPARE(s.sent(sim::m15::Set_HV), bytes({0xBC, 0x02}));
        int hv = 0;
        QVERIFY(p.getHv(hv));
        QCOMPARE(hv, 700);
        // Out of a field's range: refused, nothing sent.
        const std::size_t before = s.instrument().total_received();
        QVERIFY(!p.setHv(70000));
        QVERIFY(!p.setHv(-1));
        QVERIFY(!p.setBacklight(256));
        QCOMPARE(s.instrument().total_received(), before);
        QVERIFY(p.setBacklight(3));
        QCOMPARE(s.sent(sim::m15::Set_Backlight), bytes({3}));

        QVERIFY(p.startMeas(600));
        QCOMPARE(s.sent(sim::m15::Start_Meas), bytes({0x58, 0x02, 0, 0}));
        QVERIFY(p.stopMeas(true));
        QCOMPARE(s.sent(sim::m15::Stop_Meas), bytes({1, 0, 0, 0}));

        s.instrument().set_rule(sim::m15::Get_Voltage, sim::Rule::reply(bytes({0x34, 0x12})));
        int mv = 0;
        QVERIFY(p.getVoltage(2, mv));
        QCOMPARE(s.sent(sim::m15::Get_Voltage), bytes({2, 0}));
        QCOMPARE(mv, 0x1234);
        int four[4] = {};
        QVERIFY(p.getVoltages(four));
        QCOMPARE(four[2], 12000);

        // The temperature is signed tenths.
        float celsius = 0;
        QVERIFY(p.getTemperature(celsius));
        QCOMPARE(celsius, 21.5f);
        s.instrument().set_rule(sim::m15::Get_Temperature, sim::Rule::reply(bytes({0xCC, 0xFF})));
        QVERIFY(p.getTemperature(celsius));
        QCOMPARE(celsius, -5.2f);

        QVERIFY(p.setEnergyCalib(1.5f, 2.25f, -0.001f));
        QCOMPARE(MXX_get_f32(s.sent(sim::m15::Set_Energy_Calib).data() + 4), 2.25f);
        float a = 0, b = 0, c = 0;
        QVERIFY(p.getEnergyCalib(a, b, c));
        QCOMPARE(a, 1.5f);
        QCOMPARE(c, -0.001f);

        M15_params params;
        params.bytes[43] = 0x43;
        QVERIFY(p.setParam(params));
        M15_params back;
        QVERIFY(p.getParam(back));
        QCOMPARE(back.bytes[43], uint8_t(0x43));

        // A failed get leaves its output as it was.
        s.instrument().set_rule(sim::m15::Get_HV, sim::Rule::fail(3));
        hv = 17;
        QVERIFY(!p.getHv(hv));
        QCOMPARE(hv, 17);
    }

    void m16LookupTableAndTest()
    {
        FamilySession<M16Protocol> s("M16");
        QVERIFY(s.connect());
        QCOMPARE(s.device.type(), 2);
        M16Protocol& p = *s.protocol;
        QCOMPARE(p.getSWVersion(), QStringLiteral("1.4.2"));

        QVERIFY(p.usbTest());
        s.instrument().set_rule(sim::m16::USB_Test, sim::Rule::reply(sim::Bytes(64, 0x55)));
        QVERIFY(!p.usbTest());

        QVector<int> table(256);
        for (int i = 0; i < 256; ++i)
            table[i] = i * 256 + 3;
        QVERIFY(p.writeLut(3, table));
        const sim::Bytes lut = s.sent(sim::m16::Write_LUT);
        QCOMPARE(lut.size(), std::size_t(514));
        QCOMPARE(sim::Bytes(lut.begin(), lut.begin() + 6), bytes({3, 0, 3, 0, 3, 1}));
        QCOMPARE(MXX_get_u16(lut.data() + 512), uint16_t(255 * 256 + 3));
        int checksum = 0;
        QVERIFY(p.getLutChecksum(checksum));
        QCOMPARE(checksum, M16Protocol::lutChecksum(table));
        // The instrument took something else than was sent: a failure.
        s.instrument().set_rule(sim::m16::Write_LUT, sim::Rule::reply(bytes({1, 2})));
        QVERIFY(!p.writeLut(3, table));
        const std::size_t uploads = s.instrument().count(sim::m16::Write_LUT);
        QVERIFY(!p.writeLut(3, table.mid(1)));
        table[9] = 65536;
        QVERIFY(!p.writeLut(3, table));
        QCOMPARE(s.instrument().count(sim::m16::Write_LUT), uploads);

        // Building tables takes the instrument seconds; the host waits as long.
        QVERIFY(p.makeLinearLut());
        QCOMPARE(s.timeoutOf(sim::m16::Make_Linear_LUT), 10000);
        QVERIFY(p.makeSquareLut());
        QCOMPARE(s.timeoutOf(sim::m16::Make_Square_LUT), 20000);
        QVERIFY(p.loadLut(2));
        QCOMPARE(s.timeoutOf(sim::m16::Load_LUT), 10000);

        bool on = false;
        QVERIFY(p.set16BitMode(true));
        QVERIFY(p.get16BitMode(on));
        QVERIFY(on);
        int volts[3] = {};
        QVERIFY(p.getVoltages(volts));
        QCOMPARE(volts[2], 12000);
    }

    void m18LogsGpsAndLibrary()
    {
        FamilySession<M18Protocol> s("M18");
        QVERIFY(s.connect());
        QCOMPARE(s.device.type(), 4);
        M18Protocol& p = *s.protocol;

        // set_params sends the settable head of the record get_params answers.
        M18_params params;
        for (std::size_t i = 0; i < sizeof params.bytes; ++i)
            params.bytes[i] = static_cast<uint8_t>(i + 1);
        QVERIFY(p.setParams(params));
        QCOMPARE(s.sent(sim::m18::set_params).size(), std::size_t(484));
        M18_params back;
        QVERIFY(p.getParams(back));
        QCOMPARE(std::memcmp(back.bytes, params.bytes, 484), 0);
        QCOMPARE(back.bytes[484], uint8_t(0));

        int entries = 0, oldest = 0;
        QVERIFY(p.getAssayLogCount(entries, oldest));
        QCOMPARE(entries, 3);
        QCOMPARE(oldest, 1);
        QCOMPARE(s.timeoutOf(sim::m18::get_assay_log_count), 5000);
        M18_spectrum_log_entry spectrum;
        QVERIFY(p.getAirSpectraLogEntry(2, spectrum));
        QCOMPARE(s.sent(sim::m18::get_air_spectra_log_entry), bytes({2, 0, 0, 0}));
        QCOMPARE(spectrum.bytes[0], uint8_t(2));
        QCOMPARE(s.timeoutOf(sim::m18::get_air_spectra_log_entry), 2000);
        QVERIFY(p.clearLogs(0x3F));
        QCOMPARE(s.timeoutOf(sim::m18::clear_logs), 50000);

        double latitude = 0, longitude = 0;
        QVERIFY(p.setGps(57.5, -24.25));
        QVERIFY(p.getGps(latitude, longitude));
        QCOMPARE(latitude, 57.5);
        QCOMPARE(longitude, -24.25);

        M18_nuclide cs137, read;
        std::memcpy(cs137.bytes, "Cs-137", 6);
        QVERIFY(p.nuclideLibraryWrite(5, cs137));
        QCOMPARE(s.sent(sim::m18::nuclide_library_write).size(), std::size_t(68));
        QVERIFY(p.nuclideLibraryRead(5, read));
        QCOMPARE(std::memcmp(read.bytes, cs137.bytes, sizeof read.bytes), 0);
        QVERIFY(p.nuclideLibraryClear());
        QVERIFY(p.nuclideLibraryRead(5, read));
        QCOMPARE(read.bytes[0], uint8_t(5)); // no longer the stored entry

        QCOMPARE(M18Protocol::getModelName(2), QStringLiteral("M18 Assay"));
        QVERIFY(M18Protocol::getModelName(99).isEmpty());
    }

    void m20NamedFilesInChunks()
    {
        FamilySession<M20Protocol> s("M20");
        QVERIFY(s.connect());
        QCOMPARE(s.device.type(), 5);
        M20Protocol& p = *s.protocol;

        const QByteArray data = pattern(9000);
        QVERIFY(p.writeFile(QStringLiteral("survey/a.txt"), data));
        QCOMPARE(s.instrument().count(sim::m20::write_file), std::size_t(3));
        const sim::Bytes last = s.sent(sim::m20::write_file);
        QCOMPARE(last.size(), std::size_t(1040));
        QCOMPARE(sim::Bytes(last.begin(), last.begin() + 32), textField("survey/a.txt", 32));
        QCOMPARE(MXX_get_u32(last.data() + 32), 8000u);
        QCOMPARE(MXX_get_u32(last.data() + 36), 1000u);
        QByteArray read;
        QVERIFY(p.readFile(QStringLiteral("survey/a.txt"), read));
        QCOMPARE(read, data);
        QVERIFY(p.readFile(QStringLiteral("survey/a.txt"), read, 5000));
        QCOMPARE(read, data.left(5000));

        // A whole number of chunks ends with an empty one; an empty file is
        // one empty chunk.
        QVERIFY(p.writeFile(QStringLiteral("b"), pattern(8000)));
        QVERIFY(p.readFile(QStringLiteral("b"), read));
        QCOMPARE(read, pattern(8000));
        QVERIFY(p.writeFile(QStringLiteral("empty"), QByteArray()));
        QCOMPARE(s.sent(sim::m20::write_file).size(), std::size_t(40));
        QVERIFY(p.readFile(QStringLiteral("empty"), read));
        QVERIFY(read.isEmpty());

        // A name that does not fit is refused before anything is sent; a
        // failed read leaves the caller's data alone.
        const std::size_t writes = s.instrument().count(sim::m20::write_file);
        QVERIFY(!p.writeFile(QString(33, QLatin1Char('n')), data));
        QCOMPARE(s.instrument().count(sim::m20::write_file), writes);
        read = "kept";
        QVERIFY(!p.readFile(QStringLiteral("missing"), read));
        QCOMPARE(read, QByteArray("kept"));
        // More bytes than asked for are not the file's.
        s.instrument().set_rule(sim::m20::read_file, sim::Rule::reply(sim::Bytes(10, 1)));
        QVERIFY(!p.readFile(QStringLiteral("b"), read, 5));
        QCOMPARE(read, QByteArray("kept"));

        QVector<uint> ids;
        QVERIFY(p.getLogList(ids));
        QCOMPARE(ids, (QVector<uint>{101, 102, 103}));
        QCOMPARE(s.timeoutOf(sim::m20::get_log_list), 5000);
        sim::Bytes full(640, 0);
        MXX_put_u32(full.data(), 100000);
        s.instrument().set_rule(sim::m20::get_log_list, sim::Rule::reply(full));
        QVERIFY(p.getLogList(ids));
        QCOMPARE(ids.size(), 159);

        M17Protocol::Revision revision;
        revision.byte[3] = 9;
        QVERIFY(p.setModelRev(revision));
        QCOMPARE(s.sent(sim::m20::set_model_rev), bytes({0, 0, 0, 9}));
        M17Protocol::Revision rev;
        QVERIFY(p.getModelRev(rev));
        QCOMPARE(rev.byte[3], uint8_t(9));
        QString note;
        QVERIFY(p.getNote(1, note));
        QCOMPARE(note, QStringLiteral("Note 1"));
    }

    void m21()
    {
        FamilySession<M21Protocol> s("M21");
        QVERIFY(s.connect());
        QCOMPARE(s.device.type(), 10);
        M21Protocol& p = *s.protocol;

        QVERIFY(p.writeFile(QStringLiteral("log/7"), pattern(4500)));
        int size = 0;
        QDateTime changed;
        QVERIFY(p.getFileInfo(QStringLiteral("log/7"), size, changed));
        QCOMPARE(size, 4500);
        QVERIFY(changed.isValid());
        QCOMPARE(s.timeoutOf(sim::m21::write_file), 800);
        QByteArray read;
        QVERIFY(p.readFile(QStringLiteral("log/7"), read));
        QCOMPARE(read, pattern(4500));

        M21_params params;
        params.bytes[318] = 0x31;
        QVERIFY(p.setParams(params));
        QCOMPARE(s.sent(sim::m21::set_params).size(), std::size_t(319));
        QVERIFY(p.clearLogs());
        QCOMPARE(s.timeoutOf(sim::m21::clear_logs), 300000 & 0xFFFF); // the word's low 16 bits
        sim::Bytes full(160, 0);
        MXX_put_u32(full.data(), 40);
        s.instrument().set_rule(sim::m21::get_log_list, sim::Rule::reply(full));
        QVector<uint> ids;
        QVERIFY(p.getLogList(ids));
        QCOMPARE(ids.size(), 39);
    }

    void m22()
    {
        FamilySession<M22Protocol> s("M22");
        QVERIFY(s.connect());
        QCOMPARE(s.device.type(), 6);
        M22Protocol& p = *s.protocol;

        // At most 7 bytes of the name, and always a terminating NUL.
        QVERIFY(p.createRecord(QStringLiteral("ABCDEFGHIJ")));
        QCOMPARE(s.sent(sim::m22::create_record), textField("ABCDEFG", 8));
        QVERIFY(p.createRecord(QStringLiteral("AB")));
        QCOMPARE(s.sent(sim::m22::create_record), textField("AB", 8));

        QVERIFY(p.setMeasFlags(0x81));
        QCOMPARE(s.sent(sim::m22::set_meas_flags), bytes({0x81}));
        QVERIFY(!p.setMeasFlags(0x181));

        M22_mca_params mca;
        mca.bytes[11] = 0x11;
        mca.bytes[12] = 0x12; // beyond the settable block: not sent
        QVERIFY(p.setMcaParams(mca));
        QCOMPARE(s.sent(sim::m22::set_mca_params).size(), std::size_t(12));
        M22_mca_params back;
        QVERIFY(p.getMcaParams(back));
        QCOMPARE(back.bytes[11], uint8_t(0x11));
        QCOMPARE(back.bytes[12], uint8_t(0));

        QVERIFY(p.setWp(-5));
        int wp = 0;
        QVERIFY(p.getWp(wp));
        QCOMPARE(wp, -5);
        int count = 0;
        QVERIFY(p.getLogCount(count));
        QCOMPARE(s.timeoutOf(sim::m22::get_log_count), 3000);
        QVERIFY(p.clearLogs());
        QCOMPARE(s.timeoutOf(sim::m22::clear_logs), 30000);
        QCOMPARE(M22Protocol::getModelName(3), QStringLiteral("M22 Field"));
    }

    void m38FlashAndCoefficients()
    {
        FamilySession<M38Protocol> s("M38");
        QVERIFY(s.connect());
        QCOMPARE(s.device.type(), 16);
        M38Protocol& p = *s.protocol;

        int pageSize = 0, pages = 0, id = 0;
        QVERIFY(p.getFlashInfo(pageSize, pages, id));
        QCOMPARE(pageSize, 256);
        QCOMPARE(pages, 4096);
        M38_flash_page page, read;
        page.bytes[255] = 0xA5;
        QVERIFY(p.writeFlashPage(7, page));
        QCOMPARE(s.sent(sim::m38::write_flash_page).size(), std::size_t(260));
        QCOMPARE(s.timeoutOf(sim::m38::write_flash_page), 2000);
        QVERIFY(p.readFlashPage(7, read));
        QCOMPARE(read.bytes[255], uint8_t(0xA5));
        QCOMPARE(read.bytes[0], uint8_t(0));
        QVERIFY(p.eraseFlash());
        QVERIFY(p.readFlashPage(7, read));
        QCOMPARE(read.bytes[0], uint8_t(0xFF));

        M38_coefficients coefficients, got;
        coefficients.bytes[100] = 100;
        QVERIFY(p.writeCoefficients(coefficients));
        QVERIFY(p.commitCoefficients());
        QCOMPARE(s.timeoutOf(sim::m38::commit_coefficients), 2000);
        QVERIFY(p.readCoefficients(got));
        QCOMPARE(got.bytes[100], uint8_t(100));

        float gain = 0;
        QVERIFY(p.setGain(1.25f));
        QVERIFY(p.getGain(gain));
        QCOMPARE(gain, 1.25f);
        QVERIFY(p.energyCalib(-3.0f, 3.0f, 0.0f));
        QCOMPARE(MXX_get_f32(s.sent(sim::m38::energy_calib).data()), -3.0f);
    }

    void mchMessageIsWrittenWithoutWaiting()
    {
        FamilySession<MCHProtocol> s("M17");
        QVERIFY(s.connect());
        MCHProtocol& p = *s.protocol;
        QVERIFY(p.sendMessage(QStringLiteral("hello")));
        QVERIFY(s.instrument().wait_for(sim::mch::send_msg, 1, std::chrono::seconds(5)));
        QCOMPARE(s.sent(sim::mch::send_msg), textField("hello", 4096));
        QCOMPARE(s.timeoutOf(sim::mch::send_msg), 1000);
        // Cut at the field, with no room for a NUL.
        QVERIFY(p.sendMessage(QString(5000, QLatin1Char('m'))));
        QVERIFY(s.instrument().wait_for(sim::mch::send_msg, 2, std::chrono::seconds(5)));
        QCOMPARE(s.sent(sim::mch::send_msg), sim::Bytes(4096, 'm'));
    }
};

QTEST_GUILESS_MAIN(TestFamilyCommands)
#include "test_family_commands.moc"
