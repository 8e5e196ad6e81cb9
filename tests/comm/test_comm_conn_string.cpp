// Connection strings: what the makers write, that the library reads it back,
// the display texts, and the strings it must reject.
#include "comm.h"
#include "comm_internal.h"

#include <QtTest>

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
        comm::ConnParams c;
        QCOMPARE(comm::parse_conn_string(out, c), 0);
        QCOMPARE(c.host, std::string("192.0.2.20"));
        QCOMPARE(int(c.port), 4444);
        QCOMPARE(c.timeout_ms, 1000);
        QCOMPARE(display(out), std::string("TCP 192.0.2.20:4444"));

        QCOMPARE(comm_make_conn_string_net(out, "::1", 4444, 0), 0);
        QCOMPARE(std::string(out), std::string("tcp:[::1]:4444"));
        QCOMPARE(comm::parse_conn_string(out, c), 0);
        QCOMPARE(c.host, std::string("::1"));
        QCOMPARE(display(out), std::string("TCP [::1]:4444"));
        QCOMPARE(comm_make_conn_string_net(out, "[fe80::1]", 1, 0), 0);
        QCOMPARE(std::string(out), std::string("tcp:[fe80::1]:1"));

        QCOMPARE(comm_make_conn_string_serial_path(out, "/dev/ttyUSB0", 115200, 8, 1, 0, 0), 0);
        QCOMPARE(std::string(out), std::string("serial:/dev/ttyUSB0:115200:8N1"));
        QCOMPARE(comm_make_conn_string_serial_path(out, "/dev/ttyS1", 9600, 7, 2, 2, 1), 0);
        QCOMPARE(std::string(out), std::string("serial:/dev/ttyS1:9600:7E2:1"));
        QCOMPARE(comm::parse_conn_string(out, c), 0);
        QCOMPARE(c.path, std::string("/dev/ttyS1"));
        QCOMPARE(c.baud, 9600);
        QCOMPARE(c.data_bits, 7);
        QCOMPARE(c.parity, 2);
        QCOMPARE(c.stop_bits, 2);
        QCOMPARE(c.flow, 1);
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
        QCOMPARE(comm::parse_conn_string(out, c), 0);
        QCOMPARE(c.address, std::string("00:11:22:33:44:55"));
        QCOMPARE(c.pin, std::string("5823"));
        QCOMPARE(c.name, std::string("My M30"));
        QCOMPARE(display(out), std::string("Bluetooth My M30 (00:11:22:33:44:55)"));
        QCOMPARE(comm_make_conn_string_bt(out, "00:11:22:33:44:55", "", 0, 2, "", 0), 0);
        QCOMPARE(std::string(out), std::string("bt:00:11:22:33:44:55:2"));
        // A long name (with colons) is cut to fit, not lost, and never mid-character.
        std::string name = "a:b " + std::string(120, 'n') + "\xc3\xa9";
        QCOMPARE(
            comm_make_conn_string_bt(out, "00:11:22:33:44:55", name.c_str(), 0, 1, "5823", 60000),
            0);
        QVERIFY(std::strlen(out) < COMM_STRING_SIZE);
        QCOMPARE(comm::parse_conn_string(out, c), 0);
        QVERIFY(c.name.rfind("a:b nnn", 0) == 0);
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
        comm::ConnParams c;
        QCOMPARE(comm::parse_conn_string(out, c), 0);
        QVERIFY(c.kind == comm::MediumKind::ftdi); // connects as its tty
        QCOMPARE(c.baud, 38400);
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
