// The whole simulated set-up as the orvisk-sim program runs it: K instruments
// on consecutive TCP ports (and pseudo-terminals), one discovery responder,
// the event stream, faults and the frame log.
#pragma once

#include "sim/discovery_responder.h"
#include "sim/family_sets.h"
#include "sim/frame_server.h"
#include "sim/instrument.h"
#include "sim/model.h"
#include "sim/survey_store.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace sim {

struct SimOptions
{
    std::string listen_host = "127.0.0.1";
    std::uint16_t listen_port = 4444; // 0: the system picks, for every instrument
    bool discovery = true;
    std::string discovery_host = "127.0.0.1";
    std::uint16_t discovery_port = 4455;
    bool pty = false;
    std::size_t count = 1;
    std::string serial; // empty: the family's default
    std::string family; // empty: the family the serial names (M30 by default)
    std::size_t records = 300;
    std::uint32_t seed = 1;
    std::string track;      // CSV file of points instead of the walk
    std::vector<std::string> hostile; // newest records made hostile (SurveyStore::with_hostile)
    std::int64_t epoch = 0; // "now" of the walk's time stamps; 0: the clock
    std::size_t chunk = kMaxChunk;
    double events_hz = 1; // 0: none
    Faults faults;
    std::size_t split = 0; // bytes per write; 0: whole frames
    bool garbage = false;
    std::string log; // file of every frame in and out; empty: none
};

// One simulated instrument as the program announces it.
struct SimInstrument
{
    std::size_t number = 0; // from 1
    std::string family;
    int type = 0;
    std::string serial;
    std::string identity; // discovery identity text
    std::uint16_t port = 0;
    std::string tcp;      // connection string
    std::string pty_path; // "" without --pty
    std::shared_ptr<Instrument> instrument;
    std::shared_ptr<const SurveyStore> store;
    std::shared_ptr<Model> model;
    FamilySet set; // what the family adds: files, items, its own commands
};

// The stray bytes --garbage writes ahead of every batch: no start mark, and
// a partial one broken off so that the frame after it is still found.
extern const Bytes kGarbage;
constexpr std::size_t kSplitBytes = 7;

class Simulator
{
public:
    // Checks the options and builds the stores; std::invalid_argument or
    // std::runtime_error on bad options or an unreadable track file.
    explicit Simulator(SimOptions options);
    ~Simulator(); // stops
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    // Binds every port and starts serving; std::system_error when a port is taken.
    void start();
    void stop(); // idempotent

    const SimOptions& options() const { return options_; }
    const std::vector<SimInstrument>& instruments() const { return instruments_; }
    std::uint16_t discovery_port() const; // 0 without discovery
    FrameServer& server() { return server_; }
    // The current pty path of instrument i (it changes after a hang-up).
    std::string pty_path(std::size_t i) const;

    // "tcp:HOST:PORT" as the transport reads it, brackets around IPv6.
    static std::string tcp_string(const std::string& host, std::uint16_t port);
    static std::string serial_string(const std::string& path);

private:
    void run_events();
    void log_frame(const std::string& who, const char* direction, const Bytes& frame);

    SimOptions options_;
    FrameServer server_;
    std::unique_ptr<DiscoveryResponder> discovery_;
    std::vector<SimInstrument> instruments_;
    std::FILE* log_ = nullptr;
    std::mutex log_mutex_;
    std::thread events_;
    std::mutex events_mutex_;
    std::condition_variable events_cv_;
    bool stopping_ = false;
    bool started_ = false;
    bool stopped_ = false;
};

// The serial of instrument i (from 0) of K: the trailing number counts up.
std::string nth_serial(const std::string& serial, std::size_t i);

} // namespace sim
