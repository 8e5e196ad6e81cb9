// The simulator without sockets: frame codec, delivery shaping, instrument rules.
#include "sim/delivery.h"
#include "sim/frame.h"
#include "sim/instrument.h"
#include "wire.h"

#include <QtTest>

#include <thread>

using namespace std::chrono_literals;

namespace {

sim::Frame command(std::uint16_t code, sim::Bytes payload = {}, std::uint16_t param = 1000)
{
    return sim::Frame{code, param, 0, std::move(payload)};
}

sim::Bytes joined(const std::vector<sim::Bytes>& writes)
{
    sim::Bytes all;
    for (const auto& w : writes)
        all.insert(all.end(), w.begin(), w.end());
    return all;
}

// The frames one response carries, read with the test's own framing.
std::vector<sim::Bytes> frames_of(const sim::Response& r)
{
    std::vector<sim::Bytes> out;
    const sim::Bytes all = joined(r.writes);
    for (std::size_t at = 0; at + 12 <= all.size();) {
        const std::size_t length = all[at + 6] | (all[at + 7] << 8);
        out.emplace_back(all.begin() + static_cast<std::ptrdiff_t>(at),
                         all.begin() + static_cast<std::ptrdiff_t>(at + 12 + length));
        at += 12 + length;
    }
    return out;
}

} // namespace

class TestSimModel : public QObject
{
    Q_OBJECT

private slots:
    void encoderMatchesKnownBytes()
    {
        QCOMPARE(sim::encode(8007, {}, 100), wire::hex("42 52 4e 4f 47 1f 01 00 64 00 00 2c 00"));
        QCOMPARE(sim::encode(8105, {4, 3, 2, 1}, 1000),
                 wire::hex("42 52 4e 4f a9 1f 05 00 e8 03 00 49 04 03 02 01 04"));
        QCOMPARE(sim::encode(8601, {}, 3000), wire::hex("42 52 4e 4f 99 21 01 00 b8 0b 00 1b 00"));
        // Status and parameter word land in the header and its check.
        QCOMPARE(sim::encode(9007, {}, 0x1234, 5), wire::frame(9007, {}, 0x1234, 5));
        const sim::Bytes big(65535, 0x5a); // one byte over what a length field can count
        QCOMPARE(sim::encode(10002, big).size(), sim::kMaxPayload + sim::kFrameOverhead);
    }

    void parserReassemblesAndResynchronises()
    {
        const sim::Bytes a = wire::frame(8105, {4, 3, 2, 1}, 1000);
        const sim::Bytes b = wire::frame(8007, {}, 100);

        sim::FrameParser byte_by_byte;
        std::vector<sim::Frame> got;
        for (std::uint8_t c : a)
            for (auto& f : byte_by_byte.feed(&c, 1))
                got.push_back(f);
        QCOMPARE(got.size(), std::size_t{1});
        QCOMPARE(got[0].code, std::uint16_t{8105});
        QCOMPARE(got[0].param, std::uint16_t{1000});
        QCOMPARE(got[0].payload, (sim::Bytes{4, 3, 2, 1}));
        QCOMPARE(byte_by_byte.pending(), std::size_t{0});

        // Stray bytes, two frames and a start mark cut at the end of a delivery.
        sim::FrameParser p;
        sim::Bytes stream = {0x00, 'B', 'R', 0xff};
        stream.insert(stream.end(), a.begin(), a.end());
        stream.insert(stream.end(), b.begin(), b.begin() + 3); // "BRN"
        auto frames = p.feed(stream);
        QCOMPARE(frames.size(), std::size_t{1});
        QCOMPARE(p.pending(), std::size_t{3});
        frames = p.feed(sim::Bytes(b.begin() + 3, b.end()));
        QCOMPARE(frames.size(), std::size_t{1});
        QCOMPARE(frames[0].code, std::uint16_t{8007});

        // A broken header check or payload check drops that frame only.
        sim::Bytes bad_head = a;
        bad_head[11] ^= 1;
        sim::Bytes bad_payload = a;
        bad_payload[13] ^= 1;
        sim::Bytes mixed = bad_head;
        mixed.insert(mixed.end(), bad_payload.begin(), bad_payload.end());
        mixed.insert(mixed.end(), b.begin(), b.end());
        sim::FrameParser q;
        frames = q.feed(mixed);
        QCOMPARE(frames.size(), std::size_t{1});
        QCOMPARE(frames[0].code, std::uint16_t{8007});
        QCOMPARE(q.rejected(), std::size_t{2});

        // A valid frame inside the payload of a frame that turns out broken is found.
        sim::Bytes carrier = wire::frame(8102, b);
        carrier.back() ^= 0x80;
        frames = sim::FrameParser().feed(carrier);
        QCOMPARE(frames.size(), std::size_t{1});
        QCOMPARE(frames[0].code, std::uint16_t{8007});

        // Length field 0: a bare header, complete without a check byte.
        sim::Bytes bare = wire::frame(8007);
        bare.resize(12);
        bare[6] = 0;
        bare[11] ^= 1; // the length field dropped from 1 to 0
        bare.insert(bare.end(), b.begin(), b.end());
        frames = sim::FrameParser().feed(bare);
        QCOMPARE(frames.size(), std::size_t{2});
        QVERIFY(frames[0].payload.empty());
    }

    void deliveryShapesWrites()
    {
        const sim::Bytes a = wire::frame(9007, {'C'});
        const sim::Bytes b = wire::frame(12289);
        sim::Bytes both = a;
        both.insert(both.end(), b.begin(), b.end());

        auto w = sim::shape({a, b}, {});
        QCOMPARE(w.size(), std::size_t{1});
        QCOMPARE(w[0], both);

        w = sim::shape({a, b}, sim::Delivery{5, {0xee, 0xef}, false});
        QCOMPARE(w.size(), std::size_t{(both.size() + 2 + 4) / 5});
        for (const auto& piece : w)
            QVERIFY(piece.size() <= 5);
        sim::Bytes expected = {0xee, 0xef};
        expected.insert(expected.end(), both.begin(), both.end());
        QCOMPARE(joined(w), expected);

        w = sim::shape({a, b}, sim::Delivery{0, {0x01}, true});
        QCOMPARE(w.size(), std::size_t{2});
        QCOMPARE(w[1], b);
        QVERIFY(sim::shape({}, sim::Delivery{1, {0x01}, false}).empty());
    }

    void identityAndDefaults()
    {
        sim::Instrument inst("C1234567");
        sim::Response r = inst.respond(command(8007, {}, 100));
        QCOMPARE(joined(r.writes), wire::hex("42 52 4e 4f 2f 23 09 00 00 00 00 14"
                                             " 43 31 32 33 34 35 36 37 73"));
        QVERIFY(!r.close_after);

        inst.set_serial("Z1");
        QCOMPARE(wire::payload_of(frames_of(inst.respond(command(8007)))[0]),
                 (sim::Bytes{'Z', '1', 0, 0, 0, 0, 0, 0}));
        inst.set_serial("C123456789AB"); // cut at the field size
        QCOMPARE(wire::payload_of(frames_of(inst.respond(command(8007)))[0]),
                 (sim::Bytes{'C', '1', '2', '3', '4', '5', '6', '7'}));

        QVERIFY(inst.respond(command(1109)).writes.empty());
        QVERIFY(inst.respond(command(47788)).writes.empty());
        QCOMPARE(inst.count(8007), std::size_t{3});
        QCOMPARE(inst.count(1109), std::size_t{1});
        QCOMPARE(inst.total_received(), std::size_t{5});
        QCOMPARE(inst.received()[0].param, std::uint16_t{100});
    }

    void rulesShapeTheReply()
    {
        sim::Instrument inst;
        inst.set_rule(8105, sim::Rule::reply({9, 8}, 0, 77).after_busy(2));
        for (int i = 0; i < 2; ++i) {
            auto f = frames_of(inst.respond(command(8105)));
            QCOMPARE(f.size(), std::size_t{1});
            QCOMPARE(f[0], wire::frame(12289));
        }
        QCOMPARE(frames_of(inst.respond(command(8105)))[0], wire::frame(9105, {9, 8}, 77));
        QCOMPARE(frames_of(inst.respond(command(8105)))[0], wire::frame(9105, {9, 8}, 77));

        inst.set_rule(8001, sim::Rule::fail(3));
        QCOMPARE(frames_of(inst.respond(command(8001)))[0], wire::frame(12290, {}, 0, 3));

        inst.set_rule(8002, sim::Rule::reply({}, 5));
        QCOMPARE(frames_of(inst.respond(command(8002)))[0], wire::frame(9002, {}, 0, 5));

        // An answer and 12290 together, and a restart after the answer.
        inst.set_rule(8008, sim::Rule::reply({1}).preceded_by({12290, 0, 0, {}}).then_close());
        sim::Response r = inst.respond(command(8008));
        QCOMPARE(r.writes.size(), std::size_t{1}); // both frames in one write
        QCOMPARE(frames_of(r),
                 (std::vector<sim::Bytes>{wire::frame(12290), wire::frame(9008, {1})}));
        QVERIFY(r.close_after);

        inst.set_rule(8101,
                      sim::Rule::compute([](const sim::Frame& req) -> std::optional<sim::Answer> {
                          if (req.payload.size() != 2)
                              return sim::Answer{{}, 1, 0};
                          if (req.payload[0] == 0xff)
                              return std::nullopt;
                          return sim::Answer{sim::Bytes(64, req.payload[0]), 0, 0};
                      }));
        QCOMPARE(frames_of(inst.respond(command(8101, {7, 0})))[0],
                 wire::frame(9101, sim::Bytes(64, 7)));
        QCOMPARE(frames_of(inst.respond(command(8101, {7})))[0], wire::frame(9101, {}, 0, 1));
        QVERIFY(inst.respond(command(8101, {0xff, 0})).writes.empty());

        // Silence for the identity, then back to the default.
        inst.set_rule(8007, sim::Rule::silence());
        QVERIFY(inst.respond(command(8007)).writes.empty());
        inst.clear_rule(8007);
        QCOMPARE(wire::code_of(frames_of(inst.respond(command(8007)))[0]), std::uint16_t{9007});

        // Setting a rule again restarts its busy count.
        inst.set_rule(8105, sim::Rule::reply().after_busy(1));
        QCOMPARE(wire::code_of(frames_of(inst.respond(command(8105)))[0]), std::uint16_t{12289});
        QCOMPARE(wire::code_of(frames_of(inst.respond(command(8105)))[0]), std::uint16_t{9105});
    }

    void posesAnswerTheirOwnProbe()
    {
        sim::Instrument inst("C0000001");
        inst.pose_as(sim::Pose::m15);
        QVERIFY(inst.respond(command(8007)).writes.empty());
        QCOMPARE(frames_of(inst.respond(command(1109)))[0], wire::frame(2109));
        QVERIFY(inst.respond(command(1001)).writes.empty());

        inst.pose_as(sim::Pose::m16);
        QVERIFY(inst.respond(command(1109)).writes.empty());
        QCOMPARE(frames_of(inst.respond(command(1001)))[0], wire::frame(2001));

        inst.pose_as(sim::Pose::mvd);
        const sim::Bytes mvd = frames_of(inst.respond(command(47788)))[0];
        QCOMPARE(mvd, wire::frame(48788, {1, 0, 0, 0}));
        QCOMPARE(mvd[6], std::uint8_t{5}); // length field

        inst.pose_as(sim::Pose::identity);
        QVERIFY(inst.respond(command(47788)).writes.empty());
        QCOMPARE(wire::code_of(frames_of(inst.respond(command(8007)))[0]), std::uint16_t{9007});
    }

    void logIsBoundedAndWaitsWake()
    {
        sim::Instrument inst;
        inst.set_log_limit(3);
        for (std::uint16_t i = 0; i < 5; ++i)
            inst.respond(command(100, {static_cast<std::uint8_t>(i)}));
        const auto log = inst.received();
        QCOMPARE(log.size(), std::size_t{3});
        QCOMPARE(log.front().payload, sim::Bytes{2});
        QCOMPARE(inst.count(100), std::size_t{5}); // counters stay exact

        QVERIFY(!inst.wait_for(200, 1, 10ms));
        std::thread feeder([&] {
            for (int i = 0; i < 3; ++i)
                inst.respond(command(200));
        });
        QVERIFY(inst.wait_for(200, 3, 10s));
        feeder.join();
        QVERIFY(!inst.wait_for(200, 4, 10ms));
        inst.clear_log();
        QCOMPARE(inst.count(200), std::size_t{0});
        QVERIFY(inst.received().empty());
    }
};

QTEST_GUILESS_MAIN(TestSimModel)
#include "test_sim_model.moc"
