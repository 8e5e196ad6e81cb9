// What reaches the host from the simulated set-up: event frames, discovery
// answers for several instruments, and the faults laid over the answers.
#include "sim/events.h"
#include "sim/frame_server.h"
#include "sim/instrument.h"
#include "sim/model.h"
#include "sim_session.h"

#include <QTemporaryDir>
#include <QtTest>

#include <fstream>
#include <map>
#include <numeric>
#include <set>

using namespace std::chrono_literals;
using session::Bytes;
using session::Client;
using session::u32;

namespace {

int udp_socket()
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0)
        return fd;
    if (fd >= 0)
        ::close(fd);
    return -1;
}

bool send_to(int fd, std::uint16_t port, const Bytes& data)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return ::sendto(fd, data.data(), data.size(), 0, reinterpret_cast<sockaddr*>(&a), sizeof a) ==
           static_cast<ssize_t>(data.size());
}

Bytes receive(int fd, int timeout_ms)
{
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, timeout_ms) <= 0)
        return {};
    Bytes buf(65536);
    const ssize_t n = ::recv(fd, buf.data(), buf.size(), 0);
    buf.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    return buf;
}

std::string text_at(const Bytes& b, std::size_t at, std::size_t field)
{
    std::string s(b.begin() + static_cast<std::ptrdiff_t>(at),
                  b.begin() + static_cast<std::ptrdiff_t>(at + field));
    return s.substr(0, s.find('\0'));
}

} // namespace

class TestSimFaults : public QObject
{
    Q_OBJECT

private slots:
    void eventsArriveWithTheirSizes()
    {
        sim::SimOptions o = session::loopback_options();
        o.events_hz = 400;
        sim::Simulator s(o);
        s.start();
        Client c(s.instruments()[0].port);
        QVERIFY(c.valid());

        std::map<std::uint16_t, std::size_t> want;
        for (const sim::EventSpec& e : sim::kM30Events)
            want[e.code] = e.size;
        QCOMPARE(want.size(), std::size_t{15});
        std::map<std::uint16_t, std::size_t> seen;
        std::map<std::uint16_t, int> kinds;
        // Two full cycles and a little: every event, every spectrum kind.
        for (std::size_t i = 0; i < 4 * sim::EventStream::cycle_length() + 8; ++i) {
            const Bytes f = wire::read_frame(c.fd());
            QVERIFY(!f.empty());
            const std::uint16_t code = wire::code_of(f);
            QVERIFY2(want.count(code), std::to_string(code).c_str());
            const Bytes p = wire::payload_of(f);
            QCOMPARE(p.size(), want[code]);
            ++seen[code];
            if (code == 10002) {
                ++kinds[p[0] | (p[1] << 8)];
                QCOMPARE(u32(p, 2), 1024u);
            }
        }
        QCOMPARE(seen.size(), want.size());
        QVERIFY(seen[10004] >= seen[10002]); // a total every tick
        QCOMPARE(kinds.size(), std::size_t{6});
        QCOMPARE(kinds.begin()->first, 1);
        QCOMPARE(kinds.rbegin()->first, 6);
        // An exchange still gets its answer among the events.
        QCOMPARE(wire::code_of(c.answer(8007)), std::uint16_t{9007});
    }

    void spectrumHasItsPeaks()
    {
        sim::EventStream stream(5, {});
        const Bytes p = stream.spectrum(4); // accumulated: counts enough to see lines
        std::vector<double> counts(1024);
        for (std::size_t c = 0; c < 1024; ++c)
            counts[c] = u32(p, 126 + 4 * c);
        auto window = [&](double kev) {
            const auto c = static_cast<std::size_t>(kev / sim::kKeVPerChannel);
            double sum = 0;
            for (std::size_t i = c - 6; i <= c + 6; ++i)
                sum += counts[i];
            return sum / 13;
        };
        // A peak stands above the continuum on either side of it.
        for (double kev : {662.0, 1461.0})
            QVERIFY2(window(kev) > 1.3 * (window(kev - 90) + window(kev + 90)) / 2,
                     std::to_string(kev).c_str());
        QVERIFY(window(150) > window(1461)); // the continuum falls with energy
        const double total = std::accumulate(counts.begin(), counts.end(), 0.0);
        QCOMPARE(static_cast<double>(p[124] | (p[125] << 8)), std::min(total, 65535.0));
        QCOMPARE(p[6] | (p[7] << 8), 700);
        QVERIFY(u32(p, 116) > 0 && u32(p, 108) >= u32(p, 116)); // live within clock time
        // Poisson noise: two spectra of the same kind differ.
        sim::EventStream again(6, {});
        QVERIFY(again.spectrum(1) != stream.spectrum(1));
    }

    void discoveryAnswersOncePerInstrument()
    {
        sim::SimOptions o = session::loopback_options();
        o.count = 3;
        o.discovery = true;
        o.discovery_port = 0;
        sim::Simulator s(o);
        s.start();
        QVERIFY(s.discovery_port() != 0);
        QCOMPARE(s.instruments().size(), std::size_t{3});

        wire::Fd udp(udp_socket());
        QVERIFY(udp.valid());
        QVERIFY(send_to(udp.get(), s.discovery_port(),
                        wire::hex("42 52 4e 4f 99 21 01 00 b8 0b 00 1b 00")));
        std::map<std::string, std::pair<std::string, std::uint16_t>> answers;
        for (int i = 0; i < 3; ++i) {
            const Bytes d = receive(udp.get(), wire::kTimeoutMs);
            QCOMPARE(wire::code_of(d), std::uint16_t{8600});
            const Bytes p = wire::payload_of(d);
            QVERIFY(p.size() >= 66);
            QVERIFY(answers
                        .emplace(text_at(p, 0, 10),
                                 std::make_pair(text_at(p, 10, 16),
                                                static_cast<std::uint16_t>(p[66] | (p[67] << 8))))
                        .second);
        }
        QVERIFY(receive(udp.get(), 200).empty()); // once each, nothing more
        std::set<std::uint16_t> ports;
        for (const sim::SimInstrument& i : s.instruments()) {
            QVERIFY(answers.count(i.identity));
            QCOMPARE(answers[i.identity].first, std::string("127.0.0.1"));
            QCOMPARE(answers[i.identity].second, i.port);
            ports.insert(i.port);
            Client c(i.port); // each answers its own identity
            QCOMPARE(wire::payload_of(c.exchange(8007, {}, 100)),
                     Bytes(i.serial.begin(), i.serial.end()));
        }
        QCOMPARE(ports.size(), std::size_t{3});
        QCOMPARE(s.instruments()[2].serial, std::string("C3000003"));
        // Something else than a request gets no answer.
        QVERIFY(send_to(udp.get(), s.discovery_port(), wire::frame(8600)));
        QVERIFY(receive(udp.get(), 200).empty());
    }

    void faultsChangeWhatReachesTheHost()
    {
        sim::SimOptions o = session::loopback_options();
        o.records = 5;
        sim::Simulator s(o);
        s.start();
        const std::shared_ptr<sim::Instrument> inst = s.instruments()[0].instrument;
        Client c(s.instruments()[0].port);
        const Bytes query = wire::frame(8204);

        // Dropped: nothing comes, and the next exchange is answered again.
        sim::Faults f;
        f.drop = 1;
        inst->set_faults(f);
        QVERIFY(wire::write_all(c.fd(), query));
        QVERIFY(inst->wait_for(8204, 1, 5s));
        Bytes nothing;
        QVERIFY(!wire::read_exact(c.fd(), 1, nothing, 300));
        inst->set_faults({});
        QCOMPARE(wire::code_of(c.exchange(8204)), std::uint16_t{9204});

        // Corrupt: the frame comes whole, but its payload check is wrong.
        f = {};
        f.corrupt = 1;
        inst->set_faults(f);
        const Bytes bad = c.exchange(8204);
        QCOMPARE(bad.size(), std::size_t{17});
        QCOMPARE(wire::code_of(bad), std::uint16_t{9204});
        std::uint8_t header = 0, payload = 0;
        for (std::size_t i = 0; i < 12; ++i)
            header ^= bad[i];
        for (std::size_t i = 12; i < bad.size(); ++i)
            payload ^= bad[i];
        QCOMPARE(header, std::uint8_t{0});
        QVERIFY(payload != 0);

        // Repeat 2: two frames 12289 for each command, then its answer.
        f = {};
        f.repeat = 2;
        inst->set_faults(f);
        for (int round = 0; round < 2; ++round) {
            QCOMPARE(c.exchange(8204), wire::frame(12289));
            QCOMPARE(c.exchange(8204), wire::frame(12289));
            QCOMPARE(wire::code_of(c.exchange(8204)), std::uint16_t{9204});
        }

        // Fail: that one command gets 12290, the others their answers.
        f = {};
        f.fail = 8410;
        inst->set_faults(f);
        const Bytes failed = c.exchange(8410, Bytes(4, 0));
        QCOMPARE(wire::code_of(failed), std::uint16_t{12290});
        QVERIFY(wire::status_of(failed) != 0);
        QCOMPARE(wire::code_of(c.exchange(8204)), std::uint16_t{9204});

        // Disconnect after 3: three answers, then the link closes; a new
        // link gets three again.
        f = {};
        f.disconnect_after = 3;
        inst->set_faults(f);
        for (int link = 0; link < 2; ++link) {
            for (int i = 0; i < 3; ++i)
                QCOMPARE(wire::code_of(c.exchange(8204)), std::uint16_t{9204});
            QVERIFY(wire::hung_up(c.fd()));
            c.reconnect();
            QVERIFY(c.valid());
        }
        inst->set_faults({});

        // Latency holds the answer back but keeps the order of answers.
        f = {};
        f.latency = 30ms;
        inst->set_faults(f);
        Bytes two = wire::frame(8204);
        const Bytes second = wire::frame(8007, {}, 100);
        two.insert(two.end(), second.begin(), second.end());
        QVERIFY(wire::write_all(c.fd(), two));
        QCOMPARE(wire::code_of(wire::read_frame(c.fd())), std::uint16_t{9204});
        QCOMPARE(wire::code_of(wire::read_frame(c.fd())), std::uint16_t{9007});
        inst->set_faults({});
    }

    void unreadEventsDoNotPileUp()
    {
        // A pty nobody has opened yet takes only its own buffer; the events
        // beyond the backlog are lost, the answer after them is not.
        auto inst = std::make_shared<sim::Instrument>("C3000009");
        sim::FrameServer server;
        const std::string path = server.serve_pty(inst);
        server.start();
        QVERIFY(server.wait_links_opened(*inst, 1, 5s));
        const sim::Frame event{10006, 0, 0, Bytes(8220, 0x11)};
        for (int i = 0; i < 250; ++i) // about 2 MB
            server.push(*inst, {event});
        wire::Fd fd(wire::open_path(path));
        QVERIFY(fd.valid());
        QVERIFY(wire::write_all(fd.get(), wire::frame(8007, {}, 100)));
        std::size_t events = 0;
        for (;;) {
            const Bytes f = wire::read_frame(fd.get());
            QVERIFY(!f.empty());
            if (wire::code_of(f) == 9007)
                break;
            QCOMPARE(wire::code_of(f), std::uint16_t{10006});
            ++events;
        }
        QVERIFY(events > 0);
        QVERIFY(events < 100);
    }

    void splitGarbageAndLog()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        sim::SimOptions o = session::loopback_options();
        o.records = 3;
        o.split = sim::kSplitBytes;
        o.garbage = true;
        o.log = dir.filePath("frames.log").toStdString();
        sim::Simulator s(o);
        s.start();
        Client c(s.instruments()[0].port);
        QVERIFY(wire::write_all(c.fd(), wire::frame(8007, {}, 100)));
        Bytes stray;
        QVERIFY(wire::read_exact(c.fd(), sim::kGarbage.size(), stray));
        QCOMPARE(stray, sim::kGarbage);
        const Bytes answer = wire::frame(9007, {'C', '3', '0', '0', '0', '0', '0', '1'});
        QCOMPARE(wire::read_frame(c.fd()), answer);
        s.stop();

        std::ifstream log(o.log);
        std::string line;
        std::vector<std::string> lines;
        while (std::getline(log, line))
            lines.push_back(line);
        QCOMPARE(lines.size(), std::size_t{2});
        // "2026-12-08T05:00:00.123456Z C3000001 in   42524e4f..."
        QCOMPARE(lines[0].substr(26, 1), std::string("Z"));
        QVERIFY(lines[0].find(" C3000001 in ") != std::string::npos);
        auto hex = [](const Bytes& b) {
            std::string h;
            char d[3];
            for (std::uint8_t x : b) {
                std::snprintf(d, sizeof d, "%02x", x);
                h += d;
            }
            return h;
        };
        QVERIFY(lines[0].size() > 30 &&
                lines[0].compare(lines[0].size() - 26, 26, hex(wire::frame(8007, {}, 100))) == 0);
        QVERIFY(lines[1].find(" out ") != std::string::npos);
        QCOMPARE(lines[1].substr(lines[1].rfind(' ') + 1), hex(answer));
    }
};

QTEST_GUILESS_MAIN(TestSimFaults)
#include "test_sim_faults.moc"
