// A thousand connections to orvisk-sim, each identified, given a few commands
// and closed, with the simulator dropping the link in the middle of every
// other one. The process ends where it started: the same open descriptors,
// the same threads, no lasting growth of memory (and, in the address
// sanitizer build, nothing leaked).
#include <m17_protocol.h>
#include <m30_protocol.h>
#include <mxx_comm.h>
#include <mxx_device.h>

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QtTest>

#include <cstddef>
#include <fstream>
#include <memory>
#include <string>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
// Both sanitizers' runtimes export it; GCC ships no header for it.
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#endif

namespace {

constexpr int kCycles = 1000;
// The simulator drops a link after this many exchanges.
constexpr int kDisconnectAfter = 3;

int openDescriptors()
{
    return QDir(QStringLiteral("/proc/self/fd"))
        .entryList(QDir::NoDotAndDotDot | QDir::AllEntries)
        .size();
}

long statusValue(const char* key)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::string prefix = std::string(key) + ":";
    while (std::getline(status, line))
        if (line.rfind(prefix, 0) == 0)
            return std::stol(line.substr(prefix.size()));
    return -1;
}

// The sanitizers' own bookkeeping (shadow memory, freed memory held back)
// grows the resident size without any leak of ours: there the measure is the
// heap they hand out, and in the address sanitizer build LeakSanitizer checks
// the rest at exit.
long memoryKb()
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    return static_cast<long>(__sanitizer_get_current_allocated_bytes() / 1024);
#else
    return statusValue("VmRSS");
#endif
}

} // namespace

class TestConnectionSoak : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        sim.start(QStringLiteral(ORVISK_SIM),
                  {QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0"),
                   QStringLiteral("--discovery"), QStringLiteral("off"), QStringLiteral("--events"),
                   QStringLiteral("20"), QStringLiteral("--disconnect-after"),
                   QString::number(kDisconnectAfter)});
        QVERIFY(sim.waitForStarted());
        QString out;
        while (!out.contains(QLatin1String("ready\n"))) {
            QVERIFY(sim.waitForReadyRead(10000));
            out += QString::fromUtf8(sim.readAllStandardOutput());
        }
        const auto m = QRegularExpression(QStringLiteral(R"(tcp:127\.0\.0\.1:\d+)")).match(out);
        QVERIFY(m.hasMatch());
        connString = m.captured(0);
        QCOMPARE(MXX_init(nullptr, nullptr, nullptr), 0);
    }

    void cleanupTestCase()
    {
        MXX_shut();
        sim.terminate();
        sim.waitForFinished(5000);
    }

    void thousandConnections()
    {
        int fds = 0, threads = 0;
        long memory = 0;
        int identified = 0, answered = 0, dropped = 0;
        for (int cycle = 0; cycle < kCycles; ++cycle) {
            if (cycle == 20) { // after the first connections have warmed up every cache
                fds = openDescriptors();
                threads = static_cast<int>(statusValue("Threads"));
                memory = memoryKb();
            }
            auto device = std::make_unique<MXXDevice>();
            auto m17 = std::make_shared<M17Protocol>();
            auto m30 = std::make_shared<M30Protocol>();
            QSignalSpy connected(device.get(), &MXXDevice::connected);
            QSignalSpy disconnected(device.get(), &MXXDevice::disconnected);
            QVERIFY(device->connect(connString));
            QVERIFY2(connected.wait(10000), qPrintable(QStringLiteral("cycle %1").arg(cycle)));
            QCOMPARE(device->type(), 12);
            ++identified;
            QVERIFY(device->registerProtocol(m17));
            QVERIFY(device->registerProtocol(m30));
            // Odd cycles stop within the simulator's limit; even ones run past
            // it, so the link drops in the middle of their commands.
            const int commands = cycle % 2 ? kDisconnectAfter - 2 : kDisconnectAfter + 2;
            for (int i = 0; i < commands && device->connId() != -1; ++i) {
                M30_status status;
                if (i % 2 ? m30->getStatus(status) : !m17->getSerial().isEmpty())
                    ++answered;
                QCoreApplication::processEvents(); // event stream, a dropped link
            }
            if (device->connId() != -1)
                device->disconnect();
            else
                ++dropped;
            QVERIFY(disconnected.count() > 0 || disconnected.wait(10000));
            device.reset(); // the device's own thread ends here
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        }
        QCoreApplication::processEvents();
        QVERIFY(identified == kCycles);
        QVERIFY(answered > kCycles);
        QVERIFY(dropped > 0);

        // The transport closes a socket on its own thread just after the close
        // call. Helpers of the libraries underneath (a resolver, a sanitizer)
        // may come and go, so nothing more than before is the measure.
        QTRY_VERIFY_WITH_TIMEOUT(openDescriptors() <= fds, 5000);
        QTRY_VERIFY_WITH_TIMEOUT(statusValue("Threads") <= threads, 5000);
        // A leak of one connection record per cycle would be 70 MB.
        const long grown = memoryKb() - memory;
        QVERIFY2(grown < 16 * 1024, qPrintable(QStringLiteral("%1 kB more").arg(grown)));
    }

private:
    QProcess sim;
    QString connString;
};

QTEST_GUILESS_MAIN(TestConnectionSoak)
#include "test_connection_soak.moc"
