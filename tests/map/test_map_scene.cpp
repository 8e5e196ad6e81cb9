#include "map_test_files.h"
#include "orvisk.h"

#include <QGraphicsEllipseItem>
#include <QGraphicsPixmapItem>
#include <QtTest>

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
        if (item->type() == QGraphicsEllipseItem::Type)
            positions << item->pos();
    return positions;
}

} // namespace

class TestMapScene : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void mapItemThenOneMarkerPerPoint();
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

void TestMapScene::mapItemThenOneMarkerPerPoint()
{
    addMapPoint(10.5, 89.5); // pixel (10, 10)
    addMapPoint(20.5, 79.5); // pixel (20, 20)
    addMapPoint(10.5, 89.5); // the same pixel again is kept
    QCOMPARE(map->getTrack(),
             (QVector<QPointF>{QPointF(10, 10), QPointF(20, 20), QPointF(10, 10)}));
    map->createScene(3);

    QList<QGraphicsItem*> items = itemsInOrder(*map);
    QCOMPARE(items.size(), 4);
    auto* mapItem = qgraphicsitem_cast<QGraphicsPixmapItem*>(items[0]);
    QVERIFY(mapItem);
    QCOMPARE(mapItem->pos(), QPointF(0, 0));
    QCOMPARE(mapItem->pixmap().size(), QSize(40, 30));
    QCOMPARE(mapItem->transformationMode(), Qt::SmoothTransformation);
    QCOMPARE(markerPositions(*map), map->getTrack());

    auto* marker = qgraphicsitem_cast<QGraphicsEllipseItem*>(items[1]);
    QVERIFY(marker);
    QCOMPARE(marker->rect(), QRectF(-3, -3, 6, 6)); // centred on the point
    QCOMPARE(marker->pen().color(), QColor(255, 0, 0, 255));
    QCOMPARE(marker->brush().color(), QColor(255, 0, 0, 255));
    QCOMPARE(marker->brush().style(), Qt::SolidPattern);
    QCOMPARE(marker->sceneBoundingRect().center(), QPointF(10, 10));

    // Radius 0: zero-size markers, still one per point.
    map->createScene(0);
    items = itemsInOrder(*map);
    QCOMPARE(items.size(), 4);
    QCOMPARE(qgraphicsitem_cast<QGraphicsEllipseItem*>(items[3])->rect(), QRectF(0, 0, 0, 0));
}

void TestMapScene::rebuildingAndClearing()
{
    addMapPoint(10.5, 89.5);
    addMapPoint(20.5, 79.5);
    map->createScene(2);
    map->createScene(2);
    QCOMPARE(itemsInOrder(*map).size(), 3);
    QCOMPARE(markerPositions(*map), map->getTrack());

    // Clearing the track leaves the drawn markers until the next rebuild.
    map->clearTrack();
    QCOMPARE(map->getTrackLen(), 0);
    QCOMPARE(itemsInOrder(*map).size(), 3);
    map->createScene(2);
    QCOMPARE(itemsInOrder(*map).size(), 1);

    // A second download shows only its own points.
    addMapPoint(30.5, 69.5);
    map->createScene(2);
    QCOMPARE(markerPositions(*map), QVector<QPointF>{QPointF(30, 30)});

    // Without an image the map item is empty and the markers are drawn all the same.
    TOrvisk blank;
    blank.createScene(2);
    QList<QGraphicsItem*> items = itemsInOrder(blank);
    QCOMPARE(items.size(), 1);
    QVERIFY(qgraphicsitem_cast<QGraphicsPixmapItem*>(items[0])->pixmap().isNull());
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
