// Receive parser throughput against one XOR pass over the same bytes.
//
// Prints "parser <frame size>: ratio <x>", x being the parser's speed over
// the speed of a plain byte-at-a-time XOR loop (the check a byte-wise parser
// computes). A second line, marked '#', gives the ratio against the word-wise
// XOR the parser itself uses.
#include <mxx_comm_internal.h>
#include <mxx_xor.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <future>
#include <vector>

namespace detail {

using mxx::mxxXor;

using Clock = std::chrono::steady_clock;

// Keeps the compiler from dropping or merging the XOR passes.
volatile uint8_t sink;

__attribute__((noinline)) uint8_t byteXor(const uint8_t* p, size_t n)
{
    uint8_t x = 0;
    for (size_t i = 0; i < n; ++i)
        x ^= p[i];
    return x;
}

int frames = 0;
int countFrame(int, char*, MXX_frame*, void*)
{
    return ++frames;
}

template <class F> double bestSeconds(F&& f, int rounds)
{
    double best = 1e30;
    for (int r = 0; r < rounds; ++r) {
        auto t0 = Clock::now();
        f();
        double s = std::chrono::duration<double>(Clock::now() - t0).count();
        if (s < best)
            best = s;
    }
    return best;
}

// Runs the measurement inside the transport's handler call of a real loopback
// connection: that is where the parser runs in the program, so the hand-over
// of every frame to the response slots takes its real path.
struct Run
{
    int status = 0;
    std::promise<void> done;
};

void measure(int conn, MXX_conn_record* record, Run& run)
{
    const size_t kStream = 8 << 20;
    const int kChunk = 4096; // what one data call of the transport carries
    for (int frame_size : {13, 100, 8191}) {
        std::vector<uint8_t> payload(frame_size - MXX_FRAME_OVERHEAD);
        for (size_t i = 0; i < payload.size(); ++i)
            payload[i] = static_cast<uint8_t>(i * 7 + 1);
        std::vector<uint8_t> frame(frame_size);
        MXX_make_command(frame.data(), 10002, payload.data(), uint16_t(payload.size()), 0);
        std::vector<uint8_t> stream;
        while (stream.size() + frame_size <= kStream)
            stream.insert(stream.end(), frame.begin(), frame.end());
        const int expected = int(stream.size() / frame_size);

        auto parse = [&] {
            frames = 0;
            for (size_t i = 0; i < stream.size(); i += kChunk) {
                int n = int(std::min<size_t>(kChunk, stream.size() - i));
                MXX_event_proc(conn, COMM_EV_DATA, stream.data() + i, n, record);
            }
        };
        double tParse = bestSeconds(parse, 7);
        if (frames != expected) {
            fprintf(stderr, "parser %d: %d frames of %d\n", frame_size, frames, expected);
            run.status = 1;
        }
        double tByte = bestSeconds([&] { sink = byteXor(stream.data(), stream.size()); }, 7);
        double tWord = bestSeconds([&] { sink = mxxXor(stream.data(), stream.size()); }, 7);
        printf("parser %d: ratio %.2f\n", frame_size, tByte / tParse);
        printf("# parser %d: %.0f MB/s, byte XOR %.0f MB/s, word XOR %.0f MB/s (ratio %.2f)\n",
               frame_size, stream.size() / tParse / 1e6, stream.size() / tByte / 1e6,
               stream.size() / tWord / 1e6, tWord / tParse);
    }
}

MXX_conn_record* benchRecord = nullptr;
Run* benchRun = nullptr;

int handler(int conn, int kind, const uint8_t*, int, void*)
{
    if (kind == COMM_EV_OPENED) {
        measure(conn, benchRecord, *benchRun);
        return -1;
    }
    if (kind == COMM_EV_CLOSED)
        benchRun->done.set_value();
    return 0;
}

} // namespace detail

int main()
{
    using namespace detail;
    if (comm_init() != 0) {
        fprintf(stderr, "transport failed to start\n");
        return 1;
    }
    // A listening socket is all the connection needs: the kernel completes it.
    int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (bind(listener, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
        listen(listener, 1) != 0 ||
        getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        perror("listen");
        return 1;
    }
    char conn_string[COMM_STRING_SIZE];
    snprintf(conn_string, sizeof conn_string, "tcp:127.0.0.1:%d", ntohs(address.sin_port));

    Run run;
    benchRun = &run;
    benchRecord = new MXX_conn_record();
    MXX_record_hook(benchRecord, MXX_HOOK_CATCH_ALL, countFrame);
    int conn = -1;
    if (comm_connect(&conn, conn_string, handler, 4096, 200, nullptr) != 0) {
        fprintf(stderr, "cannot connect to %s\n", conn_string);
        return 1;
    }
    run.done.get_future().wait();
    delete benchRecord;
    close(listener);
    comm_shut();
    return run.status;
}
