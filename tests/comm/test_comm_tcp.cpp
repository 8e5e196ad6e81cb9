// Connections over real loopback TCP: the order and uniqueness of handler
// calls, writes from inside a handler, timers, state and iteration.
#include "comm_internal.h"
#include "comm_test_util.h"

#include <QProcess>
#include <QtTest>

#include <atomic>
#include <thread>

class TestCommTcp : public QObject
{
    Q_OBJECT

private slots:
    void init() { QCOMPARE(comm_init(), 0); }
    void cleanup() { QCOMPARE(comm_shut(), 0); }

    void openDataDisconnect()
    {
        Listener peer;
        Recorder rec;
        int id = -1;
        int first_seen = -2;
        rec.react = [&](int handler_id, int kind, const uint8_t*, int) {
            if (first_seen == -2)
                first_seen = handler_id == id ? handler_id : -1; // id written before the first call
            if (kind == COMM_EV_OPENED)                          // a probe writes from the handler
                return comm_write(handler_id, "ping", 4, 0, 1000) == 0 ? 0 : -1;
            return 0;
        };
        QCOMPARE(rec.connect(&id, peer.conn_string(), 200), 0);
        QVERIFY(id > 0);
        int fd = peer.accept_one();
        QVERIFY(fd >= 0);
        QCOMPARE(read_n(fd, 4), std::string("ping"));
        QVERIFY(rec.wait_kind(COMM_EV_OPENED));
        QCOMPARE(first_seen, id);
        QCOMPARE(comm_get_state(id), int(COMM_STATE_OPEN));

        comm_iter_t it;
        comm_data_cntr_init(&it);
        int seen_id = 0;
        void* record = nullptr;
        QCOMPARE(comm_get_data(&it, &seen_id, &record), 1);
        QCOMPARE(seen_id, id);
        QCOMPARE(record, static_cast<void*>(&rec));
        QCOMPARE(comm_get_data(&it, &seen_id, &record), 0);

        // From the main thread, large enough to need several deliveries.
        std::string big(200000, 'x');
        for (std::size_t i = 0; i < big.size(); ++i)
            big[i] = static_cast<char>('a' + i % 26);
        std::string echoed;
        std::thread reader([&] { echoed = read_n(fd, big.size()); });
        QCOMPARE(comm_write(id, big.data(), int(big.size()), 0, 5000), 0);
        reader.join();
        QCOMPARE(echoed, big);
        write_all(fd, big);
        QVERIFY(rec.wait([&](const std::vector<Event>&) {
            std::size_t n = 0;
            for (const Event& e : rec.events)
                n += e.kind == COMM_EV_DATA ? e.data.size() : 0;
            return n >= big.size();
        }));
        QCOMPARE(rec.received(), big);

        QCOMPARE(comm_disconnect(id), 0);
        QVERIFY(rec.wait_kind(COMM_EV_CLOSED));
        QCOMPARE(read_n(fd, 1), std::string()); // the peer sees the close
        ::close(fd);
        QCOMPARE(comm_get_state(id), int(COMM_STATE_NONE));
        QCOMPARE(comm_write(id, "x", 1, 0, 100), int(COMM_ERR_NO_CONN));
        QCOMPARE(comm_disconnect(id), int(COMM_ERR_NO_CONN));
        comm_data_cntr_init(&it);
        QCOMPARE(comm_get_data(&it, &seen_id, &record), 0);
        for (const Event& e : rec.events)
            QVERIFY(e.data.size() <= 4096); // rx_size bounds each delivery
        auto k = rec.kinds();
        QCOMPARE(k.front(), int(COMM_EV_OPENED));
        QCOMPARE(k.back(), int(COMM_EV_CLOSED));
        QCOMPARE(Recorder::count(rec.events, COMM_EV_CLOSED), 1);
        QCOMPARE(Recorder::count(rec.events, COMM_EV_ERROR), 0); // asked for, not failed
        QVERIFY(!rec.overlap);
    }

    void refusedAndFailedLinks()
    {
        // Nobody listens on this port: kind 2 then 3, or a refusal, never a hang.
        uint16_t port;
        {
            Listener gone;
            port = gone.port;
        }
        Recorder rec;
        int id = -1;
        std::string s = "tcp:127.0.0.1:" + std::to_string(port) + ":2000";
        QCOMPARE(rec.connect(&id, s, 200), 0);
        QVERIFY(rec.wait_kind(COMM_EV_CLOSED));
        QCOMPARE(rec.kinds(), (std::vector<int>{COMM_EV_ERROR, COMM_EV_CLOSED}));
        QCOMPARE(comm_wait_connected(id, 100), int(COMM_ERR_NO_CONN));

        // The peer hangs up: kind 2, then 3.
        Listener peer;
        Recorder rec2;
        QCOMPARE(rec2.connect(&id, peer.conn_string(), 200), 0);
        int fd = peer.accept_one();
        QVERIFY(rec2.wait_kind(COMM_EV_OPENED));
        ::close(fd);
        QVERIFY(rec2.wait_kind(COMM_EV_CLOSED));
        QCOMPARE(rec2.kinds(false),
                 (std::vector<int>{COMM_EV_OPENED, COMM_EV_ERROR, COMM_EV_CLOSED}));

        // Refused before acceptance: the handler is never called.
        Recorder rec3;
        QCOMPARE(rec3.connect(&id, "tcp:192.0.2.3:4444", 200),
                 int(COMM_ERR_REFUSED)); // loopback-only mode
        QCOMPARE(rec3.connect(&id, "tcp:127.0.0.1:0", 200), int(COMM_ERR_ARG));
        QCOMPARE(rec3.connect(&id, "", 200), int(COMM_ERR_ARG));
        QCOMPARE(rec3.connect(&id, "nosuch:1", 200), int(COMM_ERR_ARG));
        QCOMPARE(comm_connect(&id, peer.conn_string().c_str(), nullptr, 4096, 200, &rec3),
                 int(COMM_ERR_ARG));
        QTest::qWait(50);
        QVERIFY(rec3.events.empty());
    }

    void handlerEndsConnection()
    {
        Listener peer;
        // -1 at kind 1.
        Recorder rec;
        rec.react = [](int, int kind, const uint8_t*, int) {
            return kind == COMM_EV_OPENED ? -1 : 0;
        };
        int id = -1;
        QCOMPARE(rec.connect(&id, peer.conn_string(), 200), 0);
        int fd = peer.accept_one();
        QVERIFY(rec.wait_kind(COMM_EV_CLOSED));
        QCOMPARE(rec.kinds(), (std::vector<int>{COMM_EV_OPENED, COMM_EV_ERROR, COMM_EV_CLOSED}));
        QCOMPARE(read_n(fd, 1), std::string());
        ::close(fd);

        // -1 at the third timer call, after signalling the end of connecting.
        Recorder rec2;
        int timers = 0;
        rec2.react = [&](int cid, int kind, const uint8_t*, int) {
            if (kind != COMM_EV_TIMER || ++timers < 3)
                return 0;
            comm_signal_connected(cid);
            return -1;
        };
        QCOMPARE(rec2.connect(&id, peer.conn_string(), 50), 0);
        fd = peer.accept_one();
        QCOMPARE(comm_wait_connected(id, 10000), 0);
        QVERIFY(rec2.wait_kind(COMM_EV_CLOSED));
        QCOMPARE(rec2.kinds(),
                 (std::vector<int>{COMM_EV_OPENED, COMM_EV_TIMER, COMM_EV_ERROR, COMM_EV_CLOSED}));
        QCOMPARE(Recorder::count(rec2.events, COMM_EV_TIMER), 3);
        ::close(fd);

        // Disconnect from inside the opened call: no data or timer call follows.
        Recorder rec3;
        rec3.react = [](int cid, int kind, const uint8_t*, int) {
            if (kind == COMM_EV_OPENED)
                comm_disconnect(cid);
            return 0;
        };
        QCOMPARE(rec3.connect(&id, peer.conn_string(), 10), 0);
        fd = peer.accept_one();
        write_all(fd, "early bytes");
        QVERIFY(rec3.wait_kind(COMM_EV_CLOSED));
        QCOMPARE(rec3.kinds(), (std::vector<int>{COMM_EV_OPENED, COMM_EV_CLOSED}));
        ::close(fd);
    }

    void timerOnlyWhenQuiet()
    {
        Listener peer;
        Recorder rec;
        int id = -1;
        const int period = 100;
        QCOMPARE(rec.connect(&id, peer.conn_string(), period), 0);
        int fd = peer.accept_one();
        QVERIFY(rec.wait(
            [](const std::vector<Event>& ev) { return Recorder::count(ev, COMM_EV_TIMER) >= 2; }));
        // Bytes keep arriving for a while, then stop: the timer calls resume.
        for (int i = 0; i < 60; ++i) {
            write_all(fd, "b");
            QTest::qWait(5);
        }
        int before = 0;
        {
            std::lock_guard<std::mutex> lock(rec.m);
            before = Recorder::count(rec.events, COMM_EV_TIMER);
        }
        QVERIFY(rec.wait([&](const std::vector<Event>& ev) {
            return Recorder::count(ev, COMM_EV_TIMER) >= before + 2;
        }));
        comm_disconnect(id);
        QVERIFY(rec.wait_kind(COMM_EV_CLOSED));
        ::close(fd);
        QCOMPARE(rec.received(), std::string(60, 'b'));

        // A timer call means a whole period without a byte: none follows a
        // data call by less than the period, however the threads were
        // scheduled (the period in which bytes came ends in no call).
        std::lock_guard<std::mutex> lock(rec.m);
        auto lastData = std::chrono::steady_clock::time_point::min();
        int quietCalls = 0;
        for (const Event& e : rec.events) {
            if (e.kind == COMM_EV_DATA)
                lastData = e.at;
            if (e.kind == COMM_EV_TIMER &&
                lastData != std::chrono::steady_clock::time_point::min()) {
                QVERIFY2(e.at - lastData >= std::chrono::milliseconds(period),
                         "a timer call came within a period of received bytes");
                ++quietCalls;
            }
        }
        QVERIFY(quietCalls >= 2);
    }

    void ioThreadNeverWaitsForALink()
    {
        // A handler writes far more than a peer that reads nothing takes:
        // the write returns at once and the rest goes out as the peer reads,
        // while other connections are served meanwhile.
        Listener stalled, other;
        Recorder a, b;
        std::string lots(32 << 20, '\0'); // more than the socket buffers hold
        for (std::size_t i = 0; i < lots.size(); ++i)
            lots[i] = static_cast<char>('a' + i % 23);
        std::atomic<int> written{1};
        a.react = [&](int id, int kind, const uint8_t*, int) {
            if (kind == COMM_EV_DATA && written == 1)
                written = comm_write(id, lots.data(), int(lots.size()), 0, 60000);
            return 0;
        };
        int ia = -1, ib = -1;
        QCOMPARE(a.connect(&ia, stalled.conn_string(), 0), 0);
        int fa = stalled.accept_one();
        QVERIFY(a.wait_kind(COMM_EV_OPENED));
        QCOMPARE(b.connect(&ib, other.conn_string(), 0), 0);
        int fb = other.accept_one();
        QVERIFY(b.wait_kind(COMM_EV_OPENED));

        write_all(fa, "go"); // the handler's write must not hold up the I/O thread
        QVERIFY(a.wait(
            [](const std::vector<Event>& ev) { return Recorder::count(ev, COMM_EV_DATA) > 0; }));
        write_all(fb, "served");
        QVERIFY(b.wait(
            [](const std::vector<Event>& ev) { return Recorder::count(ev, COMM_EV_DATA) > 0; }));
        QCOMPARE(written.load(), 0);
        // Another thread's write goes after the bytes still waiting.
        std::thread later([ia] { comm_write(ia, "END", 3, 0, 20000); });
        QCOMPARE(read_n(fa, lots.size() + 3), lots + "END");
        later.join();

        comm_disconnect(ia);
        comm_disconnect(ib);
        QVERIFY(a.wait_kind(COMM_EV_CLOSED));
        QVERIFY(b.wait_kind(COMM_EV_CLOSED));
        ::close(fa);
        ::close(fb);
    }

    void connectTimeOutRacingSuccess()
    {
        // The connect completes and the time-out expires before the I/O
        // thread gets to either: the connection is open and stays open.
        Listener peer;
        asio::io_context io;
        comm::ConnParams params;
        const std::string text = "tcp:127.0.0.1:" + std::to_string(peer.port) + ":30";
        QCOMPARE(comm::parse_conn_string(text.c_str(), params), 0);
        std::unique_ptr<comm::Link> link = comm::tcp_medium.create(io, params);
        bool done = false;
        std::error_code result = asio::error::would_block;
        link->async_open([&](std::error_code ec) {
            done = true;
            result = ec;
        });
        // Until the name is resolved and the connect is under way.
        for (int i = 0; i < 500 && io.poll_one() == 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        std::this_thread::sleep_for(std::chrono::milliseconds(120));
        io.run_for(std::chrono::milliseconds(200));
        QVERIFY(done);
        if (result)
            QSKIP("the connect did not complete before the time-out here");
        const uint8_t byte = 'x';
        QCOMPARE(link->write(&byte, 1, 1000), 0);
        int fd = peer.accept_one();
        QCOMPARE(read_n(fd, 1), std::string("x"));
        link->close();
        io.run_for(std::chrono::milliseconds(20));
        ::close(fd);
    }

    void timeoutsAndAddresses()
    {
        // A full accept queue drops new handshakes: the connect time-out ends it.
        Listener full;
        ::listen(full.fd, 0);
        std::vector<int> queued;
        for (int i = 0; i < 3; ++i) {
            int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            a.sin_port = htons(full.port);
            ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
            queued.push_back(fd);
        }
        Recorder rec;
        int id = -1;
        std::string s = "tcp:127.0.0.1:" + std::to_string(full.port) + ":300";
        QCOMPARE(rec.connect(&id, s, 200), 0);
        QVERIFY(rec.wait([](const std::vector<Event>& ev) { return !ev.empty(); }, 20000));
        if (rec.first_kind() == COMM_EV_OPENED) { // the queue took it after all
            QWARN("accept queue did not fill; connect time-out not exercised");
            comm_disconnect(id);
        }
        QVERIFY(rec.wait_kind(COMM_EV_CLOSED));
        if (rec.first_kind() != COMM_EV_OPENED)
            QCOMPARE(rec.kinds(), (std::vector<int>{COMM_EV_ERROR, COMM_EV_CLOSED}));
        for (int fd : queued)
            ::close(fd);

        // A peer that reads nothing: the write gives up at its time-out.
        Listener peer;
        Recorder rec2;
        QCOMPARE(rec2.connect(&id, ("tcp:localhost:" + std::to_string(peer.port)).c_str(), 200), 0);
        int fd = peer.accept_one();
        QVERIFY(rec2.wait_kind(COMM_EV_OPENED));
        std::string lots(64 << 20, 'w');
        QCOMPARE(comm_write(id, lots.data(), int(lots.size()), 0, 200), int(COMM_ERR_TIMEOUT));
        QCOMPARE(comm_get_state(id), int(COMM_STATE_OPEN));
        ::close(fd);
        QVERIFY(rec2.wait_kind(COMM_EV_CLOSED));

        // IPv6 loopback, where the machine has it.
        int v6 = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in6 a6{};
        a6.sin6_family = AF_INET6;
        a6.sin6_addr = in6addr_loopback;
        socklen_t len = sizeof a6;
        if (v6 < 0 || ::bind(v6, reinterpret_cast<sockaddr*>(&a6), sizeof a6) != 0) {
            if (v6 >= 0)
                ::close(v6);
            QSKIP("no IPv6 loopback here");
        }
        ::listen(v6, 1);
        ::getsockname(v6, reinterpret_cast<sockaddr*>(&a6), &len);
        Recorder rec3;
        s = "tcp:[::1]:" + std::to_string(ntohs(a6.sin6_port));
        QCOMPARE(rec3.connect(&id, s, 200), 0);
        fd = ::accept(v6, nullptr, nullptr);
        QVERIFY(rec3.wait_kind(COMM_EV_OPENED));
        write_all(fd, "six");
        QVERIFY(rec3.wait_kind(COMM_EV_DATA));
        QCOMPARE(rec3.received(), std::string("six"));
        ::close(fd);
        ::close(v6);
        QVERIFY(rec3.wait_kind(COMM_EV_CLOSED));
    }

    void endWithoutShut()
    {
        // However the process ends, the transport's threads are shut down
        // in order and every connection gets its close call.
        Listener peer;
        for (const char* how : {"return", "exit"}) {
            QProcess helper;
            helper.start(QStringLiteral(COMM_EXIT_HELPER),
                         {QString::fromStdString(peer.conn_string()), QString::fromLatin1(how)});
            QVERIFY(helper.waitForStarted());
            int fd = peer.accept_one();
            QVERIFY(helper.waitForFinished(20000));
            QCOMPARE(helper.exitStatus(), QProcess::NormalExit);
            QVERIFY2(helper.exitCode() == 0, helper.readAllStandardError().constData());
            QCOMPARE(helper.readAllStandardOutput(), QByteArray("closed\n"));
            ::close(fd);
        }
    }

    void shutClosesEverything()
    {
        Listener peer;
        Recorder a, b;
        int ia = -1, ib = -1;
        QCOMPARE(a.connect(&ia, peer.conn_string(), 200), 0);
        QCOMPARE(b.connect(&ib, "tcp:[::1]:1:300", 200), 0);
        QVERIFY(ia != ib);
        int fd = peer.accept_one();
        QVERIFY(a.wait_kind(COMM_EV_OPENED));
        QCOMPARE(comm_wait_connected(ia, 20), int(COMM_ERR_TIMEOUT));
        QCOMPARE(comm_shut(), 0); // kind 3 for both, whatever state they were in
        QCOMPARE(Recorder::count(a.events, COMM_EV_CLOSED), 1);
        QCOMPARE(Recorder::count(b.events, COMM_EV_CLOSED), 1);
        QCOMPARE(a.events.back().kind, int(COMM_EV_CLOSED));
        QCOMPARE(b.events.back().kind, int(COMM_EV_CLOSED));
        QCOMPARE(a.connect(&ia, peer.conn_string(), 200),
                 int(COMM_ERR_FAILED)); // not started
        ::close(fd);
        QCOMPARE(comm_init(), 0); // again, for cleanup
    }
};

QTEST_GUILESS_MAIN(TestCommTcp)
#include "test_comm_tcp.moc"
