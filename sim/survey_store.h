// The instrument's stored survey records: a surveyor's walk over the sample
// map's land, or points read from a track file, and their 3436-byte form.
#pragma once

#include "sim/frame.h"

#include <cstddef>
#include <cstdint>
#include <istream>
#include <optional>
#include <string>
#include <vector>

namespace sim {

constexpr std::size_t kRecordSize = 3436;
constexpr std::size_t kRecordPoints = 60; // room for exactly this many
constexpr std::size_t kPointsAt = 1520;
constexpr std::size_t kPointSize = 32;

// The land the walk stays on, inside the sample map.
struct LandBox
{
    double south = 57.4000, north = 57.4180;
    double west = 24.6000, east = 24.6335;
};

struct SurveyPoint
{
    std::uint32_t time = 0; // seconds since 1970 UTC
    bool fix = false;       // false: no position, flag 0
    double latitude = 0, longitude = 0;
    float altitude = 0;    // metres
    float dose_rate = 0;   // microsievert per hour
    std::uint16_t cps = 0; // gamma counts per second
    std::uint8_t satellites = 0;
    std::uint8_t hdop10 = 0; // horizontal dilution of precision, tenths
};

struct SurveyRecord
{
    std::uint32_t index = 0;
    std::uint32_t time = 0; // of the first point
    std::vector<SurveyPoint> points;
    // A hostile record: the point count its header claims instead of the
    // true one, and the bytes it is cut to (0: whole).
    std::optional<std::uint32_t> claimed_points;
    std::size_t cut = 0;
};

struct WalkConfig
{
    std::size_t records = 300;
    std::uint32_t seed = 1;
    std::int64_t now = 0; // the newest record ends shortly before; 0: the system clock
    LandBox box;
};

class SurveyStore
{
public:
    SurveyStore() = default;
    explicit SurveyStore(std::vector<SurveyRecord> records);

    // Parallel transects with turns, GPS noise and a few points without a
    // fix, in sessions on the past days; indices ascending with gaps.
    static SurveyStore walk(const WalkConfig& config);
    // CSV lines "time,latitude,longitude": time in seconds since 1970 or as
    // YYYY-MM-DDTHH:MM:SS[Z] (UTC); empty or "nan" coordinates mean no fix;
    // blank lines, '#' comments and a header line are skipped. A new record
    // begins after 60 points or a time step outside 1..10 s.
    // std::runtime_error names the line that cannot be read.
    static SurveyStore from_track(std::istream& in, std::uint32_t seed,
                                  const std::string& name = "track");

    const std::vector<SurveyRecord>& records() const { return records_; }
    const SurveyRecord* find(std::uint32_t index) const;
    // Indices of at least `start`, ascending, at most `limit` of them.
    std::vector<std::uint32_t> indices(std::uint32_t start, std::uint32_t limit) const;

    static Bytes encode(const SurveyRecord& record);

    // The newest records made hostile, one kind each in the order given:
    // "cut" (100 bytes whose header claims 60 points), "count" (a header
    // claiming 61 points), "positions" (points flagged with latitude 91,
    // longitude 200, -91, NaN and infinite coordinates, and one at longitude
    // 180). std::invalid_argument names an unknown kind.
    SurveyStore with_hostile(const std::vector<std::string>& kinds) const;
    static bool is_hostile_kind(const std::string& kind);

private:
    std::vector<SurveyRecord> records_; // ascending index
};

// What the byte layout of a record is, for the program's help.
extern const char* const kRecordLayoutHelp;

} // namespace sim
