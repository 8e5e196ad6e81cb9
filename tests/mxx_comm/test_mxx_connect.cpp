// Connections and identification over loopback TCP and a pseudo-terminal,
// connection strings and the discovery broadcast.
#include "frames.h"
#include "sim_link.h"

#include <sim/discovery_responder.h>

#include <QUdpSocket>
#include <QtTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace testing;

namespace detail {

std::mutex listMutex;
std::condition_variable listChanged;

int datagram(void* data, int length, void*)
{
    int r = MXX_broadcast_event_proc(static_cast<const uint8_t*>(data), length);
    std::lock_guard<std::mutex> lock(listMutex);
    listChanged.notify_all();
    return r;
}

bool waitForEntries(int n)
{
    std::unique_lock<std::mutex> lock(listMutex);
    return listChanged.wait_for(lock, std::chrono::seconds(5), [n] {
        MXX_message_list list;
        MXX_broadcast_list(&list);
        return list.count >= n;
    });
}

// A loopback port with nobody listening.
uint16_t closedPort()
{
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    close(fd);
    return ntohs(a.sin_port);
}

} // namespace detail

class TestMxxConnect : public QObject
{
    Q_OBJECT

    sim::FrameServer server;
    std::shared_ptr<sim::Instrument> tcpInstrument = std::make_shared<sim::Instrument>();
    std::shared_ptr<sim::Instrument> ptyInstrument = std::make_shared<sim::Instrument>();
    uint16_t port = 0;

    QByteArray connString(const QString& medium)
    {
        return medium == "tcp" ? tcpString(port) : serialString(server.pty_path(*ptyInstrument));
    }
    sim::Instrument& instrument(const QString& medium)
    {
        return medium == "tcp" ? *tcpInstrument : *ptyInstrument;
    }

private slots:
    void initTestCase()
    {
        QCOMPARE(MXX_init(nullptr, noUsbChange, nullptr), 0);
        port = server.serve_tcp(tcpInstrument);
        server.serve_pty(ptyInstrument);
        server.start();
    }

    void cleanupTestCase()
    {
        server.stop();
        QCOMPARE(MXX_shut(), 0);
    }

    void identifies_data()
    {
        QTest::addColumn<QString>("medium");
        QTest::addColumn<QString>("serial");
        QTest::addColumn<int>("pose");
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("tries");
        const int identity = int(sim::Pose::identity);
        for (QString medium : {"tcp", "pty"}) {
            QByteArray m = medium.toLatin1();
            QTest::newRow(m + " M30") << medium << "C0000001" << identity << 12 << 3;
            QTest::newRow(m + " M17") << medium << "Z0000001" << identity << 3 << 3;
            QTest::newRow(m + " M18") << medium << "20000001" << identity << 4 << 3;
            QTest::newRow(m + " M15") << medium << "" << int(sim::Pose::m15) << 1 << 3;
        }
        QTest::newRow("tcp M16") << "tcp"
                                 << "" << int(sim::Pose::m16) << 2 << 3;
        QTest::newRow("tcp M26") << "tcp"
                                 << "80000001" << identity << 9 << 6;
        QTest::newRow("tcp M48") << "tcp"
                                 << "ZN-714KA" << identity << 72 << 1;
    }

    void identifies()
    {
        QFETCH(QString, medium);
        QFETCH(QString, serial);
        QFETCH(int, pose);
        QFETCH(int, type);
        QFETCH(int, tries);
        sim::Instrument& inst = instrument(medium);
        inst.reset_rules();
        inst.pose_as(sim::Pose(pose));
        inst.set_serial(serial.toStdString());
        inst.clear_log();
        Events events;
        int conn = -1;
        QCOMPARE(openLink(connString(medium), events, &conn), 0);
        QCOMPARE(MXX_wait_connected(conn, 5000), 0);
        QCOMPARE(events.deviceType(), type);
        QCOMPARE(numTry(conn), tries);
        QCOMPARE(MXX_get_conn_state_id(conn), 2);
        QVERIFY(closeAndWait(conn, events));
        std::vector<int> seen = events.seen();
        QCOMPARE(seen.front(), 1);
        QCOMPARE(seen.back(), 3);
    }

    void givesUpOnASilentInstrument_data()
    {
        QTest::addColumn<QString>("medium");
        QTest::newRow("tcp") << "tcp";
        QTest::newRow("pty") << "pty";
    }

    void givesUpOnASilentInstrument()
    {
        QFETCH(QString, medium);
        sim::Instrument& inst = instrument(medium);
        inst.reset_rules();
        inst.set_rule(8007, sim::Rule::silence());
        inst.clear_log();
        Events events;
        int conn = -1;
        QCOMPARE(openLink(connString(medium), events, &conn), 0);
        QVERIFY(events.waitFor(3, 10000));
        QCOMPARE(events.seen(), (std::vector<int>{2, 3}));
        QVERIFY(inst.wait_for(1001, 2, std::chrono::seconds(5)));
        QCOMPARE(inst.total_received(), size_t(7));
        QCOMPARE(inst.count(8007), size_t(3));
        QCOMPARE(inst.count(1109), size_t(2));
        QCOMPARE(inst.count(1001), size_t(2));
        std::vector<uint16_t> order;
        for (const sim::Frame& f : inst.received())
            order.push_back(f.code);
        QCOMPARE(order, (std::vector<uint16_t>{8007, 8007, 8007, 1109, 1109, 1001, 1001}));
        QCOMPARE(inst.received().front().param, uint16_t(100));
        QCOMPARE(inst.received().back().param, uint16_t(1000));
        QVERIFY(MXX_get_conn_state_id(conn) != COMM_STATE_OPEN);
        inst.reset_rules();
    }

    void failsWithoutAListener()
    {
        Events events;
        int conn = -1;
        char s[COMM_STRING_SIZE];
        MXX_make_net_conn_string(s, "127.0.0.1", detail::closedPort());
        int r = openLink(s, events, &conn);
        if (r == 0) {
            QVERIFY(events.waitFor(3, 10000));
            QCOMPARE(events.seen(), (std::vector<int>{2, 3}));
        } else {
            QCOMPARE(r, -1);
        }
        // Refused strings never call back.
        Events none;
        QCOMPARE(openLink("", none, &conn), -1);
        QCOMPARE(openLink("nonsense:1", none, &conn), -1);
        QVERIFY(none.seen().empty());
    }

    void makesConnectionStrings()
    {
        char out[COMM_STRING_SIZE];
        QCOMPARE(MXX_make_usb_conn_string(out, "USBU:1781:0C45:3-1.2:C1234", 0), 0);
        QVERIFY2(QByteArray(out).startsWith("USBU:1781:0C45:3-1.2"), out);
        for (const char* id : {"USBF:1781:0C44:1-4", "USBS:1781:0C44:1-4"}) {
            QCOMPARE(MXX_make_usb_conn_string(out, id, 0), 0);
            QVERIFY2(QByteArray(out).contains("1781:0C44"), out);
        }
        strcpy(out, "untouched");
        for (const char* id : {"USBX:1781:0C45:3-1", "usbu:1781:0C45:3-1", "USB", ""})
            QCOMPARE(MXX_make_usb_conn_string(out, id, 0), -1);
        QCOMPARE(QByteArray(out), QByteArray("untouched"));

        QCOMPARE(MXX_make_net_conn_string(out, "127.0.0.1", 4444), 0);
        QCOMPARE(QByteArray(out), QByteArray("tcp:127.0.0.1:4444:1000"));
        QCOMPARE(MXX_make_serial_path_conn_string(out, "/dev/ttyUSB0"), 0);
        QCOMPARE(QByteArray(out), QByteArray("serial:/dev/ttyUSB0:115200:8N1"));
        QCOMPARE(MXX_make_serial_conn_string(out, 2), 0);
        QCOMPARE(QByteArray(out), QByteArray("serial:/dev/ttyS2:115200:8N1"));
        QCOMPARE(MXX_make_bt_conn_string(out, "00:11:22:33:44:55", "M30"), 0);
        QVERIFY2(QByteArray(out).startsWith("bt:00:11:22:33:44:55:1:5823:60000"), out);
    }

    void listsNoMoreThanRoomFor()
    {
        // No instrument is attached here; the listing must still hold its bounds.
        char out[2][COMM_STRING_SIZE];
        int count = -1;
        MXX_list_usb_devices(out, 2, &count);
        QVERIFY(count >= 0 && count <= 2);
        count = -1;
        MXX_list_usb_devices(out, 0, &count);
        QCOMPARE(count, 0);

        // FTDI entries go behind the USB ones only as far as room lasts.
        char list[4][COMM_STRING_SIZE] = {"USBU:1", "USBU:2", "", "sentinel"};
        const char ftdi[3][COMM_STRING_SIZE] = {"USBF:1", "USBF:2", "USBF:3"};
        count = 2;
        QCOMPARE(MXX_append_device_ids(list, 3, &count, ftdi, 3), 1);
        QCOMPARE(count, 3);
        QCOMPARE(QByteArray(list[2]), QByteArray("USBF:1"));
        QCOMPARE(QByteArray(list[3]), QByteArray("sentinel"));
        count = 7; // a lister that claimed more than room
        QCOMPARE(MXX_append_device_ids(list, 3, &count, ftdi, 3), 0);
        QCOMPARE(count, 3);
        count = 0;
        QCOMPARE(MXX_append_device_ids(list, 3, &count, ftdi, 2), 2);
        QCOMPARE(QByteArray(list[1]), QByteArray("USBF:2"));
        QCOMPARE(QByteArray(list[2]), QByteArray("USBF:1"));
    }

    void broadcastsTheDiscoveryRequest()
    {
        QUdpSocket capture;
        QVERIFY(capture.bind(QHostAddress(QHostAddress::LocalHost), 0));
        QCOMPARE(comm_net_broadcast_redirect("127.0.0.1", capture.localPort()), 0);
        QCOMPARE(MXX_send_broadcast_net_message("255.255.255.255", 4455), 0);
        QVERIFY(capture.waitForReadyRead(5000));
        QByteArray request(int(capture.pendingDatagramSize()), '\0');
        capture.readDatagram(request.data(), request.size());
        QCOMPARE(request.toHex(' '), QByteArray("42 52 4e 4f 99 21 01 00 b8 0b 00 1b 00"));

        sim::DiscoveryResponder responder;
        responder.add({"C0000001", "127.0.0.1", "::1", {}});
        responder.add({"C0000002", "127.0.0.2", "", {}});
        responder.set_packed(true);
        responder.start();
        QCOMPARE(comm_net_broadcast_redirect("127.0.0.1", responder.port()), 0);
        QCOMPARE(MXX_net_broadcast_register(detail::datagram, nullptr), 0);
        QCOMPARE(MXX_send_broadcast_net_message("255.255.255.255", 4455), 0);
        QVERIFY(responder.wait_requests(1, std::chrono::seconds(5)));
        QVERIFY(detail::waitForEntries(2));
        MXX_message_list list;
        MXX_broadcast_list(&list);
        QCOMPARE(list.count, 2);
        QCOMPARE(QByteArray(list.entries[0].id), QByteArray("C0000001"));
        QCOMPARE(QByteArray(list.entries[0].ipv6), QByteArray("::1"));
        QCOMPARE(QByteArray(list.entries[1].ipv4), QByteArray("127.0.0.2"));
        QCOMPARE(MXX_net_broadcast_deregister(), 0);
        comm_net_broadcast_redirect(nullptr, 0);
    }
};

QTEST_GUILESS_MAIN(TestMxxConnect)
#include "test_mxx_connect.moc"
