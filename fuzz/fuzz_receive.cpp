// The receive path of a connection, fed through MXX_event_proc as the
// transport would: bytes in deliveries cut at arbitrary points, timer calls
// between them, on an identified or an unidentified connection with event
// hooks, a catch-all and an armed exchange. Every frame the command layer
// hands on must be one that a plain byte-at-a-time reading of the frame
// format finds, in the same order.
#include "fake_comm.h"

#include <mdd_comm.h>
#include <mxx_comm_internal.h>

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

namespace {

constexpr int kMaxLength = MXX_RX_BUFFER_SIZE - MXX_FRAME_HEADER_SIZE;

// The frame format read one byte at a time, nothing else.
struct Reference
{
    std::vector<uint8_t> buf = std::vector<uint8_t>(MXX_RX_BUFFER_SIZE);
    int pos = 0;
    int expected = 0;
    int payload = 0;
    std::vector<std::vector<uint8_t>> frames; // those that reach the exchange

    void complete()
    {
        uint8_t x = 0;
        for (int i = MXX_FRAME_HEADER_SIZE; i < pos; ++i)
            x ^= buf[i];
        const int size = pos;
        pos = 0;
        if (x != 0)
            return;
        const uint16_t code = static_cast<uint16_t>(buf[4] | buf[5] << 8);
        if (code != MXX_CODE_DISCOVERY_ANSWER) // a discovery answer ends its way there
            frames.emplace_back(buf.begin(), buf.begin() + size);
    }

    void byte(uint8_t b)
    {
        static const uint8_t mark[4] = {'B', 'R', 'N', 'O'};
        if (pos < 4) {
            if (b == mark[pos]) {
                buf[pos++] = b;
                if (pos == 1)
                    expected = 0;
            } else {
                pos = 0;
            }
            return;
        }
        buf[pos++] = b;
        if (pos < MXX_FRAME_HEADER_SIZE)
            return;
        if (pos == MXX_FRAME_HEADER_SIZE) {
            uint8_t x = 0;
            for (int i = 0; i < MXX_FRAME_HEADER_SIZE; ++i)
                x ^= buf[i];
            const int length = buf[6] | buf[7] << 8;
            if (x != 0 || length > kMaxLength) {
                pos = 0;
                return;
            }
            expected = length;
            payload = 0;
            if (expected == 0)
                complete();
            return;
        }
        if (++payload == expected)
            complete();
    }
};

int hookCalls = 0;

// Reads the whole payload the frame claims, so a view that is not all there
// shows up under the address sanitizer.
int hook(int, char* name, MXX_frame* frame, void*)
{
    if (!name || frame->start[0] != 'B' || frame->length > kMaxLength)
        std::abort();
    uint8_t x = 0;
    for (int i = 0; i < frame->length; ++i)
        x ^= frame->payload[i];
    if (frame->length > 0 && x != 0)
        std::abort(); // a frame whose payload check fails was dispatched
    ++hookCalls;
    return 0;
}

int otherHook(int conn, char* name, MXX_frame* frame, void* user)
{
    return hook(conn, name, frame, user);
}

int connectedCalls = 0;

void connected(int, char*, int type, void*)
{
    if (type <= 0)
        std::abort();
    ++connectedCalls;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider in(data, size);
    const bool identified = in.ConsumeBool();
    const uint16_t armedCode = in.ConsumeIntegral<uint16_t>();

    auto* record = new MXX_conn_record();
    record->num_try = 1;
    record->identified = identified ? 1 : 0;
    record->probe = MDD_probe;
    record->test = MDD_test_probe;
    record->connected = connected;
    const int conn = fake_comm::open(MXX_event_proc, record);
    MXX_hook_async_event(conn, 10002, hook);
    MXX_hook_async_event(conn, 10002, otherHook); // never runs: the first hook takes it
    MXX_hook_async_event(conn, 9007, otherHook);
    MXX_hook_async_event(conn, MXX_HOOK_CATCH_ALL, hook);
    std::vector<uint8_t> answer(MXX_ANSWER_BUFFER_SIZE), failed(MXX_SPECIAL_BUFFER_SIZE),
        repeat(MXX_SPECIAL_BUFFER_SIZE);
    comm_hook_response(conn, armedCode, answer.data(), static_cast<int>(answer.size()),
                       MXX_CODE_FAILED, failed.data(), static_cast<int>(failed.size()),
                       MXX_CODE_REPEAT, repeat.data(), static_cast<int>(repeat.size()));
    MXX_net_broadcast_reset_list();
    fake_comm::traceFrames(true);

    Reference ref;
    while (in.remaining_bytes() > 0) {
        const uint8_t op = in.ConsumeIntegral<uint8_t>();
        if (op == 0xFF) {
            // A timer call; once identified it drops a partial frame.
            const bool wasIdentified = record->identified != 0;
            if (fake_comm::deliver(conn, COMM_EV_TIMER) == -1)
                break; // identification gave up: the transport ends the connection
            if (wasIdentified)
                ref.pos = 0;
            continue;
        }
        const std::vector<uint8_t> bytes = in.ConsumeBytes<uint8_t>(op == 0xFE ? 4096 : op);
        if (bytes.empty())
            break;
        fake_comm::deliver(conn, COMM_EV_DATA, bytes.data(), static_cast<int>(bytes.size()));
        for (uint8_t b : bytes)
            ref.byte(b);
        if (record->rx_pos < 0 || record->rx_pos > MXX_RX_BUFFER_SIZE)
            std::abort();
    }

    const std::vector<fake_comm::Handed> handed = fake_comm::takeFrames();
    if (handed.size() != ref.frames.size()) {
        std::fprintf(stderr, "%zu frames handed on, %zu in the byte-wise reading\n", handed.size(),
                     ref.frames.size());
        std::abort();
    }
    for (size_t i = 0; i < handed.size(); ++i)
        if (handed[i].frame != ref.frames[i]) {
            std::fprintf(stderr, "frame %zu differs from the byte-wise reading\n", i);
            std::abort();
        }
    fake_comm::traceFrames(false);
    fake_comm::deliver(conn, COMM_EV_CLOSED); // releases the record
    return 0;
}
