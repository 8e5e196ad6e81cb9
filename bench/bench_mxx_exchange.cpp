// Command exchange against the simulator over loopback TCP, against a plain
// TCP ping-pong of the same byte counts between two sockets.
//
// Prints "exchange <case>: ratio <x>", x being the exchange's time over the
// ping-pong's time, and a '#' line with the times per round trip, including a
// bare socket talking to the simulator (the simulator's share). The three are
// measured in interleaved blocks and the ratio is the median of the blocks',
// so that load from elsewhere on the machine hits all of them alike.
#include "bench_socket.h"

#include <mdd_comm.h>
#include <mxx_comm.h>

#include <sim/frame_server.h>
#include <sim/instrument.h>

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <thread>
#include <vector>

namespace {

using namespace bench;
const int kExchanges = 20000;
const int kBlocks = 20;
const int kWarmUp = 500;

// A client socket that writes `request` and reads `answer` bytes per round.
struct RoundTrip
{
    int fd = -1;
    std::vector<uint8_t> request, answer;
    bool operator()()
    {
        return writeAll(fd, request.data(), request.size()) &&
               readAll(fd, answer.data(), answer.size());
    }
};

// The baseline's other end: reads a request, writes an answer, until closed.
class PingPongServer
{
public:
    PingPongServer(size_t request, size_t answer)
    {
        listener_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a = loopback(0);
        bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        socklen_t len = sizeof a;
        getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
        listen(listener_, 1);
        thread_ = std::thread([this, request, answer] {
            int fd = accept(listener_, nullptr, nullptr);
            int one = 1;
            setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            std::vector<uint8_t> in(request), out(answer, 0x5A);
            while (readAll(fd, in.data(), in.size()) && writeAll(fd, out.data(), out.size())) {
            }
            close(fd);
        });
    }
    ~PingPongServer()
    {
        thread_.join();
        close(listener_);
    }
    uint16_t port() const { return port_; }

private:
    int listener_ = -1;
    uint16_t port_ = 0;
    std::thread thread_;
};

} // namespace

int main()
{
    if (MXX_init(nullptr, nullptr, nullptr) != 0) {
        fprintf(stderr, "transport failed to start\n");
        return 1;
    }
    const uint16_t kBig = 8200, kEmpty = 8201;
    const size_t kAnswer = 8178;
    sim::FrameServer server;
    std::shared_ptr<sim::Instrument> instruments[2];
    uint16_t ports[2];
    for (int i = 0; i < 2; ++i) {
        instruments[i] = std::make_shared<sim::Instrument>("C0000001");
        instruments[i]->set_log_limit(16);
        instruments[i]->set_rule(kBig, sim::Rule::reply(sim::Bytes(kAnswer, 0x5A)));
        instruments[i]->set_rule(kEmpty, sim::Rule::reply());
        ports[i] = server.serve_tcp(instruments[i]);
    }
    server.start();

    char conn_string[COMM_STRING_SIZE];
    MXX_make_net_conn_string(conn_string, "127.0.0.1", ports[0]);
    int conn = -1;
    if (MXX_connect(conn_string, &conn, nullptr, nullptr, nullptr, MDD_probe, MDD_test_probe,
                    nullptr) != 0 ||
        MXX_wait_connected(conn, 5000) != 0) {
        fprintf(stderr, "no connection to the simulator\n");
        return 1;
    }
    RoundTrip bare;
    bare.fd = connectTo(ports[1]);

    const uint8_t request[12] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    std::vector<uint8_t> out(kAnswer);
    int status = 0;
    struct Case
    {
        const char* name;
        uint16_t code;
        size_t answer;
    } cases[] = {{"payload8178", kBig, kAnswer}, {"empty", kEmpty, 0}};
    for (const Case& c : cases) {
        auto exchange = [&] {
            uint32_t size = 0;
            int r = MXX_send_cmd(conn, c.code, request, sizeof request, out.data(), int(out.size()),
                                 &size, nullptr, nullptr, 1000, 1);
            return r == 0 && size == c.answer;
        };
        const size_t request_frame = sizeof request + MXX_FRAME_OVERHEAD;
        const size_t answer_frame = c.answer + MXX_FRAME_OVERHEAD;
        PingPongServer ping_server(request_frame, answer_frame);
        RoundTrip ping{connectTo(ping_server.port()), std::vector<uint8_t>(request_frame, 0x33),
                       std::vector<uint8_t>(answer_frame)};
        bare.request.resize(request_frame);
        MXX_make_command(bare.request.data(), c.code, request, sizeof request, 1000);
        bare.answer.resize(answer_frame);

        if (seconds(exchange, kWarmUp) < 0 || seconds(ping, kWarmUp) < 0 ||
            seconds(bare, kWarmUp) < 0) {
            fprintf(stderr, "exchange %s: a round trip failed\n", c.name);
            status = 1;
            close(ping.fd);
            continue;
        }
        instruments[0]->reset_answer_timing();
        std::vector<double> ratios, over_bare;
        double total[3] = {0, 0, 0};
        const int per_block = kExchanges / kBlocks;
        for (int b = 0; b < kBlocks; ++b) {
            double t[3] = {seconds(exchange, per_block), seconds(ping, per_block),
                           seconds(bare, per_block)};
            if (t[0] < 0 || t[1] < 0 || t[2] < 0) {
                fprintf(stderr, "exchange %s: a round trip failed\n", c.name);
                status = 1;
                break;
            }
            for (int i = 0; i < 3; ++i)
                total[i] += t[i];
            ratios.push_back(t[0] / t[1]);
            over_bare.push_back(t[0] / t[2]);
        }
        close(ping.fd);
        if (ratios.empty())
            continue;
        printf("exchange %s: ratio %.2f\n", c.name, median(ratios));
        printf("# exchange %s: %.1f us per exchange, %.1f us per ping-pong, %.1f us per "
               "bare-socket exchange with the simulator (exchange over it: ratio %.2f)\n",
               c.name, total[0] / kExchanges * 1e6, total[1] / kExchanges * 1e6,
               total[2] / kExchanges * 1e6, median(over_bare));
        // The simulator's own time from a parsed request to its answer handed
        // to the socket: it must never be what limits a download.
        sim::AnswerTiming timing = instruments[0]->answer_timing();
        if (timing.answers > 0) {
            double answer_s =
                std::chrono::duration<double>(timing.preparing).count() / double(timing.answers);
            printf("# exchange %s: simulator answer time %.2f us, %.1f%% of the exchange\n", c.name,
                   answer_s * 1e6, 100.0 * answer_s / (total[0] / kExchanges));
        }
    }
    close(bare.fd);
    MXX_disconnect(conn);
    server.stop();
    MXX_shut();
    return status;
}
