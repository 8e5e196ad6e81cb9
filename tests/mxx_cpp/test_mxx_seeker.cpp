// Device discovery: the network tick with its broadcast (redirected to a
// loopback responder), USB and Bluetooth listing on a machine without
// instruments, and the list-server exchange against a loopback server.
#include <mxx_comm.h>
#include <mxx_net_seeker.h>
#include <mxx_seeker.h>

#include <sim/discovery_responder.h>

#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QtTest>

#include <chrono>
#include <memory>

namespace {

int recordedAnswers()
{
    MXX_message_list list;
    MXX_broadcast_list(&list);
    return list.count;
}

void tick(MXXSeeker& seeker, int times = 1)
{
    for (int i = 0; i < times; ++i)
        QVERIFY(QMetaObject::invokeMethod(&seeker, "updateNetList", Qt::DirectConnection));
}

// A list server on loopback that answers each request with `reply`, written
// in the given pieces (a pause between them), then optionally hangs up.
class ListServer : public QObject
{
public:
    QByteArray request;
    QList<QByteArray> pieces;
    bool hangUp = false;

    ListServer() { QVERIFY(server.listen(QHostAddress::LocalHost, 0)); }
    quint16 port() const { return server.serverPort(); }

    void arm()
    {
        connect(&server, &QTcpServer::newConnection, this, [this] {
            QTcpSocket* peer = server.nextPendingConnection();
            auto received = std::make_shared<QByteArray>();
            connect(peer, &QTcpSocket::readyRead, this, [this, peer, received] {
                *received += peer->readAll();
                if (received->size() == 5) {
                    request = *received;
                    send(peer, 0);
                }
            });
        });
    }

private:
    void send(QTcpSocket* peer, int i)
    {
        if (i == pieces.size()) {
            if (hangUp)
                peer->disconnectFromHost();
            return;
        }
        peer->write(pieces[i]);
        peer->flush();
        QTimer::singleShot(30, peer, [this, peer, i] { send(peer, i + 1); });
    }

    QTcpServer server;
};

QByteArray sized(const QByteArray& block)
{
    QByteArray head(2, '\0');
    head[0] = char(block.size() >> 8);
    head[1] = char(block.size() & 0xff);
    return head + block;
}

} // namespace

class TestMxxSeeker : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        responder.add({"C0000001", "127.0.0.1", "::1", {}}); // listed by IPv4 only
        responder.add({"C0000002", "", "::2", {}});
        responder.add({"C0000003", "", "", {}});          // no address: not listed
        responder.add({"C0000001", "127.0.0.9", "", {}}); // same identity: listed once
        responder.start();
        // Before anything can send: every discovery request goes to the responder.
        QCOMPARE(comm_net_broadcast_redirect("127.0.0.1", responder.port()), 0);
        seeker = std::make_unique<MXXSeeker>();
    }

    void cleanupTestCase()
    {
        seeker.reset();
        comm_net_broadcast_redirect(nullptr, 0);
    }

    void netTickReportsAndBroadcastsEvery16th()
    {
        QSignalSpy spy(seeker.get(), &MXXSeeker::discoveredNetDevices);
        seeker->discoverNet();
        seeker->discoverNet(); // a second call adds no second link
        QCOMPARE(recordedAnswers(), 0);

        // Nobody answered yet: silence until the 16th tick, which reports the
        // empty list once and sends the request.
        tick(*seeker, 15);
        QCOMPARE(spy.count(), 0);
        QCOMPARE(responder.requests(), std::size_t(0));
        tick(*seeker);
        QCOMPARE(spy.count(), 1);
        QCOMPARE(spy.at(0).at(0).toStringList(), QStringList());
        QVERIFY(responder.wait_requests(1, std::chrono::seconds(5)));
        QTRY_COMPARE(recordedAnswers(), 3);

        // With answers, every tick reports them.
        const QStringList found = {"127.0.0.1", "::2"};
        tick(*seeker);
        QCOMPARE(spy.count(), 2);
        QCOMPARE(spy.at(1).at(0).toStringList(), found);
        tick(*seeker, 14);
        QCOMPARE(spy.count(), 16);
        // The 16th reports twice, then empties the list and asks again.
        tick(*seeker);
        QCOMPARE(spy.count(), 18);
        QCOMPARE(spy.at(16).at(0).toStringList(), found);
        QCOMPARE(spy.at(17).at(0).toStringList(), found);
        QVERIFY(responder.wait_requests(2, std::chrono::seconds(5)));
        QTRY_COMPARE(recordedAnswers(), 3);

        // Cancelled: answers to a new request are no longer recorded.
        seeker->cancelDiscoverNet();
        MXX_net_broadcast_reset_list();
        QCOMPARE(MXX_send_broadcast_net_message("255.255.255.255", 4455), 0);
        QVERIFY(responder.wait_requests(3, std::chrono::seconds(5)));
        QTest::qWait(200);
        QCOMPARE(recordedAnswers(), 0);
    }

    void netTimerFindsTheResponder()
    {
        QSignalSpy spy(seeker.get(), &MXXSeeker::discoveredNetDevices);
        std::size_t before = responder.requests();
        seeker->discoverNet();
        seeker->setEnabledNetTimer(true);
        // The timer's first request goes out after 16 ticks of 500 ms.
        QTRY_VERIFY_WITH_TIMEOUT(responder.requests() > before, 15000);
        QTRY_VERIFY(!spy.isEmpty() && spy.last().at(0).toStringList().contains("127.0.0.1"));
        seeker->setEnabledNetTimer(false);
        seeker->cancelDiscoverNet();
    }

    void usbAndBluetoothWithoutDevices()
    {
        std::vector<QString> ids = {"stale"};
        seeker->listUSBDevices(ids);
        QVERIFY(ids.empty());

        if (seeker->isBTAvailable())
            QSKIP("a Bluetooth adapter is up; an inquiry would run");
        // An inquiry that cannot start still ends, with nothing found.
        qRegisterMetaType<BTDeviceList>("BTDeviceList");
        QSignalSpy spy(seeker.get(), &MXXSeeker::discoveredBTDevices);
        seeker->discoverBT();
        QTRY_COMPARE(spy.count(), 1);
        QVERIFY(spy.at(0).at(0).value<BTDeviceList>().empty());
        QCOMPARE(spy.at(0).at(1).toBool(), true);
        seeker->cancelDiscoverBT();
    }

    void listServerExchange()
    {
        qRegisterMetaType<VirtualDeviceList>("VirtualDeviceList");
        struct Case
        {
            const char* name;
            QList<QByteArray> pieces;
            VirtualDeviceList expected;
        };
        const QByteArray plain("x|1 y z|");
        const QByteArray messy = QByteArray("  a|b|c   k|v\xc3\xa4  a|2 ") + '\0' + "n|after";
        const Case cases[] = {
            {"parts with and without values", {sized(plain)}, {{"x", "1"}, {"y", ""}, {"z", ""}}},
            {"spaces, extra pieces, repeated key, text ending at a NUL",
             {sized(messy)},
             {{"a", "2"}, {"k", QString::fromUtf8("v\xc3\xa4")}}},
            {"size and block in pieces",
             {sized(plain).left(1), sized(plain).mid(1, 4), sized(plain).mid(5)},
             {{"x", "1"}, {"y", ""}, {"z", ""}}},
            {"empty block", {sized(QByteArray())}, {}},
        };
        for (const Case& c : cases) {
            ListServer server;
            server.pieces = c.pieces;
            server.arm();
            MXXNetSeeker finder(QStringLiteral("127.0.0.1"), server.port());
            QSignalSpy spy(&finder, &MXXNetSeeker::devicesFound);
            finder.seekForDevices();
            QVERIFY2(spy.wait(5000), c.name);
            QCOMPARE(server.request, QByteArray("list", 5));
            QCOMPARE(spy.count(), 1);
            QCOMPARE(spy.at(0).at(0).toString(), QStringLiteral("127.0.0.1"));
            QCOMPARE(spy.at(0).at(1).value<VirtualDeviceList>(), c.expected);
        }

        // A block cut short by the server hanging up reports nothing; the
        // next request on the same finder works.
        ListServer server;
        server.pieces = {sized(plain).left(6)};
        server.hangUp = true;
        server.arm();
        MXXNetSeeker finder(QStringLiteral("127.0.0.1"), server.port());
        QSignalSpy spy(&finder, &MXXNetSeeker::devicesFound);
        finder.seekForDevices();
        QVERIFY(!spy.wait(1000));
        server.pieces = {sized(plain)};
        server.hangUp = false;
        finder.seekForDevices();
        QVERIFY(spy.wait(5000));
        QCOMPARE(spy.at(0).at(1).value<VirtualDeviceList>().value("x"), QStringLiteral("1"));
    }

private:
    sim::DiscoveryResponder responder;
    std::unique_ptr<MXXSeeker> seeker;
};

QTEST_GUILESS_MAIN(TestMxxSeeker)
#include "test_mxx_seeker.moc"
