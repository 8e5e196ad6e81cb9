// Finding the track point under the mouse in a week of survey points.
//
// Prints "inspect: ratio <x>": the time TOrvisk takes to find the point under
// a mouse position in a 600 000-point track (through its grid) over the time
// of a linear scan of the track for the same answer. Lines marked '#' give the
// times behind the ratio.
#include "orvisk.h"
#include "track_item.h"

#include <QApplication>
#include <QGraphicsScene>
#include <QTemporaryDir>

#include <chrono>
#include <cstdio>
#include <limits>
#include <random>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int pointCount = 600000;
constexpr int trackRadius = 3;
constexpr int gridQueries = 20000;
constexpr int scanQueries = 200;

double seconds(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// A dense survey: transects 5 pixels apart over the whole image, one pixel a
// point with some GPS jitter, and a dose rate for each.
std::vector<SurveyPoint> survey(const TOrvisk& map, QSize image)
{
    std::vector<SurveyPoint> points;
    points.reserve(pointCount);
    std::mt19937 random(12345);
    std::uniform_real_distribution<double> jitter(-0.5, 0.5);
    std::uniform_real_distribution<float> rate(0.03f, 0.6f);
    for (int i = 0; i < pointCount; ++i) {
        const int line = (i / image.width()) % (image.height() / 5);
        const int step = i % image.width();
        const double x = line % 2 ? image.width() - 1 - step : step;
        const double y = line * 5.0;
        const QPointF geo = *map.sceneToGeo(QPointF(x + jitter(random), y + 2 * jitter(random)));
        SurveyPoint p;
        p.latitude = geo.x();
        p.longitude = geo.y();
        p.doseRate = rate(random);
        points.push_back(p);
    }
    return points;
}

// What a look-up without an index does: every point, keeping the top marker
// that covers the position, else the nearest point within the tolerance of
// a marker's edge.
int scan(const QVector<QPointF>& points, QPointF at, qreal cover, qreal tolerance)
{
    int top = -1, nearest = -1;
    qreal nearest2 = std::numeric_limits<qreal>::max();
    for (int i = 0; i < points.size(); ++i) {
        const QPointF d = points[i] - at;
        const qreal d2 = d.x() * d.x() + d.y() * d.y();
        if (d2 <= cover * cover)
            top = i;
        if (d2 <= (cover + tolerance) * (cover + tolerance) && d2 <= nearest2) {
            nearest2 = d2;
            nearest = i;
        }
    }
    return top >= 0 ? top : nearest;
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
    view.createScene(trackRadius);
    const QSize image =
        static_cast<QGraphicsView&>(view).scene()->itemsBoundingRect().size().toSize();
    for (const SurveyPoint& p : survey(view, image))
        view.addTrackPoint(p);
    view.createScene(trackRadius);
    const QVector<QPointF>& points = view.trackItem()->points();

    // Mouse positions: half on or beside markers, half anywhere on the map.
    std::mt19937 random(99);
    std::uniform_int_distribution<int> anyPoint(0, points.size() - 1);
    std::uniform_real_distribution<double> beside(-4, 4), acrossX(0, image.width()),
        acrossY(0, image.height());
    std::vector<QPointF> queries;
    for (int q = 0; q < gridQueries; ++q)
        queries.push_back(q % 2 ? points[anyPoint(random)] + QPointF(beside(random), beside(random))
                                : QPointF(acrossX(random), acrossY(random)));

    auto start = Clock::now();
    std::vector<int> found;
    found.reserve(queries.size());
    for (const QPointF& at : queries)
        found.push_back(view.trackPointAt(at));
    const double grid = seconds(start) / gridQueries;

    const qreal cover = trackRadius + 0.5, tolerance = 3; // zoom 1
    int differing = 0, hits = 0;
    start = Clock::now();
    for (int q = 0; q < scanQueries; ++q) {
        const int index = scan(points, queries[q], cover, tolerance);
        differing += index != found[q];
        hits += index >= 0;
    }
    const double linear = seconds(start) / scanQueries;
    if (differing > 0) {
        std::printf("# %d of %d look-ups differ from the scan\n", differing, scanQueries);
        return 1;
    }

    std::printf("# %d points, radius %d: look-up %.2f us (%d positions), linear scan %.2f ms "
                "(%d positions, %d on a marker)\n",
                int(points.size()), trackRadius, grid * 1e6, gridQueries, linear * 1e3, scanQueries,
                hits);
    std::printf("inspect: ratio %.5f\n", grid / linear);
    return 0;
}
