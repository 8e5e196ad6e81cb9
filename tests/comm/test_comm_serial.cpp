// The serial medium over a real pseudo-terminal pair: the library opens the
// slave side by path, the test plays the instrument on the master side.
#include "comm_test_util.h"

#include <QtTest>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>

namespace {

struct Pty
{
    int master = -1;
    std::string path;
    Pty()
    {
        master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0)
            path = ::ptsname(master);
        termios t{};
        // Raw on the slave side too, so bytes pass unchanged.
        if (!path.empty() && ::tcgetattr(master, &t) == 0) {
            ::cfmakeraw(&t);
            ::tcsetattr(master, TCSANOW, &t);
        }
    }
    ~Pty()
    {
        if (master >= 0)
            ::close(master);
    }
    std::string read_n(std::size_t n)
    {
        std::string s;
        char buf[256];
        while (s.size() < n) {
            pollfd p{master, POLLIN, 0};
            if (::poll(&p, 1, 5000) <= 0)
                break;
            ssize_t r = ::read(master, buf, std::min(sizeof buf, n - s.size()));
            if (r <= 0)
                break;
            s.append(buf, static_cast<std::size_t>(r));
        }
        return s;
    }
};

} // namespace

class TestCommSerial : public QObject
{
    Q_OBJECT

private slots:
    void init() { QCOMPARE(comm_init(), 0); }
    void cleanup() { QCOMPARE(comm_shut(), 0); }

    void bytesBothWays()
    {
        Pty pty;
        QVERIFY(!pty.path.empty());
        char conn[COMM_STRING_SIZE];
        QCOMPARE(comm_make_conn_string_serial_path(conn, pty.path.c_str(), 115200, 8, 1, 0, 0), 0);
        QCOMPARE(std::string(conn), "serial:" + pty.path + ":115200:8N1");
        Recorder rec;
        rec.react = [](int id, int kind, const uint8_t*, int) {
            return kind == COMM_EV_OPENED && comm_write(id, "BRNO", 4, 0, 1000) != 0 ? -1 : 0;
        };
        int id = -1;
        QCOMPARE(rec.connect(&id, conn, 200), 0);
        QCOMPARE(pty.read_n(4), std::string("BRNO"));
        QCOMPARE(comm_get_state(id), int(COMM_STATE_OPEN));
        std::string binary;
        for (int i = 0; i < 256; ++i)
            binary += static_cast<char>(i);
        QCOMPARE(comm_write(id, binary.data(), int(binary.size()), 0, 1000), 0);
        QCOMPARE(pty.read_n(binary.size()), binary);
        QCOMPARE(::write(pty.master, binary.data(), binary.size()), ssize_t(binary.size()));
        QVERIFY(rec.wait([&](const std::vector<Event>&) {
            std::size_t n = 0;
            for (const Event& e : rec.events)
                n += e.kind == COMM_EV_DATA ? e.data.size() : 0;
            return n >= binary.size();
        }));
        QCOMPARE(rec.received(), binary);

        // The instrument side goes away: the link fails, kind 2 then 3.
        ::close(pty.master);
        pty.master = -1;
        QVERIFY(rec.wait_kind(COMM_EV_CLOSED));
        QCOMPARE(rec.kinds(false),
                 (std::vector<int>{COMM_EV_OPENED, COMM_EV_DATA, COMM_EV_ERROR, COMM_EV_CLOSED}));
    }

    void lineSettingsAndMissingPort()
    {
        Pty pty;
        Recorder rec;
        int id = -1;
        std::string s = "serial:" + pty.path + ":9600:8E2:2"; // a pty takes only 8 data bits;
        QCOMPARE(rec.connect(&id, s, 200), 0);
        QVERIFY(rec.wait_kind(COMM_EV_OPENED));
        QCOMPARE(comm_write(id, "ab", 2, 0, 1000), 0);
        QCOMPARE(pty.read_n(2), std::string("ab"));
        QCOMPARE(comm_disconnect(id), 0);
        QVERIFY(rec.wait_kind(COMM_EV_CLOSED));
        QCOMPARE(rec.kinds(false), (std::vector<int>{COMM_EV_OPENED, COMM_EV_CLOSED}));

        Recorder missing;
        QCOMPARE(missing.connect(&id, "serial:/dev/orvisk-no-such-tty:115200:8N1", 200), 0);
        QVERIFY(missing.wait_kind(COMM_EV_CLOSED));
        QCOMPARE(missing.kinds(), (std::vector<int>{COMM_EV_ERROR, COMM_EV_CLOSED}));
    }
};

QTEST_GUILESS_MAIN(TestCommSerial)
#include "test_comm_serial.moc"
