// A time range chosen on the dense survey, to the next frame of the map.
//
// Prints "range frame: ratio <x>": from a new time range given to the review
// panel (which picks the points, computes the statistics and the hottest
// places, and hands the choice to the map and the chart) to the next frame of
// a 1200 x 800 view at full extent, against the frame of the map alone; the
// median of the ranges tried. Lines marked '#' give the times behind it.
#include "dense_walk.h"
#include "dose_chart.h"
#include "orvisk.h"
#include "review_panel.h"

#include <survey_checks.h>

#include <QApplication>
#include <QImage>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int trackRadius = 3;
constexpr int ranges = 15;

double seconds(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

void fitAll(TOrvisk& view)
{
    view.resetTransform();
    view.fitInView(static_cast<QGraphicsView&>(view).scene()->sceneRect(), Qt::KeepAspectRatio);
}

} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir config; // the map stores its zoom on exit
    qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
    QApplication app(argc, argv);

    TOrvisk view;
    view.loadMapFolder(QStringLiteral(ORVISK_SOURCE_DIR "/maps/Korvenix/"));
    view.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    view.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    view.resize(1200, 800);
    view.show();
    app.processEvents();
    view.createScene(trackRadius);
    fitAll(view);
    QImage target(view.viewport()->size(), QImage::Format_ARGB32_Premultiplied);
    std::vector<double> mapAlone;
    for (int f = 0; f < ranges; ++f) {
        const auto start = Clock::now();
        view.viewport()->render(&target);
        mapAlone.push_back(seconds(start));
    }

    // The walk a second a point, in sessions of an hour with an hour between.
    const QSize image =
        static_cast<QGraphicsView&>(view).scene()->itemsBoundingRect().size().toSize();
    const std::vector<QPointF> positions = denseWalk(view, image);
    std::vector<SurveyPoint> points(positions.size());
    for (std::size_t i = 0; i < points.size(); ++i) {
        points[i].latitude = positions[i].x();
        points[i].longitude = positions[i].y();
        points[i].time = 1767225600u + uint32_t(i) + uint32_t(i / 3600) * 3600;
        points[i].doseRate = 0.08f + float(i % 997) / 5000.0f;
        points[i].satellites = 9;
        points[i].hdop10 = 9;
    }
    const std::vector<uint16_t> flags = checkSurvey(points, {});
    view.addTrackPoints(points);
    view.setTrackFlags(flags);
    view.createScene(trackRadius);
    fitAll(view);
    view.viewport()->render(&target);

    ReviewPanel panel;
    DoseChart chart;
    chart.resize(1200, 200);
    QObject::connect(&panel, &ReviewPanel::shownChanged, [&] {
        view.setTrackShown(panel.shown());
        chart.setRange(panel.range());
    });
    panel.setSurvey(&points, flags, {}, CheckLimits());
    chart.setSurvey(points, flags);

    std::vector<double> rangeFrames, choosing;
    const uint32_t first = points.front().time, last = points.back().time;
    for (int r = 0; r < ranges; ++r) {
        const uint32_t from = first + (last - first) / 40 * uint32_t(r);
        const uint32_t to = from + (last - first) / 3;
        const auto start = Clock::now();
        panel.setRange(ReviewPanel::Range{from, to});
        choosing.push_back(seconds(start));
        view.viewport()->render(&target);
        rangeFrames.push_back(seconds(start));
    }

    std::printf("# %zu points, %d on the map: frame of the map alone %.2f ms; range to frame "
                "%.2f ms, of which the panel's choice %.2f ms\n",
                points.size(), view.getTrackLen(), median(mapAlone) * 1e3,
                median(rangeFrames) * 1e3, median(choosing) * 1e3);
    std::printf("range frame: ratio %.2f\n", median(rangeFrames) / median(mapAlone));
    return 0;
}
