// The response hand-over from the receive path (I/O thread) to a waiting
// exchange (this thread), over a real loopback connection.
#include "comm_test_util.h"

#include <QtTest>

namespace {

// Frames on the wire here are just a two-byte code and a body; the handler
// hands each delivery over as one frame, as the command layer's parser would.
std::string frame(uint16_t code, const std::string& body)
{
    std::string s(2, '\0');
    s[0] = static_cast<char>(code & 0xFF);
    s[1] = static_cast<char>(code >> 8);
    return s + body;
}

int filling_handler(int id, int kind, const uint8_t* data, int length, void* record)
{
    if (kind == COMM_EV_DATA && length >= 2)
        comm_fill_rsp_buff(id, static_cast<uint16_t>(data[0] | data[1] << 8), data, length);
    return Recorder::handler(id, kind, data, length, record);
}

} // namespace

class TestCommResponse : public QObject
{
    Q_OBJECT

    Listener peer;
    Recorder rec;
    int id = -1;
    int fd = -1;

    // Sends one frame and waits until the handler has handed it over.
    void deliver(const std::string& f)
    {
        std::size_t n;
        {
            std::lock_guard<std::mutex> lock(rec.m);
            n = rec.events.size();
        }
        write_all(fd, f);
        QVERIFY(rec.wait([n](const std::vector<Event>& ev) { return ev.size() > n; }));
    }

private slots:
    void init()
    {
        QCOMPARE(comm_init(), 0);
        QCOMPARE(rec.connect(&id, peer.conn_string(), 0, filling_handler), 0);
        fd = peer.accept_one();
        QVERIFY(rec.wait_kind(COMM_EV_OPENED));
    }
    void cleanup()
    {
        comm_shut();
        ::close(fd);
        rec.events.clear();
    }

    void wakesOnArmedFrame()
    {
        char answer[64] = {}, e12290[16] = {}, e12289[16] = {};
        QCOMPARE(comm_hook_response(id, 1007, answer, sizeof answer, 12290, e12290, sizeof e12290,
                                    12289, e12289, sizeof e12289),
                 0);
        // The peer answers only after the waiter sits in the wait.
        std::thread answerer([this] {
            QTest::qSleep(30);
            write_all(fd, frame(1007, "hello"));
        });
        int l1 = -1, l2 = -1, l3 = -1;
        QCOMPARE(comm_wait_response(id, &l1, &l2, &l3, 10000), 0);
        answerer.join();
        QCOMPARE(l1, 7);
        QCOMPARE(l2, 0);
        QCOMPARE(l3, 0);
        QCOMPARE(std::string(answer, 7), frame(1007, "hello"));
        // Consumed: the next wait has nothing.
        QCOMPARE(comm_wait_response(id, &l1, &l2, &l3, 20), int(COMM_ERR_TIMEOUT));
        QCOMPARE(l1 + l2 + l3, 0);

        // Unarmed codes are ignored; an armed one stored before the wait is kept.
        deliver(frame(5555, "event"));
        deliver(frame(12290, "x"));
        QCOMPARE(comm_wait_response(id, &l1, &l2, &l3, 0), 0);
        QCOMPARE(l1, 0);
        QCOMPARE(l2, 3);
        QCOMPARE(l3, 0);
        QCOMPARE(comm_unhook_response(id), 0);
    }

    void capacityAndRetry()
    {
        char answer[8], e12290[8], e12289[8];
        std::memset(answer, '#', sizeof answer);
        QCOMPARE(comm_hook_response(id, 1007, answer, sizeof answer, 12290, e12290, sizeof e12290,
                                    12289, e12289, sizeof e12289),
                 0);
        deliver(frame(1007, "toolong")); // 9 bytes into 8: not taken
        int l1, l2, l3;
        QCOMPARE(comm_wait_response(id, &l1, &l2, &l3, 20), int(COMM_ERR_TIMEOUT));
        QCOMPARE(l1, 0);
        QCOMPARE(std::string(answer, 8), std::string(8, '#'));

        // Frame 12289 first, then after a new write the answer: each wait sees its own.
        deliver(frame(12289, "r"));
        QCOMPARE(comm_wait_response(id, &l1, &l2, &l3, 10000), 0);
        QCOMPARE(l3, 3);
        QCOMPARE(comm_write(id, "again", 5, 0, 1000), 0);
        QCOMPARE(read_n(fd, 5), std::string("again"));
        write_all(fd, frame(1007, "ok"));
        QCOMPARE(comm_wait_response(id, &l1, &l2, &l3, 10000), 0);
        QCOMPARE(l1, 4);
        QCOMPARE(l3, 0);
        QCOMPARE(std::string(answer, 4), frame(1007, "ok"));

        // While the caller reads what the wait gave, a late frame of that code does not
        // overwrite it.
        deliver(frame(1007, "XY"));
        QCOMPARE(std::string(answer, 4), frame(1007, "ok"));

        // Disarmed: nothing is written into the caller's buffers any more.
        QCOMPARE(comm_unhook_response(id), 0);
        deliver(frame(1007, "zz"));
        QCOMPARE(std::string(answer, 4), frame(1007, "ok"));
        QCOMPARE(comm_wait_response(id, &l1, &l2, &l3, 20), int(COMM_ERR_TIMEOUT));
        QCOMPARE(comm_fill_rsp_buff(9999, 1007, "ab", 2), int(COMM_ERR_NO_CONN));
        QCOMPARE(comm_wait_response(9999, &l1, &l2, &l3, 0), int(COMM_ERR_NO_CONN));
    }

    void closeEndsTheWait()
    {
        char answer[8];
        QCOMPARE(comm_hook_response(id, 1007, answer, sizeof answer, 0, nullptr, 0, 0, nullptr, 0),
                 0);
        std::thread hangup([this] {
            QTest::qSleep(30);
            ::shutdown(fd, SHUT_RDWR);
        });
        int l1, l2, l3;
        QCOMPARE(comm_wait_response(id, &l1, &l2, &l3, 30000), int(COMM_ERR_NO_CONN));
        hangup.join();
        QVERIFY(rec.wait_kind(COMM_EV_CLOSED));
    }
};

QTEST_GUILESS_MAIN(TestCommResponse)
#include "test_comm_response.moc"
