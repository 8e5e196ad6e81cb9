// The orvisk-sim program as a person or a script runs it: its help, its
// start-up lines, an exchange with what it serves, and a clean stop.
#include "wire.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

using wire::Bytes;

namespace {

struct Started
{
    std::vector<std::uint16_t> ports;
    std::vector<std::string> ptys;
    std::uint16_t discovery = 0;
    QString out;
};

// Reads the start-up lines up to "ready", within a bounded wait.
bool read_start(QProcess& p, Started& s)
{
    while (!s.out.contains("ready\n")) {
        if (!p.waitForReadyRead(10000))
            return false;
        s.out += QString::fromUtf8(p.readAllStandardOutput());
    }
    const QRegularExpression tcp(R"(tcp:127\.0\.0\.1:(\d+))"),
        pty(R"(serial:(/dev/[^:]+):115200:8N1)"), udp(R"(discovery: udp 127\.0\.0\.1:(\d+))");
    for (auto it = tcp.globalMatch(s.out); it.hasNext();)
        s.ports.push_back(static_cast<std::uint16_t>(it.next().captured(1).toUInt()));
    for (auto it = pty.globalMatch(s.out); it.hasNext();)
        s.ptys.push_back(it.next().captured(1).toStdString());
    const auto m = udp.match(s.out);
    s.discovery = m.hasMatch() ? static_cast<std::uint16_t>(m.captured(1).toUInt()) : 0;
    return true;
}

Bytes exchange(int fd, const Bytes& request)
{
    return wire::write_all(fd, request) ? wire::read_frame(fd) : Bytes{};
}

} // namespace

class TestSimProgram : public QObject
{
    Q_OBJECT

private slots:
    void helpDocumentsEveryOption()
    {
        QProcess p;
        p.start(ORVISK_SIM, {"--help"});
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(p.exitCode(), 0);
        const QString help = QString::fromUtf8(p.readAllStandardOutput());
        for (const char* option :
             {"--listen",  "--pty",     "--discovery", "--count",  "--serial", "--family",
              "--records", "--seed",    "--epoch",     "--track",  "--chunk",  "--events",
              "--latency", "--drop",    "--corrupt",   "--repeat", "--fail",   "--disconnect-after",
              "--split",   "--garbage", "--log",       "--help"})
            QVERIFY2(help.contains(option), option);
        // The record layout and the event ids are in it too.
        QVERIFY(help.contains("1520 + 32*i"));
        QVERIFY(help.contains("10017"));
    }

    void refusesBadLines()
    {
        struct Case
        {
            QStringList args;
            int code;
        };
        const Case cases[] = {{{"--chunk", "8171"}, 2},
                              {{"--drop", "1.5"}, 2},
                              {{"--listen", "::1:4444"}, 2},
                              {{"--frobnicate"}, 2},
                              {{"--count"}, 2},
                              {{"--family", "M23"}, 1},
                              {{"--serial", "Z123", "--family", "M30"}, 1}};
        for (const Case& c : cases) {
            QProcess p;
            p.start(ORVISK_SIM, c.args + QStringList{"--listen=127.0.0.1:0", "--discovery=off"});
            QVERIFY(p.waitForFinished(10000));
            QCOMPARE(p.exitCode(), c.code);
            QVERIFY(!p.readAllStandardError().isEmpty());
        }
    }

    void servesUntilSigterm()
    {
        QTemporaryDir dir;
        QProcess p;
        p.start(ORVISK_SIM,
                {"--listen", "127.0.0.1:0", "--discovery", "127.0.0.1:0", "--count", "2", "--pty",
                 "--records", "10", "--events", "0", "--log", dir.filePath("frames.log")});
        QVERIFY(p.waitForStarted(10000));
        Started s;
        QVERIFY2(read_start(p, s), qPrintable(s.out));
        QCOMPARE(s.ports.size(), std::size_t{2});
        QCOMPARE(s.ptys.size(), std::size_t{2});
        QVERIFY(s.discovery != 0);
        QVERIFY(s.out.contains("instrument 1: M30 C3000001 tcp:127.0.0.1:"));
        QVERIFY(s.out.contains("instrument 2: M30 C3000002 tcp:127.0.0.1:"));

        wire::Fd tcp(wire::connect_tcp(s.ports[1]));
        QVERIFY(tcp.valid());
        QCOMPARE(exchange(tcp.get(), wire::frame(8007, {}, 100)),
                 wire::frame(9007, {'C', '3', '0', '0', '0', '0', '0', '2'}));
        wire::Fd pty(wire::open_path(s.ptys[0]));
        QVERIFY(pty.valid());
        QCOMPARE(wire::code_of(exchange(pty.get(), wire::frame(8410, Bytes(4, 0), 3000))),
                 std::uint16_t{9410});

        p.terminate(); // SIGTERM
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), 0);
        QVERIFY(QString::fromUtf8(p.readAllStandardOutput()).contains("stopped"));
        QVERIFY(wire::hung_up(tcp.get()));

        QFile log(dir.filePath("frames.log"));
        QVERIFY(log.open(QIODevice::ReadOnly));
        const QStringList lines = QString::fromUtf8(log.readAll()).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 4); // two requests, two answers
        QVERIFY(lines[0].contains(" C3000002 in "));
    }

    void stopsOnSigintAndReportsATakenPort()
    {
        QProcess first;
        first.start(ORVISK_SIM, {"--listen", "127.0.0.1:0", "--discovery", "off"});
        Started s;
        QVERIFY(read_start(first, s));
        QCOMPARE(s.ports.size(), std::size_t{1});

        QProcess second; // the same port again
        second.start(ORVISK_SIM,
                     {"--listen", QString("127.0.0.1:%1").arg(s.ports[0]), "--discovery", "off"});
        QVERIFY(second.waitForFinished(10000));
        QCOMPARE(second.exitCode(), 1);
        QVERIFY(second.readAllStandardError().contains("orvisk-sim:"));

        ::kill(static_cast<pid_t>(first.processId()), SIGINT);
        QVERIFY(first.waitForFinished(10000));
        QCOMPARE(first.exitStatus(), QProcess::NormalExit);
        QCOMPARE(first.exitCode(), 0);
    }
};

QTEST_GUILESS_MAIN(TestSimProgram)
#include "test_sim_program.moc"
