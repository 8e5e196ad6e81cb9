#include "map_test_files.h"
#include "orvisk.h"
#include "track_item.h"

#include <survey_checks.h>

#include <QGraphicsEllipseItem>
#include <QGraphicsPixmapItem>
#include <QPainter>
#include <QRandomGenerator>
#include <QtTest>

#include <cmath>

namespace {

QGraphicsScene* viewScene(QGraphicsView& view)
{
    return view.scene();
}

// Scene items in the order they were added (the stacking order).
QList<QGraphicsItem*> itemsInOrder(QGraphicsView& view)
{
    return view.scene()->items(Qt::AscendingOrder);
}

QVector<QPointF> markerPositions(QGraphicsView& view)
{
    QVector<QPointF> positions;
    for (QGraphicsItem* item : itemsInOrder(view))
        if (auto* track = qgraphicsitem_cast<TrackItem*>(item))
            positions << track->points();
    return positions;
}

// `source` of a scene holding only `item` (which it deletes), drawn into an
// image of `size`.
QImage render(QGraphicsItem* item, const QRectF& source, QSize size)
{
    QGraphicsScene scene;
    scene.addItem(item);
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::white);
    QPainter painter(&image);
    scene.render(&painter, QRectF(QPointF(0, 0), size), source, Qt::IgnoreAspectRatio);
    painter.end();
    return image;
}

// The same points drawn the plain way: one ellipse item per point.
QGraphicsItem* ellipses(const QVector<QPointF>& points, qreal radius)
{
    auto* group = new QGraphicsRectItem; // an empty parent keeps them in order
    group->setPen(Qt::NoPen);
    const QColor red(255, 0, 0);
    for (const QPointF& p : points) {
        auto* item = new QGraphicsEllipseItem(-radius, -radius, 2 * radius, 2 * radius, group);
        item->setPen(QPen(red));
        item->setBrush(red);
        item->setPos(p);
    }
    return group;
}

// Radius 0: one red device pixel where each point lies.
QImage dots(const QVector<QPointF>& points, const QRectF& source, QSize size)
{
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::white);
    const qreal scale = size.width() / source.width();
    for (const QPointF& p : points) {
        const QPointF at = (p - source.topLeft()) * scale;
        const QPoint pixel(int(std::floor(at.x())), int(std::floor(at.y())));
        if (image.rect().contains(pixel))
            image.setPixel(pixel, qRgb(255, 0, 0));
    }
    return image;
}

int differingPixels(const QImage& a, const QImage& b)
{
    int count = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            count += a.pixel(x, y) != b.pixel(x, y);
    return count;
}

int redPixels(const QImage& image)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            count += image.pixel(x, y) == qRgb(255, 0, 0);
    return count;
}

} // namespace

class TestMapScene : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void mapItemThenTrackItem();
    void trackLooksLikeOneCirclePerPoint();
    void farPointCloseUp();
    void readableMarkersAtAnyZoom();
    void pointsInAnAreaInTrackOrder();
    void rebuildingAndClearing();
    void pointOutsideTheImageExtendsTheScene();

private:
    void addMapPoint(double x, double y);

    MapFiles files;
    std::unique_ptr<TOrvisk> map;
};

void TestMapScene::init()
{
    QImage image(40, 30, QImage::Format_RGB32);
    image.fill(Qt::darkGreen);
    QString imagePath = files.write(QStringLiteral("map.png"), {});
    QVERIFY(image.save(imagePath, "PNG"));

    MessageLog log;
    map = std::make_unique<TOrvisk>();
    map->loadMapImage(imagePath);
    map->loadCalFile(files.write(QStringLiteral("map.pgw"), "1\n0\n0\n-1\n0\n100\n"));
    map->loadProjFile(files.write(QStringLiteral("map.ppr"), mercator));
    QVERIFY(log.take().isEmpty());
}

// Adds the track point whose map coordinates are (x, y), i.e. near pixel (x, 100 - y).
void TestMapScene::addMapPoint(double x, double y)
{
    auto [latitude, longitude] = latLongOfMercator(x, y);
    map->addTrackPoint(latitude, longitude);
}

void TestMapScene::mapItemThenTrackItem()
{
    addMapPoint(10.5, 89.5); // pixel (10, 10)
    addMapPoint(20.5, 79.5); // pixel (20, 20)
    addMapPoint(10.5, 89.5); // the same pixel again is kept
    QCOMPARE(map->getTrack(),
             (QVector<QPointF>{QPointF(10, 10), QPointF(20, 20), QPointF(10, 10)}));
    map->createScene(3);

    QList<QGraphicsItem*> items = itemsInOrder(*map);
    QCOMPARE(items.size(), 2);
    auto* mapItem = qgraphicsitem_cast<QGraphicsPixmapItem*>(items[0]);
    QVERIFY(mapItem);
    QCOMPARE(mapItem->pos(), QPointF(0, 0));
    QCOMPARE(mapItem->pixmap().size(), QSize(40, 30));
    QCOMPARE(mapItem->transformationMode(), Qt::SmoothTransformation);

    // Above the map: one red circle of radius 3 centred on each point.
    auto* track = qgraphicsitem_cast<TrackItem*>(items[1]);
    QVERIFY(track);
    QCOMPARE(track, map->trackItem());
    QCOMPARE(markerPositions(*map), map->getTrack());
    QCOMPARE(track->markerRect(), QRectF(-3, -3, 6, 6));
    QCOMPARE(track->pen().color(), QColor(255, 0, 0, 255));
    QCOMPARE(track->brush().color(), QColor(255, 0, 0, 255));
    QCOMPARE(track->brush().style(), Qt::SolidPattern);
    QCOMPARE(track->boundingRect(), QRectF(6.5, 6.5, 17, 17));

    // The view shows them over the map.
    map->resize(200, 150);
    map->show();
    QVERIFY(QTest::qWaitForWindowExposed(map.get()));
    const QImage shown = map->viewport()->grab().toImage();
    const QPoint centre = map->mapFromScene(QPointF(20, 20));
    QCOMPARE(shown.pixel(centre), qRgb(255, 0, 0));
    QCOMPARE(shown.pixel(map->mapFromScene(QPointF(30, 25))), QColor(Qt::darkGreen).rgb());

    // Radius 0: zero-size markers, still one per point, which the map draws
    // at the least size a surveyor sees: a few pixels each, not one.
    map->createScene(0);
    QCOMPARE(map->trackItem()->markerRect(), QRectF(0, 0, 0, 0));
    QCOMPARE(map->trackItem()->points().size(), 3);
    const QImage dotted = map->viewport()->grab().toImage();
    const QPoint at = map->mapFromScene(QPointF(20, 20));
    for (QPoint near : {at, at + QPoint(1, 0), at + QPoint(0, 1), at - QPoint(1, 1)})
        QCOMPARE(dotted.pixel(near), qRgb(255, 0, 0));
    QVERIFY(redPixels(dotted) >= 2 * 9 && redPixels(dotted) <= 2 * 36);
}

void TestMapScene::trackLooksLikeOneCirclePerPoint()
{
    // Neighbours, repeats and a cluster many times denser than a screen pixel
    // when zoomed out.
    QVector<QPointF> points;
    QRandomGenerator random(7);
    for (int i = 0; i < 300; ++i)
        points << QPointF(random.bounded(5, 195), random.bounded(5, 145));
    for (int i = 0; i < 2000; ++i)
        points << QPointF(60 + random.bounded(20), 40 + random.bounded(10));
    points << QPointF(100, 100) << QPointF(100, 100) << QPointF(101, 100);

    struct View
    {
        QRectF source;
        QSize size;
    };
    const View views[] = {
        {QRectF(0, 0, 200, 150), QSize(200, 150)},    // zoom 1
        {QRectF(50, 30, 40, 30), QSize(400, 300)},    // zoom 10, part of the track
        {QRectF(-17, -9, 200, 150), QSize(200, 150)}, // panned
        {QRectF(0, 0, 200, 150), QSize(60, 45)},      // zoom 0.3
        {QRectF(0, 0, 200, 150), QSize(500, 375)},    // zoom 2.5
    };
    for (qreal radius : {0.0, 1.0, 4.0}) {
        for (const View& view : views) {
            const QImage drawn = render(new TrackItem(points, radius), view.source, view.size);
            const QImage expected = radius > 0
                                        ? render(ellipses(points, radius), view.source, view.size)
                                        : dots(points, view.source, view.size);
            const int red = redPixels(expected);
            QVERIFY(red > 0);
            const qreal scale = view.size.width() / view.source.width();
            if (scale < 1) {
                // Smaller than a pixel: every point shows as one red pixel where
                // the toolkit would draw a faint one or none, and nothing else.
                // A dot of radius 0 is such a pixel at any zoom.
                QImage reach(view.size, QImage::Format_RGB32);
                reach.fill(Qt::white);
                for (const QPointF& p : points) {
                    const QPointF at = (p - view.source.topLeft()) * scale;
                    const QPoint pixel(int(at.x()), int(at.y())); // the one it lies in
                    if (drawn.rect().adjusted(0, 0, -1, -1).contains(pixel)) {
                        bool shown = false;
                        for (QPoint next : {pixel, pixel + QPoint(1, 0), pixel + QPoint(0, 1),
                                            pixel + QPoint(1, 1)})
                            shown = shown || drawn.pixel(next) == qRgb(255, 0, 0);
                        QVERIFY(shown);
                    }
                    const int near = int(std::ceil((radius + 0.5) * scale)) + 1;
                    for (int dy = -near; dy <= near; ++dy)
                        for (int dx = -near; dx <= near; ++dx)
                            if (reach.rect().contains(at.toPoint() + QPoint(dx, dy)))
                                reach.setPixel(at.toPoint() + QPoint(dx, dy), qRgb(0, 0, 0));
                }
                for (int y = 0; y < drawn.height(); ++y)
                    for (int x = 0; x < drawn.width(); ++x)
                        if (drawn.pixel(x, y) != qRgb(255, 255, 255))
                            QCOMPARE(reach.pixel(x, y), qRgb(0, 0, 0));
                continue;
            }
            // From a pixel per map pixel up, pixel for pixel what the toolkit's
            // own circles give (and single pixels for radius 0).
            const int differing = differingPixels(drawn, expected);
            QVERIFY2(differing == 0,
                     qPrintable(QStringLiteral("radius %1, %2 of %3 red pixels differ")
                                    .arg(radius)
                                    .arg(differing)
                                    .arg(red)));
        }
    }
}

void TestMapScene::farPointCloseUp()
{
    // Device pixels counted from the scene origin would pass the int range here.
    const QVector<QPointF> points = {QPointF(2e7, 2e7), QPointF(2e7 + 1, 2e7)};
    const QRectF source(2e7 - 2, 2e7 - 2, 4, 4);
    const QImage drawn = render(new TrackItem(points, 1), source, QSize(200, 200));
    const QImage expected = render(ellipses(points, 1), source, QSize(200, 200));
    QVERIFY(redPixels(expected) > 1000);
    QCOMPARE(differingPixels(drawn, expected), 0);
}

void TestMapScene::readableMarkersAtAnyZoom()
{
    // Far apart, so that each marker stands alone at every zoom below.
    const QVector<QPointF> points = {QPointF(1000, 1000), QPointF(9000, 1000), QPointF(5000, 5000)};
    QVector<SurveyPoint> values(points.size());
    for (SurveyPoint& v : values)
        v.doseRate = 0.05; // below the first step: the background colour
    const QRgb fill = DoseScale::backgroundColour().rgb();
    const qreal minimum = TrackItem::kMinimumPixels;
    auto item = [&](qreal radius) {
        auto* track = new TrackItem(points, values, radius, DoseScale());
        track->setReadable(true);
        return track;
    };
    // The drawn width through a marker's middle row, and its middle pixel.
    auto across = [](const QImage& image, QPointF at) {
        const int y = int(at.y()), x = int(at.x());
        int left = x, right = x;
        while (left > 0 && image.pixel(left - 1, y) != qRgb(255, 255, 255))
            --left;
        while (right + 1 < image.width() && image.pixel(right + 1, y) != qRgb(255, 255, 255))
            ++right;
        return std::pair{right - left + 1, image.pixel(x, y)};
    };
    struct Case
    {
        qreal radius, zoom;
        qreal width; // expected across, in device pixels
    };
    for (const Case& c : {Case{0, 0.01, minimum}, Case{2, 0.001, minimum}, Case{0, 1, minimum},
                          Case{0, 1000, minimum}, Case{4, 10, 80}, Case{1, 1, minimum}}) {
        const QSize size(200, 200);
        const QRectF source(5000 - 100 / c.zoom, 5000 - 100 / c.zoom, 200 / c.zoom, 200 / c.zoom);
        const QImage drawn = render(item(c.radius), source, size);
        const auto [width, middle] = across(drawn, QPointF(100.5, 100.5));
        QVERIFY2(width >= c.width && width <= c.width + 4,
                 qPrintable(QStringLiteral("radius %1 zoom %2: %3 pixels across")
                                .arg(c.radius)
                                .arg(c.zoom)
                                .arg(width)));
        QCOMPARE(middle, fill);
    }

    // Flagged: a hollow ring; hidden: not drawn, and not found under the mouse.
    TrackItem* track = item(0);
    track->setFlags({0, 0, kFlagSpeed});
    track->setShown({0, 1, 1});
    QCOMPARE(track->shownCount(), 2);
    const QRectF source(0, 0, 10000, 10000);
    QCOMPARE(track->pointAt(QPointF(1000, 1000), 0, 0.02), -1);
    QCOMPARE(track->pointAt(QPointF(9000 + 2.5 / 0.02, 1000), 0, 0.02), 1);
    QCOMPARE(track->pointAt(QPointF(9000 + 2.5 / 0.02, 1000), 0, 0), -1); // no minimum
    const QImage drawn = render(track, source, QSize(200, 200));
    QCOMPARE(drawn.pixel(20, 20), qRgb(255, 255, 255));         // hidden
    QCOMPARE(across(drawn, QPointF(180.5, 20.5)).second, fill); // good: filled
    QCOMPARE(drawn.pixel(100, 100), qRgb(255, 255, 255));       // flagged: hollow
    int dark = 0;
    for (int x = 92; x <= 108; ++x)
        dark += qGray(drawn.pixel(x, 100)) < 64;
    QVERIFY(dark >= 2); // its ring on both sides
}

void TestMapScene::pointsInAnAreaInTrackOrder()
{
    QVector<QPointF> points;
    QRandomGenerator random(11);
    for (int i = 0; i < 5000; ++i)
        points << QPointF(random.bounded(1000), random.bounded(800));
    points << QPointF(-400, 3000) << QPointF(5, 5);
    TrackItem track(points, 2);
    QCOMPARE(track.boundingRect(), QRectF(QPointF(-402.5, -2.5), QPointF(1001.5, 3002.5)));
    for (const QRectF& area :
         {QRectF(100, 100, 50, 40), QRectF(0, 0, 5, 5), QRectF(-1000, -1000, 3000, 5000),
          QRectF(-400, 3000, 0, 0), QRectF(2000, 0, 10, 10)}) {
        QVector<int> expected;
        for (int i = 0; i < points.size(); ++i)
            if (points[i].x() >= area.left() && points[i].x() <= area.right() &&
                points[i].y() >= area.top() && points[i].y() <= area.bottom())
                expected << i;
        QCOMPARE(track.pointsIn(area), expected);
    }
}

void TestMapScene::rebuildingAndClearing()
{
    addMapPoint(10.5, 89.5);
    addMapPoint(20.5, 79.5);
    map->createScene(2);
    map->createScene(2);
    QCOMPARE(itemsInOrder(*map).size(), 2);
    QCOMPARE(markerPositions(*map), map->getTrack());

    // Clearing the track leaves the drawn markers until the next rebuild.
    map->clearTrack();
    QCOMPARE(map->getTrackLen(), 0);
    QCOMPARE(markerPositions(*map).size(), 2);
    map->createScene(2);
    QCOMPARE(markerPositions(*map).size(), 0);

    // A second download shows only its own points.
    addMapPoint(30.5, 69.5);
    map->createScene(2);
    QCOMPARE(markerPositions(*map), QVector<QPointF>{QPointF(30, 30)});

    // Without an image the map item is empty and the markers are drawn all the same.
    TOrvisk blank;
    blank.createScene(2);
    QList<QGraphicsItem*> items = itemsInOrder(blank);
    QCOMPARE(items.size(), 2);
    QVERIFY(qgraphicsitem_cast<QGraphicsPixmapItem*>(items[0])->pixmap().isNull());
    QVERIFY(blank.trackItem()->points().isEmpty());
}

void TestMapScene::pointOutsideTheImageExtendsTheScene()
{
    map->createScene(2);
    QCOMPARE(viewScene(*map)->sceneRect(), QRectF(0, 0, 40, 30));
    addMapPoint(100.5, -19.5); // pixel (100, 119), far right of and below the image
    map->createScene(2);
    QCOMPARE(markerPositions(*map), QVector<QPointF>{QPointF(100, 119)});
    QRectF extent = viewScene(*map)->sceneRect();
    QVERIFY(extent.contains(QRectF(0, 0, 40, 30)));
    QVERIFY(extent.contains(QPointF(101.5, 120.5)));
}

QTEST_MAIN(TestMapScene)
#include "test_map_scene.moc"
