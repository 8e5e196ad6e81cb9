// The simulator over real loopback sockets and a pseudo-terminal, driven with
// raw frames from plain file descriptors.
#include "sim/discovery_responder.h"
#include "sim/frame_server.h"
#include "sim/instrument.h"
#include "wire.h"

#include <QtTest>

#include <thread>

using namespace std::chrono_literals;
using wire::Bytes;

namespace {

constexpr auto kWait = 10s;

Bytes identity_query()
{
    return wire::frame(8007, {}, 100);
}

Bytes exchange(int fd, const Bytes& request)
{
    return wire::write_all(fd, request) ? wire::read_frame(fd) : Bytes{};
}

} // namespace

class TestSimServer : public QObject
{
    Q_OBJECT

private slots:
    void tcpAnswersByRule()
    {
        auto inst = std::make_shared<sim::Instrument>("C7654321");
        sim::FrameServer server;
        const std::uint16_t port = server.serve_tcp(inst);
        QVERIFY(port != 0);
        server.start();
        wire::Fd fd(wire::connect_tcp(port));
        QVERIFY(fd.valid());

        QCOMPARE(exchange(fd.get(), identity_query()),
                 wire::frame(9007, {'C', '7', '6', '5', '4', '3', '2', '1'}));

        // Silence shows as the next answer being the one that follows.
        inst->set_rule(8002, sim::Rule::silence());
        QVERIFY(wire::write_all(fd.get(), wire::frame(8002)));
        QVERIFY(wire::write_all(fd.get(), wire::frame(4321))); // unknown: ignored
        QCOMPARE(wire::code_of(exchange(fd.get(), identity_query())), std::uint16_t{9007});

        inst->set_rule(8105, sim::Rule::reply().after_busy(2));
        const Bytes cmd = wire::frame(8105, {4, 3, 2, 1}, 1000);
        QCOMPARE(exchange(fd.get(), cmd), wire::frame(12289));
        QCOMPARE(exchange(fd.get(), cmd), wire::frame(12289));
        QCOMPARE(exchange(fd.get(), cmd), wire::frame(9105));
        QCOMPARE(inst->count(8105), std::size_t{3});
        QCOMPARE(inst->received().back().payload, (Bytes{4, 3, 2, 1}));

        inst->set_rule(8001, sim::Rule::fail());
        QCOMPARE(exchange(fd.get(), wire::frame(8001)), wire::frame(12290));
        inst->set_rule(8001, sim::Rule::reply({'x'}, 5));
        const Bytes failed = exchange(fd.get(), wire::frame(8001));
        QCOMPARE(wire::status_of(failed), std::uint8_t{5});
        QCOMPARE(wire::payload_of(failed), Bytes{'x'});

        Bytes big(40003); // far more than any caller's capacity
        for (std::size_t i = 0; i < big.size(); ++i)
            big[i] = static_cast<std::uint8_t>(i * 7 + (i >> 8));
        inst->set_rule(8101, sim::Rule::reply(big));
        QCOMPARE(exchange(fd.get(), wire::frame(8101, {0, 0})), wire::frame(9101, big));

        // An answer counts once its write has completed, which may trail the
        // client's read by a moment; the next exchange settles the previous one.
        QCOMPARE(wire::code_of(exchange(fd.get(), identity_query())), std::uint16_t{9007});
        const sim::AnswerTiming t = inst->answer_timing();
        QVERIFY(t.answers >= 8 && t.answers <= 9); // silence is not an answer
        QVERIFY(t.preparing.count() > 0);
        QVERIFY(t.writing.count() > 0);
        inst->reset_answer_timing();
        QCOMPARE(inst->answer_timing().answers, std::uint64_t{0});
    }

    void tcpDeliveryShaping()
    {
        auto inst = std::make_shared<sim::Instrument>("C0000002");
        sim::FrameServer server;
        const std::uint16_t port = server.serve_tcp(inst);
        server.start();
        wire::Fd fd(wire::connect_tcp(port));
        QVERIFY(fd.valid());

        // A split answer behind stray bytes, cut inside its start mark too.
        inst->set_delivery(sim::Delivery{2, {'B', 'R', 0x00}, false});
        QVERIFY(wire::write_all(fd.get(), identity_query()));
        Bytes stray;
        QVERIFY(wire::read_exact(fd.get(), 3, stray));
        QCOMPARE(stray, (Bytes{'B', 'R', 0x00}));
        QCOMPARE(wire::read_frame(fd.get()),
                 wire::frame(9007, {'C', '0', '0', '0', '0', '0', '0', '2'}));

        // A request split over many writes is reassembled by the instrument.
        inst->set_delivery({});
        const Bytes request = wire::frame(8007, {}, 100);
        for (std::uint8_t b : request)
            QVERIFY(wire::write_all(fd.get(), Bytes{b}));
        QCOMPARE(wire::code_of(wire::read_frame(fd.get())), std::uint16_t{9007});

        // Two requests in one write, and an answer preceded by another frame.
        inst->set_rule(8008, sim::Rule::reply({1, 2, 3, 4}).preceded_by({10007, 0, 0, {9}}));
        Bytes two = wire::frame(8008);
        const Bytes again = wire::frame(8008);
        two.insert(two.end(), again.begin(), again.end());
        QVERIFY(wire::write_all(fd.get(), two));
        for (int i = 0; i < 2; ++i) {
            QCOMPARE(wire::read_frame(fd.get()), wire::frame(10007, {9}));
            QCOMPARE(wire::read_frame(fd.get()), wire::frame(9008, {1, 2, 3, 4}));
        }

        // Unsolicited frames, several in one push.
        QVERIFY(server.wait_links_opened(*inst, 1, kWait));
        server.push(*inst, {{10002, 0, 0, Bytes(1000, 7)}, {10004, 0, 0, {1}}});
        QCOMPARE(wire::read_frame(fd.get()), wire::frame(10002, Bytes(1000, 7)));
        QCOMPARE(wire::read_frame(fd.get()), wire::frame(10004, {1}));
    }

    void tcpOneClientAtATimeAndRestart()
    {
        auto inst = std::make_shared<sim::Instrument>("C0000003");
        sim::FrameServer server;
        server.start(); // serving may begin after the start
        const std::uint16_t port = server.serve_tcp(inst);
        wire::Fd first(wire::connect_tcp(port));
        QVERIFY(first.valid());
        QCOMPARE(wire::code_of(exchange(first.get(), identity_query())), std::uint16_t{9007});
        QCOMPARE(server.links_open(*inst), std::size_t{1});

        // A second client waits until the first leaves, then gets its answer.
        wire::Fd second(wire::connect_tcp(port));
        QVERIFY(second.valid());
        QVERIFY(wire::write_all(second.get(), identity_query()));
        first.reset();
        QCOMPARE(wire::code_of(wire::read_frame(second.get())), std::uint16_t{9007});
        QVERIFY(server.wait_links_opened(*inst, 2, kWait));

        // A dropped link is seen by the client; the next one is accepted.
        server.drop_link(*inst);
        QVERIFY(wire::hung_up(second.get()));
        wire::Fd third(wire::connect_tcp(port));
        QCOMPARE(wire::code_of(exchange(third.get(), identity_query())), std::uint16_t{9007});

        // A restart rule closes the link once its answer is out.
        inst->set_rule(8021, sim::Rule::silence().then_close());
        QVERIFY(wire::write_all(third.get(), wire::frame(8021)));
        QVERIFY(wire::hung_up(third.get()));
        QVERIFY(server.wait_links_opened(*inst, 3, kWait));
        server.stop();
        server.stop();
        QCOMPARE(server.links_open(*inst), std::size_t{0});
    }

    void stopsWhileAWriteIsStuck()
    {
        auto inst = std::make_shared<sim::Instrument>();
        auto server = std::make_unique<sim::FrameServer>();
        const std::uint16_t port = server->serve_tcp(inst);
        server->serve_pty(inst); // never opened: its output only piles up
        server->start();
        wire::Fd fd(wire::connect_tcp(port));
        QVERIFY(server->wait_links_opened(*inst, 2, kWait));
        // Far more than the socket and pty buffers hold, and nobody reads.
        std::vector<sim::Frame> flood(64, sim::Frame{10002, 0, 0, Bytes(65000, 1)});
        server->push(*inst, flood);
        QCOMPARE(wire::code_of(wire::read_frame(fd.get())), std::uint16_t{10002});
        server.reset(); // must not hang on the pending writes
        QVERIFY(wire::hung_up(fd.get()));
    }

    void ptyEndToEnd()
    {
        auto inst = std::make_shared<sim::Instrument>("C0000004");
        auto other = std::make_shared<sim::Instrument>("Z0000005");
        sim::FrameServer server;
        const std::string path = server.serve_pty(inst);
        const std::uint16_t port = server.serve_tcp(other);
        QVERIFY(!path.empty());
        QCOMPARE(server.pty_path(*inst), path);
        server.start();

        wire::Fd fd(wire::open_path(path));
        QVERIFY(fd.valid());
        QCOMPARE(exchange(fd.get(), identity_query()),
                 wire::frame(9007, {'C', '0', '0', '0', '0', '0', '0', '4'}));
        // Raw mode: bytes that a terminal would translate pass unchanged.
        const Bytes raw = {'\r', '\n', 0x03, 0x11, 0x13, 0x7f, 0x00, 0x04};
        inst->set_rule(8102, sim::Rule::compute([](const sim::Frame& req) {
                           return std::optional<sim::Answer>(sim::Answer{req.payload, 0, 0});
                       }));
        QCOMPARE(exchange(fd.get(), wire::frame(8102, raw)), wire::frame(9102, raw));

        // Closing and reopening the path keeps the instrument reachable.
        fd.reset(wire::open_path(path));
        QCOMPARE(wire::code_of(exchange(fd.get(), identity_query())), std::uint16_t{9007});

        // The other instrument is served at the same time.
        wire::Fd tcp(wire::connect_tcp(port));
        QCOMPARE(wire::payload_of(exchange(tcp.get(), identity_query()))[0], std::uint8_t{'Z'});

        server.push(*inst, {{10011, 0, 0, {1, 2}}});
        QCOMPARE(wire::read_frame(fd.get()), wire::frame(10011, {1, 2}));

        // A dropped pty link hangs up; a fresh pair takes its place.
        server.drop_link(*inst);
        QVERIFY(wire::hung_up(fd.get()));
        QVERIFY(server.wait_links_opened(*inst, 2, kWait));
        const std::string fresh = server.pty_path(*inst);
        QVERIFY(!fresh.empty());
        fd.reset(wire::open_path(fresh));
        QVERIFY(fd.valid());
        QCOMPARE(wire::code_of(exchange(fd.get(), identity_query())), std::uint16_t{9007});
        QCOMPARE(inst->count(8007), std::size_t{3});
    }

    void waitCountsFramesFromTheWire()
    {
        auto inst = std::make_shared<sim::Instrument>();
        sim::FrameServer server;
        const std::uint16_t port = server.serve_tcp(inst);
        server.start();
        wire::Fd fd(wire::connect_tcp(port));
        std::thread writer([&] {
            for (int i = 0; i < 7; ++i)
                wire::write_all(fd.get(), wire::frame(1109, {}, 1000));
        });
        QVERIFY(inst->wait_for(1109, 7, kWait));
        writer.join();
        QCOMPARE(inst->count(1109), std::size_t{7});
        QCOMPARE(inst->received().front().param, std::uint16_t{1000});
        QVERIFY(!inst->wait_for(1109, 8, 20ms));
    }

    void discoveryAnswersPerInstrument()
    {
        sim::DiscoveryResponder responder;
        QVERIFY(responder.port() != 0);
        responder.add({"C0000001", "127.0.0.1", "", {}});
        responder.add({"C0000002", "127.0.0.2", "::1", {0xab}});
        responder.start();

        wire::Fd udp(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(responder.port());
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const Bytes request = wire::hex("42 52 4e 4f 99 21 01 00 b8 0b 00 1b 00");
        const auto ask = [&] {
            return ::sendto(udp.get(), request.data(), request.size(), 0,
                            reinterpret_cast<sockaddr*>(&to),
                            sizeof to) == static_cast<ssize_t>(request.size());
        };
        const auto datagram = [&] {
            Bytes d(65536);
            pollfd p{udp.get(), POLLIN, 0};
            if (::poll(&p, 1, wire::kTimeoutMs) <= 0)
                return Bytes{};
            const ssize_t n = ::recv(udp.get(), d.data(), d.size(), 0);
            d.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
            return d;
        };

        Bytes entry1(66, 0), entry2(66, 0);
        std::copy_n("C0000001", 8, entry1.begin());
        std::copy_n("127.0.0.1", 9, entry1.begin() + 10);
        std::copy_n("C0000002", 8, entry2.begin());
        std::copy_n("127.0.0.2", 9, entry2.begin() + 10);
        std::copy_n("::1", 3, entry2.begin() + 26);
        entry2.push_back(0xab);
        const Bytes answer1 = wire::frame(8600, entry1), answer2 = wire::frame(8600, entry2);

        QVERIFY(ask());
        QCOMPARE(datagram(), answer1);
        QCOMPARE(datagram(), answer2);
        QVERIFY(responder.wait_requests(1, kWait));

        // Packed: both answers in one datagram; anything but 8601 is ignored.
        responder.set_packed(true);
        const Bytes other = wire::frame(8007);
        QVERIFY(::sendto(udp.get(), other.data(), other.size(), 0, reinterpret_cast<sockaddr*>(&to),
                         sizeof to) > 0);
        QVERIFY(ask());
        Bytes both = answer1;
        both.insert(both.end(), answer2.begin(), answer2.end());
        QCOMPARE(datagram(), both);
        QVERIFY(responder.wait_requests(2, kWait));
        QCOMPARE(responder.requests(), std::size_t{2});

        // Texts are cut at their field sizes.
        const Bytes cut = sim::DiscoveryResponder::answer_payload(
            {"ABCDEFGHIJKL", std::string(20, '1'), std::string(50, 'f'), {}});
        QCOMPARE(cut.size(), sim::DiscoveryResponder::kEntrySize);
        QCOMPARE(cut[9], std::uint8_t{'J'});
        QCOMPARE(cut[10], std::uint8_t{'1'});
        responder.stop();
    }
};

QTEST_GUILESS_MAIN(TestSimServer)
#include "test_sim_server.moc"
