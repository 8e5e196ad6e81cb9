#include "sim/survey_store.h"

#include "sim/bytes.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstring>
#include <ctime>
#include <iterator>
#include <limits>
#include <random>
#include <stdexcept>

namespace sim {

const char* const kRecordLayoutHelp =
    "  Survey record (3436 bytes, little-endian):\n"
    "     0 u32 record index           4 u32 time of the first point, s since 1970 UTC\n"
    "     8 u32 number of points      12 u32 seconds between points (1)\n"
    "    16 u32 points with a fix     20 f32 mean dose rate, uSv/h\n"
    "    24 f32 highest dose rate     28 f32 mean altitude, m\n"
    "    32 32-byte text: area name   64-1519 zero\n"
    "  Point i at 1520 + 32*i (60 points):\n"
    "    +0 u32 valid flag (1 with a fix, 0 without)\n"
    "    +4 f32 latitude, degrees     +8 f32 longitude, degrees (WGS 84)\n"
    "   +12 f32 altitude, m          +16 f32 dose rate, uSv/h\n"
    "   +20 u32 time, s since 1970   +24 u16 gamma counts per second\n"
    "   +26 u8 satellites            +27 u8 HDOP in tenths\n"
    "   +28 zero (point 59 ends with byte +27 at the record's end)\n";

namespace detail {

constexpr double kPi = 3.14159265358979323846;

// Metres per degree at a latitude (the usual series of the ellipsoid).
double metres_per_degree_lat(double lat)
{
    const double r = lat * kPi / 180;
    return 111132.954 - 559.822 * std::cos(2 * r) + 1.175 * std::cos(4 * r);
}

double metres_per_degree_lon(double lat)
{
    const double r = lat * kPi / 180;
    return 111412.84 * std::cos(r) - 93.5 * std::cos(3 * r);
}

// Plausible ground values: a gently varying background with one hot spot.
struct Field
{
    double width = 2000, height = 2000;

    double dose_rate(double x, double y) const
    {
        const double hx = 0.62 * width, hy = 0.41 * height;
        const double d2 = (x - hx) * (x - hx) + (y - hy) * (y - hy);
        return 0.085 + 0.025 * std::sin(x / 180) * std::cos(y / 230) +
               0.35 * std::exp(-d2 / (2 * 35.0 * 35.0));
    }

    double altitude(double x, double y) const
    {
        return 12 + 8 * (y / height) + 3 * std::sin(x / 400);
    }
};

void fill_values(SurveyPoint& p, const Field& field, double x, double y, std::mt19937& rng)
{
    std::normal_distribution<double> unit(0.0, 1.0);
    const double rate = std::max(0.02, field.dose_rate(x, y) * (1 + 0.08 * unit(rng)));
    p.dose_rate = static_cast<float>(rate);
    p.cps = static_cast<std::uint16_t>(std::lround(std::min(65535.0, rate * 3500)));
    p.altitude = static_cast<float>(field.altitude(x, y) + 0.6 * unit(rng));
    if (p.fix) {
        p.satellites = static_cast<std::uint8_t>(7 + rng() % 6);
        p.hdop10 = static_cast<std::uint8_t>(8 + rng() % 10);
    }
}

// Walks toward a sequence of waypoints: along a transect, along the edge to
// the next one, back along that one; up the box and down again.
class Walker
{
public:
    Walker(double width, double height, double spacing, std::mt19937& rng)
        : width_(width), height_(height), rng_(rng)
    {
        rows_ = std::max<std::size_t>(1, static_cast<std::size_t>(height / spacing) + 1);
        spacing_ = rows_ > 1 ? height / static_cast<double>(rows_ - 1) : 0;
        x_ = 0;
        y_ = 0;
        heading_ = 0; // east
        target(0, true);
    }

    void step()
    {
        const double dx = tx_ - x_, dy = ty_ - y_;
        if (std::hypot(dx, dy) < 4) {
            if (along_) {
                target(lane_, false);
            } else {
                ++lane_;
                target(lane_, true);
            }
        }
        const double want = std::atan2(ty_ - y_, tx_ - x_);
        double turn = std::remainder(want - heading_, 2 * kPi);
        const double max_turn = 30 * kPi / 180;
        turn = std::clamp(turn, -max_turn, max_turn);
        std::normal_distribution<double> wander(0.0, 0.06); // nobody walks a ruler line
        heading_ += turn + wander(rng_);
        std::uniform_real_distribution<double> pace(1.15, 1.45);
        const double v = pace(rng_);
        x_ = std::clamp(x_ + v * std::cos(heading_), 0.0, width_);
        y_ = std::clamp(y_ + v * std::sin(heading_), 0.0, height_);
    }

    double x() const { return x_; }
    double y() const { return y_; }

private:
    double row_y(std::size_t lane) const
    {
        if (rows_ == 1)
            return 0;
        const std::size_t period = 2 * (rows_ - 1);
        const std::size_t r = lane % period;
        return static_cast<double>(r < rows_ ? r : period - r) * spacing_;
    }

    // along: the far end of this lane; otherwise the start of the next lane.
    void target(std::size_t lane, bool along)
    {
        along_ = along;
        lane_ = lane;
        const double end_x = lane % 2 == 0 ? width_ : 0;
        tx_ = end_x;
        ty_ = along ? row_y(lane) : row_y(lane + 1);
    }

    double width_, height_, spacing_ = 0;
    std::size_t rows_ = 1, lane_ = 0;
    bool along_ = true;
    double x_, y_, heading_, tx_ = 0, ty_ = 0;
    std::mt19937& rng_;
};

std::uint32_t first_index(std::mt19937& rng)
{
    return 1 + rng() % 4;
}

// The next index after `index`: mostly the next number, sometimes a gap as
// deleted records leave.
std::uint32_t next_index(std::uint32_t index, std::mt19937& rng)
{
    std::uniform_real_distribution<double> u(0.0, 1.0);
    return index + 1 + (u(rng) < 0.1 ? 1 + rng() % 8 : 0);
}

std::string trim(std::string s)
{
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back())))
        s.pop_back();
    std::size_t i = 0;
    while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i])))
        ++i;
    return s.substr(i);
}

bool parse_time(const std::string& s, std::uint32_t& out)
{
    if (s.empty())
        return false;
    if (std::all_of(s.begin(), s.end(),
                    [](char c) { return std::isdigit(static_cast<unsigned char>(c)); })) {
        if (s.size() > 10)
            return false;
        const unsigned long long v = std::stoull(s);
        if (v > 0xffffffffULL)
            return false;
        out = static_cast<std::uint32_t>(v);
        return true;
    }
    std::tm tm{};
    char sep = 0;
    int consumed = 0;
    if (std::sscanf(s.c_str(), "%4d-%2d-%2d%c%2d:%2d:%2d%n", &tm.tm_year, &tm.tm_mon, &tm.tm_mday,
                    &sep, &tm.tm_hour, &tm.tm_min, &tm.tm_sec, &consumed) != 7 ||
        (sep != 'T' && sep != ' '))
        return false;
    const std::string rest = s.substr(static_cast<std::size_t>(consumed));
    if (!rest.empty() && rest != "Z")
        return false;
    if (tm.tm_mon < 1 || tm.tm_mon > 12 || tm.tm_mday < 1 || tm.tm_mday > 31 || tm.tm_hour > 23 ||
        tm.tm_min > 59 || tm.tm_sec > 60 || tm.tm_year < 1970)
        return false;
    tm.tm_year -= 1900;
    tm.tm_mon -= 1;
    const std::time_t t = timegm(&tm);
    if (t < 0 || t > 0xffffffffLL)
        return false;
    out = static_cast<std::uint32_t>(t);
    return true;
}

// false: not a number; `fix` false for an empty or "nan" field.
bool parse_coordinate(const std::string& s, double limit, double& out, bool& fix)
{
    std::string lower;
    for (char c : s)
        lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (lower.empty() || lower == "nan") {
        fix = false;
        return true;
    }
    char* end = nullptr;
    out = std::strtod(s.c_str(), &end);
    if (end == s.c_str() || *end != '\0' || !std::isfinite(out) || std::fabs(out) > limit)
        return false;
    return true;
}

} // namespace detail

SurveyStore::SurveyStore(std::vector<SurveyRecord> records) : records_(std::move(records))
{
    std::sort(records_.begin(), records_.end(),
              [](const SurveyRecord& a, const SurveyRecord& b) { return a.index < b.index; });
}

SurveyStore SurveyStore::walk(const WalkConfig& config)
{
    std::mt19937 rng(config.seed);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    std::normal_distribution<double> unit(0.0, 1.0);
    const LandBox& box = config.box;
    const double mid = (box.south + box.north) / 2;
    const double m_lat = detail::metres_per_degree_lat(mid);
    const double m_lon = detail::metres_per_degree_lon(mid);
    const double margin = 25;
    const double width = (box.east - box.west) * m_lon - 2 * margin;
    const double height = (box.north - box.south) * m_lat - 2 * margin;
    const std::int64_t now = config.now != 0
                                 ? config.now
                                 : std::chrono::duration_cast<std::chrono::seconds>(
                                       std::chrono::system_clock::now().time_since_epoch())
                                       .count();

    // Point counts first: the sessions' lengths place them in time.
    std::vector<std::size_t> sizes(config.records, kRecordPoints);
    std::size_t total_points = 0;
    for (std::size_t& n : sizes) {
        if (u(rng) < 0.04)
            n = 15 + rng() % 45;
        total_points += n;
    }
    // Sessions of at most ten hours, at least one a day over the past week.
    const std::size_t sessions = std::clamp<std::size_t>(
        std::max<std::size_t>(config.records / 12, (total_points + 35999) / 36000), 1,
        std::max<std::size_t>(7, (total_points + 35999) / 36000));
    std::vector<std::size_t> session_of(config.records);
    for (std::size_t i = 0; i < config.records; ++i)
        session_of[i] = i * sessions / std::max<std::size_t>(1, config.records);
    for (std::size_t i = 0; i + 1 < config.records; ++i) // each session ends short
        if (session_of[i] != session_of[i + 1])
            sizes[i] = 5 + rng() % 56;
    if (!sizes.empty())
        sizes.back() = 5 + rng() % 56;
    std::vector<std::int64_t> duration(sessions, 0);
    for (std::size_t i = 0; i < config.records; ++i)
        duration[session_of[i]] += static_cast<std::int64_t>(sizes[i]);
    std::vector<std::int64_t> start(sessions);
    std::int64_t end = now - 600 - static_cast<std::int64_t>(rng() % 600);
    for (std::size_t s = sessions; s-- > 0;) {
        start[s] = end - duration[s];
        const std::int64_t gap = sessions > 7 ? 3600 + rng() % 7200 : 86400 - 10800 + rng() % 14400;
        end = std::min(start[s] - 1800, end - gap);
    }

    // Transects spaced so that the walk reaches the far side of the box:
    // lanes - 1 transects and the turns between them fit in the points.
    const double pace = 1.25; // m/s, a little under the mean for the turns
    const double lane_points = width / pace;
    const double lanes = std::max(
        2.0, std::floor((static_cast<double>(total_points) - height / pace) / lane_points) + 1);
    const double spacing = std::clamp(height / (lanes - 1), 15.0, height);
    detail::Walker walker(width, height, spacing, rng);
    const detail::Field field{width, height};

    std::vector<SurveyRecord> records;
    records.reserve(config.records);
    std::uint32_t index = detail::first_index(rng);
    double bias_x = 0, bias_y = 0;
    int outage = 0;
    std::int64_t t = sessions > 0 ? start[0] : now;
    for (std::size_t i = 0; i < config.records; ++i) {
        if (i == 0 || session_of[i] != session_of[i - 1])
            t = start[session_of[i]];
        SurveyRecord r;
        r.index = index;
        r.time = static_cast<std::uint32_t>(t);
        for (std::size_t k = 0; k < sizes[i]; ++k, ++t) {
            walker.step();
            bias_x = 0.98 * bias_x + 0.15 * unit(rng);
            bias_y = 0.98 * bias_y + 0.15 * unit(rng);
            SurveyPoint p;
            p.time = static_cast<std::uint32_t>(t);
            if (outage == 0 && u(rng) < 0.008)
                outage = 1 + static_cast<int>(rng() % 5);
            p.fix = outage == 0;
            outage -= outage > 0 ? 1 : 0;
            if (p.fix) {
                const double x = walker.x() + margin + bias_x + 0.8 * unit(rng);
                const double y = walker.y() + margin + bias_y + 0.8 * unit(rng);
                p.latitude = box.south + y / m_lat;
                p.longitude = box.west + x / m_lon;
            }
            detail::fill_values(p, field, walker.x(), walker.y(), rng);
            r.points.push_back(p);
        }
        records.push_back(std::move(r));
        index = detail::next_index(index, rng);
    }
    return SurveyStore(std::move(records));
}

SurveyStore SurveyStore::from_track(std::istream& in, std::uint32_t seed, const std::string& name)
{
    std::mt19937 rng(seed);
    const LandBox box;
    const double m_lat = detail::metres_per_degree_lat((box.south + box.north) / 2);
    const double m_lon = detail::metres_per_degree_lon((box.south + box.north) / 2);
    const detail::Field field{(box.east - box.west) * m_lon, (box.north - box.south) * m_lat};

    std::vector<SurveyRecord> records;
    std::uint32_t index = detail::first_index(rng);
    std::string line;
    std::size_t number = 0;
    bool data_seen = false;
    while (std::getline(in, line)) {
        ++number;
        line = detail::trim(line);
        if (line.empty() || line[0] == '#')
            continue;
        std::vector<std::string> fields;
        std::size_t at = 0;
        for (;;) {
            const std::size_t comma = line.find(',', at);
            fields.push_back(detail::trim(line.substr(at, comma - at)));
            if (comma == std::string::npos)
                break;
            at = comma + 1;
        }
        SurveyPoint p;
        p.fix = true;
        bool lat_fix = true, lon_fix = true;
        const bool ok = fields.size() == 3 && detail::parse_time(fields[0], p.time) &&
                        detail::parse_coordinate(fields[1], 90, p.latitude, lat_fix) &&
                        detail::parse_coordinate(fields[2], 180, p.longitude, lon_fix);
        if (!ok) {
            if (!data_seen) { // a header line
                data_seen = true;
                continue;
            }
            throw std::runtime_error(name + ":" + std::to_string(number) +
                                     ": expected time,latitude,longitude");
        }
        data_seen = true;
        p.fix = lat_fix && lon_fix;
        if (!p.fix)
            p.latitude = p.longitude = 0;
        const double x = p.fix ? (p.longitude - box.west) * m_lon : 0;
        const double y = p.fix ? (p.latitude - box.south) * m_lat : 0;
        detail::fill_values(p, field, x, y, rng);

        const bool fresh = records.empty() || records.back().points.size() >= kRecordPoints ||
                           p.time <= records.back().points.back().time ||
                           p.time - records.back().points.back().time > 10;
        if (fresh) {
            if (!records.empty())
                index = detail::next_index(index, rng);
            SurveyRecord r;
            r.index = index;
            r.time = p.time;
            records.push_back(std::move(r));
        }
        records.back().points.push_back(p);
    }
    return SurveyStore(std::move(records));
}

const SurveyRecord* SurveyStore::find(std::uint32_t index) const
{
    auto it = std::lower_bound(records_.begin(), records_.end(), index,
                               [](const SurveyRecord& r, std::uint32_t i) { return r.index < i; });
    return it != records_.end() && it->index == index ? &*it : nullptr;
}

std::vector<std::uint32_t> SurveyStore::indices(std::uint32_t start, std::uint32_t limit) const
{
    std::vector<std::uint32_t> out;
    auto it = std::lower_bound(records_.begin(), records_.end(), start,
                               [](const SurveyRecord& r, std::uint32_t i) { return r.index < i; });
    for (; it != records_.end() && out.size() < limit; ++it)
        out.push_back(it->index);
    return out;
}

Bytes SurveyStore::encode(const SurveyRecord& record)
{
    Bytes out(kRecordSize, 0);
    std::uint8_t* b = out.data();
    const std::size_t n = std::min(record.points.size(), kRecordPoints);
    detail::put32(b + 0, record.index);
    detail::put32(b + 4, record.time);
    detail::put32(b + 8, static_cast<std::uint32_t>(n));
    detail::put32(b + 12, 1);
    std::uint32_t fixes = 0;
    double sum_rate = 0, max_rate = 0, sum_alt = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const SurveyPoint& p = record.points[i];
        std::uint8_t* q = b + kPointsAt + kPointSize * i;
        detail::put32(q + 0, p.fix ? 1 : 0);
        detail::putf(q + 4, static_cast<float>(p.latitude));
        detail::putf(q + 8, static_cast<float>(p.longitude));
        detail::putf(q + 12, p.altitude);
        detail::putf(q + 16, p.dose_rate);
        detail::put32(q + 20, p.time);
        q[24] = static_cast<std::uint8_t>(p.cps & 0xff);
        q[25] = static_cast<std::uint8_t>(p.cps >> 8);
        q[26] = p.satellites;
        q[27] = p.hdop10;
        fixes += p.fix ? 1 : 0;
        sum_rate += p.dose_rate;
        max_rate = std::max(max_rate, static_cast<double>(p.dose_rate));
        sum_alt += p.altitude;
    }
    detail::put32(b + 16, fixes);
    detail::putf(b + 20, n ? static_cast<float>(sum_rate / static_cast<double>(n)) : 0.0f);
    detail::putf(b + 24, static_cast<float>(max_rate));
    detail::putf(b + 28, n ? static_cast<float>(sum_alt / static_cast<double>(n)) : 0.0f);
    static const char kArea[] = "Korvenix";
    std::memcpy(b + 32, kArea, sizeof kArea - 1);
    if (record.claimed_points)
        detail::put32(b + 8, *record.claimed_points);
    if (record.cut > 0 && record.cut < out.size())
        out.resize(record.cut);
    return out;
}

bool SurveyStore::is_hostile_kind(const std::string& kind)
{
    return kind == "cut" || kind == "count" || kind == "positions" || kind == "clock" ||
           kind == "jump" || kind == "poorfix" || kind == "zero";
}

SurveyStore SurveyStore::with_hostile(const std::vector<std::string>& kinds) const
{
    SurveyStore out = *this;
    auto newest = out.records_.rbegin();
    for (const std::string& kind : kinds) {
        if (!is_hostile_kind(kind))
            throw std::invalid_argument("unknown hostile record '" + kind +
                                        "' (cut, count, positions, clock, jump, poorfix, zero)");
        if (newest == out.records_.rend())
            break;
        SurveyRecord& r = *newest++;
        if (kind == "cut") {
            r.claimed_points = 60;
            r.cut = 100;
        } else if (kind == "count") {
            r.claimed_points = 61;
        } else if (kind == "clock") {
            // A receiver that lost its time for a moment: an hour back.
            if (r.points.size() > 2)
                r.points[r.points.size() / 2].time -= 3600;
        } else if (kind == "jump") {
            // A fix two kilometres off its neighbours, a second later.
            for (std::size_t i = r.points.size() / 2; i < r.points.size(); ++i)
                if (r.points[i].fix) {
                    r.points[i].latitude += 0.018;
                    break;
                }
        } else if (kind == "poorfix") {
            for (std::size_t i = 0, n = 0; i < r.points.size() && n < 10; ++i)
                if (r.points[i].fix) {
                    r.points[i].hdop10 = 99;
                    r.points[i].satellites = 3;
                    ++n;
                }
        } else if (kind == "zero") {
            // A receiver that reports a fix at 0,0.
            for (std::size_t i = 0; i < r.points.size() && i < 3; ++i) {
                r.points[i].fix = true;
                r.points[i].latitude = r.points[i].longitude = 0;
            }
        } else {
            const double inf = std::numeric_limits<double>::infinity();
            const double nan = std::numeric_limits<double>::quiet_NaN();
            const double places[][2] = {{91, 24.6},  {57.4, 200}, {-91, 24.6},
                                        {nan, 24.6}, {57.4, inf}, {57.4, 180}};
            for (std::size_t i = 0; i < std::size(places) && i < r.points.size(); ++i) {
                r.points[i].fix = true;
                r.points[i].latitude = places[i][0];
                r.points[i].longitude = places[i][1];
            }
        }
    }
    return out;
}

} // namespace sim
