// The checks against the decoding they follow.
//
// Prints "checks: ratio <x>": flagging every point of a 600 000-point survey
// (10 000 records of 60 points, a walk of transects) against decoding the
// same points from their records, the median of nine runs of each.
#include <survey_checks.h>
#include <survey_record.h>

#include <sim/survey_store.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kRecords = 10000;
constexpr int kRuns = 9;

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main()
{
    std::vector<sim::Bytes> encoded;
    uint32_t seed = 1;
    for (int r = 0; r < kRecords; ++r) {
        sim::SurveyRecord record;
        record.index = uint32_t(r + 1);
        record.time = 1767225600u + uint32_t(r) * 60;
        for (int p = 0; p < 60; ++p) {
            const int step = r * 60 + p, line = (step / 400) % 100;
            seed = seed * 1103515245u + 12345u;
            sim::SurveyPoint point;
            point.time = record.time + uint32_t(p);
            point.fix = true;
            point.latitude = 57.40 + line * 0.00009;
            point.longitude = 24.60 + (line % 2 ? 399 - step % 400 : step % 400) * 0.00003;
            point.altitude = 20;
            point.dose_rate = 0.08f + float(seed % 1000) / 10000.0f;
            point.cps = 250;
            point.satellites = uint8_t(3 + seed % 20);
            point.hdop10 = uint8_t(8 + (seed >> 8) % 40);
            record.points.push_back(point);
        }
        encoded.push_back(sim::SurveyStore::encode(record));
    }

    std::vector<double> decoding, checking;
    std::vector<SurveyPoint> points;
    std::vector<RecordSpan> spans;
    std::size_t flaggedPoints = 0;
    for (int run = 0; run < kRuns; ++run) {
        points.clear();
        spans.clear();
        auto start = Clock::now();
        for (auto e = encoded.rbegin(); e != encoded.rend(); ++e) {
            const auto record =
                decodeSurveyRecord(reinterpret_cast<const char*>(e->data()), int(e->size()), 0);
            spans.push_back({points.size(), record->points.size(), record->time});
            points.insert(points.end(), record->points.begin(), record->points.end());
        }
        decoding.push_back(std::chrono::duration<double>(Clock::now() - start).count());
        start = Clock::now();
        const std::vector<uint16_t> flags = checkSurvey(points, spans);
        checking.push_back(std::chrono::duration<double>(Clock::now() - start).count());
        flaggedPoints = std::size_t(
            std::count_if(flags.begin(), flags.end(), [](uint16_t f) { return f != 0; }));
    }
    std::printf("checks: ratio %.2f\n", median(checking) / median(decoding));
    std::printf("# checks: %zu points, %zu flagged: checks %.1f ms, decoding %.1f ms (medians "
                "of %d)\n",
                points.size(), flaggedPoints, median(checking) * 1e3, median(decoding) * 1e3,
                kRuns);
    return 0;
}
