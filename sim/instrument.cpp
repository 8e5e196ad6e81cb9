#include "sim/instrument.h"

#include <algorithm>

namespace sim {

namespace detail {

// The query each pose answers; every other one of these codes stays silent.
struct PoseProbe
{
    Pose pose;
    std::uint16_t probe;
    std::size_t payload_bytes; // little-endian `value` of this many bytes
    std::uint32_t value;
};

constexpr PoseProbe kPoseProbes[] = {
    {Pose::identity, code::identity, 0, 0},
    {Pose::m15, 1109, 0, 0},
    {Pose::m16, 1001, 0, 0},
    {Pose::mvd, 47788, 4, 1},
};

Bytes little_endian(std::uint32_t value, std::size_t bytes)
{
    Bytes out(bytes);
    for (std::size_t i = 0; i < bytes; ++i)
        out[i] = static_cast<std::uint8_t>(value >> (8 * i));
    return out;
}

} // namespace detail

Rule Rule::reply(Bytes payload, std::uint8_t status, std::uint16_t param)
{
    Rule r;
    r.answer = Answer{std::move(payload), status, param};
    return r;
}

Rule Rule::compute(Handler handler)
{
    Rule r;
    r.handler = std::move(handler);
    return r;
}

Rule Rule::silence()
{
    Rule r;
    r.kind = Kind::silence;
    return r;
}

Rule Rule::fail(std::uint8_t status)
{
    Rule r;
    r.kind = Kind::failure;
    r.answer.status = status;
    return r;
}

Rule& Rule::after_busy(int n, std::uint8_t status)
{
    busy_count = n;
    busy_status = status;
    return *this;
}

Rule& Rule::damaged_first(int n)
{
    damaged_count = n;
    return *this;
}

Rule& Rule::preceded_by(Frame frame)
{
    before.push_back(std::move(frame));
    return *this;
}

Rule& Rule::then_close()
{
    close_after = true;
    return *this;
}

Instrument::Instrument(std::string serial)
    : serial_(std::move(serial)), identity_rule_(std::make_shared<const Rule>(Rule::compute(
                                      [this](const Frame&) { return Answer{identity_payload()}; })))
{
}

std::string Instrument::serial() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return serial_;
}

void Instrument::set_serial(std::string serial)
{
    std::lock_guard<std::mutex> lock(mutex_);
    serial_ = std::move(serial);
}

Bytes Instrument::identity_payload() const
{
    Bytes out(kSerialSize, 0);
    std::lock_guard<std::mutex> lock(mutex_);
    std::copy_n(serial_.begin(), std::min(serial_.size(), kSerialSize), out.begin());
    return out;
}

void Instrument::set_rule(std::uint16_t code, Rule rule)
{
    std::lock_guard<std::mutex> lock(mutex_);
    busy_left_[code] = rule.busy_count;
    damaged_left_[code] = rule.damaged_count;
    rules_[code] = std::make_shared<const Rule>(std::move(rule));
}

void Instrument::clear_rule(std::uint16_t code)
{
    std::lock_guard<std::mutex> lock(mutex_);
    rules_.erase(code);
    busy_left_.erase(code);
    damaged_left_.erase(code);
}

void Instrument::reset_rules()
{
    std::lock_guard<std::mutex> lock(mutex_);
    rules_.clear();
    busy_left_.clear();
    damaged_left_.clear();
}

void Instrument::pose_as(Pose pose)
{
    for (const detail::PoseProbe& p : detail::kPoseProbes) {
        if (p.pose != pose)
            set_rule(p.probe, Rule::silence());
        else if (pose == Pose::identity)
            clear_rule(p.probe);
        else
            set_rule(p.probe, Rule::reply(detail::little_endian(p.value, p.payload_bytes)));
    }
}

void Instrument::set_delivery(Delivery delivery)
{
    std::lock_guard<std::mutex> lock(mutex_);
    delivery_ = std::move(delivery);
}

Delivery Instrument::delivery() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return delivery_;
}

void Instrument::set_faults(Faults faults)
{
    std::lock_guard<std::mutex> lock(mutex_);
    fault_rng_.seed(faults.seed);
    repeats_done_.clear();
    exchanges_on_link_ = 0;
    faults_ = std::move(faults);
}

Faults Instrument::faults() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return faults_;
}

void Instrument::set_tap(FrameTap tap)
{
    std::lock_guard<std::mutex> lock(mutex_);
    tap_ = tap ? std::make_shared<const FrameTap>(std::move(tap)) : nullptr;
}

void Instrument::note_link_opened()
{
    std::lock_guard<std::mutex> lock(mutex_);
    exchanges_on_link_ = 0;
}

std::shared_ptr<const Rule> Instrument::rule_for(std::uint16_t code) const
{
    auto it = rules_.find(code);
    if (it != rules_.end())
        return it->second;
    return code == code::identity ? identity_rule_ : nullptr;
}

Response Instrument::respond(const Frame& request)
{
    std::shared_ptr<const Rule> rule;
    std::shared_ptr<const FrameTap> tap;
    bool busy = false, fault_busy = false, fault_fail = false, damaged = false;
    Delivery delivery;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        log_.push_back(request);
        while (log_.size() > log_limit_)
            log_.pop_front();
        ++counts_[request.code];
        ++total_;
        rule = rule_for(request.code);
        tap = tap_;
        if (rule && rule->busy_count > 0) {
            int& left = busy_left_[request.code];
            busy = left > 0;
            left -= busy ? 1 : 0;
        }
        if (rule && !busy && rule->kind == Rule::Kind::answer && rule->damaged_count > 0) {
            int& left = damaged_left_[request.code];
            damaged = left > 0;
            left -= damaged ? 1 : 0;
        }
        if (rule && !busy && rule->kind != Rule::Kind::silence) {
            if (faults_.fail && *faults_.fail == request.code) {
                fault_fail = true;
            } else if (faults_.repeat > 0) {
                int& done = repeats_done_[request.code];
                fault_busy = done < faults_.repeat;
                done = fault_busy ? done + 1 : 0;
            }
        }
        if (rule)
            delivery = delivery_;
    }
    received_cv_.notify_all();
    if (tap)
        (*tap)("in", encode(request));

    Response response;
    if (!rule)
        return response;
    std::vector<Bytes> frames;
    for (const Frame& f : rule->before)
        frames.push_back(encode(f));
    const auto answer_code = static_cast<std::uint16_t>(request.code + code::answer_offset);
    if (busy) {
        frames.push_back(encode(code::busy, {}, 0, rule->busy_status));
    } else if (fault_busy) {
        frames.push_back(encode(code::busy));
    } else if (fault_fail) {
        frames.push_back(encode(code::failure, {}, 0, 1));
    } else if (rule->kind == Rule::Kind::failure) {
        frames.push_back(encode(code::failure, {}, rule->answer.param, rule->answer.status));
    } else if (rule->kind == Rule::Kind::answer && rule->handler) {
        if (std::optional<Answer> a = rule->handler(request)) {
            frames.push_back(encode(answer_code, a->payload, a->param, a->status));
            response.close_after = a->close_after;
        }
    } else if (rule->kind == Rule::Kind::answer) {
        const Answer& a = rule->answer;
        frames.push_back(encode(answer_code, a.payload, a.param, a.status));
    }
    response.close_after = response.close_after || rule->close_after;
    if (frames.empty())
        return response;

    // 0 written as is, 1 withheld, 2 written with a broken payload check.
    std::vector<int> fate(frames.size(), 0);
    if (damaged)
        fate.back() = 2; // the answer, behind any frames written ahead of it
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (faults_.disconnect_after > 0 && ++exchanges_on_link_ >= faults_.disconnect_after) {
            response.close_after = true;
            exchanges_on_link_ = 0;
        }
        response.delay = faults_.latency;
        if (faults_.drop > 0 || faults_.corrupt > 0) {
            std::uniform_real_distribution<double> draw(0.0, 1.0);
            for (int& f : fate) {
                if (draw(fault_rng_) < faults_.drop)
                    f = 1;
                else if (draw(fault_rng_) < faults_.corrupt)
                    f = 2;
            }
        }
    }
    std::vector<Bytes> kept;
    kept.reserve(frames.size());
    for (std::size_t i = 0; i < frames.size(); ++i) {
        if (fate[i] == 2)
            frames[i].back() ^= 0x5a;
        if (tap)
            (*tap)(fate[i] == 1 ? "lost" : "out", frames[i]);
        if (fate[i] != 1)
            kept.push_back(std::move(frames[i]));
    }
    response.writes = shape(std::move(kept), delivery);
    return response;
}

std::vector<Bytes> Instrument::unsolicited(const std::vector<Frame>& frames) const
{
    std::shared_ptr<const FrameTap> tap;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        tap = tap_;
    }
    std::vector<Bytes> encoded;
    for (const Frame& f : frames) {
        encoded.push_back(encode(f));
        if (tap)
            (*tap)("out", encoded.back());
    }
    return shape(std::move(encoded), delivery());
}

std::vector<Frame> Instrument::received() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return {log_.begin(), log_.end()};
}

std::optional<Frame> Instrument::last_request(std::uint16_t code) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = log_.rbegin(); it != log_.rend(); ++it)
        if (it->code == code)
            return *it;
    return std::nullopt;
}

std::size_t Instrument::count(std::uint16_t code) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = counts_.find(code);
    return it == counts_.end() ? 0 : it->second;
}

std::size_t Instrument::total_received() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return total_;
}

bool Instrument::wait_for(std::uint16_t code, std::size_t n,
                          std::chrono::milliseconds timeout) const
{
    std::unique_lock<std::mutex> lock(mutex_);
    return received_cv_.wait_for(lock, timeout, [&] {
        auto it = counts_.find(code);
        return it != counts_.end() && it->second >= n;
    });
}

void Instrument::clear_log()
{
    std::lock_guard<std::mutex> lock(mutex_);
    log_.clear();
    counts_.clear();
    total_ = 0;
}

void Instrument::set_log_limit(std::size_t frames)
{
    std::lock_guard<std::mutex> lock(mutex_);
    log_limit_ = frames;
    while (log_.size() > log_limit_)
        log_.pop_front();
}

std::size_t Instrument::log_limit() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return log_limit_;
}

void Instrument::note_answer_handed(std::chrono::nanoseconds since_parsed)
{
    std::lock_guard<std::mutex> lock(mutex_);
    timing_.preparing += since_parsed;
}

void Instrument::note_answer_written(std::chrono::nanoseconds since_parsed)
{
    std::lock_guard<std::mutex> lock(mutex_);
    timing_.writing += since_parsed;
    ++timing_.answers;
}

AnswerTiming Instrument::answer_timing() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return timing_;
}

void Instrument::reset_answer_timing()
{
    std::lock_guard<std::mutex> lock(mutex_);
    timing_ = AnswerTiming{};
}

} // namespace sim
