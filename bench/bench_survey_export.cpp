// Export of 600 000 survey points to GeoPackage through GDAL, against writing
// the same rows as plain CSV text with the standard library.
//
// Prints "export gpkg: ratio <x>", the GeoPackage time over the text's, the
// median of runs taken in turn.
#include "bench_socket.h"

#include <survey_export.h>

#include <QTemporaryDir>

#include <cstdio>
#include <ctime>
#include <random>

namespace {

using namespace bench;

const std::size_t kPoints = 600000;
const int kRuns = 3;

std::vector<SurveyPoint> makePoints()
{
    std::mt19937 rng(7);
    std::normal_distribution<float> noise(0, 1);
    std::vector<SurveyPoint> points(kPoints);
    for (std::size_t i = 0; i < kPoints; ++i) {
        SurveyPoint& p = points[i];
        p.latitude = 57.40 + 0.02 * double(i % 1000) / 1000;
        p.longitude = 24.60 + 0.03 * double(i / 1000) / 600;
        p.altitude = 12 + noise(rng);
        p.doseRate = 0.1f + 0.01f * noise(rng);
        p.time = 1796000000u + uint32_t(i);
        p.cps = uint16_t(300 + i % 100);
    }
    return points;
}

// The same columns as the CSV export, by hand.
bool writeText(const char* path, const std::vector<SurveyPoint>& points)
{
    std::FILE* f = std::fopen(path, "w");
    if (!f)
        return false;
    std::fputs("X,Y,time,altitude,dose_rate,cps\n", f);
    for (const SurveyPoint& p : points) {
        const time_t t = time_t(p.time);
        std::tm tm{};
        gmtime_r(&t, &tm);
        char when[32];
        std::strftime(when, sizeof when, "%Y-%m-%dT%H:%M:%SZ", &tm);
        std::fprintf(f, "%.15g,%.15g,%s,%.15g,%.15g,%u\n", p.longitude, p.latitude, when,
                     double(p.altitude), double(p.doseRate), unsigned(p.cps));
    }
    return std::fclose(f) == 0;
}

} // namespace

int main()
{
    const std::vector<SurveyPoint> points = makePoints();
    QTemporaryDir dir;
    const QString gpkg = dir.filePath("survey.gpkg");
    const QByteArray text = dir.filePath("survey.txt").toLocal8Bit();
    std::vector<double> ratios;
    double tg = 0, tt = 0;
    for (int run = 0; run < kRuns; ++run) {
        QString error;
        auto t0 = Clock::now();
        if (!exportSurvey(gpkg, points, &error)) {
            std::fprintf(stderr, "export gpkg: %s\n", error.toLocal8Bit().constData());
            return 1;
        }
        const double g = std::chrono::duration<double>(Clock::now() - t0).count();
        t0 = Clock::now();
        if (!writeText(text.constData(), points))
            return 1;
        const double t = std::chrono::duration<double>(Clock::now() - t0).count();
        ratios.push_back(g / t);
        tg += g;
        tt += t;
    }
    std::printf("export gpkg: ratio %.2f\n", median(ratios));
    std::printf("# export gpkg: %zu points, GeoPackage %.2f s, CSV text %.2f s per run\n", kPoints,
                tg / kRuns, tt / kRuns);
    return 0;
}
