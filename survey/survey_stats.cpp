#include "survey_stats.h"

#include <geodesic.h>

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstring>
#include <limits>
#include <numeric>

namespace {

constexpr double kA = 6378137.0;         // WGS 84 semi-major axis, metres
constexpr double kF = 1 / 298.257223563; // WGS 84 flattening
constexpr double kE2 = kF * (2 - kF);    // eccentricity squared
constexpr double kRadian = M_PI / 180.0; // per degree
constexpr double kPlaneMetres = 2000;    // longest step taken on the local plane
constexpr double kPlaneLatitude = 80;    // nearer the poles every step is geodesic

const geod_geodesic& wgs84()
{
    static const geod_geodesic ellipsoid = [] {
        geod_geodesic g;
        geod_init(&g, kA, kF);
        return g;
    }();
    return ellipsoid;
}

// -180..180: the way east (positive) or west between two longitudes.
double wrapLongitude(double degrees)
{
    if (degrees > 180)
        return degrees - 360;
    if (degrees < -180)
        return degrees + 360;
    return degrees;
}

// Metres per degree north and east at a latitude: the ellipsoid's radii of
// curvature there.
struct Scale
{
    double north, east;
};

Scale scaleAt(double latitude)
{
    const double s = std::sin(latitude * kRadian), c = std::cos(latitude * kRadian);
    const double w2 = 1 - kE2 * s * s;
    const double primeVertical = kA / std::sqrt(w2);
    return {primeVertical * (1 - kE2) / w2 * kRadian, primeVertical * c * kRadian};
}

bool hasPosition(const SurveyPoint& p)
{
    return SurveyPoint::isPosition(p.latitude, p.longitude);
}

// The lengths of the steps of a walk. A geodesic call costs about a
// microsecond, too much for every step of a long survey; a step of a few
// metres measured on the plane touching the ellipsoid at its middle is off
// by far less than a millimetre per kilometre. Long steps, and steps near
// the poles where the plane fits worse, are geodesic.
class Steps
{
public:
    double metres(const SurveyPoint& a, const SurveyPoint& b)
    {
        const double middle = 0.5 * (a.latitude + b.latitude);
        if (std::fabs(middle) <= kPlaneLatitude) {
            const Scale scale = scaleAt(middle);
            const double north = (b.latitude - a.latitude) * scale.north;
            const double east = wrapLongitude(b.longitude - a.longitude) * scale.east;
            const double squared = north * north + east * east;
            if (squared <= kPlaneMetres * kPlaneMetres)
                return std::sqrt(squared);
        }
        double metres = 0;
        geod_inverse(&wgs84(), a.latitude, a.longitude, b.latitude, b.longitude, &metres, nullptr,
                     nullptr);
        return metres;
    }

private:
    // As ::scaleAt; but a walk's latitude changes little from step to step,
    // so the sine and cosine come from the last ones taken, by the angle
    // sum formulae and the series of a small angle (exact to rounding
    // within a kilometre or so).
    Scale scaleAt(double latitude)
    {
        double delta = (latitude - m_latitude) * kRadian;
        if (!(std::fabs(delta) < 2e-4)) { // also the first time: NaN
            m_latitude = latitude;
            m_sin = std::sin(latitude * kRadian);
            m_cos = std::cos(latitude * kRadian);
            delta = 0;
        }
        const double d2 = delta * delta;
        const double sinDelta = delta * (1 - d2 / 6), cosDelta = 1 - d2 / 2 * (1 - d2 / 12);
        const double s = m_sin * cosDelta + m_cos * sinDelta;
        const double c = m_cos * cosDelta - m_sin * sinDelta;
        const double inverseW = 1 / std::sqrt(1 - kE2 * s * s);
        return {kA * (1 - kE2) * kRadian * inverseW * inverseW * inverseW,
                kA * kRadian * inverseW * c};
    }

    double m_latitude = std::nan(""), m_sin = 0, m_cos = 1;
};

// A point of the hull's plane: longitude east of a reference (so that a
// survey across the antimeridian stays in one piece), latitude.
struct XY
{
    double x, y;
};

double cross(const XY& o, const XY& a, const XY& b)
{
    return (a.x - o.x) * (b.y - o.y) - (a.y - o.y) * (b.x - o.x);
}

// Andrew's monotone chain: the lower and the upper chain, each from the
// leftmost to the rightmost point. Collinear points are left out.
struct Hull
{
    std::vector<XY> lower, upper;

    // Counter-clockwise, each corner once: fewer than 3 for a line.
    std::vector<XY> polygon() const
    {
        std::vector<XY> corners = lower;
        for (std::size_t i = upper.size() - 1; i-- > 1;)
            corners.push_back(upper[i]);
        return corners;
    }
};

Hull convexHull(std::vector<XY> p)
{
    std::sort(p.begin(), p.end(),
              [](const XY& a, const XY& b) { return a.x < b.x || (a.x == b.x && a.y < b.y); });
    p.erase(std::unique(p.begin(), p.end(),
                        [](const XY& a, const XY& b) { return a.x == b.x && a.y == b.y; }),
            p.end());
    Hull h;
    for (const XY& q : p) {
        while (h.lower.size() >= 2 && cross(h.lower[h.lower.size() - 2], h.lower.back(), q) <= 0)
            h.lower.pop_back();
        h.lower.push_back(q);
        while (h.upper.size() >= 2 && cross(h.upper[h.upper.size() - 2], h.upper.back(), q) >= 0)
            h.upper.pop_back();
        h.upper.push_back(q);
    }
    return h;
}

// The hull of a sample of the points lies inside theirs, and a point
// strictly inside it cannot be a corner of theirs: in a survey that is
// nearly every point, left out before the sort. To test a point in a few
// operations, the sample's hull is cut into vertical strips; within a strip
// the chord of the upper chain lies below that chain and the chord of the
// lower chain above it (one bends down, the other up), so a point between
// the two chords is inside.
class Inside
{
public:
    explicit Inside(const Hull& sample)
    {
        if (sample.lower.size() < 2)
            return;
        m_left = sample.lower.front().x;
        const double right = sample.lower.back().x;
        if (!(right > m_left))
            return;
        m_scale = double(kStrips) / (right - m_left);
        m_upper = chords(sample.upper);
        m_lower = chords(sample.lower);
    }

    bool strictly(const XY& p) const
    {
        const double f = (p.x - m_left) * m_scale;
        // The end strips may hold vertical edges; nothing is left out there.
        if (!(f >= 1 && f < double(kStrips - 1)))
            return false;
        const std::size_t j = std::size_t(f);
        const double t = f - double(j);
        return p.y < m_upper[j] + (m_upper[j + 1] - m_upper[j]) * t &&
               p.y > m_lower[j] + (m_lower[j + 1] - m_lower[j]) * t;
    }

private:
    static constexpr std::size_t kStrips = 2048;

    // The chain at the strips' inner borders, where it has no vertical edge.
    std::vector<double> chords(const std::vector<XY>& chain) const
    {
        std::vector<double> y(kStrips, 0);
        std::size_t s = 0;
        for (std::size_t j = 1; j < kStrips; ++j) {
            const double x = m_left + double(j) / m_scale;
            while (chain[s + 1].x < x)
                ++s;
            const XY &a = chain[s], &b = chain[s + 1]; // a.x < x <= b.x
            y[j] = a.y + (b.y - a.y) * ((x - a.x) / (b.x - a.x));
        }
        return y;
    }

    double m_left = 0, m_scale = 0; // strips per degree; 0: none
    std::vector<double> m_upper, m_lower;
};

// Hotter: a higher rate, or the same rate recorded earlier.
bool hotter(const std::vector<SurveyPoint>& points, std::size_t a, std::size_t b)
{
    const SurveyPoint &p = points[a], &q = points[b];
    if (p.doseRate != q.doseRate)
        return p.doseRate > q.doseRate;
    return p.time != q.time ? p.time < q.time : a < b;
}

std::size_t distinctRecords(const std::vector<int>& recordOf, const std::vector<char>& shown)
{
    std::vector<int> numbers;
    numbers.reserve(recordOf.size());
    for (std::size_t i = 0; i < recordOf.size(); ++i)
        if ((shown.empty() || shown[i]) && recordOf[i] >= 0)
            numbers.push_back(recordOf[i]);
    if (numbers.empty())
        return 0;
    const auto [low, high] = std::minmax_element(numbers.begin(), numbers.end());
    const std::size_t span = std::size_t(*high) - std::size_t(*low) + 1;
    if (span > 4 * numbers.size()) { // sparse numbers
        std::sort(numbers.begin(), numbers.end());
        return std::size_t(std::unique(numbers.begin(), numbers.end()) - numbers.begin());
    }
    std::vector<char> seen(span, 0);
    std::size_t distinct = 0;
    const int first = *low;
    for (int r : numbers) {
        char& s = seen[std::size_t(r - first)];
        distinct += !s;
        s = 1;
    }
    return distinct;
}

} // namespace

SurveyStats surveyStats(const std::vector<SurveyPoint>& points, const std::vector<uint16_t>& flags,
                        const std::vector<std::size_t>& order, const std::vector<char>& shown,
                        const std::vector<int>& recordOf, int offGapSeconds)
{
    const std::size_t n = points.size();
    assert(flags.size() == n);
    assert(shown.empty() || shown.size() == n);
    assert(recordOf.empty() || recordOf.size() == n);
    const auto isShown = [&](std::size_t i) { return shown.empty() || shown[i]; };

    SurveyStats s;
    std::vector<float> rates;
    double sum = 0;
    float minRate = std::numeric_limits<float>::infinity(), maxRate = 0;
    bool haveReference = false;
    double reference = 0; // longitude the hull's plane is measured from
    // Every k-th point with a position, and the extremes, for the sample
    // hull that leaves most points out of the hull's sort.
    const std::size_t k = n / 4096 + 1;
    std::vector<XY> sample;
    XY extremes[4] = {};
    std::size_t placed = 0;
    for (std::size_t i = 0; i < n; ++i) {
        if (!isShown(i))
            continue;
        ++s.points;
        if (flags[i]) {
            ++s.flagged;
            continue;
        }
        const SurveyPoint& p = points[i];
        if (s.good++ == 0)
            s.start = s.end = p.time;
        s.start = std::min(s.start, p.time);
        s.end = std::max(s.end, p.time);
        if (hasPosition(p)) {
            if (!haveReference)
                reference = p.longitude, haveReference = true;
            const XY xy{wrapLongitude(p.longitude - reference), p.latitude};
            if (placed++ % k == 0)
                sample.push_back(xy);
            if (placed == 1)
                std::fill(std::begin(extremes), std::end(extremes), xy);
            if (xy.x < extremes[0].x)
                extremes[0] = xy;
            if (xy.x > extremes[1].x)
                extremes[1] = xy;
            if (xy.y < extremes[2].y)
                extremes[2] = xy;
            if (xy.y > extremes[3].y)
                extremes[3] = xy;
        }
        if (p.hasDoseRate()) {
            if (rates.empty())
                rates.reserve(n - i);
            rates.push_back(p.doseRate);
            sum += p.doseRate;
            minRate = std::min(minRate, p.doseRate);
            if (p.doseRate >= maxRate &&
                (s.maxIndex < 0 || hotter(points, i, std::size_t(s.maxIndex))))
                s.maxIndex = std::ptrdiff_t(i), maxRate = p.doseRate;
        }
    }
    s.records = recordOf.empty() ? 0 : distinctRecords(recordOf, shown);

    if (!rates.empty()) {
        s.minDoseRate = minRate;
        s.maxDoseRate = maxRate;
        s.meanDoseRate = float(sum / double(rates.size()));
        const std::size_t half = rates.size() / 2;
        std::nth_element(rates.begin(), rates.begin() + std::ptrdiff_t(half), rates.end());
        if (rates.size() % 2)
            s.medianDoseRate = rates[half];
        else
            s.medianDoseRate = float(
                (double(*std::max_element(rates.begin(), rates.begin() + std::ptrdiff_t(half))) +
                 double(rates[half])) /
                2);
    }

    const int64_t offGap = std::max(offGapSeconds, 0);
    const SurveyPoint* last = nullptr;
    Steps steps;
    for (std::size_t i : order) {
        assert(i < n);
        if (!isShown(i) || flags[i] || !hasPosition(points[i]))
            continue;
        const SurveyPoint& p = points[i];
        if (last && int64_t(p.time) - int64_t(last->time) < offGap)
            s.metres += steps.metres(*last, p);
        last = &p;
    }

    if (placed >= 3) {
        sample.insert(sample.end(), std::begin(extremes), std::end(extremes));
        Hull hull = convexHull(std::move(sample));
        if (k > 1) { // not every point in the sample
            const Inside inside(hull);
            std::vector<XY> corners;
            for (std::size_t i = 0; i < n; ++i) {
                const SurveyPoint& p = points[i];
                if (!isShown(i) || flags[i] || !hasPosition(p))
                    continue;
                const XY xy{wrapLongitude(p.longitude - reference), p.latitude};
                if (!inside.strictly(xy))
                    corners.push_back(xy);
            }
            hull = convexHull(std::move(corners));
        }
        const std::vector<XY> polygon = hull.polygon();
        if (polygon.size() >= 3) {
            std::vector<double> latitudes, longitudes;
            for (const XY& v : polygon) {
                latitudes.push_back(v.y);
                longitudes.push_back(wrapLongitude(v.x + reference));
            }
            double area = 0;
            geod_polygonarea(&wgs84(), latitudes.data(), longitudes.data(), int(polygon.size()),
                             &area, nullptr);
            s.squareMetres = std::fabs(area);
        }
    }
    return s;
}

std::vector<std::size_t> recordingOrder(const std::vector<SurveyPoint>& points)
{
    std::vector<std::size_t> order(points.size());
    std::iota(order.begin(), order.end(), std::size_t(0));
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return points[a].time < points[b].time; });
    return order;
}

std::vector<HotPlace> hottestPlaces(const std::vector<SurveyPoint>& points,
                                    const std::vector<uint16_t>& flags,
                                    const std::vector<char>& shown, std::size_t count,
                                    double radiusMetres)
{
    const std::size_t n = points.size();
    assert(flags.size() == n);
    assert(shown.empty() || shown.size() == n);
    std::vector<HotPlace> places;
    if (count == 0)
        return places;

    const auto candidate = [&](std::size_t i) {
        const SurveyPoint& p = points[i];
        return (shown.empty() || shown[i]) && !flags[i] && p.hasDoseRate() && hasPosition(p);
    };

    // Hotter first: a higher rate, then recorded earlier, then the lower
    // index. A rate above 0 orders as its bits do, so rate and time make
    // one number.
    struct Key
    {
        uint64_t heat;
        std::size_t index;
    };
    std::vector<Key> keys;
    keys.reserve(n);
    for (std::size_t i = 0; i < n; ++i) {
        if (!candidate(i))
            continue;
        uint32_t bits;
        std::memcpy(&bits, &points[i].doseRate, sizeof bits);
        keys.push_back({uint64_t(bits) << 32 | ~points[i].time, i});
    }
    const auto cooler = [](const Key& a, const Key& b) {
        return a.heat != b.heat ? a.heat < b.heat : a.index > b.index;
    };

    // Distances on the plane touching the ellipsoid at a place's start: the
    // radius of a hot place is metres, not kilometres.
    struct Start
    {
        double latitude, longitude;
        Scale scale;
    };
    std::vector<Start> starts;
    const double radius = radiusMetres >= 0 ? radiusMetres : 0;
    const double reach = radius * radius;
    const auto squared = [](const Start& s, const SurveyPoint& p) {
        const double north = (p.latitude - s.latitude) * s.scale.north;
        const double east = wrapLongitude(p.longitude - s.longitude) * s.scale.east;
        return north * north + east * east;
    };

    // Each start is the hottest point not within the radius of an earlier
    // one. A heap gives the points hottest first without sorting them all:
    // only those down to the last start are taken off.
    std::make_heap(keys.begin(), keys.end(), cooler);
    for (auto end = keys.end(); places.size() < count && end != keys.begin();) {
        std::pop_heap(keys.begin(), end, cooler);
        const std::size_t i = (--end)->index;
        const SurveyPoint& p = points[i];
        if (std::none_of(starts.begin(), starts.end(),
                         [&](const Start& s) { return squared(s, p) <= reach; })) {
            places.push_back({i, p.doseRate, 0});
            starts.push_back({p.latitude, p.longitude, scaleAt(p.latitude)});
        }
    }
    keys = {};

    // Then every point counts at its nearest start within the radius.
    std::vector<double> latitudeReach; // degrees, a hair wide: most points are far from every start
    for (const Start& s : starts)
        latitudeReach.push_back(radius / s.scale.north * (1 + 1e-9));
    for (std::size_t i = 0; i < n; ++i) {
        if (!candidate(i))
            continue;
        const SurveyPoint& p = points[i];
        std::size_t nearest = starts.size();
        double best = reach;
        for (std::size_t k = 0; k < starts.size(); ++k) {
            if (!(std::fabs(p.latitude - starts[k].latitude) <= latitudeReach[k]))
                continue;
            const double d = squared(starts[k], p);
            if (d <= best && (nearest == starts.size() || d < best))
                best = d, nearest = k;
        }
        if (nearest < starts.size())
            ++places[nearest].points;
    }
    return places;
}
