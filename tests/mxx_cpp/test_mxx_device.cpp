#include "instrument_session.h"

#include <mxx_comm.h>
#include <mxx_wait.h>

#include <QCoreApplication>
#include <QSignalSpy>
#include <QTest>
#include <QThread>

#include <functional>

using testing::InstrumentSession;

namespace {

// A family no instrument has, for objects that take any item of it.
constexpr int kRecorderFamily = 99;

// Records what reaches it, and whether the thread it was bound with ran.
class Recorder : public Protocol
{
public:
    explicit Recorder(QStringList* log = nullptr, QString name = {}, int family = kRecorderFamily)
        : m_log(log), m_name(std::move(name)), m_family(family)
    {
    }
    int type() const override { return m_family; }
    void bind(int connection, QThread* thread) override
    {
        Protocol::bind(connection, thread);
        threadRan = thread && thread->isRunning();
    }
    bool receiveData(QVariant& data) override
    {
        if (m_log)
            m_log->append(m_name + QLatin1Char(':') + data.toString());
        if (onData)
            onData(data);
        return true;
    }

    bool threadRan = false;
    std::function<void(QVariant&)> onData;

private:
    QStringList* m_log;
    QString m_name;
    int m_family;
};

void postItem(MXXDevice& device, const QString& item, int family = kRecorderFamily)
{
    QVariant v(item);
    QCoreApplication::postEvent(&device, new MXXDeviceEvent(family, v));
}

sim::SimOptions twoInstruments()
{
    sim::SimOptions o = session::loopback_options();
    o.count = 2;
    o.records = 1;
    return o;
}

} // namespace

class TestMXXDevice : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QCOMPARE(MXX_init(nullptr, nullptr, nullptr), 0); }
    void cleanupTestCase() { MXX_shut(); }

    void registersOnlyOnceIdentified()
    {
        InstrumentSession s;
        QCOMPARE(s.device.name(), QStringLiteral("Unknown"));
        QSignalSpy connected(&s.device, &MXXDevice::connected);
        QVERIFY(s.device.connect(s.connString()));
        QVERIFY(s.device.connId() != -1);
        QCOMPARE(s.device.connString(), s.connString());
        QVERIFY(!s.device.registerProtocol(s.m17));
        QVERIFY(connected.wait(5000));
        QCOMPARE(s.device.type(), 12);
        QVERIFY(s.device.registerProtocol(s.m17));
        QVERIFY(!s.device.registerProtocol(s.m17));
        QVERIFY(s.m17->isBound());
        QCOMPARE(s.m17->connection(), s.device.connId());
        QCOMPARE(MXX_get_conn_state_id(s.device.connId()), 2);

        QSignalSpy unbound(s.m17.get(), &Protocol::bindStateChanged);
        QVERIFY(s.disconnect());
        QCOMPARE(s.device.connId(), -1);
        QCOMPARE(s.device.type(), 0);
        QCOMPARE(s.device.connString(), QString());
        QCOMPARE(unbound.count(), 1);
        QVERIFY(!s.m17->isBound());
        QVERIFY(!s.device.registerProtocol(s.m17));
        s.device.disconnect(); // no connection: nothing happens
    }

    void everyConnectionGetsARunningThread()
    {
        InstrumentSession s;
        for (int round = 0; round < 3; ++round) {
            auto recorder = std::make_shared<Recorder>();
            QVERIFY(s.connect());
            QVERIFY(s.device.registerProtocol(recorder));
            QVERIFY2(recorder->threadRan, qPrintable(QStringLiteral("round %1").arg(round)));
            QCOMPARE(testing::readSerial(*s.m17),
                     QString::fromStdString(s.sim.instruments()[0].serial));
            QVERIFY(s.disconnect());
        }
    }

    void reconnectingTellsTheTruthAboutTheNewConnection()
    {
        InstrumentSession s(twoInstruments());
        QVERIFY(s.connect(0));
        QSignalSpy connected(&s.device, &MXXDevice::connected);
        QSignalSpy disconnected(&s.device, &MXXDevice::disconnected);
        QSignalSpy errors(&s.device, &MXXDevice::connectionError);
        // While connected, and again while the second is still opening.
        QVERIFY(s.device.connect(s.connString(1)));
        QVERIFY(!s.m30->isBound());
        QVERIFY(s.device.connect(s.connString(0)));
        QVERIFY(s.device.connect(s.connString(1)));
        QVERIFY(connected.wait(5000));
        QTest::qWait(300); // let the closed connections' callbacks arrive
        QCOMPARE(connected.count(), 1);
        QCOMPARE(disconnected.count(), 0);
        QCOMPARE(errors.count(), 0);
        QCOMPARE(s.device.connString(), s.connString(1));
        QCOMPARE(s.device.type(), 12);
        QVERIFY(s.device.registerProtocol(s.m17));
        QCOMPARE(testing::readSerial(*s.m17),
                 QString::fromStdString(s.sim.instruments()[1].serial));
        QTRY_COMPARE(s.sim.server().links_open(*s.instrument(0)), std::size_t(0));
    }

    void refusedAndFailedConnections()
    {
        MXXDevice device;
        QVERIFY(!device.connect(QString()));
        QVERIFY(!device.connect(QStringLiteral("nonsense")));
        QCOMPARE(device.connId(), -1);
        // Nothing listens on a port just given back by the system.
        quint16 port = 0;
        {
            sim::FrameServer server;
            port = server.serve_tcp(std::make_shared<sim::Instrument>());
        }
        QSignalSpy errors(&device, &MXXDevice::connectionError);
        QVERIFY(device.connect(testing::tcpString(port)));
        QVERIFY(errors.wait(5000));
    }

    void eventsWaitOutAModalWaitAndKeepTheirOrder()
    {
        InstrumentSession s;
        QVERIFY(s.connect());
        QStringList log;
        auto a = std::make_shared<Recorder>(&log, QStringLiteral("a"));
        auto b = std::make_shared<Recorder>(&log, QStringLiteral("b"));
        QVERIFY(s.device.registerProtocol(a));
        QVERIFY(s.device.registerProtocol(b));

        postItem(s.device, QStringLiteral("1"));
        postItem(s.device, QStringLiteral("2"));
        MXXWait::wait(0, 0, 0);
        QCoreApplication::processEvents();
        QCOMPARE(log, QStringList());
        QVERIFY(!MXXWait::idleLoopActive());
        postItem(s.device, QStringLiteral("3"));
        QCoreApplication::processEvents();
        QCOMPARE(log, (QStringList{"a:1", "b:1", "a:2", "b:2", "a:3", "b:3"}));

        // An event raised while one is delivered comes after it has reached everyone.
        log.clear();
        a->onData = [&](QVariant& v) {
            if (v.toString() == QLatin1String("4")) {
                QVariant next(QStringLiteral("5"));
                MXXDeviceEvent e(kRecorderFamily, next);
                QCoreApplication::sendEvent(&s.device, &e);
            }
        };
        postItem(s.device, QStringLiteral("4"));
        QCoreApplication::processEvents();
        QCOMPARE(log, (QStringList{"a:4", "b:4", "a:5", "b:5"}));
    }

    // An item goes to the objects of the family whose hook made it, however
    // many families are registered on the connection, and to no other.
    void eventItemsReachOnlyTheirFamily()
    {
        InstrumentSession s;
        QVERIFY(s.connect());
        QStringList log;
        auto m30 = std::make_shared<Recorder>(&log, QStringLiteral("M30"), MXX_TYPE_M30);
        auto m34 = std::make_shared<Recorder>(&log, QStringLiteral("M34"), MXX_TYPE_M34);
        auto otherM34 = std::make_shared<Recorder>(&log, QStringLiteral("M34'"), MXX_TYPE_M34);
        auto chat = std::make_shared<Recorder>(&log, QStringLiteral("MCH"), MXX_TYPE_MCH);
        for (const auto& p : {m30, m34, otherM34, chat})
            QVERIFY(s.device.registerProtocol(p));

        postItem(s.device, QStringLiteral("1"), MXX_TYPE_M34);
        postItem(s.device, QStringLiteral("2"), MXX_TYPE_MCH);
        postItem(s.device, QStringLiteral("3"), MXX_TYPE_M30);
        postItem(s.device, QStringLiteral("4"), MXX_TYPE_M36); // nobody's
        postItem(s.device, QStringLiteral("5"), MXX_TYPE_NONE);
        QCoreApplication::processEvents();
        QCOMPARE(log, (QStringList{"M34:1", "M34':1", "MCH:2", "M30:3"}));
    }

    void destroyingAConnectedDeviceClosesTheLink()
    {
        InstrumentSession s;
        auto device = std::make_unique<MXXDevice>();
        QSignalSpy connected(device.get(), &MXXDevice::connected);
        QVERIFY(device->connect(s.connString()));
        QVERIFY(connected.wait(5000));
        QCOMPARE(s.sim.server().links_open(*s.instrument()), std::size_t(1));
        device.reset();
        QTRY_COMPARE(s.sim.server().links_open(*s.instrument()), std::size_t(0));
        // The close callback found no device and changed nothing.
        QCoreApplication::processEvents();
    }
};

QTEST_GUILESS_MAIN(TestMXXDevice)
#include "test_mxx_device.moc"
