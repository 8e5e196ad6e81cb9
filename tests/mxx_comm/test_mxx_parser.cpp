// The receive path on hand-made bytes: framing, checks, dispatch order, hooks,
// discovery answers, identification and the connection handler's kinds.
#include "frames.h"

#include <mdd_comm.h>
#include <mxx_families.h>

#include <QtTest>

#include <cstring>

using namespace testing;

namespace detail {

std::vector<int> probeCalls;
int probeResult = 0;
template <int I> int indexedProbe(int, int attempt)
{
    probeCalls.push_back(I * 100 + attempt);
    return probeResult;
}
int recordingProbe(int, int attempt)
{
    probeCalls.push_back(attempt);
    return probeResult;
}

int connectedCalls = 0;
int connectedType = -1;
void onConnected(int, char*, int type, void*)
{
    ++connectedCalls;
    connectedType = type;
}

int disconnectedCalls = 0;
void onDisconnected(int, char*, void*)
{
    ++disconnectedCalls;
}

int firstHandlerCalls = 0;
int secondHandlerCalls = 0;
int firstHandler(int, char*, MXX_frame*, void*)
{
    return ++firstHandlerCalls;
}
int secondHandler(int, char*, MXX_frame*, void*)
{
    return ++secondHandlerCalls;
}

// The receive algorithm one byte at a time, as the bulk parser must behave.
struct BytewiseParser
{
    std::vector<uint8_t> buf = std::vector<uint8_t>(MXX_RX_BUFFER_SIZE);
    int pos = 0, expected = 0, count = 0;
    std::vector<std::pair<uint16_t, QByteArray>> frames;

    void done()
    {
        uint8_t x = 0;
        for (int i = 12; i < pos; ++i)
            x ^= buf[i];
        if (x == 0)
            frames.emplace_back(
                uint16_t(buf[4] | buf[5] << 8),
                QByteArray(reinterpret_cast<char*>(&buf[12]), expected > 0 ? expected - 1 : 0));
        pos = 0;
    }
    void byte(uint8_t b)
    {
        if (pos >= 12) {
            buf[pos++] = b;
            if (++count == expected)
                done();
            return;
        }
        if (pos == 0 && b != 'B')
            return;
        if (pos > 0 && pos < 4 && b != "BRNO"[pos]) {
            pos = 0;
            return;
        }
        if (pos == 0)
            expected = 0;
        buf[pos++] = b;
        if (pos < 12)
            return;
        uint8_t x = 0;
        for (int i = 0; i < 12; ++i)
            x ^= buf[i];
        int length = buf[6] | buf[7] << 8;
        if (x != 0 || length > MXX_RX_BUFFER_SIZE - 12) {
            pos = 0;
            return;
        }
        expected = length;
        count = 0;
        if (length == 0)
            done();
    }
};

MXX_message_list list()
{
    MXX_message_list l;
    MXX_broadcast_list(&l);
    return l;
}

} // namespace detail

class TestMxxParser : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QCOMPARE(comm_init(), 0); }
    void cleanupTestCase() { comm_shut(); }

    void makesCommands()
    {
        uint8_t f[32];
        QCOMPARE(MXX_make_command(f, 8007, nullptr, 0, 100), 13);
        QCOMPARE(QByteArray(reinterpret_cast<char*>(f), 13).toHex(' '),
                 QByteArray("42 52 4e 4f 47 1f 01 00 64 00 00 2c 00"));
        const uint8_t payload[] = {4, 3, 2, 1};
        QCOMPARE(MXX_make_command(f, 8105, payload, 4, 1000), 17);
        QCOMPARE(QByteArray(reinterpret_cast<char*>(f), 17).toHex(' '),
                 QByteArray("42 52 4e 4f a9 1f 05 00 e8 03 00 49 04 03 02 01 04"));
    }

    void cutsFramesWhateverTheDeliveries()
    {
        // A start mark inside a payload must not confuse the framing.
        QByteArray stream = frame(10002, "BRNO inside") + frame(9007, "C1234567", 7, 0) +
                            frame(10005, QByteArray(3000, 'x'));
        for (int chunk : {0, 1, 5, 12, 13, 4096}) {
            Capture c;
            Record r = captureRecord(c);
            feed(r.get(), stream, chunk);
            QCOMPARE(c.codes(), (std::vector<uint16_t>{10002, 9007, 10005}));
            QCOMPARE(c.frames[0].payload, QByteArray("BRNO inside"));
            QCOMPARE(c.frames[1].param, uint16_t(7));
            QCOMPARE(c.frames[2].payload.size(), 3000);
            QCOMPARE(r->rx_pos, 0);
        }
    }

    void behavesAsTheBytewiseAlgorithm()
    {
        QRandomGenerator rng(20261208);
        for (int round = 0; round < 40; ++round) {
            QByteArray stream;
            for (int piece = 0; piece < 60; ++piece) {
                QByteArray payload;
                int size = rng.bounded(rng.bounded(4) == 0 ? 2000 : 40);
                for (int i = 0; i < size; ++i)
                    payload.append(char("BRNOx\0"[rng.bounded(6)]));
                QByteArray f = frame(uint16_t(10000 + rng.bounded(20)), payload);
                switch (rng.bounded(8)) {
                case 0: // stray bytes that look like start marks
                    for (int i = rng.bounded(6); i > 0; --i)
                        stream.append("BRNO"[rng.bounded(4)]);
                    break;
                case 1:
                    f[rng.bounded(12)] = char(rng.bounded(256));
                    break;
                case 2: {
                    int k = 12 + rng.bounded(f.size() - 12);
                    f[k] = char(f[k] ^ char(1 + rng.bounded(255)));
                    break;
                } break;
                case 3:
                    f = frame(10000, {}, 0, 0, rng.bounded(3) ? 0 : 1);
                    break;
                case 4:
                    f.truncate(rng.bounded(f.size()));
                    break;
                case 5: // a hidden frame in a payload
                    f = frame(10001, "BRN" + f);
                    break;
                }
                stream += f;
            }
            detail::BytewiseParser reference;
            for (char b : stream)
                reference.byte(uint8_t(b));
            Capture c;
            Record r = captureRecord(c);
            for (int i = 0; i < stream.size();) {
                int n = qMin(stream.size() - i, 1 + rng.bounded(rng.bounded(2) ? 16 : 3000));
                MXX_event_proc(kNoConn, COMM_EV_DATA,
                               reinterpret_cast<const uint8_t*>(stream.constData()) + i, n,
                               r.get());
                i += n;
            }
            QCOMPARE(c.frames.size(), reference.frames.size());
            for (size_t i = 0; i < c.frames.size(); ++i) {
                QCOMPARE(c.frames[i].code, reference.frames[i].first);
                QCOMPARE(c.frames[i].payload, reference.frames[i].second);
            }
            QCOMPARE(r->rx_pos, reference.pos);
        }
    }

    void skipsStrayBytesAndLosesTheDoubledB()
    {
        const QByteArray good = frame(10002, "abc");
        struct Case
        {
            QByteArray prefix;
            int frames;
        } cases[] = {
            {QByteArray("xyz\0q", 5), 2},
            {"BR" + QByteArray("X"), 2}, // mismatch drops the X, the frame's B starts afresh
            {"B", 1},                    // 'B','B','R','N','O': the second B is dropped
            {"BRN", 1},                  // the frame's B does not fit at position 3
            {QByteArray(11, 'B'), 1},
        };
        for (const Case& k : cases) {
            for (int chunk : {0, 1}) {
                Capture c;
                Record r = captureRecord(c);
                feed(r.get(), k.prefix + good + good, chunk);
                QCOMPARE(int(c.frames.size()), k.frames);
            }
        }
    }

    void dropsFramesFailingAChecks()
    {
        const QByteArray next = frame(10005, "next");
        QByteArray badHeader = frame(10002, "abc");
        badHeader[11] = char(badHeader[11] ^ 1);
        QByteArray badPayload = frame(10002, "abc");
        badPayload[badPayload.size() - 1] = char(badPayload[badPayload.size() - 1] ^ 1);
        // After a failed header the bytes that follow are searched for a start
        // mark, so a frame carried in that payload is found; a failed payload
        // check consumes its whole payload.
        QByteArray hiddenInBadHeader = frame(10002, next);
        hiddenInBadHeader[11] = char(hiddenInBadHeader[11] ^ 1);
        QByteArray hiddenInBadPayload = frame(10002, next);
        hiddenInBadPayload[hiddenInBadPayload.size() - 1] = 0x55;
        for (int chunk : {0, 1, 7}) {
            Capture c;
            Record r = captureRecord(c);
            feed(r.get(), badHeader + next + badPayload + next, chunk);
            QCOMPARE(c.codes(), (std::vector<uint16_t>{10005, 10005}));
            Capture c2;
            Record r2 = captureRecord(c2);
            feed(r2.get(), hiddenInBadHeader + hiddenInBadPayload, chunk);
            QCOMPARE(c2.codes(), (std::vector<uint16_t>{10005}));
        }
    }

    void completesAtTheLengthField()
    {
        Capture c;
        Record r = captureRecord(c);
        // Length field 0: complete with its header, no check byte follows.
        QByteArray bare = frame(10007, {}, 0, 0, 0);
        QCOMPARE(bare.size(), 12);
        feed(r.get(), bare);
        QCOMPARE(c.codes(), (std::vector<uint16_t>{10007}));
        QCOMPARE(c.frames[0].length, uint16_t(0));
        // Length field 1: complete right after its check byte, which must be 0.
        QByteArray empty = frame(10008);
        feed(r.get(), empty.left(12));
        QCOMPARE(int(c.frames.size()), 1);
        feed(r.get(), empty.mid(12));
        QCOMPARE(c.codes(), (std::vector<uint16_t>{10007, 10008}));
        QByteArray badCheck = empty;
        badCheck[12] = 1;
        feed(r.get(), badCheck + bare, 1);
        QCOMPARE(c.codes(), (std::vector<uint16_t>{10007, 10008, 10007}));
    }

    void dropsLengthFieldsBeyondTheBuffer()
    {
        Capture c;
        Record r = captureRecord(c);
        // The largest frame that fits: length field 65524, 65536 bytes.
        QByteArray largest = frame(10009, QByteArray(65523, 'p'));
        QCOMPARE(largest.size(), MXX_RX_BUFFER_SIZE);
        feed(r.get(), largest);
        QCOMPARE(c.codes(), (std::vector<uint16_t>{10009}));
        QCOMPARE(c.frames[0].payload.size(), 65523);
        // One byte more cannot be held: the header is dropped and the parser
        // looks for the next start mark, finding the frame in its payload.
        QByteArray tooLong = frame(10010, frame(10011, "inner") + QByteArray(65510, 'q'));
        QCOMPARE(tooLong.size(), 65541); // length field 65529
        for (int chunk : {0, 1000}) {
            c.frames.clear();
            feed(r.get(), tooLong + frame(10012), chunk);
            QCOMPARE(c.codes(), (std::vector<uint16_t>{10011, 10012}));
        }
        QByteArray maxField = frame(10010, {}, 0, 0, 0xFFFF);
        c.frames.clear();
        feed(r.get(), maxField + frame(10012));
        QCOMPARE(c.codes(), (std::vector<uint16_t>{10012}));
    }

    void runsTheFirstMatchingHook()
    {
        using namespace detail;
        Capture c;
        Record r(new MXX_conn_record());
        r->user = &c;
        QCOMPARE(MXX_record_hook(r.get(), 10002, firstHandler), 0);
        QCOMPARE(MXX_record_hook(r.get(), 10002, secondHandler), 0);
        QCOMPARE(MXX_record_hook(r.get(), 10002, firstHandler), 0); // already there
        QCOMPARE(r->hook_count, 2);
        firstHandlerCalls = secondHandlerCalls = 0;
        feed(r.get(), frame(10002) + frame(10003));
        QCOMPARE(firstHandlerCalls, 1);
        QCOMPARE(secondHandlerCalls, 0);
        // The catch-all takes what no slot takes, and only that.
        QCOMPARE(MXX_record_hook(r.get(), MXX_HOOK_CATCH_ALL, secondHandler), 0);
        QCOMPARE(MXX_record_hook(r.get(), MXX_HOOK_CATCH_ALL, Capture::hook), 0); // replaces
        QCOMPARE(r->hook_count, 2);
        feed(r.get(), frame(10002) + frame(10003) + frame(0xFFFF));
        QCOMPARE(firstHandlerCalls, 2);
        QCOMPARE(secondHandlerCalls, 0);
        QCOMPARE(c.codes(), (std::vector<uint16_t>{10003, 0xFFFF}));
    }

    void fillsTheHookTable()
    {
        using namespace detail;
        Record r(new MXX_conn_record());
        for (int i = 0; i < MXX_HOOK_SLOTS - 1; ++i)
            QCOMPARE(MXX_record_hook(r.get(), uint16_t(20000 + i), firstHandler), 0);
        QCOMPARE(MXX_record_hook(r.get(), MXX_HOOK_CATCH_ALL, secondHandler), 0);
        QCOMPARE(MXX_record_hook(r.get(), 30000, firstHandler), -1); // 254 and a catch-all
        QCOMPARE(MXX_record_hook(r.get(), 20000, firstHandler), 0);  // already there
        QCOMPARE(MXX_record_hook(r.get(), MXX_HOOK_CATCH_ALL, secondHandler), 0);

        Record full(new MXX_conn_record());
        for (int i = 0; i < MXX_HOOK_SLOTS; ++i)
            QCOMPARE(MXX_record_hook(full.get(), uint16_t(20000 + i), firstHandler), 0);
        QCOMPARE(MXX_record_hook(full.get(), 30000, firstHandler), -1);
        QCOMPARE(MXX_record_hook(full.get(), MXX_HOOK_CATCH_ALL, secondHandler), -1);
        // The last slot holds an ordinary hook now, not a catch-all.
        firstHandlerCalls = secondHandlerCalls = 0;
        feed(full.get(), frame(20000 + MXX_HOOK_SLOTS - 1) + frame(30000));
        QCOMPARE(firstHandlerCalls, 1);
        QCOMPARE(secondHandlerCalls, 0);
    }

    void recordsDiscoveryAnswers()
    {
        using namespace detail;
        Capture c;
        Record r = captureRecord(c);
        MXX_net_broadcast_reset_list();
        auto datagram = [](const QByteArray& bytes) {
            return MXX_broadcast_event_proc(reinterpret_cast<const uint8_t*>(bytes.constData()),
                                            bytes.size());
        };
        // Two answers in one datagram, then the first identity again.
        QCOMPARE(datagram(frame(8600, discoveryPayload("C0000001", "127.0.0.2", "::2")) +
                          frame(8600, discoveryPayload("C0000002", "127.0.0.3"))),
                 0);
        QCOMPARE(datagram(frame(8600, discoveryPayload("C0000001", "127.0.0.9"))), 0);
        MXX_message_list l = list();
        QCOMPARE(l.count, 2);
        QCOMPARE(QByteArray(l.entries[0].id), QByteArray("C0000001"));
        QCOMPARE(QByteArray(l.entries[0].ipv4), QByteArray("127.0.0.2"));
        QCOMPARE(QByteArray(l.entries[0].ipv6), QByteArray("::2"));
        QCOMPARE(QByteArray(l.entries[1].ipv4), QByteArray("127.0.0.3"));

        // Twenty distinct answers fill the list; the 21st is dropped.
        for (int i = 3; i <= 21; ++i)
            datagram(frame(8600, discoveryPayload("D" + QByteArray::number(i))));
        l = list();
        QCOMPARE(l.count, MXX_MESSAGE_LIST_ENTRIES);
        QCOMPARE(QByteArray(l.entries[19].id), QByteArray("D20"));
        for (const auto& e : l.entries)
            QVERIFY(QByteArray(e.id) != "D21");

        // Texts stay terminated and bytes past a short payload count as absent.
        MXX_net_broadcast_reset_list();
        datagram(frame(8600, QByteArray("ABCDEFGHIJKLMNOP")) +
                 frame(8600, QByteArray("0123456789").append(QByteArray(16, '7'))));
        l = list();
        QCOMPARE(l.count, 2);
        QCOMPARE(QByteArray(l.entries[0].id), QByteArray("ABCDEFGHI"));
        QCOMPARE(QByteArray(l.entries[0].ipv4), QByteArray("KLMNOP"));
        QCOMPARE(QByteArray(l.entries[0].ipv6), QByteArray());
        QCOMPARE(QByteArray(l.entries[1].ipv4), QByteArray(15, '7'));

        // A discovery answer on a connection ends at the list: no hook sees it.
        feed(r.get(), frame(8600, discoveryPayload("E1")) + frame(8601));
        QCOMPARE(c.codes(), (std::vector<uint16_t>{8601}));
        QCOMPARE(list().count, 3);
        QCOMPARE(MXX_broadcast_event(9007, nullptr), 1);
        QCOMPARE(MXX_net_broadcast_reset_list(), 0);
        QCOMPARE(list().count, 0);
    }

    void identifiesOnceThenPassesFramesOn()
    {
        using namespace detail;
        Capture c;
        Record r = captureRecord(c);
        r->test = MDD_test_probe;
        r->connected = onConnected;
        connectedCalls = 0;
        feed(r.get(), frame(10002) + frame(9007, "C1234567") + frame(9007, "Z1234567"));
        QCOMPARE(connectedCalls, 1);
        QCOMPARE(connectedType, 12);
        QCOMPARE(r->identified, 1);
        QCOMPARE(r->device_type, 12);
        QCOMPARE(c.codes(), (std::vector<uint16_t>{10002, 9007, 9007}));
    }

    void identifiesFamilies()
    {
        struct Case
        {
            uint16_t code;
            QByteArray payload;
            int length_field;
            int type;
        } cases[] = {
            {9007, "C0000001", -1, 12},
            {9007, "Z0000001", -1, 3},
            {9007, "20000001", -1, 4},
            {9007, "50000001", -1, 5},
            {9007, "60000001", -1, 6},
            {9007, "70000001", -1, 8},
            {9007, "80000001", -1, 9},
            {9007, "A0000001", -1, 10},
            {9007, "B0000001", -1, 11},
            {9007, "D0000001", -1, 13},
            {9007, "E0000001", -1, 14},
            {9007, "F0000001", -1, 15},
            {9007, "G0000001", -1, 16},
            {9007, "ZN-714KA1", -1, 72},
            {9007, "ZN-714K", -1, 3},
            {9007, "", -1, 3},
            {9007, "", 0, 3},
            {2109, "", -1, 1},
            {2001, "x", -1, 2},
            {9008, "C0000001", -1, 0},
            {48788, QByteArray("\1\0\0\0", 4), -1, 0},
        };
        for (const Case& k : cases) {
            QByteArray bytes = frame(k.code, k.payload, 0, 0, k.length_field);
            bytes.resize(MXX_RX_BUFFER_SIZE);
            auto* f = reinterpret_cast<MXX_frame*>(bytes.data());
            int type = -1;
            QCOMPARE(MDD_test_probe(kNoConn, f, &type, 0), k.type ? 1 : 0);
            QCOMPARE(type, k.type);
        }
        // MVD is found by its own test alone: 48788, length field 5, word 1.
        struct Mvd
        {
            QByteArray payload;
            int length_field;
            int accepted;
        } mvd[] = {{QByteArray("\1\0\0\0", 4), -1, 1},
                   {QByteArray("\2\0\0\0", 4), -1, 0},
                   {QByteArray("\1\0\0\0\0", 5), -1, 0}};
        for (const Mvd& k : mvd) {
            QByteArray bytes = frame(48788, k.payload, 0, 0, k.length_field);
            bytes.resize(MXX_RX_BUFFER_SIZE);
            int type = -1;
            QCOMPARE(MVD_test_probe(kNoConn, reinterpret_cast<MXX_frame*>(bytes.data()), &type, 0),
                     k.accepted);
            QCOMPARE(type, 255);
        }
        QCOMPARE(MXX_families[0].type_id, 72);
        QCOMPARE(QByteArray(MXX_families[MXX_family_count - 1].name), QByteArray("MVD"));
    }

    void spreadsProbesOverTheCycle()
    {
        using namespace detail;
        probeResult = 0;
        const MXX_probe_fn probes[] = {indexedProbe<0>, indexedProbe<1>, indexedProbe<2>,
                                       indexedProbe<3>, indexedProbe<4>, indexedProbe<5>};
        struct Case
        {
            int count;
            std::vector<int> entries; // entry used at attempts 0 to 7, -1 for none
        } cases[] = {
            {3, {0, 0, 1, 1, 2, 2, 0, 0}}, {1, {0, 0, 0, 0, 0, 0, 0, 0}},
            {2, {0, 0, 0, 1, 1, 1, 0, 0}}, {4, {0, 1, 2, 3, -1, -1, 0, 1}},
            {6, {0, 1, 2, 3, 4, 5, 0, 1}},
        };
        for (const Case& k : cases) {
            std::vector<int> used;
            for (int attempt = 0; attempt < 8; ++attempt) {
                probeCalls.clear();
                QCOMPARE(MDD_probe_list(kNoConn, attempt, probes, k.count), 0);
                used.push_back(probeCalls.empty() ? -1 : probeCalls[0] / 100);
                if (!probeCalls.empty())
                    QCOMPARE(probeCalls[0] % 100, attempt);
            }
            QCOMPARE(used, k.entries);
        }
    }

    void handlesEveryKind()
    {
        using namespace detail;
        Capture c;
        MXX_conn_record* r = new MXX_conn_record();
        r->user = &c;
        r->probe = recordingProbe;
        r->disconnected = onDisconnected;
        MXX_record_hook(r, MXX_HOOK_CATCH_ALL, Capture::hook);
        probeCalls.clear();
        probeResult = 0;
        QCOMPARE(MXX_event_proc(kNoConn, COMM_EV_OPENED, nullptr, 0, r), 0);
        for (int i = 0; i < 6; ++i)
            QCOMPARE(MXX_event_proc(kNoConn, COMM_EV_TIMER, nullptr, 0, r), 0);
        QCOMPARE(probeCalls, (std::vector<int>{0, 0, 1, 2, 3, 4, 5}));
        QCOMPARE(MXX_event_proc(kNoConn, COMM_EV_TIMER, nullptr, 0, r), -1); // gives up
        QCOMPARE(int(probeCalls.size()), 7);
        for (int kind : {0, 4, 7, 0x100})
            QCOMPARE(MXX_event_proc(kNoConn, kind, nullptr, 0, r), 0);

        // Once identified a timer call drops a partial frame.
        r->identified = 1;
        QByteArray f = frame(10002, "abcdef");
        feed(r, f.left(9));
        QCOMPARE(MXX_event_proc(kNoConn, COMM_EV_TIMER, nullptr, 0, r), 0);
        feed(r, f.mid(9) + f);
        QCOMPARE(c.codes(), (std::vector<uint16_t>{10002}));
        // The high bits of the kind are not looked at.
        const auto* p = reinterpret_cast<const uint8_t*>(f.constData());
        MXX_event_proc(kNoConn, 0x300 | COMM_EV_DATA, p, f.size(), r);
        QCOMPARE(int(c.frames.size()), 2);

        disconnectedCalls = 0;
        QCOMPARE(MXX_event_proc(kNoConn, COMM_EV_CLOSED, nullptr, 0, r), 0); // releases r
        QCOMPARE(disconnectedCalls, 1);

        // A failing probe ends the connection at kind 1 and at a timer call.
        Record failing(new MXX_conn_record());
        failing->probe = recordingProbe;
        probeResult = 3;
        QCOMPARE(MXX_event_proc(kNoConn, COMM_EV_OPENED, nullptr, 0, failing.get()), -1);
        QCOMPARE(MXX_event_proc(kNoConn, COMM_EV_TIMER, nullptr, 0, failing.get()), -1);
        QCOMPARE(failing->probe_attempt, 0);
        probeResult = 0;
    }
};

QTEST_GUILESS_MAIN(TestMxxParser)
#include "test_mxx_parser.moc"
