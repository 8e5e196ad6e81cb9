// The checks on a survey with planted faults: exactly the planted points are
// flagged, for the planted reason, on the right side of each threshold.
#include "survey_checks.h"

#include <QTest>

#include <cmath>
#include <map>

namespace {

constexpr double kMetresPerDegree = 6371008.8 * M_PI / 180.0;
constexpr uint32_t kStart = 1767225600; // 2026-01-01 UTC

// A walk due north at 1 m/s, a point a second, a record a minute, held as a
// download holds it: the newest record first.
struct Walk
{
    std::vector<SurveyPoint> points;
    std::vector<RecordSpan> records;
    // The points in recording order: records oldest first.
    SurveyPoint& at(std::size_t recorded) { return points[index(recorded)]; }
    std::size_t index(std::size_t recorded) const
    {
        const std::size_t record = recorded / 60, count = points.size() / 60;
        return (count - 1 - record) * 60 + recorded % 60;
    }
};

Walk walk(int records)
{
    Walk w;
    for (int r = records - 1; r >= 0; --r) {
        w.records.push_back({w.points.size(), 60, kStart + uint32_t(r) * 60});
        for (int p = 0; p < 60; ++p) {
            SurveyPoint point;
            const int step = r * 60 + p;
            point.latitude = 57.4 + step / kMetresPerDegree;
            point.longitude = 24.6;
            point.time = kStart + uint32_t(step);
            point.doseRate = 0.1f;
            point.satellites = 8;
            point.hdop10 = 10;
            w.points.push_back(point);
        }
    }
    return w;
}

// The recorded positions flagged, with their flags.
std::map<std::size_t, uint16_t> flagged(const Walk& w, const std::vector<uint16_t>& flags,
                                        uint16_t ignore = kFlagWarmUp)
{
    std::map<std::size_t, uint16_t> out;
    for (std::size_t recorded = 0; recorded < w.points.size(); ++recorded)
        if (const uint16_t f = flags[w.index(recorded)] & ~ignore)
            out[recorded] = f;
    return out;
}

} // namespace

class TestSurveyChecks : public QObject
{
    Q_OBJECT

private slots:
    void plantedFaultsFlaggedExactly()
    {
        Walk w = walk(4);
        QVERIFY(flagged(w, checkSurvey(w.points, w.records)).empty());

        w.at(10).latitude = 0, w.at(10).longitude = 0;
        w.at(20).hdop10 = 40; // at the limit: good
        w.at(21).hdop10 = 41;
        w.at(30).satellites = 4; // at the limit: good
        w.at(31).satellites = 3;
        w.at(40).doseRate = std::nanf("");
        w.at(41).doseRate = 0;
        w.at(70).time = w.at(69).time;     // repeated
        w.at(80).time = w.at(79).time - 5; // backwards
        // Out of its record's period, though after the point before it.
        w.at(119).time = w.records[w.records.size() - 2].time + 121;
        // A spike 100 m off the line: it alone is flagged, not the way back.
        w.at(150).latitude += 100 / kMetresPerDegree;
        // Either side of 5 m/s: 1 m + 3.99 m and 1 m + 4.01 m in a second.
        for (std::size_t i = 161; i < 240; ++i)
            w.at(i).latitude += 3.99 / kMetresPerDegree;
        for (std::size_t i = 200; i < 240; ++i)
            w.at(i).latitude += 4.02 / kMetresPerDegree;

        const std::map<std::size_t, uint16_t> expected = {
            {10, kFlagNoFix},    {21, kFlagHdop},   {31, kFlagSatellites}, {40, kFlagDoseRate},
            {41, kFlagDoseRate}, {70, kFlagTime},   {80, kFlagTime},       {119, kFlagTime},
            {150, kFlagSpeed},   {200, kFlagSpeed},
        };
        const std::vector<uint16_t> flags = checkSurvey(w.points, w.records);
        QCOMPARE(flagged(w, flags), expected);
        const std::vector<std::size_t> counts = countFlags(flags);
        QCOMPARE(counts.size(), std::size_t(kSurveyFlagCount));
        QCOMPARE(counts[1], std::size_t(1));  // HDOP
        QCOMPARE(counts[5], std::size_t(2));  // dose rate
        QCOMPARE(counts[6], std::size_t(30)); // the first half-minute
    }

    // The first seconds after power-on, and after every gap long enough to
    // mean the instrument was off; a shorter pause is no restart, and the
    // place after a restart is not a jump.
    void warmUpAfterEveryRestart()
    {
        Walk w = walk(3);
        for (std::size_t i = 60; i < 180; ++i)
            w.at(i).time += 298; // 299 s between two points: a pause, no restart
        for (std::size_t i = 120; i < 180; ++i) {
            w.at(i).time += 300; // 301 s: a restart, 2 km away
            w.at(i).latitude += 2000 / kMetresPerDegree;
        }
        for (RecordSpan& r : w.records)
            r.time = w.points[r.first].time;
        const std::vector<uint16_t> flags = checkSurvey(w.points, w.records);
        std::vector<std::size_t> warm;
        for (const auto& [recorded, f] : flagged(w, flags, 0)) {
            QCOMPARE(f, uint16_t(kFlagWarmUp));
            warm.push_back(recorded);
        }
        std::vector<std::size_t> expected;
        for (std::size_t i = 0; i < 30; ++i)
            expected.push_back(i);
        for (std::size_t i = 120; i < 150; ++i)
            expected.push_back(i);
        QCOMPARE(warm, expected);

        // Without records (a file): the times' order, no record periods. A
        // file of a download lists its newest record first; that is not a
        // time going backwards.
        const std::vector<uint16_t> newestFirst = checkSurvey(w.points, {});
        for (std::size_t i = 0; i < w.points.size(); ++i)
            QCOMPARE(newestFirst[i] & kFlagTime, 0);
        Walk file = walk(2);
        std::vector<SurveyPoint> ordered;
        for (std::size_t i = 0; i < file.points.size(); ++i)
            ordered.push_back(file.at(i));
        ordered[90].time = ordered[89].time;
        const std::vector<uint16_t> fileFlags = checkSurvey(ordered, {});
        for (std::size_t i = 0; i < ordered.size(); ++i)
            QCOMPARE(fileFlags[i] & ~kFlagWarmUp, i == 90 ? int(kFlagTime) : 0);
    }
};

QTEST_GUILESS_MAIN(TestSurveyChecks)
#include "test_survey_checks.moc"
