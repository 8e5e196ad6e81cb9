#include "sim/simulator.h"

#include "sim/events.h"
#include "sim/families.h"
#include "sim/family_tables.h"

#include <cctype>
#include <chrono>
#include <ctime>
#include <fstream>
#include <stdexcept>
#include <system_error>

namespace sim {

const Bytes kGarbage = {0x00, 0xa5, 'B', 'R', 0x17, 0xff, 0x0d, 0x0a};

namespace detail {

std::string hex_of(const Bytes& bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(2 * bytes.size());
    for (std::uint8_t b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

bool printable(const std::string& s)
{
    for (char c : s)
        if (!std::isprint(static_cast<unsigned char>(c)))
            return false;
    return true;
}

Bytes port_tail(std::uint16_t port)
{
    return {static_cast<std::uint8_t>(port), static_cast<std::uint8_t>(port >> 8)};
}

} // namespace detail

std::string nth_serial(const std::string& serial, std::size_t i)
{
    if (i == 0)
        return serial;
    std::size_t digits = 0;
    while (digits < serial.size() &&
           std::isdigit(static_cast<unsigned char>(serial[serial.size() - 1 - digits])))
        ++digits;
    if (digits == 0)
        return serial.size() < Instrument::kSerialSize
                   ? (serial + std::to_string(i + 1)).substr(0, Instrument::kSerialSize)
                   : serial;
    digits = std::min<std::size_t>(digits, 9);
    const std::string head = serial.substr(0, serial.size() - digits);
    std::string number = std::to_string(std::stoull(serial.substr(serial.size() - digits)) + i);
    if (number.size() < digits)
        number = std::string(digits - number.size(), '0') + number;
    return (head + number).substr(0, Instrument::kSerialSize);
}

std::string Simulator::tcp_string(const std::string& host, std::uint16_t port)
{
    const bool v6 = host.find(':') != std::string::npos;
    return "tcp:" + (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

std::string Simulator::serial_string(const std::string& path)
{
    return "serial:" + path + ":115200:8N1";
}

Simulator::Simulator(SimOptions options) : options_(std::move(options))
{
    const SimOptions& o = options_;
    if (o.count < 1 || o.count > 64)
        throw std::invalid_argument("--count must be 1 to 64");
    if (o.chunk < 1 || o.chunk > kMaxChunk)
        throw std::invalid_argument("--chunk must be 1 to " + std::to_string(kMaxChunk));
    if (!(o.events_hz >= 0 && o.events_hz <= 1000))
        throw std::invalid_argument("--events must be 0 to 1000 Hz");
    if (!(o.faults.drop >= 0 && o.faults.drop <= 1) ||
        !(o.faults.corrupt >= 0 && o.faults.corrupt <= 1))
        throw std::invalid_argument("--drop and --corrupt are probabilities from 0 to 1");
    if (o.records > 100000)
        throw std::invalid_argument("--records must be at most 100000");
    if (o.listen_port != 0 && o.listen_port + o.count - 1 > 65535)
        throw std::invalid_argument("--count instruments do not fit above the --listen port");

    const FamilyInfo* family = nullptr;
    if (!o.family.empty()) {
        family = find_family(o.family);
        if (!family)
            throw std::invalid_argument("--family " + o.family +
                                        ": not one that identification reports; one of " +
                                        family_names());
    }
    if (!o.serial.empty()) {
        if (o.serial.size() > Instrument::kSerialSize || !detail::printable(o.serial))
            throw std::invalid_argument("--serial: 1 to 8 printable characters");
        const FamilyInfo& named = family_of_serial(o.serial);
        if (family && family->pose == Pose::identity && &named != family)
            throw std::invalid_argument("--serial " + o.serial + " identifies as " + named.name +
                                        ", not " + family->name);
        if (!family)
            family = &named;
    }
    if (!family)
        family = find_family("M30");
    const std::string base = o.serial.empty() ? family->default_serial : o.serial;

    std::shared_ptr<const SurveyStore> track;
    if (!o.track.empty()) {
        std::ifstream in(o.track);
        if (!in)
            throw std::runtime_error("--track " + o.track + ": cannot be read");
        track = std::make_shared<const SurveyStore>(SurveyStore::from_track(in, o.seed, o.track));
    }

    for (std::size_t i = 0; i < o.count; ++i) {
        SimInstrument s;
        s.number = i + 1;
        s.family = family->name;
        s.type = family->type;
        s.serial = nth_serial(base, i);
        s.identity = s.serial;
        for (const SimInstrument& before : instruments_)
            if (before.identity == s.identity) // a serial that cannot count up
                s.identity = (s.serial + std::to_string(i + 1)).substr(0, 9);
        s.instrument = std::make_shared<Instrument>(s.serial);
        WalkConfig walk;
        walk.records = o.records;
        walk.seed = o.seed + static_cast<std::uint32_t>(i);
        walk.now = o.epoch;
        s.store = track ? track : std::make_shared<const SurveyStore>(SurveyStore::walk(walk));
        if (!o.hostile.empty())
            s.store = std::make_shared<const SurveyStore>(s.store->with_hostile(o.hostile));
        ModelConfig mc;
        mc.m30 = family->m30_like;
        mc.chunk = o.chunk;
        mc.seed = o.seed + static_cast<std::uint32_t>(i);
        s.model = std::make_shared<Model>(s.instrument, s.store, mc);
        s.model->install();
        s.set = install_family_set(family->name, *s.instrument, mc.seed);
        s.instrument->pose_as(family->pose);
        install_table_family(*s.instrument, s.family);
        Faults f = o.faults;
        f.seed = o.seed * 7919u + static_cast<std::uint32_t>(i);
        s.instrument->set_faults(f);
        Delivery d;
        d.split = o.split;
        if (o.garbage)
            d.stray = kGarbage;
        s.instrument->set_delivery(d);
        instruments_.push_back(std::move(s));
    }
}

Simulator::~Simulator()
{
    stop();
}

void Simulator::start()
{
    if (started_)
        return;
    started_ = true;
    if (!options_.log.empty()) {
        log_ = std::fopen(options_.log.c_str(), "a");
        if (!log_)
            throw std::system_error(errno, std::generic_category(), "--log " + options_.log);
        for (SimInstrument& s : instruments_)
            s.instrument->set_tap([this, who = s.serial](const char* direction, const Bytes& f) {
                log_frame(who, direction, f);
            });
    }
    for (std::size_t i = 0; i < instruments_.size(); ++i) {
        SimInstrument& s = instruments_[i];
        const std::uint16_t want =
            options_.listen_port ? static_cast<std::uint16_t>(options_.listen_port + i) : 0;
        s.port = server_.serve_tcp(s.instrument, options_.listen_host, want);
        s.tcp = tcp_string(options_.listen_host, s.port);
        if (options_.pty)
            s.pty_path = server_.serve_pty(s.instrument);
    }
    if (options_.discovery) {
        discovery_ =
            std::make_unique<DiscoveryResponder>(options_.discovery_host, options_.discovery_port);
        const bool v6 = options_.listen_host.find(':') != std::string::npos;
        const bool any = options_.listen_host == "0.0.0.0" || options_.listen_host == "::";
        for (const SimInstrument& s : instruments_) {
            DiscoveryEntry e;
            e.identity = s.identity;
            e.ipv4 = v6 ? "" : any ? "127.0.0.1" : options_.listen_host;
            e.ipv6 = v6 ? (any ? "::1" : options_.listen_host) : "";
            e.tail = detail::port_tail(s.port);
            discovery_->add(std::move(e));
        }
        discovery_->start();
    }
    server_.start();
    bool events = false;
    for (const SimInstrument& s : instruments_)
        events = events || find_family(s.family)->m30_like || s.set.has_events() ||
                 table_family_has_events(s.family);
    if (options_.events_hz > 0 && events)
        events_ = std::thread([this] { run_events(); });
}

void Simulator::stop()
{
    if (stopped_)
        return;
    stopped_ = true;
    {
        std::lock_guard<std::mutex> lock(events_mutex_);
        stopping_ = true;
    }
    events_cv_.notify_all();
    if (events_.joinable())
        events_.join();
    if (discovery_)
        discovery_->stop();
    server_.stop();
    for (SimInstrument& s : instruments_)
        s.instrument->set_tap(nullptr);
    std::lock_guard<std::mutex> lock(log_mutex_);
    if (log_)
        std::fclose(log_);
    log_ = nullptr;
}

std::uint16_t Simulator::discovery_port() const
{
    return discovery_ ? discovery_->port() : 0;
}

std::string Simulator::pty_path(std::size_t i) const
{
    return i < instruments_.size() ? server_.pty_path(*instruments_[i].instrument) : std::string{};
}

void Simulator::run_events()
{
    std::vector<EventStream> streams;
    for (const SimInstrument& s : instruments_) {
        StatusValues v;
        v.serial = s.serial;
        v.records = static_cast<std::uint32_t>(s.store->records().size());
        streams.emplace_back(options_.seed + static_cast<std::uint32_t>(s.number), v);
    }
    using Clock = std::chrono::steady_clock;
    const auto period = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(1.0 / options_.events_hz));
    Clock::time_point next = Clock::now();
    std::uint32_t ticks = 0;
    std::unique_lock<std::mutex> lock(events_mutex_);
    while (!stopping_) {
        next += period;
        if (events_cv_.wait_until(lock, next, [this] { return stopping_; }))
            break;
        lock.unlock();
        ++ticks;
        for (std::size_t i = 0; i < instruments_.size(); ++i) {
            const SimInstrument& s = instruments_[i];
            if (server_.links_open(*s.instrument) == 0)
                continue;
            std::vector<Frame> frames = find_family(s.family)->m30_like
                                            ? s.set.adapt(streams[i].tick())
                                            : s.set.tick(ticks);
            for (Frame& f : table_family_events(
                     s.family, options_.seed + static_cast<std::uint32_t>(s.number), ticks))
                frames.push_back(std::move(f));
            if (!frames.empty())
                server_.push(*s.instrument, std::move(frames));
        }
        lock.lock();
        if (Clock::now() > next + 10 * period) // fell far behind: do not burst
            next = Clock::now();
    }
}

void Simulator::log_frame(const std::string& who, const char* direction, const Bytes& frame)
{
    const auto now = std::chrono::system_clock::now();
    const std::time_t t = std::chrono::system_clock::to_time_t(now);
    const auto micros =
        std::chrono::duration_cast<std::chrono::microseconds>(now.time_since_epoch()).count() %
        1000000;
    std::tm tm{};
    gmtime_r(&t, &tm);
    char stamp[40];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%S", &tm);
    const std::string hex = detail::hex_of(frame);
    std::lock_guard<std::mutex> lock(log_mutex_);
    if (!log_)
        return;
    std::fprintf(log_, "%s.%06lldZ %s %-4s %s\n", stamp, static_cast<long long>(micros),
                 who.c_str(), direction, hex.c_str());
    std::fflush(log_);
}

} // namespace sim
