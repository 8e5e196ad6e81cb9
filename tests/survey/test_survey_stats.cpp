// The figures of a survey against values worked out here by other means:
// the meridian arc by integration, distances by Vincenty's formulae, areas
// of latitude-longitude rectangles in closed form.
#include "survey_stats.h"

#include "survey_checks.h"

#include <QTest>

#include <cmath>
#include <random>

namespace {

constexpr double kA = 6378137.0, kF = 1 / 298.257223563, kE2 = kF * (2 - kF);
constexpr double kRadian = M_PI / 180.0;
constexpr uint32_t kStart = 1767225600; // 2026-01-01 UTC
constexpr int kOffGap = 300;

SurveyPoint point(double latitude, double longitude, uint32_t time, float doseRate = 0.1f)
{
    SurveyPoint p;
    p.latitude = latitude;
    p.longitude = longitude;
    p.time = time;
    p.doseRate = doseRate;
    p.satellites = 8;
    p.hdop10 = 10;
    return p;
}

// The length of the meridian between two latitudes: Simpson's rule on the
// meridian's radius of curvature.
double meridianArc(double latitude1, double latitude2)
{
    const int steps = 2000;
    const double h = (latitude2 - latitude1) * kRadian / steps;
    const auto radius = [](double phi) {
        const double s = std::sin(phi);
        return kA * (1 - kE2) / std::pow(1 - kE2 * s * s, 1.5);
    };
    double sum = radius(latitude1 * kRadian) + radius(latitude2 * kRadian);
    for (int i = 1; i < steps; ++i)
        sum += (i % 2 ? 4 : 2) * radius(latitude1 * kRadian + i * h);
    return sum * h / 3;
}

// Vincenty's inverse formula on WGS 84.
double vincenty(const SurveyPoint& p, const SurveyPoint& q)
{
    const double b = kA * (1 - kF);
    const double l = std::remainder(q.longitude - p.longitude, 360.0) * kRadian;
    const double u1 = std::atan((1 - kF) * std::tan(p.latitude * kRadian));
    const double u2 = std::atan((1 - kF) * std::tan(q.latitude * kRadian));
    const double su1 = std::sin(u1), cu1 = std::cos(u1), su2 = std::sin(u2), cu2 = std::cos(u2);
    double lambda = l, sinSigma = 0, cosSigma = 1, sigma = 0, cos2Alpha = 1, cos2SigmaM = 0;
    for (int i = 0; i < 100; ++i) {
        const double sl = std::sin(lambda), cl = std::cos(lambda);
        sinSigma = std::hypot(cu2 * sl, cu1 * su2 - su1 * cu2 * cl);
        if (sinSigma == 0)
            return 0;
        cosSigma = su1 * su2 + cu1 * cu2 * cl;
        sigma = std::atan2(sinSigma, cosSigma);
        const double sinAlpha = cu1 * cu2 * sl / sinSigma;
        cos2Alpha = 1 - sinAlpha * sinAlpha;
        cos2SigmaM = cos2Alpha != 0 ? cosSigma - 2 * su1 * su2 / cos2Alpha : 0;
        const double c = kF / 16 * cos2Alpha * (4 + kF * (4 - 3 * cos2Alpha));
        const double previous = lambda;
        lambda =
            l + (1 - c) * kF * sinAlpha *
                    (sigma + c * sinSigma *
                                 (cos2SigmaM + c * cosSigma * (-1 + 2 * cos2SigmaM * cos2SigmaM)));
        if (std::fabs(lambda - previous) < 1e-13)
            break;
    }
    const double u2b = cos2Alpha * (kA * kA - b * b) / (b * b);
    const double bigA = 1 + u2b / 16384 * (4096 + u2b * (-768 + u2b * (320 - 175 * u2b)));
    const double bigB = u2b / 1024 * (256 + u2b * (-128 + u2b * (74 - 47 * u2b)));
    const double dSigma =
        bigB * sinSigma *
        (cos2SigmaM + bigB / 4 *
                          (cosSigma * (-1 + 2 * cos2SigmaM * cos2SigmaM) -
                           bigB / 6 * cos2SigmaM * (-3 + 4 * sinSigma * sinSigma) *
                               (-3 + 4 * cos2SigmaM * cos2SigmaM)));
    return b * bigA * (sigma - dSigma);
}

// The area between two parallels and two meridians `degrees` apart, in
// closed form through the authalic latitude.
double rectangleArea(double latitude1, double latitude2, double degrees)
{
    const double e = std::sqrt(kE2);
    const auto q = [e](double latitude) {
        const double s = std::sin(latitude * kRadian);
        return s / (1 - kE2 * s * s) + std::log((1 + e * s) / (1 - e * s)) / (2 * e);
    };
    const double b = kA * (1 - kF);
    return b * b / 2 * degrees * kRadian * (q(latitude2) - q(latitude1));
}

// A point `north` and `east` metres from a place, on a sphere: good to a
// few parts in a thousand, enough for the margins around a radius.
SurveyPoint offset(const SurveyPoint& place, double north, double east, float doseRate)
{
    constexpr double metresPerDegree = 6371008.8 * kRadian;
    SurveyPoint p = place;
    p.latitude += north / metresPerDegree;
    p.longitude += east / (metresPerDegree * std::cos(place.latitude * kRadian));
    p.doseRate = doseRate;
    return p;
}

SurveyStats stats(const std::vector<SurveyPoint>& points, const std::vector<uint16_t>& flags = {},
                  const std::vector<char>& shown = {}, const std::vector<int>& recordOf = {})
{
    return surveyStats(points, flags.empty() ? std::vector<uint16_t>(points.size(), 0) : flags,
                       recordingOrder(points), shown, recordOf, kOffGap);
}

} // namespace

class TestSurveyStats : public QObject
{
    Q_OBJECT

    static void verifyNoFigures(const SurveyStats& s)
    {
        QCOMPARE(s.good, std::size_t(0));
        QCOMPARE(s.start, 0u);
        QCOMPARE(s.end, 0u);
        QCOMPARE(s.metres, 0.0);
        QCOMPARE(s.squareMetres, 0.0);
        QVERIFY(std::isnan(s.minDoseRate) && std::isnan(s.meanDoseRate));
        QVERIFY(std::isnan(s.medianDoseRate) && std::isnan(s.maxDoseRate));
        QCOMPARE(s.maxIndex, std::ptrdiff_t(-1));
    }

private slots:
    void emptyAndNothingGood()
    {
        const SurveyStats empty = surveyStats({}, {}, {}, {}, {}, kOffGap);
        QCOMPARE(empty.points, std::size_t(0));
        QCOMPARE(empty.records, std::size_t(0));
        verifyNoFigures(empty);
        QVERIFY(hottestPlaces({}, {}, {}, 5, 10).empty());

        // Points shown but all flagged, or good but hidden: counted, no figures.
        const std::vector<SurveyPoint> points = {point(57.4, 24.6, kStart, 0.3f),
                                                 point(57.5, 24.6, kStart + 1, 0.4f),
                                                 point(57.6, 24.7, kStart + 2, 0.5f)};
        const std::vector<uint16_t> flags = {kFlagHdop, kFlagSpeed, 0};
        const SurveyStats none = stats(points, flags, {1, 1, 0}, {4, 4, 7});
        QCOMPARE(none.points, std::size_t(2));
        QCOMPARE(none.flagged, std::size_t(2));
        QCOMPARE(none.records, std::size_t(1));
        verifyNoFigures(none);
        QVERIFY(hottestPlaces(points, flags, {1, 1, 0}, 5, 10).empty());
        QVERIFY(hottestPlaces(points, {0, 0, 0}, {}, 0, 10).empty());
    }

    void distanceWalked()
    {
        // A degree north along a meridian in 1000 steps, held newest first.
        std::vector<SurveyPoint> meridian;
        for (int i = 1000; i >= 0; --i)
            meridian.push_back(point(i * 0.001, 24.6, kStart + uint32_t(i) * 2));
        const std::vector<std::size_t> order = recordingOrder(meridian);
        QCOMPARE(order.front(), std::size_t(1000));
        QCOMPARE(order.back(), std::size_t(0));
        const double arc = meridianArc(0, 1);
        QVERIFY(std::fabs(stats(meridian).metres - arc) < 1e-3);

        // A pause just short of a switch-off is walked; a switch-off is not.
        for (std::size_t i = 0; i < 500; ++i)
            meridian[i].time += kOffGap - 3; // 2 s + 297 s after the one before
        QVERIFY(std::fabs(stats(meridian).metres - arc) < 1e-3);
        for (std::size_t i = 0; i < 500; ++i)
            meridian[i].time += 1;
        QVERIFY(std::fabs(stats(meridian).metres - (arc - meridianArc(0.5, 0.501))) < 1e-3);

        // Single long steps: a degree of meridian, a degree of equator.
        QVERIFY(std::fabs(stats({point(0, 24.6, kStart), point(1, 24.6, kStart + 9)}).metres -
                          arc) < 1e-3);
        const double degreeOfEquator = kA * kRadian;
        QVERIFY(std::fabs(stats({point(0, 10, kStart), point(0, 11, kStart + 9)}).metres -
                          degreeOfEquator) < 1e-3);

        // Wandering walks of steps from centimetres to kilometres: one at 60
        // degrees north across the antimeridian, one near the pole after a
        // switch-off.
        std::mt19937 random(7);
        std::uniform_real_distribution<double> unit(-1, 1);
        std::vector<SurveyPoint> walk = {point(60, 179.9, kStart)};
        double expected = 0;
        for (int i = 1; i < 4000; ++i) {
            SurveyPoint p = walk.back();
            if (i == 2000)
                p = point(85, 30, p.time + kOffGap);
            const double reach = 0.03 * std::pow(10.0, -3 * std::fabs(unit(random)));
            p.latitude += reach * unit(random);
            p.longitude = std::remainder(p.longitude + reach * (unit(random) + 0.5) * 2, 360.0);
            p.time += 1;
            if (i != 2000)
                expected += vincenty(walk.back(), p);
            walk.push_back(p);
        }
        QVERIFY(walk[1000].longitude < 0); // crossed
        const double metres = stats(walk).metres;
        QVERIFY2(std::fabs(metres - expected) < 1e-6 * expected,
                 qPrintable(QString::number(metres - expected)));
    }

    void doseRates()
    {
        const float nan = std::nanf("");
        // Rates a check would flag but these flags do not: still no rates.
        std::vector<SurveyPoint> points;
        for (float rate : {0.4f, nan, 0.1f, 5.0f, 0.0f, 0.2f})
            points.push_back(point(57.4, 24.6, kStart + uint32_t(points.size()), rate));
        SurveyStats s = stats(points);
        QCOMPARE(s.good, std::size_t(6));
        QCOMPARE(s.minDoseRate, 0.1f);
        QCOMPARE(s.maxDoseRate, 5.0f);
        QCOMPARE(s.meanDoseRate, float((0.4 + 0.1 + 5.0 + 0.2) / 4));
        QCOMPARE(s.medianDoseRate, float((0.2 + 0.4) / 2));
        QCOMPARE(s.maxIndex, std::ptrdiff_t(3));

        // The same maximum recorded earlier (stored later) and later: the
        // earliest is the one.
        points.push_back(point(57.4, 24.6, kStart - 10, 5.0f));
        points.push_back(point(57.4, 24.6, kStart + 20, 5.0f));
        s = stats(points);
        QCOMPARE(s.medianDoseRate, 2.7f); // 0.1 0.2 0.4 5 5 5
        QCOMPARE(s.maxIndex, std::ptrdiff_t(6));
        QCOMPARE(s.start, kStart - 10);
        QCOMPARE(s.end, kStart + 20);
        points.pop_back();
        QCOMPARE(stats(points).medianDoseRate, 0.4f); // an odd count

        // Many small rates after a large one: a float sum would stop growing.
        std::vector<SurveyPoint> many(200001, point(57.4, 24.6, kStart, 0.001f));
        many[0].doseRate = 1e5f;
        s = stats(many);
        QCOMPARE(s.meanDoseRate, float((1e5 + 200000 * double(0.001f)) / 200001));
        QCOMPARE(s.medianDoseRate, 0.001f);
    }

    // Points flagged or hidden, however extreme, change none of the figures.
    void flaggedAndHiddenChangeNothing()
    {
        // A walk around a square of about 1 km, a point every 2 s, a record
        // a minute, with a switch-off half way.
        std::vector<SurveyPoint> points;
        std::vector<int> recordOf;
        uint32_t time = kStart;
        for (int i = 0; i < 800; ++i, time += i == 400 ? 1000 : 2) {
            const int side = i / 200, step = i % 200;
            const double along = step * 0.01 / 200;
            const double lat = side == 0 ? along : side == 1 ? 0.01 : side == 2 ? 0.01 - along : 0;
            const double lon = side == 0 ? 0 : side == 1 ? along : side == 2 ? 0.01 : 0.01 - along;
            points.push_back(point(56.9 + lat, 24.1 + lon, time, float(0.1 + 0.01 * (i % 37))));
            recordOf.push_back(int(time - kStart) / 60);
        }
        std::vector<uint16_t> flags(points.size(), 0);
        std::vector<char> shown(points.size(), 1);
        const SurveyStats base = stats(points, flags, shown, recordOf);
        const std::vector<HotPlace> basePlaces = hottestPlaces(points, flags, shown, 5, 30);
        QCOMPARE(base.records, std::size_t(14 + 15)); // none while off
        QVERIFY(base.metres > 3000);
        const double square = rectangleArea(56.9, 56.91, 0.01);
        QVERIFY(std::fabs(base.squareMetres - square) < 1e-4 * square);

        // Between the walk's times, far away and at extreme rates.
        const std::vector<SurveyPoint> planted = {
            point(10, 10, kStart + 3, 1e3f), point(-60, -170, kStart + 401, 1e-6f),
            point(56.95, 24.15, 0, 50.0f), point(57.5, 24.1, 4000000000u, 0.01f),
            point(56.9, 24.1, kStart + 1, 99.0f)};
        for (const SurveyPoint& p : planted) {
            for (int hide = 0; hide < 2; ++hide) {
                points.push_back(p);
                flags.push_back(hide ? 0 : kFlagSpeed);
                shown.push_back(char(hide ? 0 : 1));
                recordOf.push_back(hide ? 9000 : 9001);
            }
        }
        const SurveyStats s = stats(points, flags, shown, recordOf);
        QCOMPARE(s.points, base.points + planted.size());
        QCOMPARE(s.flagged, planted.size());
        QCOMPARE(s.records, base.records + 1); // the flagged ones' record
        QCOMPARE(s.good, base.good);
        QCOMPARE(s.start, base.start);
        QCOMPARE(s.end, base.end);
        QCOMPARE(s.metres, base.metres);
        QCOMPARE(s.squareMetres, base.squareMetres);
        QCOMPARE(s.minDoseRate, base.minDoseRate);
        QCOMPARE(s.meanDoseRate, base.meanDoseRate);
        QCOMPARE(s.medianDoseRate, base.medianDoseRate);
        QCOMPARE(s.maxDoseRate, base.maxDoseRate);
        QCOMPARE(s.maxIndex, base.maxIndex);
        const std::vector<HotPlace> places = hottestPlaces(points, flags, shown, 5, 30);
        QCOMPARE(places.size(), basePlaces.size());
        for (std::size_t i = 0; i < places.size(); ++i) {
            QCOMPARE(places[i].index, basePlaces[i].index);
            QCOMPARE(places[i].points, basePlaces[i].points);
        }
    }

    void areaCovered()
    {
        // A 0.01 degree square on the equator: a grid, edges and inside.
        std::vector<SurveyPoint> square;
        for (int i = 0; i <= 10; ++i)
            for (int j = 0; j <= 10; ++j)
                square.push_back(point(i * 0.001, 24.6 + j * 0.001, kStart + uint32_t(i * 11 + j)));
        const double expected = rectangleArea(0, 0.01, 0.01);
        QVERIFY(std::fabs(stats(square).squareMetres - expected) < 1e-6 * expected);
        // The same across the antimeridian.
        for (SurveyPoint& p : square)
            p.longitude = std::remainder(p.longitude - 24.6 + 179.995, 360.0);
        QVERIFY(std::fabs(stats(square).squareMetres - expected) < 1e-6 * expected);

        // A 64-sided polygon 500 m across at 57 degrees north, its corners
        // among many thousand points inside it, all shuffled.
        const SurveyPoint centre = point(57, 24.6, kStart);
        const int sides = 64;
        const double radius = 500;
        std::vector<SurveyPoint> polygon;
        for (int k = 0; k < sides; ++k) {
            const double angle = 2 * M_PI * k / sides;
            polygon.push_back(
                offset(centre, radius * std::sin(angle), radius * std::cos(angle), 0.1f));
        }
        std::mt19937 random(11);
        std::uniform_real_distribution<double> unit(-1, 1);
        while (polygon.size() < 20000) {
            const double north = unit(random) * radius, east = unit(random) * radius;
            if (std::hypot(north, east) < 0.99 * radius * std::cos(M_PI / sides))
                polygon.push_back(offset(centre, north, east, 0.1f));
        }
        std::shuffle(polygon.begin(), polygon.end(), random);
        // Worked out on a sphere the offsets were made on, scaled to the
        // ellipsoid there: its radii of curvature against the sphere's.
        const double s = std::sin(57 * kRadian), w2 = 1 - kE2 * s * s;
        const double scale = kA * kA * (1 - kE2) / (w2 * w2) / (6371008.8 * 6371008.8);
        const double polygonArea =
            scale * sides / 2.0 * radius * radius * std::sin(2 * M_PI / sides);
        const double area = stats(polygon).squareMetres;
        QVERIFY2(std::fabs(area - polygonArea) < 1e-6 * polygonArea,
                 qPrintable(QString::number(area - polygonArea)));

        // Too few, or on a line: no area.
        QCOMPARE(stats({square[0], square[1]}).squareMetres, 0.0);
        std::vector<SurveyPoint> line;
        for (int i = 0; i < 100; ++i)
            line.push_back(point(57 + i * 0.0001, 24.6, kStart + uint32_t(i)));
        QCOMPARE(stats(line).squareMetres, 0.0);
        for (SurveyPoint& p : line)
            p.latitude = 57, p.longitude += (p.time - kStart) * 1e-4;
        QCOMPARE(stats(line).squareMetres, 0.0);
    }

    void hottestPlacesMergeWithinRadius()
    {
        const SurveyPoint a = point(57.4, 24.6, kStart, 5.0f);
        const SurveyPoint b = offset(a, 0, 30, 3.0f);
        const SurveyPoint c = offset(a, 200, 0, 2.0f);
        const SurveyPoint d = offset(a, 500, 500, 0.5f);
        const std::vector<SurveyPoint> points = {
            offset(b, 0, 19, 0.1f),         // 0: within B
            a,                              // 1: A
            offset(a, 19, 0, 4.8f),         // 2: within A, no place of its own
            offset(b, 21, 0, 0.1f),         // 3: beyond B: the coolest place
            b,                              // 4: B, 30 m from A
            offset(a, 0, 16, 4.5f),         // 5: within A and B, nearer B: counts there
            c,                              // 6
            offset(c, 0, 5, 1.0f),          // 7
            offset(c, 0, 2, std::nanf("")), // no rate: nowhere
            d,                              // 9
            offset(d, 1, 0, 9.0f),          // 10: flagged
            offset(d, -1, 0, 8.0f),         // 11: hidden
        };
        std::vector<uint16_t> flags(points.size(), 0);
        flags[10] = kFlagHdop;
        std::vector<char> shown(points.size(), 1);
        shown[11] = 0;

        using Place = std::pair<std::size_t, std::size_t>; // index, points
        const auto places = [&](std::size_t count, double radius) {
            std::vector<Place> out;
            for (const HotPlace& h : hottestPlaces(points, flags, shown, count, radius))
                out.push_back({h.index, h.points});
            return out;
        };
        for (const HotPlace& h : hottestPlaces(points, flags, shown, 10, 20))
            QCOMPARE(h.doseRate, points[h.index].doseRate);
        QCOMPARE(places(10, 20), (std::vector<Place>{{1, 2}, {4, 3}, {6, 2}, {9, 1}, {3, 1}}));
        QCOMPARE(places(2, 20), (std::vector<Place>{{1, 2}, {4, 3}}));
        QCOMPARE(places(3, 0), (std::vector<Place>{{1, 1}, {2, 1}, {5, 1}}));

        // Radius 0: one place for the points at the same position.
        const std::vector<SurveyPoint> still = {a, offset(a, 0, 0, 1.0f), offset(a, 0, 1, 2.0f)};
        const std::vector<HotPlace> stillPlaces = hottestPlaces(still, {0, 0, 0}, {}, 5, 0);
        QCOMPARE(stillPlaces.size(), std::size_t(2));
        QCOMPARE(stillPlaces[0].points, std::size_t(2));

        // Across the antimeridian, 2 m apart.
        const std::vector<SurveyPoint> across = {point(0, 179.99999, kStart, 1.0f),
                                                 point(0, -179.99999, kStart, 2.0f)};
        const std::vector<HotPlace> one = hottestPlaces(across, {0, 0}, {}, 5, 20);
        QCOMPARE(one.size(), std::size_t(1));
        QCOMPARE(one[0].index, std::size_t(1));
        QCOMPARE(one[0].points, std::size_t(2));
    }
};

QTEST_GUILESS_MAIN(TestSurveyStats)
#include "test_survey_stats.moc"
