// Writing the PDF map report of a week of survey points (600 000 over the
// sample map) against rendering the same map view to a PNG of the same size:
// both draw the map at print resolution; the report adds its frame, legend,
// figures and the PDF's compression.
//
// Prints "report: ratio <x>", the report's time over the PNG's (the median
// over five pairs of runs taken in turn, so that the load of a shared
// machine falls on both alike); '#' lines give the times, the page and the
// map image's size, and the figures' own time (computed before the report).
#include "dense_walk.h"
#include "orvisk.h"
#include "survey_report.h"

#include <QApplication>
#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kRuns = 5;

double seconds(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir dir;
    qputenv("XDG_CONFIG_HOME", dir.path().toUtf8());
    QApplication app(argc, argv);
    TOrvisk map;
    map.resize(1200, 800);
    map.loadMapFolder(QStringLiteral(ORVISK_SOURCE_DIR "/maps/Korvenix/"));
    map.createScene(0);
    const QSize image = map.sceneExtent().size().toSize();
    std::vector<SurveyPoint> points;
    points.reserve(kDenseWalkPoints);
    uint32_t time = 1780000000;
    for (const QPointF& p : denseWalk(map, image)) {
        SurveyPoint s;
        s.latitude = p.x();
        s.longitude = p.y();
        s.time = time++;
        s.doseRate = 0.05f + 0.5f * float(time % 97) / 97;
        s.satellites = 9;
        s.hdop10 = 9;
        points.push_back(s);
    }
    map.clearTrack();
    map.addTrackPoints(points);
    map.createScene(0);

    auto start = Clock::now();
    const std::vector<uint16_t> flags = checkSurvey(points, {});
    map.setTrackFlags(flags);
    ReportFacts facts = reportFacts(points, flags, {}, {}, CheckLimits());
    facts.title = QStringLiteral("A week of survey");
    const double figures = seconds(start);

    const ReportOptions options;
    const QString pdf = dir.filePath(QStringLiteral("report.pdf"));
    const QString png = dir.filePath(QStringLiteral("map.png"));
    ReportPlacement placed;
    QString error;
    std::vector<double> reports, pngs, ratios;
    for (int run = 0; run < kRuns; ++run) {
        start = Clock::now();
        if (!writeSurveyReport(pdf, map, facts, options, &error, &placed)) {
            std::fprintf(stderr, "bench_report: %s\n", qPrintable(error));
            return 1;
        }
        reports.push_back(seconds(start));

        start = Clock::now();
        QImage view(placed.mapPixels, QImage::Format_RGB32);
        view.fill(Qt::white);
        {
            QPainter painter(&view);
            painter.setRenderHint(QPainter::SmoothPixmapTransform);
            map.renderScene(&painter, QRectF(QPointF(), QSizeF(placed.mapPixels)), placed.scene,
                            options.dpi / 96.0);
        }
        if (!view.save(png)) {
            std::fprintf(stderr, "bench_report: %s cannot be written\n", qPrintable(png));
            return 1;
        }
        pngs.push_back(seconds(start));
        ratios.push_back(reports.back() / pngs.back());
    }
    std::printf("# %zu points, %d placed; figures (statistics, checks) %.1f ms before the report\n",
                points.size(), map.getTrackLen(), figures * 1e3);
    std::printf("# page %.0f x %.0f pt, map image %d x %d at %d dpi; PDF %lld bytes, PNG %lld "
                "bytes\n",
                placed.page.width(), placed.page.height(), placed.mapPixels.width(),
                placed.mapPixels.height(), options.dpi, QFileInfo(pdf).size(),
                QFileInfo(png).size());
    std::printf("# report %.1f ms, PNG %.1f ms (medians of %d)\n", median(reports) * 1e3,
                median(pngs) * 1e3, kRuns);
    std::printf("report: ratio %.2f\n", median(ratios));
    return 0;
}
