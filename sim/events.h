// The M30 event stream: spectra with their background shape, totals,
// status, alarms and one of every other event, payloads of their record sizes.
#pragma once

#include "sim/frame.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace sim {

struct EventSpec
{
    std::uint16_t code;
    std::size_t size; // payload bytes
    const char* name;
};

constexpr std::size_t kSpectrumChannels = 1024;
constexpr std::size_t kSpectrumHead = 126;

inline constexpr EventSpec kM30Events[] = {
    {10002, kSpectrumHead + 4 * kSpectrumChannels, "spectrum"},
    {10003, 8, "keyboard"},
    {10005, 50, "totals"},
    {10004, 4, "gamma 20 Hz total"},
    {10006, 8220, "pulse data"},
    {10007, 372, "status"},
    {10010, 4, "light sensor"},
    {10011, 4, "alarms"},
    {10012, 20, "progress"},
    {10013, 638, "network manager"},
    {10014, 676, "assay results"},
    {10017, 676, "on-the-fly assay results"},
    {10009, 1383, "identification results"},
    {10015, 4, "Cs stabilisation result"},
    {10016, 259, "message"},
};

constexpr std::size_t kStatusSize = 372;

// What the status record reports; the rest of its bytes are zero.
struct StatusValues
{
    std::string serial;
    std::string firmware;
    std::uint32_t battery_percent = 76;
    float temperature = 6.5f;
    float dose_rate = 0.09f; // uSv/h
    float dose = 0;          // uSv since switched on
    std::uint32_t cps = 320;
    float latitude = 57.409f, longitude = 24.6167f, altitude = 16.0f;
    std::uint32_t uptime = 0; // s
    std::uint32_t alarms = 0;
    std::uint32_t records = 0;
};

Bytes status_record(const StatusValues& values);

// Expected counts per second and channel of the background: a falling
// continuum with the potassium line at 1461 keV, fallout caesium at 662 keV
// and the natural series lines; 3 keV a channel, 7 % resolution at 662 keV.
const std::array<double, kSpectrumChannels>& background_shape();
constexpr double kKeVPerChannel = 3.0;

// Not thread-safe: one stream per instrument, ticked by one thread.
class EventStream
{
public:
    EventStream(std::uint32_t seed, StatusValues status);

    // One tick: a 20 Hz total, then the next event of a cycle in which
    // every other tick is a spectrum (kinds 1 to 6 in turn) and the ticks
    // between go through status, alarms and the other events.
    std::vector<Frame> tick();
    // The frame of one event id; an unknown id gives a zero payload of size 0.
    Frame make(std::uint16_t code);
    Bytes spectrum(std::uint16_t kind);

    static std::size_t cycle_length();

private:
    std::mt19937 rng_;
    StatusValues status_;
    float base_dose_rate_; // the dose rate wanders around it, tick by tick
    std::size_t step_ = 0;
    std::uint16_t next_kind_ = 1;
    std::uint16_t sequence_ = 0;
    std::uint32_t alarms_sent_ = 0;
    std::array<std::uint32_t, 7> live_{}; // seconds per spectrum kind
    std::uint32_t ticks_ = 0;
};

} // namespace sim
