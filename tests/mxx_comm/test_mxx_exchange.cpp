// The command exchange against a simulated instrument over loopback TCP.
#include "sim_link.h"

#include <QtTest>

#include <atomic>
#include <cstring>
#include <thread>

using namespace testing;

namespace detail {

std::mutex hookMutex;
std::vector<uint16_t> hookedCodes;
int catchAll(int, char*, MXX_frame* f, void*)
{
    std::lock_guard<std::mutex> lock(hookMutex);
    hookedCodes.push_back(f->code);
    return 0;
}
int firstHook(int, char*, MXX_frame* f, void*)
{
    std::lock_guard<std::mutex> lock(hookMutex);
    hookedCodes.push_back(static_cast<uint16_t>(f->code + 1));
    return 0;
}
int secondHook(int, char*, MXX_frame* f, void*)
{
    std::lock_guard<std::mutex> lock(hookMutex);
    hookedCodes.push_back(static_cast<uint16_t>(f->code + 2));
    return 0;
}
std::vector<uint16_t> hooked()
{
    std::lock_guard<std::mutex> lock(hookMutex);
    return hookedCodes;
}

int waitArgs[3] = {0, 0, 0};
int waitCallback(int conn, int a, int b)
{
    waitArgs[0] = conn;
    waitArgs[1] = a;
    waitArgs[2] = b;
    return 42;
}

sim::Bytes bytes(const char* text)
{
    return sim::Bytes(text, text + strlen(text));
}

} // namespace detail

class TestMxxExchange : public QObject
{
    Q_OBJECT

    sim::FrameServer server;
    std::shared_ptr<sim::Instrument> instrument = std::make_shared<sim::Instrument>("C0000001");
    Events events;
    int conn = -1;

    int send(uint16_t code, const void* in, int in_size, void* out, int cap, uint32_t* size,
             uint32_t* param, uint32_t* status, int wait = 1, int timeout = 1000)
    {
        return MXX_send_cmd(conn, code, in, in_size, out, cap, size, param, status, timeout, wait);
    }
    // Frames reach the instrument in order, so once an answered marker is
    // back, every earlier write has been logged.
    void sync()
    {
        instrument->set_rule(8999, sim::Rule::reply());
        QCOMPARE(send(8999, nullptr, 0, nullptr, 0, nullptr, nullptr, nullptr), 0);
    }

private slots:
    void initTestCase()
    {
        QCOMPARE(MXX_init(detail::waitCallback, noUsbChange, nullptr), 0);
        uint16_t port = server.serve_tcp(instrument);
        server.start();
        QCOMPARE(openLink(tcpString(port), events, &conn), 0);
        QCOMPARE(MXX_wait_connected(conn, 5000), 0);
        QCOMPARE(events.deviceType(), 12);
        QCOMPARE(MXX_get_conn_state_id(conn), 2);
    }

    void cleanupTestCase()
    {
        QVERIFY(closeAndWait(conn, events));
        QCOMPARE(events.seen(), (std::vector<int>{1, 3}));
        server.stop();
        QCOMPARE(MXX_shut(), 0);
        QCOMPARE(MXX_idle_wait(1, 2, 3), 0); // no callback after the shut-down
    }

    void idleWaitCallsTheCallback()
    {
        QCOMPARE(MXX_idle_wait(conn, 0xFFFF, -7), 42);
        QCOMPARE(detail::waitArgs[0], conn);
        QCOMPARE(detail::waitArgs[1], 0xFFFF);
        QCOMPARE(detail::waitArgs[2], -7);
    }

    void init()
    {
        MXX_set_cmd_num_try(conn, 1);
        instrument->clear_log();
    }

    void copiesAnswersThatFit()
    {
        uint8_t out[8];
        memset(out, 0xAA, sizeof out);
        uint32_t size = 777, param = 0, status = 9;
        // Status 0 without payload: success, the size stays unwritten.
        instrument->set_rule(8100, sim::Rule::reply({}, 0, 4321));
        QCOMPARE(send(8100, nullptr, 0, out, sizeof out, &size, &param, &status), 0);
        QCOMPARE(size, 777u);
        QCOMPARE(param, 4321u);
        QCOMPARE(status, 0u);
        QCOMPARE(out[0], uint8_t(0xAA));

        instrument->set_rule(8101, sim::Rule::reply(detail::bytes("12345678")));
        QCOMPARE(send(8101, "in", 2, out, sizeof out, &size, nullptr, nullptr), 0);
        QCOMPARE(size, 8u);
        QCOMPARE(QByteArray(reinterpret_cast<char*>(out), 8), QByteArray("12345678"));
        QCOMPARE(instrument->received().back().payload, detail::bytes("in"));
        QCOMPARE(instrument->received().back().param, uint16_t(1000));

        // Over capacity: success, nothing copied.
        memset(out, 0xAA, sizeof out);
        size = 777;
        instrument->set_rule(8102, sim::Rule::reply(detail::bytes("123456789")));
        QCOMPARE(send(8102, nullptr, 0, out, sizeof out, &size, nullptr, nullptr), 0);
        QCOMPARE(size, 777u);
        QCOMPARE(out[0], uint8_t(0xAA));

        // The largest payload a command can carry goes out whole.
        QByteArray big(MXX_MAX_CMD_PAYLOAD, 'b');
        QCOMPARE(send(8101, big.constData(), big.size(), out, sizeof out, &size, nullptr, nullptr),
                 0);
        QCOMPARE(int(instrument->received().back().payload.size()), MXX_MAX_CMD_PAYLOAD);
    }

    void reportsFailures()
    {
        uint8_t out[8];
        memset(out, 0xAA, sizeof out);
        uint32_t size = 777, status = 0, param = 0;
        instrument->set_rule(8103, sim::Rule::reply(detail::bytes("1234"), 5, 17));
        QCOMPARE(send(8103, nullptr, 0, out, sizeof out, &size, &param, &status), 1);
        QCOMPARE(status, 5u);
        QCOMPARE(param, 17u);
        QCOMPARE(size, 777u);
        QCOMPARE(out[0], uint8_t(0xAA));

        MXX_set_cmd_num_try(conn, 3);
        instrument->set_rule(8104, sim::Rule::fail(2));
        QCOMPARE(send(8104, nullptr, 0, out, sizeof out, &size, &param, &status), 1);
        QCOMPARE(status, 2u);
        // 12289 with a non-zero status is a failure and is not repeated.
        instrument->set_rule(8105, sim::Rule::reply().after_busy(100, 4));
        QCOMPARE(send(8105, nullptr, 0, nullptr, 0, nullptr, nullptr, &status), 1);
        QCOMPARE(status, 4u);
        sync();
        QCOMPARE(instrument->count(8104), size_t(1));
        QCOMPARE(instrument->count(8105), size_t(1));
    }

    void judgesTheAnswerBeforeFrame12290()
    {
        // Both came before the wait ended: the answer is taken.
        uint8_t answer[16], failed[13], repeat[13];
        int n = MXX_make_command(answer, 9100, reinterpret_cast<const uint8_t*>("ok"), 2, 0);
        MXX_make_command(failed, MXX_CODE_FAILED, nullptr, 0, 0);
        MXX_make_command(repeat, MXX_CODE_REPEAT, nullptr, 0, 0);
        char out[4] = {};
        uint32_t size = 0, kind = 9;
        QCOMPARE(MXX_test_response(conn, answer, n, failed, 13, repeat, 13, out, 4, &size, nullptr,
                                   nullptr, &kind),
                 0);
        QCOMPARE(kind, 1u);
        QCOMPARE(QByteArray(out, int(size)), QByteArray("ok"));
        QCOMPARE(MXX_test_response(conn, nullptr, 0, failed, 13, repeat, 13, out, 4, &size, nullptr,
                                   nullptr, &kind),
                 1);
        QCOMPARE(kind, 2u);
        QCOMPARE(MXX_test_response(conn, nullptr, 0, nullptr, 0, nullptr, 0, out, 4, &size, nullptr,
                                   nullptr, &kind),
                 255);
        QCOMPARE(kind, 0u);
    }

    void timesOutAfterOneWrite()
    {
        MXX_set_cmd_num_try(conn, 3);
        uint32_t status = 99, param = 99;
        instrument->set_rule(8110, sim::Rule::silence());
        QCOMPARE(send(8110, nullptr, 0, nullptr, 0, nullptr, &param, &status, 1, 200), 255);
        QCOMPARE(status, 99u);
        QCOMPARE(param, 99u);
        sync();
        QCOMPARE(instrument->count(8110), size_t(1));
    }

    void repeatsOnFrame12289()
    {
        MXX_set_cmd_num_try(conn, 3);
        instrument->set_rule(8111, sim::Rule::reply().after_busy(100));
        uint32_t size = 777;
        char out[4];
        // Still asking for a repeat after the last attempt: the command was
        // never carried out, so the exchange fails and copies nothing.
        QCOMPARE(send(8111, nullptr, 0, out, 4, &size, nullptr, nullptr), 1);
        QCOMPARE(size, 777u);
        sync();
        QCOMPARE(instrument->count(8111), size_t(3));
        // An attempt count of 0 still writes the command once.
        MXX_set_cmd_num_try(conn, 0);
        instrument->set_rule(8114, sim::Rule::reply(detail::bytes("one")));
        QCOMPARE(send(8114, nullptr, 0, out, 4, &size, nullptr, nullptr), 0);
        QCOMPARE(QByteArray(out, int(size)), QByteArray("one"));
        MXX_set_cmd_num_try(conn, 3);
        // Busy twice, then the answer on the third write.
        instrument->set_rule(8112, sim::Rule::reply(detail::bytes("abc")).after_busy(2));
        QCOMPARE(send(8112, nullptr, 0, out, 4, &size, nullptr, nullptr), 0);
        QCOMPARE(QByteArray(out, int(size)), QByteArray("abc"));
        sync();
        QCOMPARE(instrument->count(8112), size_t(3));
    }

    // An answer known bad on arrival is asked for again at once, a few
    // times, instead of waiting out the time-out; silence still waits.
    void asksAgainAtOnceForADamagedAnswer()
    {
        char out[8];
        uint32_t size = 0;
        instrument->set_rule(8140, sim::Rule::reply(detail::bytes("good")).damaged_first(2));
        QCOMPARE(send(8140, nullptr, 0, out, sizeof out, &size, nullptr, nullptr, 1, 10000), 0);
        QCOMPARE(QByteArray(out, int(size)), QByteArray("good"));
        instrument->set_rule(8141, sim::Rule::reply(detail::bytes("never")).damaged_first(100));
        size = 0;
        QCOMPARE(send(8141, nullptr, 0, out, sizeof out, &size, nullptr, nullptr, 1, 10000), 255);
        QCOMPARE(size, 0u);
        sync();
        QCOMPARE(instrument->count(8140), size_t(3));
        QCOMPARE(instrument->count(8141), size_t(1 + MXX_DAMAGED_REPEATS));
    }

    // Two threads sending the same command on one connection, with events
    // in between: each takes its turn and gets its own answer, never the
    // other's, and never waits out a time-out for one the other took.
    void exchangesOnOneConnectionTakeTurns()
    {
        sim::Frame event;
        event.code = 10003;
        event.payload = detail::bytes("event");
        instrument->set_rule(8150, sim::Rule::compute([](const sim::Frame& request) {
                                        return sim::Answer{request.payload};
                                    }).preceded_by(event));
        const int rounds = 2000;
        std::atomic<int> wrong{0}, failed{0};
        auto sender = [&](char who) {
            for (int i = 0; i < rounds; ++i) {
                const QByteArray mine = who + QByteArray::number(i);
                char out[16] = {};
                uint32_t size = 0;
                const int result = MXX_send_cmd(conn, 8150, mine.constData(), mine.size(), out,
                                                sizeof out, &size, nullptr, nullptr, 2000, 1);
                if (result != 0)
                    ++failed;
                else if (QByteArray(out, int(size)) != mine)
                    ++wrong;
            }
        };
        std::thread other(sender, 'b');
        sender('a');
        other.join();
        QCOMPARE(wrong.load(), 0);
        QCOMPARE(failed.load(), 0);
        sync();
        QCOMPARE(instrument->count(8150), size_t(2 * rounds));
    }

    void writesOnlyWithoutWait()
    {
        MXX_set_cmd_num_try(conn, 3);
        instrument->set_rule(8113, sim::Rule::reply(detail::bytes("late")).after_busy(1));
        QCOMPARE(send(8113, nullptr, 0, nullptr, 0, nullptr, nullptr, nullptr, 0), 0);
        QVERIFY(instrument->wait_for(8113, 1, std::chrono::seconds(5)));
        // Nothing was armed, so neither the 12289 nor the answer is held.
        int a = -1, b = -1, c = -1;
        QVERIFY(comm_wait_response(conn, &a, &b, &c, 300) != 0);
        QCOMPARE(a + b + c, 0);
        sync();
        QCOMPARE(instrument->count(8113), size_t(1));
        // A write failure comes back unchanged.
        QCOMPARE(
            MXX_send_cmd(1 << 30, 8113, nullptr, 0, nullptr, 0, nullptr, nullptr, nullptr, 100, 0),
            comm_write(1 << 30, "x", 1, 0, 100));
    }

    void passesFramesToHooksAndTheWaiter()
    {
        QCOMPARE(MXX_hook_async_event(conn, 10002, detail::firstHook), 0);
        QCOMPARE(MXX_hook_async_event(conn, 10002, detail::secondHook), 0);
        QCOMPARE(MXX_hook_async_event(conn, MXX_HOOK_CATCH_ALL, detail::catchAll), 0);
        QCOMPARE(MXX_hook_async_event(1 << 30, 10002, detail::firstHook), 0); // no such link
        sim::Frame event;
        event.code = 10002;
        instrument->set_rule(8120, sim::Rule::reply(detail::bytes("xy")).preceded_by(event));
        char out[4];
        uint32_t size = 0;
        QCOMPARE(send(8120, nullptr, 0, out, 4, &size, nullptr, nullptr), 0);
        QCOMPARE(size, 2u);
        // The event went to the first hook only, the answer to the catch-all
        // as well as to the exchange.
        QCOMPARE(detail::hooked(), (std::vector<uint16_t>{10003, 9120}));
    }

    void survivesAwkwardDeliveries()
    {
        instrument->set_rule(8130, sim::Rule::reply(sim::Bytes(8178, 0x42)));
        std::vector<uint8_t> out(8178);
        for (sim::Delivery d : {sim::Delivery{1, {}, false}, sim::Delivery{7, {'B', 'B'}, true},
                                sim::Delivery{0, {'x', 0, 'N', 'B', 'B'}, false}}) {
            instrument->set_delivery(d);
            uint32_t size = 0;
            QCOMPARE(send(8130, nullptr, 0, out.data(), int(out.size()), &size, nullptr, nullptr, 1,
                          5000),
                     0);
            QCOMPARE(size, 8178u);
            QCOMPARE(out.back(), uint8_t(0x42));
        }
        instrument->set_delivery({});
    }
};

QTEST_GUILESS_MAIN(TestMxxExchange)
#include "test_mxx_exchange.moc"
