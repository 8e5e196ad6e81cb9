#include "survey_checks.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <iterator>
#include <limits>

namespace {

constexpr double kEarthRadius = 6371008.8;                       // metres, mean
constexpr double kMetresPerDegree = kEarthRadius * M_PI / 180.0; // along a meridian

// Walks the points in recording order, remembering the last point with a
// trusted time and place, so that one bad point flags itself and not the
// good one after it. Each point is read once: what it shows by itself is
// flagged on the same visit.
class Walker
{
public:
    Walker(const CheckLimits& limits)
        : m_recordSeconds(uint32_t(std::max(limits.recordSeconds, 0))),
          m_offGap(uint32_t(std::max(limits.offGapSeconds, 0))),
          m_warmUp(uint32_t(std::max(limits.warmUpSeconds, 0))), m_maxSpeed(limits.maxSpeed),
          // HDOP comes in tenths, at most 25.5; a limit beyond flags nothing.
          m_maxHdop10(int(std::floor(std::clamp(limits.maxHdop, -1.0, 1000.0) * 10 + 1e-9))),
          m_minSatellites(limits.minSatellites)
    {
    }

    // The points of one record (or of a survey without records: `record`
    // null) in recording order.
    void visit(const SurveyPoint* points, uint16_t* flags, std::size_t count,
               const RecordSpan* record)
    {
        const uint64_t earliest = record ? record->time : 0;
        const uint64_t latest = record ? uint64_t(record->time) + m_recordSeconds : UINT64_MAX;
        for (std::size_t i = 0; i < count; ++i)
            visit(points[i], flags[i], earliest, latest);
    }

private:
    // Without branches: these flags are rare, and mispredictions cost more
    // than the tests. A dose rate is finite and above 0 (NaN fails both).
    uint16_t byItself(const SurveyPoint& p) const
    {
        const bool doseRate =
            p.doseRate > 0.f && p.doseRate < std::numeric_limits<float>::infinity();
        return uint16_t(((p.latitude == 0) & (p.longitude == 0)) * kFlagNoFix |
                        (p.hdop10 > m_maxHdop10) * kFlagHdop |
                        (p.satellites < m_minSatellites) * kFlagSatellites |
                        !doseRate * kFlagDoseRate);
    }

    void visit(const SurveyPoint& p, uint16_t& flags, uint64_t earliest, uint64_t latest)
    {
        flags = byItself(p);
        if (p.time < earliest || p.time > latest || (m_haveTime && p.time <= m_lastTime))
            flags |= kFlagTime;
        if (flags & kFlagTime)
            return;
        // A gap in the times: the instrument was off, and warms up again.
        if (!m_haveTime || p.time - m_lastTime >= m_offGap) {
            m_warmUpStart = p.time;
            m_havePlace = false; // a new walk may start anywhere
        }
        m_haveTime = true;
        m_lastTime = p.time;
        if (p.time - m_warmUpStart < m_warmUp)
            flags |= kFlagWarmUp;
        if (flags & kFlagNoFix)
            return;
        if (m_havePlace && tooFast(p))
            flags |= kFlagSpeed;
        else
            m_place = {p.latitude, p.longitude, p.time}, m_havePlace = true;
    }

    // Compared squared on a local plane: the steps between points are far
    // too short for the earth's curve to matter, and no root or sine is
    // taken per point.
    bool tooFast(const SurveyPoint& p)
    {
        // The scale of a degree of longitude changes slowly northwards.
        if (!(std::fabs(p.latitude - m_cosLatitudeOf) < 0.05)) {
            m_cosLatitudeOf = p.latitude;
            m_cosLatitude = std::cos(p.latitude * M_PI / 180.0);
        }
        double dLon = p.longitude - m_place.longitude;
        if (dLon > 180)
            dLon -= 360;
        else if (dLon < -180)
            dLon += 360;
        const double north = (p.latitude - m_place.latitude) * kMetresPerDegree;
        const double east = dLon * kMetresPerDegree * m_cosLatitude;
        const double reach = m_maxSpeed * double(p.time - m_place.time);
        return north * north + east * east > reach * reach;
    }

    const uint32_t m_recordSeconds, m_offGap, m_warmUp;
    const double m_maxSpeed;
    const int m_maxHdop10, m_minSatellites;
    bool m_haveTime = false, m_havePlace = false;
    uint32_t m_lastTime = 0, m_warmUpStart = 0;
    struct
    {
        double latitude = 0, longitude = 0;
        uint32_t time = 0;
    } m_place; // the last point trusted for its place
    double m_cosLatitudeOf = std::nan(""), m_cosLatitude = 1;
};

} // namespace

std::vector<uint16_t> checkSurvey(const std::vector<SurveyPoint>& points,
                                  const std::vector<RecordSpan>& records, const CheckLimits& limits)
{
    std::vector<uint16_t> flags(points.size());
    Walker walker(limits);
    // Records that do not hold every point once cannot give the order.
    std::size_t held = 0;
    for (const RecordSpan& r : records)
        held += r.first + r.count <= points.size() ? r.count : points.size() + 1;
    if (held != points.size()) {
        // Without records (a file), the times give the order: a file of a
        // download lists its newest record first.
        std::vector<uint32_t> order(points.size());
        for (std::size_t i = 0; i < order.size(); ++i)
            order[i] = uint32_t(i);
        std::stable_sort(order.begin(), order.end(),
                         [&](uint32_t a, uint32_t b) { return points[a].time < points[b].time; });
        for (uint32_t i : order)
            walker.visit(&points[i], &flags[i], 1, nullptr);
        return flags;
    }
    for (auto r = records.rbegin(); r != records.rend(); ++r) {
        // The records lie newest first: each next one is behind this one in
        // memory, where the processor does not look ahead by itself.
        if (auto next = std::next(r); next != records.rend()) {
            const char* from = reinterpret_cast<const char*>(points.data() + next->first);
            const char* to =
                reinterpret_cast<const char*>(points.data() + next->first + next->count);
            for (; from < to; from += 64)
                __builtin_prefetch(from);
        }
        walker.visit(points.data() + r->first, flags.data() + r->first, r->count, &*r);
    }
    return flags;
}

CheckLimits limitsForData(const std::vector<SurveyPoint>& points, CheckLimits limits)
{
    if (std::none_of(points.begin(), points.end(),
                     [](const SurveyPoint& p) { return p.satellites > 0 || p.hdop10 > 0; })) {
        limits.minSatellites = 0;
        limits.maxHdop = std::numeric_limits<double>::infinity();
    }
    return limits;
}

std::vector<int> recordOfPoints(const std::vector<RecordSpan>& records, std::size_t count)
{
    std::vector<int> recordOf;
    if (records.empty())
        return recordOf;
    recordOf.assign(count, -1);
    for (std::size_t r = 0; r < records.size(); ++r)
        for (std::size_t i = records[r].first; i < records[r].first + records[r].count && i < count;
             ++i)
            recordOf[i] = int(r);
    return recordOf;
}

std::vector<std::size_t> countFlags(const std::vector<uint16_t>& flags)
{
    std::vector<std::size_t> counts(kSurveyFlagCount, 0);
    for (uint16_t f : flags)
        for (int bit = 0; f && bit < kSurveyFlagCount; ++bit, f >>= 1)
            counts[std::size_t(bit)] += f & 1u;
    return counts;
}

const char* const kSurveyFlagNames[kSurveyFlagCount] = {
    "no_fix", "hdop", "satellites", "time", "speed", "dose_rate", "warm_up",
};

std::string flagNames(uint16_t flags)
{
    std::string names;
    for (int bit = 0; bit < kSurveyFlagCount; ++bit)
        if (flags & (1u << bit)) {
            if (!names.empty())
                names += ' ';
            names += kSurveyFlagNames[bit];
        }
    return names;
}
