// Drawing and building a week of survey points over the sample map.
//
// Prints "map frame full: ratio <x>" and "map frame zoom1: ratio <x>": the
// time to paint a 1200 x 800 view with 600 000 track points over the time with
// the map alone, at full extent and at zoom 1.0 while panning (mean of the
// frames after the first, whose time is given apart); and
// "map scene: ratio <x>": createScene over adding the same points. Lines
// marked '#' give the times behind the ratios.
#include "dense_walk.h"
#include "orvisk.h"

#include <QApplication>
#include <QImage>
#include <QScrollBar>
#include <QTemporaryDir>

#include <chrono>
#include <cstdio>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int trackRadius = 3;
constexpr int frames = 15;

double seconds(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Mean time of painting the view, panning `pan` pixels to the right before
// each frame (the first frame after a zoom is measured on its own).
double frameSeconds(TOrvisk& view, int pan)
{
    QImage target(view.viewport()->size(), QImage::Format_ARGB32_Premultiplied);
    view.viewport()->render(&target);
    QScrollBar* bar = view.horizontalScrollBar();
    double total = 0;
    for (int f = 0; f < frames; ++f) {
        bar->setValue(bar->value() + pan);
        const auto start = Clock::now();
        view.viewport()->render(&target);
        total += seconds(start);
    }
    return total / frames;
}

struct Frames
{
    double full;
    double zoom1;
};

Frames measureFrames(TOrvisk& view)
{
    view.resetTransform();
    view.fitInView(static_cast<QGraphicsView&>(view).scene()->sceneRect(), Qt::KeepAspectRatio);
    const double full = frameSeconds(view, 0);
    view.resetTransform();
    view.horizontalScrollBar()->setValue(view.horizontalScrollBar()->minimum());
    const double zoom1 = frameSeconds(view, 40);
    return {full, zoom1};
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
    view.resize(1200, 800);
    view.show();
    view.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    view.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    view.resize(1200, 800);
    app.processEvents();
    view.createScene(trackRadius);
    const Frames mapAlone = measureFrames(view);

    const QSize image =
        static_cast<QGraphicsView&>(view).scene()->itemsBoundingRect().size().toSize();
    const std::vector<QPointF> positions = denseWalk(view, image);
    auto start = Clock::now();
    for (const QPointF& p : positions)
        view.addTrackPoint(p.x(), p.y());
    const double adding = seconds(start);
    start = Clock::now();
    view.createScene(trackRadius);
    const double building = seconds(start);
    // The first frame after a rebuild or a zoom step draws every tile anew.
    view.resetTransform();
    view.fitInView(static_cast<QGraphicsView&>(view).scene()->sceneRect(), Qt::KeepAspectRatio);
    start = Clock::now();
    QImage first(view.viewport()->size(), QImage::Format_ARGB32_Premultiplied);
    view.viewport()->render(&first);
    const double firstFrame = seconds(start);
    const Frames track = measureFrames(view);
    // A zoom step throws the drawn tiles away: the next frame draws them all.
    view.resetTransform();
    view.fitInView(static_cast<QGraphicsView&>(view).scene()->sceneRect(), Qt::KeepAspectRatio);
    view.scale(1.15, 1.15);
    view.viewport()->render(&first);
    start = Clock::now();
    view.scale(1 / 1.15, 1 / 1.15);
    view.viewport()->render(&first);
    const double zoomFrame = seconds(start);

    std::printf("# %d points, radius %d, %d added: adding %.1f ms, createScene %.2f ms, "
                "first frame at full extent %.2f ms\n",
                kDenseWalkPoints, trackRadius, view.getTrackLen(), adding * 1e3, building * 1e3,
                firstFrame * 1e3);
    std::printf("# first frame after a zoom step at full extent: %.2f ms\n", zoomFrame * 1e3);
    std::printf("# frame full: map alone %.2f ms, with track %.2f ms\n", mapAlone.full * 1e3,
                track.full * 1e3);
    std::printf("# frame zoom1: map alone %.2f ms, with track %.2f ms\n", mapAlone.zoom1 * 1e3,
                track.zoom1 * 1e3);
    std::printf("map frame full: ratio %.2f\n", track.full / mapAlone.full);
    std::printf("map frame zoom1: ratio %.2f\n", track.zoom1 / mapAlone.zoom1);
    std::printf("map scene: ratio %.4f\n", building / adding);
    return 0;
}
