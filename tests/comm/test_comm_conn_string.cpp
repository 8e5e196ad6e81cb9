// Connection strings: each medium's forms read and written by the medium
// itself, what the makers write, that the library reads it back, the display
// texts, and the strings it must reject.
#include "comm.h"
#include "comm_internal.h"

#include <QtTest>

#include <cstring>
#include <string>
#include <utility>

namespace {

std::string display(const char* id)
{
    char text[COMM_STRING_SIZE] = {};
    comm_get_devid_string(id, text);
    return text;
}

bool parses(const std::string& s)
{
    comm::ConnParams c;
    return comm::parse_conn_string(s.c_str(), c) == 0;
}

// The string read by the medium its prefix names and written again ("" when
// it does not read).
std::string again(const std::string& s)
{
    comm::ConnParams c;
    char out[COMM_STRING_SIZE];
    if (comm::parse_conn_string(s.c_str(), c) != 0 || comm::format_conn_string(c, out) != 0)
        return {};
    return out;
}

const comm::Medium* medium_of(const char* s)
{
    comm::ConnParams c;
    return comm::parse_conn_string(s, c) == 0 ? c.medium : nullptr;
}

} // namespace

class TestCommConnString : public QObject
{
    Q_OBJECT

private slots:
    void makersRoundTrip()
    {
        char out[COMM_STRING_SIZE];
        QCOMPARE(comm_make_conn_string_net(out, "192.0.2.20", 4444, 1000), 0);
        QCOMPARE(std::string(out), std::string("tcp:192.0.2.20:4444:1000"));
        QVERIFY(medium_of(out) == &comm::tcp_medium);
        QCOMPARE(again(out), std::string(out));
        QCOMPARE(display(out), std::string("TCP 192.0.2.20:4444"));

        QCOMPARE(comm_make_conn_string_net(out, "::1", 4444, 0), 0);
        QCOMPARE(std::string(out), std::string("tcp:[::1]:4444"));
        QCOMPARE(again(out), std::string(out));
        QCOMPARE(display(out), std::string("TCP [::1]:4444"));
        QCOMPARE(comm_make_conn_string_net(out, "[fe80::1]", 1, 0), 0);
        QCOMPARE(std::string(out), std::string("tcp:[fe80::1]:1"));

        QCOMPARE(comm_make_conn_string_serial_path(out, "/dev/ttyUSB0", 115200, 8, 1, 0, 0), 0);
        QCOMPARE(std::string(out), std::string("serial:/dev/ttyUSB0:115200:8N1"));
        QCOMPARE(comm_make_conn_string_serial_path(out, "/dev/ttyS1", 9600, 7, 2, 2, 1), 0);
        QCOMPARE(std::string(out), std::string("serial:/dev/ttyS1:9600:7E2:1"));
        QVERIFY(medium_of(out) == &comm::serial_medium);
        std::string path;
        comm::SerialLine line;
        QVERIFY(comm::read_serial_form(out + std::strlen("serial:"), path, line));
        QCOMPARE(path, std::string("/dev/ttyS1"));
        QCOMPARE(line.baud, 9600);
        QCOMPARE(line.data_bits, 7);
        QCOMPARE(line.parity, 2);
        QCOMPARE(line.stop_bits, 2);
        QCOMPARE(line.flow, 1);
        QCOMPARE(comm_make_conn_string_serial(out, 3, 115200, 8, 1, 1, 0), 0);
        QCOMPARE(std::string(out), std::string("serial:/dev/ttyS3:115200:8O1"));
        QCOMPARE(display(out), std::string("Serial /dev/ttyS3 115200"));

        // FTDI: from a listed id or a bare location/serial number.
        QCOMPARE(comm_make_conn_string_ftdi_serial(out, "USBF:1781:0C44:3-1.2:FT1234", 38400, 8, 1,
                                                   0, 0),
                 0);
        QCOMPARE(std::string(out), std::string("ftdi:3-1.2:38400:8N1"));
        QCOMPARE(comm_make_conn_string_ftdi_serial(out, "FT1234", 38400, 8, 1, 0, 0), 0);
        QCOMPARE(std::string(out), std::string("ftdi:FT1234:38400:8N1"));

        QCOMPARE(comm_make_conn_string_bt(out, "00:11:22:33:44:55", "My M30", 0xFFE050, 1, "5823",
                                          60000),
                 0);
        QCOMPARE(std::string(out), std::string("bt:00:11:22:33:44:55:1:5823:60000:My M30"));
        QVERIFY(medium_of(out) == &comm::bt_medium);
        QCOMPARE(again(out), std::string(out));
        QCOMPARE(display(out), std::string("Bluetooth My M30 (00:11:22:33:44:55)"));
        QCOMPARE(comm_make_conn_string_bt(out, "00:11:22:33:44:55", "", 0, 2, "", 0), 0);
        QCOMPARE(std::string(out), std::string("bt:00:11:22:33:44:55:2"));
        // A long name (with colons) is cut to fit, not lost, and never mid-character.
        std::string name = "a:b " + std::string(120, 'n') + "\xc3\xa9";
        QCOMPARE(
            comm_make_conn_string_bt(out, "00:11:22:33:44:55", name.c_str(), 0, 1, "5823", 60000),
            0);
        QVERIFY(std::strlen(out) < COMM_STRING_SIZE);
        QVERIFY(display(out).rfind("Bluetooth a:b nnn", 0) == 0);
    }

    // Every form through its own medium: read, written back in its one
    // spelling, shown, and that spelling read again to the same.
    void eachMediumRoundTrips()
    {
        struct Case
        {
            const comm::Medium* medium;
            const char* text;
            const char* written; // the medium's spelling of it, null: the text
            const char* shown;
        };
        const Case cases[] = {
            {&comm::tcp_medium, "tcp:127.0.0.1:4444", nullptr, "TCP 127.0.0.1:4444"},
            {&comm::tcp_medium, "tcp:[::1]:4444:1000", nullptr, "TCP [::1]:4444"},
            {&comm::tcp_medium, "tcp:[FE80::a:1.2.3.4]:1", nullptr, "TCP [FE80::a:1.2.3.4]:1"},
            {&comm::tcp_medium, "tcp:host:65535:0", "tcp:host:65535", "TCP host:65535"},
            {&comm::tcp_medium, "tcp:host:4444:600000", nullptr, "TCP host:4444"},
            {&comm::serial_medium, "serial:/dev/ttyUSB0:115200:8N1", nullptr,
             "Serial /dev/ttyUSB0 115200"},
            {&comm::serial_medium, "serial:/dev/ttyS0:50:5O2:0", "serial:/dev/ttyS0:50:5O2",
             "Serial /dev/ttyS0 50"},
            {&comm::serial_medium, "serial:/dev/ttyS0:4000000:8E1:1", nullptr,
             "Serial /dev/ttyS0 4000000"},
            {&comm::serial_medium, "serial:/dev/ttyS0:9600:7N1:2", nullptr,
             "Serial /dev/ttyS0 9600"},
            // A path with colons, and one whose last part looks like a FLOW.
            {&comm::serial_medium,
             "serial:/dev/serial/by-path/pci-0000:00:14.0-usb-0:2:1.0:9600:8N1:1", nullptr,
             "Serial /dev/serial/by-path/pci-0000:00:14.0-usb-0:2:1.0 9600"},
            {&comm::serial_medium, "serial:/a:1:9600:8N1", nullptr, "Serial /a:1 9600"},
            {&comm::ftdi_medium, "ftdi:3-1.2:38400:8N1", nullptr, "USB serial bridge 3-1.2 38400"},
            {&comm::ftdi_medium, "ftdi:FT1234:38400:8N1:0", "ftdi:FT1234:38400:8N1",
             "USB serial bridge FT1234 38400"},
            {&comm::ftdi_medium, "ftdi:FT1234:19200:8N2:2", nullptr,
             "USB serial bridge FT1234 19200"},
            {&comm::usb_medium, "USBU:1781:0C45:3-1.2:C1234", nullptr,
             "USB instrument 3-1.2 (serial C1234)"},
            {&comm::usb_medium, "USBU:1781:0c4d:1-4", "USBU:1781:0C4D:1-4", "USB instrument 1-4"},
            {&comm::usb_medium, "USBF:1781:0C44:3-1:FT1", nullptr,
             "USB serial bridge 3-1 (serial FT1)"},
            {&comm::usb_medium, "USBS:1781:0C44:3-1", nullptr, "USB serial bridge 3-1"},
            {&comm::bt_medium, "bt:00:11:22:33:44:55", "bt:00:11:22:33:44:55:1",
             "Bluetooth 00:11:22:33:44:55"},
            {&comm::bt_medium, "bt:00:11:22:33:44:55:1:5823:60000:My M30", nullptr,
             "Bluetooth My M30 (00:11:22:33:44:55)"},
            {&comm::bt_medium, "bt:aa:BB:cc:DD:ee:FF:30::300", nullptr,
             "Bluetooth aa:BB:cc:DD:ee:FF"},
            {&comm::bt_medium, "bt:00:11:22:33:44:55:2:5823", nullptr,
             "Bluetooth 00:11:22:33:44:55"},
            {&comm::bt_medium, "bt:00:11:22:33:44:55:1:::", "bt:00:11:22:33:44:55:1",
             "Bluetooth 00:11:22:33:44:55"},
            // The name is the rest of the string, colons and all.
            {&comm::bt_medium, "bt:00:11:22:33:44:55:1:::M30: east:2", nullptr,
             "Bluetooth M30: east:2 (00:11:22:33:44:55)"},
        };
        for (const Case& k : cases) {
            const std::string text = k.text;
            const std::size_t colon = text.find(':');
            comm::ConnParams c;
            QVERIFY2(k.medium->parse(text.substr(0, colon), text.substr(colon + 1), c), k.text);
            const std::string written = k.written ? k.written : k.text;
            QCOMPARE(k.medium->format(c), written);
            QCOMPARE(k.medium->describe(c), std::string(k.shown));
            QVERIFY2(medium_of(k.text) == k.medium, k.text);
            QCOMPARE(again(written), written);
            QCOMPARE(display(k.text), std::string(k.shown));
        }
    }

    // What each medium's own reader refuses, at the edges of its fields.
    void eachMediumRejects()
    {
        const std::pair<const comm::Medium*, const char*> bad[] = {
            {&comm::tcp_medium, "[::1]4444"},
            {&comm::tcp_medium, "[::1]:"},
            {&comm::tcp_medium, "[::1]"},
            {&comm::tcp_medium, "[::g]:4444"},
            {&comm::tcp_medium, "::1:4444"},
            {&comm::tcp_medium, "host:4444:600001"},
            {&comm::tcp_medium, "host:4444:"},
            {&comm::serial_medium, "/dev/x:49:8N1"},
            {&comm::serial_medium, "/dev/x:4000001:8N1"},
            {&comm::serial_medium, "/dev/x:115200:4N1"},
            {&comm::serial_medium, "/dev/x:115200:8n1"},
            {&comm::serial_medium, "/dev/x:115200:8N1:"},
            {&comm::serial_medium, "/dev/x:115200:8N1:01"},
            {&comm::serial_medium, "/dev/x:115200:8N1:1:1"},
            {&comm::serial_medium, "115200:8N1"},
            {&comm::ftdi_medium, "a:b:38400:8N1"},
            {&comm::ftdi_medium, "a b:38400:8N1"},
            {&comm::ftdi_medium, "FT1:38400:8N1:3"},
            {&comm::usb_medium, "1781:0C45:1-1:a:b"},
            {&comm::usb_medium, "1781:0C45::C1"},
            {&comm::usb_medium, "1781:0C45:1-1:"},
            {&comm::usb_medium, "1781:0C4G:1-1"},
            {&comm::usb_medium, "1781:0C45:1 1"},
            {&comm::bt_medium, "00:11:22:33:44:55:"},
            {&comm::bt_medium, "00:11:22:33:44:55:1:12345678901234567"},
            {&comm::bt_medium, "00:11:22:33:44:55:1:58 23"},
            {&comm::bt_medium, "00:11:22:33:44:55:1:5823:600001"},
            {&comm::bt_medium, "00:11:22:33:44:55:1:5823:x:name"},
            {&comm::bt_medium, "00-11-22-33-44-55"},
        };
        for (const auto& [medium, rest] : bad) {
            comm::ConnParams c;
            QVERIFY2(!medium->parse(medium->prefixes[0], rest, c), rest);
        }
        // A 16-character PIN is the longest.
        comm::ConnParams c;
        QVERIFY(comm::bt_medium.parse("bt", "00:11:22:33:44:55:1:1234567890123456", c));
    }

    // 127 bytes read and write back in every medium; 128 do not, and a maker
    // that would need 128 writes nothing.
    void lengthLimitInEveryMedium()
    {
        const std::pair<std::string, std::string> around[] = {
            {"tcp:", ":4444"},
            {"serial:/", ":115200:8N1"},
            {"ftdi:", ":38400:8N1:1"},
            {"USBU:1781:0C45:1-1:", ""},
            {"bt:00:11:22:33:44:55:1:::", ""},
        };
        for (const auto& [head, tail] : around) {
            const std::string s =
                head + std::string(COMM_STRING_SIZE - 1 - head.size() - tail.size(), 'a') + tail;
            QCOMPARE(s.size(), std::size_t(127));
            QCOMPARE(again(s), s);
            QVERIFY2(!parses(head + 'a' + s.substr(head.size())), head.c_str());
        }
        char out[COMM_STRING_SIZE];
        const std::string host(COMM_STRING_SIZE - 1 - std::strlen("tcp::4444:1000"), 'h');
        QCOMPARE(comm_make_conn_string_net(out, host.c_str(), 4444, 1000), 0);
        QCOMPARE(std::strlen(out), std::size_t(127));
        QCOMPARE(comm_make_conn_string_net(out, (host + 'h').c_str(), 4444, 1000),
                 int(COMM_ERR_ARG));
        QCOMPARE(out[0], '\0');
        const std::string serial(COMM_STRING_SIZE - 1 - std::strlen("USBU:1781:0C45:1-1:"), 's');
        QCOMPARE(comm_make_conn_string_usb(out, ("USBU:1781:0C45:1-1:" + serial).c_str(), 0x1781,
                                           0x0C45, 0),
                 0);
        QCOMPARE(std::strlen(out), std::size_t(127));
        // The name gives way to the rest of a Bluetooth string.
        const std::string name(200, 'n');
        QCOMPARE(comm_make_conn_string_bt(out, "00:11:22:33:44:55", name.c_str(), 0, 30,
                                          "1234567890123456", 600000),
                 0);
        QVERIFY(std::strlen(out) <= 127);
        QVERIFY(std::string(out).rfind("bt:00:11:22:33:44:55:30:1234567890123456:600000:nn", 0) ==
                0);
    }

    void usbIds()
    {
        char out[COMM_STRING_SIZE];
        QCOMPARE(comm_make_conn_string_usb(out, "USBU:1781:0C45:3-1.2:C1234", 0x1781, 0x0C45, 0),
                 0);
        QCOMPARE(std::string(out), std::string("USBU:1781:0C45:3-1.2:C1234"));
        QCOMPARE(display(out), std::string("USB instrument 3-1.2 (serial C1234)"));
        // Product 0C44 is the FTDI bridge, whatever the id said.
        QCOMPARE(comm_make_conn_string_usb(out, "USBS:1781:0C44:1-4", 0x1781, 0x0C44, 0), 0);
        QCOMPARE(std::string(out), std::string("USBF:1781:0C44:1-4"));
        QCOMPARE(display(out), std::string("USB serial bridge 1-4"));
        QVERIFY(medium_of(out) == &comm::usb_medium); // which opens a bridge as its tty
        QCOMPARE(comm_make_conn_string_usb(out, "2-1", 0x1781, 0x0C45, 0), 0);
        QCOMPARE(std::string(out), std::string("USBU:1781:0C45:2-1"));
        QCOMPARE(comm_make_conn_string_usb(out, "tcp:1.2.3.4:5", 0x1781, 0x0C45, 0),
                 int(COMM_ERR_ARG));
        QCOMPARE(std::string(out), std::string());
    }

    void rejects()
    {
        const char* bad[] = {
            "",
            "tcp",
            "tcp:",
            "tcp:host",
            "tcp:host:0",
            "tcp:host:65536",
            "tcp:host:44a4",
            "tcp:host:-1",
            "tcp:host:4444:x",
            "tcp:host:4444:1:2",
            "tcp:[::1:4444",
            "tcp:[]:4444",
            "tcp:a b:4444",
            "TCP:host:4444",
            "serial:/dev/x",
            "serial:/dev/x:115200",
            "serial:/dev/x:115200:9N1",
            "serial:/dev/x:115200:8X1",
            "serial:/dev/x:115200:8N3",
            "serial:/dev/x:abc:8N1",
            "serial:/dev/x:115200:8N1:3",
            "serial::115200:8N1",
            "ftdi::38400:8N1",
            "USBU:1781:0C45",
            "USBU:178:0C45:1-1",
            "USBU:17810:0C45:1-1",
            "USBX:1781:0C45:1-1",
            "bt:00:11:22:33:44",
            "bt:00:11:22:33:44:5G",
            "bt:00:11:22:33:44:55:0",
            "bt:00:11:22:33:44:55:31",
            "bt:00:11:22:33:44:55x",
            "nothing",
        };
        for (const char* s : bad)
            QVERIFY2(!parses(s), s);
        QVERIFY(parses("tcp:localhost:1"));
        QVERIFY(parses("tcp:host:65535:0"));
        QVERIFY(parses("bt:00:11:22:33:44:55"));
        QVERIFY(parses("serial:/dev/ttyUSB0:115200:8N1:0"));

        // 127 bytes are allowed, 128 are not.
        std::string path = "/dev/" + std::string(200, 'p');
        std::string s = "serial:" + path;
        s = s.substr(0, 127 - std::strlen(":115200:8N1")) + ":115200:8N1";
        QCOMPARE(s.size(), std::size_t(127));
        QVERIFY(parses(s));
        QVERIFY(!parses("serial:/" + s.substr(7)));
        char out[COMM_STRING_SIZE];
        QCOMPARE(comm_make_conn_string_serial_path(out, path.c_str(), 115200, 8, 1, 0, 0),
                 int(COMM_ERR_ARG));
        QCOMPARE(out[0], '\0');
        QCOMPARE(comm_make_conn_string_serial_path(out, "/dev/ttyS0", 115200, 9, 1, 0, 0),
                 int(COMM_ERR_ARG));
        QCOMPARE(comm_make_conn_string_serial_path(out, "/dev/ttyS0", 115200, 8, 1, 3, 0),
                 int(COMM_ERR_ARG));
        QCOMPARE(comm_make_conn_string_net(out, "", 4444, 0), int(COMM_ERR_ARG));
        QCOMPARE(comm_make_conn_string_net(out, "host", 0, 0), int(COMM_ERR_ARG));
        QCOMPARE(comm_make_conn_string_bt(out, "00:11:22", "x", 0, 1, "", 0), int(COMM_ERR_ARG));
        QCOMPARE(display("garbage"), std::string("garbage"));
        char text[COMM_STRING_SIZE];
        QCOMPARE(comm_get_devid_string("garbage", text), int(COMM_ERR_ARG));
    }
};

QTEST_GUILESS_MAIN(TestCommConnString)
#include "test_comm_conn_string.moc"
