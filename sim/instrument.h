// The scriptable instrument: what it answers to each command, and what it saw.
#pragma once

#include "sim/delivery.h"
#include "sim/frame.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

namespace sim {

// What a handler computes for one request.
struct Answer
{
    Bytes payload;
    std::uint8_t status = 0;
    std::uint16_t param = 0;
    bool close_after = false; // drop the link once this answer is written
};

// nullopt: stay silent. Runs on the server thread without the instrument's
// lock, so it may call the instrument (a set command storing its value).
using Handler = std::function<std::optional<Answer>(const Frame& request)>;

// How the instrument treats one command code.
struct Rule
{
    enum class Kind { answer, silence, failure };

    Kind kind = Kind::answer;
    Answer answer;                // fixed answer when no handler is set
    Handler handler;              // computes the answer from the request
    int busy_count = 0;           // the first busy_count requests get frame 12289
    std::uint8_t busy_status = 0; // status of those 12289 frames
    int damaged_count = 0;        // the first damaged_count answers carry a broken payload check
    std::vector<Frame> before;    // frames written ahead of every reply, in the same batch
    bool close_after = false;     // drop the link once the reply is written (a restart)

    static Rule reply(Bytes payload = {}, std::uint8_t status = 0, std::uint16_t param = 0);
    static Rule compute(Handler handler);
    static Rule silence();
    static Rule fail(std::uint8_t status = 0); // frame 12290 instead of the answer

    Rule& after_busy(int n, std::uint8_t status = 0);
    Rule& damaged_first(int n);
    Rule& preceded_by(Frame frame);
    Rule& then_close();
};

// Families whose identification query is not the identity query.
enum class Pose {
    identity, // answers 8007 with its serial text (the family follows its first character)
    m15,      // answers 1109 with 2109
    m16,      // answers 1001 with 2001
    mvd       // answers 47788 with 48788 carrying the 32-bit value 1
};

// The simulator's own share of an exchange, on its steady clock, summed over
// answers. `preparing` ends where the link's write begins, so it leaves out the
// transport; `writing` ends when the last byte of the answer was written.
struct AnswerTiming
{
    std::chrono::nanoseconds preparing{0}; // request parsed to answer handed to the write
    std::chrono::nanoseconds writing{0};   // request parsed to answer written
    std::uint64_t answers = 0;             // answers completely written
};

// What one request makes the instrument write.
struct Response
{
    std::vector<Bytes> writes; // one entry per write call; empty for silence
    bool close_after = false;
    std::chrono::milliseconds delay{0}; // hold the writes back this long
};

// Faults laid over every rule, to try a host's error handling.
struct Faults
{
    std::chrono::milliseconds latency{0}; // before every answer
    double drop = 0;                      // chance that an answer frame is not written
    double corrupt = 0;                   // chance that an answer frame's payload check is broken
    int repeat = 0;                       // frames 12289 before each answer of every command
    std::optional<std::uint16_t> fail;    // this command is answered with frame 12290
    std::size_t disconnect_after = 0;     // close the link after this many exchanges; 0 never
    std::uint32_t seed = 1;               // of the drop and corrupt draws
};

// Sees every frame the instrument takes in ("in"), writes ("out") or
// withholds by the drop fault ("lost"), as wire bytes. Runs on the server
// thread with no lock of the instrument held.
using FrameTap = std::function<void(const char* direction, const Bytes& frame)>;

// Thread-safe: the server thread calls respond() while a test sets rules,
// reads the log and waits.
class Instrument
{
public:
    static constexpr std::size_t kSerialSize = 8; // identity answer payload, NUL-padded

    explicit Instrument(std::string serial = "C0000001");

    std::string serial() const;
    void set_serial(std::string serial);
    Bytes identity_payload() const;

    // Rules; unknown codes are ignored, 8007 answers the identity by default.
    void set_rule(std::uint16_t code, Rule rule);
    void clear_rule(std::uint16_t code); // back to the default for that code
    void reset_rules();
    void pose_as(Pose pose);

    void set_delivery(Delivery delivery);
    Delivery delivery() const;

    void set_faults(Faults faults);
    Faults faults() const;
    void set_tap(FrameTap tap);

    // Logs the request, applies its rule and shapes the reply.
    Response respond(const Frame& request);
    // Encodes and shapes frames sent without a request.
    std::vector<Bytes> unsolicited(const std::vector<Frame>& frames) const;

    // Observation.
    std::vector<Frame> received() const; // the most recent log_limit() command frames
    // The latest logged request of `code`, for a test to check what a host sent.
    std::optional<Frame> last_request(std::uint16_t code) const;
    std::size_t count(std::uint16_t code) const;
    std::size_t total_received() const;
    bool wait_for(std::uint16_t code, std::size_t n, std::chrono::milliseconds timeout) const;
    void clear_log(); // log and counters
    void set_log_limit(std::size_t frames);
    std::size_t log_limit() const;

    // Called by the link serving this instrument.
    void note_link_opened(); // a new link: the disconnect fault counts afresh
    void note_answer_handed(std::chrono::nanoseconds since_parsed);
    void note_answer_written(std::chrono::nanoseconds since_parsed);
    AnswerTiming answer_timing() const;
    void reset_answer_timing();

private:
    std::shared_ptr<const Rule> rule_for(std::uint16_t code) const;

    mutable std::mutex mutex_;
    mutable std::condition_variable received_cv_;
    std::string serial_;
    std::unordered_map<std::uint16_t, std::shared_ptr<const Rule>> rules_;
    std::unordered_map<std::uint16_t, int> busy_left_;
    std::unordered_map<std::uint16_t, int> damaged_left_;
    std::shared_ptr<const Rule> identity_rule_;
    Delivery delivery_;
    Faults faults_;
    std::mt19937 fault_rng_{1};
    std::unordered_map<std::uint16_t, int> repeats_done_;
    std::size_t exchanges_on_link_ = 0;
    std::shared_ptr<const FrameTap> tap_;
    std::deque<Frame> log_;
    std::size_t log_limit_ = 10000;
    std::unordered_map<std::uint16_t, std::size_t> counts_;
    std::size_t total_ = 0;
    AnswerTiming timing_;
};

} // namespace sim
