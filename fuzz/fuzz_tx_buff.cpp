// The transmit-buffer download against an instrument whose every answer comes
// from the fuzz input: info, prepare and chunk answers of any size and
// status, failure and repeat frames, silence, broken or split frames. Runs
// txBuffDownload into buffers of exactly the room it trusts, then the whole
// survey download of the window.
#include "fake_comm.h"
#include "frames.h"

#include <mxx_comm_internal.h>

#include <m30_protocol.h>
#include <survey_download.h>

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <memory>

namespace {

FuzzedDataProvider* input = nullptr;

// One answer per command written, chosen by the input.
void answer(int id, const uint8_t* command, int length)
{
    FuzzedDataProvider& in = *input;
    if (length < MXX_FRAME_OVERHEAD || in.remaining_bytes() == 0)
        return; // silence: the exchange times out
    const uint16_t code = static_cast<uint16_t>(command[4] | command[5] << 8);
    const uint8_t how = in.ConsumeIntegral<uint8_t>();
    std::vector<uint8_t> bytes;
    if (how < 200) {
        // The usual answer: the command's answer code, mostly status 0.
        const uint8_t status = how < 180 ? 0 : in.ConsumeIntegral<uint8_t>();
        size_t size = M30_TX_CHUNK_HEAD + 8;
        if (code == 8411)
            size = M30_TX_PREPARE_SIZE;
        else if (code == 8412)
            size = M30_TX_CHUNK_HEAD + in.ConsumeIntegralInRange<size_t>(0, 600);
        if (how >= 190)
            size = in.ConsumeIntegralInRange<size_t>(0, M30_TX_CHUNK_HEAD + M30_TX_CHUNK_MAX + 16);
        std::vector<uint8_t> payload = in.ConsumeBytes<uint8_t>(size);
        if (code == 8412 && payload.size() >= 4 && how < 150) {
            // A chunk that says how many item bytes it carries, most of the time.
            const uint32_t n = static_cast<uint32_t>(payload.size() - M30_TX_CHUNK_HEAD);
            payload[0] = static_cast<uint8_t>(n), payload[1] = static_cast<uint8_t>(n >> 8);
            payload[2] = static_cast<uint8_t>(n >> 16), payload[3] = static_cast<uint8_t>(n >> 24);
        }
        bytes = fuzz_frames::frame(static_cast<uint16_t>(code + MXX_CODE_ANSWER_OFFSET), payload, 0,
                                   status);
    } else if (how < 215) {
        bytes = fuzz_frames::frame(MXX_CODE_FAILED, in.ConsumeBytes<uint8_t>(4), 0,
                                   in.ConsumeIntegral<uint8_t>());
    } else if (how < 230) {
        bytes = fuzz_frames::frame(MXX_CODE_REPEAT, nullptr, 0, 0, in.ConsumeIntegral<uint8_t>());
    } else if (how < 245) {
        bytes = in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange<size_t>(0, 64));
    } else {
        return;
    }
    // Delivered in one or two pieces.
    const size_t cut = in.ConsumeIntegralInRange<size_t>(0, bytes.size());
    if (cut > 0)
        fake_comm::deliver(id, COMM_EV_DATA, bytes.data(), static_cast<int>(cut));
    if (cut < bytes.size())
        fake_comm::deliver(id, COMM_EV_DATA, bytes.data() + cut,
                           static_cast<int>(bytes.size() - cut));
}

class Instrument : public M30Protocol
{
public:
    using M30Protocol::txBuffDownload;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider in(data, size);
    input = &in;
    fake_comm::setResponder(answer);

    auto* record = new MXX_conn_record();
    record->num_try = in.ConsumeIntegralInRange<int>(1, 3);
    record->identified = 1;
    const int conn = fake_comm::open(MXX_event_proc, record);
    Instrument protocol;
    protocol.bind(conn, nullptr);

    const bool list = in.ConsumeBool();
    const int kind = list ? M30_TX_KIND_INDEX_LIST : M30_TX_KIND_RECORD;
    const int limit = list ? in.ConsumeIntegralInRange<int>(0, 3000) : 1;
    const size_t room = list ? 4 * static_cast<size_t>(limit) : M30_SURVEY_RECORD_SIZE;
    std::unique_ptr<char[]> item(new char[room + 1]()); // never empty, exactly the room
    int count = -1, result2 = -1, result3 = -1, total = -1;
    const bool ok = protocol.txBuffDownload(kind, 0, 1, limit, 0, 0, &count, &result2, &result3,
                                            item.get(), &total);
    if (ok && (total < 0 || static_cast<size_t>(total) > room))
        std::abort();
    if (!ok && total == -1 && (count != 0 || result2 != 0 || result3 != 0))
        std::abort(); // refused before the chunks: the results read 0
    if (!list && ok)
        decodeSurveyRecord(item.get(), total, 1);

    // The window's download over whatever the input has left.
    SurveyDownload download(protocol, conn);
    if (download.fetchIndices()) {
        int seen = 0;
        download.fetchRecords([&seen](int position, const SurveyRecord* r) {
            if (position != seen++ || (r && r->points.size() > 60))
                std::abort();
            return seen < 50;
        });
    }

    protocol.unbind();
    fake_comm::reset(); // releases the record
    input = nullptr;
    return 0;
}
