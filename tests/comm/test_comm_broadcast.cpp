// Discovery datagrams on loopback: the redirect, one callback per datagram,
// and the refusal to send anywhere else in loopback-only mode.
#include "comm_test_util.h"

#include <QtTest>

#include <poll.h>

#include <cstdlib>

namespace {

// A loopback UDP socket standing in for the instruments that answer.
struct Responder
{
    uint16_t port = 0; // before fd: fd's initialiser writes it
    int fd = -1;
    Responder() : fd(bind_loopback(SOCK_DGRAM, port)) {}
    ~Responder() { ::close(fd); }
    // Next datagram (empty after a bounded wait), and where it came from.
    std::string receive(sockaddr_in* from = nullptr, int ms = 5000)
    {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, ms) <= 0)
            return {};
        char buf[2048];
        sockaddr_in f{};
        socklen_t len = sizeof f;
        ssize_t n = ::recvfrom(fd, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&f), &len);
        if (from)
            *from = f;
        return n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : std::string();
    }
};

struct Datagrams
{
    std::mutex m;
    std::condition_variable cv;
    std::vector<std::string> got;
    static int cb(void* data, int length, void* user)
    {
        auto* d = static_cast<Datagrams*>(user);
        {
            std::lock_guard<std::mutex> lock(d->m);
            d->got.emplace_back(static_cast<char*>(data), static_cast<std::size_t>(length));
        }
        d->cv.notify_all();
        return 0;
    }
    bool wait_count(std::size_t n)
    {
        std::unique_lock<std::mutex> lock(m);
        return cv.wait_for(lock, std::chrono::seconds(5), [&] { return got.size() >= n; });
    }
};

const char request[] = "\x42\x52\x4e\x4f\x99\x21\x01\x00\xb8\x0b\x00\x1b\x00";

} // namespace

class TestCommBroadcast : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        ::unsetenv("ORVISK_BROADCAST_REDIRECT");
        QCOMPARE(comm_init(), 0);
    }
    void cleanup()
    {
        comm_net_broadcast_deregister();
        comm_net_broadcast_redirect(nullptr, 0);
        QCOMPARE(comm_shut(), 0);
    }

    void redirectAndAnswers()
    {
        Responder responder;
        Datagrams d;
        QCOMPARE(comm_net_broadcast_register(Datagrams::cb, &d), 0);
        QCOMPARE(comm_net_broadcast_redirect("127.0.0.1", responder.port), 0);
        QCOMPARE(comm_net_broadcast_send(request, 13, "255.255.255.255", 4455), 0);
        sockaddr_in from{};
        QCOMPARE(responder.receive(&from), std::string(request, 13));
        QCOMPARE(ntohl(from.sin_addr.s_addr), uint32_t(INADDR_LOOPBACK));

        // Three answers, each its own callback call with its own bytes.
        for (const std::string& a :
             {std::string("first"), std::string("second answer"), std::string(1400, 'z')})
            ::sendto(responder.fd, a.data(), a.size(), 0, reinterpret_cast<sockaddr*>(&from),
                     sizeof from);
        QVERIFY(d.wait_count(3));
        QTest::qWait(50);
        std::lock_guard<std::mutex> lock(d.m);
        QCOMPARE(d.got.size(), std::size_t(3));
        QCOMPARE(d.got[0], std::string("first"));
        QCOMPARE(d.got[1], std::string("second answer"));
        QCOMPARE(d.got[2], std::string(1400, 'z'));
    }

    void refusedWithoutRedirect()
    {
        Responder responder;
        QCOMPARE(comm_net_broadcast_redirect(nullptr, 0), 0); // explicitly none
        QCOMPARE(comm_net_broadcast_send(request, 13, "255.255.255.255", 4455),
                 int(COMM_ERR_REFUSED));
        QCOMPARE(comm_net_broadcast_send(request, 13, "192.0.2.20", responder.port),
                 int(COMM_ERR_REFUSED));
        // Loopback destinations are fine without a redirect.
        QCOMPARE(comm_net_broadcast_send(request, 13, "127.0.0.1", responder.port), 0);
        QCOMPARE(responder.receive(), std::string(request, 13));
        QCOMPARE(comm_net_broadcast_send(request, 0, "127.0.0.1", responder.port),
                 int(COMM_ERR_ARG));
        QCOMPARE(comm_net_broadcast_redirect("127.0.0.1", 0), int(COMM_ERR_ARG));
        // A redirect to a non-loopback address is refused too.
        QCOMPARE(comm_net_broadcast_redirect("198.51.100.1", 4455), 0);
        QCOMPARE(comm_net_broadcast_send(request, 13, "127.0.0.1", responder.port),
                 int(COMM_ERR_REFUSED));
    }

    void redirectFromEnvironment()
    {
        Responder responder;
        QCOMPARE(comm_shut(), 0);
        std::string v = "127.0.0.1:" + std::to_string(responder.port);
        ::setenv("ORVISK_BROADCAST_REDIRECT", v.c_str(), 1);
        QCOMPARE(comm_init(), 0);
        ::unsetenv("ORVISK_BROADCAST_REDIRECT");
        QCOMPARE(comm_net_broadcast_send(request, 13, "255.255.255.255", 4455), 0);
        QCOMPARE(responder.receive(), std::string(request, 13));
    }
};

QTEST_GUILESS_MAIN(TestCommBroadcast)
#include "test_comm_broadcast.moc"
