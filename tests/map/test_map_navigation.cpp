#include "map_test_files.h"
#include "orvisk.h"

#include <QScrollBar>
#include <QSettings>
#include <QSignalSpy>
#include <QtTest>

#include <cmath>

namespace {

void wheel(TOrvisk& map, int delta, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    const QPointF at(100, 80);
    QWheelEvent event(at, map.viewport()->mapToGlobal(at.toPoint()), QPoint(), QPoint(0, delta),
                      Qt::NoButton, modifiers, Qt::NoScrollPhase, false);
    QApplication::sendEvent(map.viewport(), &event);
    QVERIFY(event.isAccepted());
}

void mouse(QWidget* target, QEvent::Type type, QPoint at, Qt::MouseButton button,
           Qt::MouseButtons buttons)
{
    QMouseEvent event(type, at, target->mapToGlobal(at), button, buttons, Qt::NoModifier);
    QApplication::sendEvent(target, &event);
}

void drag(TOrvisk& map, QPoint from, QPoint to)
{
    mouse(map.viewport(), QEvent::MouseButtonPress, from, Qt::LeftButton, Qt::LeftButton);
    mouse(map.viewport(), QEvent::MouseMove, (from + to) / 2, Qt::NoButton, Qt::LeftButton);
    mouse(map.viewport(), QEvent::MouseMove, to, Qt::NoButton, Qt::LeftButton);
    mouse(map.viewport(), QEvent::MouseButtonRelease, to, Qt::LeftButton, Qt::NoButton);
}

double viewScale(const TOrvisk& map)
{
    return map.transform().m11();
}

QPointF viewCentre(const TOrvisk& map)
{
    return map.viewportTransform().inverted().map(QRectF(map.viewport()->rect()).center());
}

} // namespace

class TestMapNavigation : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void wheelSteps();
    void pinch();
    void resizeKeepsZoomAndCentre();
    void dragPansWithAndWithoutProjections();
    void zoomAndCentreKeptForTheNextStart();
    void pickingAPoint();

private:
    // A shown 400 x 300 map over a 1000 x 800 image; with projections if asked.
    std::unique_ptr<TOrvisk> shownMap(bool projections);

    MapFiles files;
    QString imagePath;
};

void TestMapNavigation::initTestCase()
{
    QImage image(1000, 800, QImage::Format_RGB32);
    image.fill(Qt::darkGreen);
    imagePath = files.write(QStringLiteral("map.png"), {});
    QVERIFY(image.save(imagePath, "PNG"));
}

void TestMapNavigation::init()
{
    QSettings().clear();
}

std::unique_ptr<TOrvisk> TestMapNavigation::shownMap(bool projections)
{
    MessageLog log;
    auto map = std::make_unique<TOrvisk>();
    map->loadMapImage(imagePath);
    if (projections) {
        map->loadCalFile(files.write(QStringLiteral("map.pgw"), "1\n0\n0\n-1\n0\n800\n"));
        map->loadProjFile(files.write(QStringLiteral("map.ppr"), mercator));
    }
    map->createScene(2);
    map->resize(400, 300);
    map->show();
    if (!QTest::qWaitForWindowExposed(map.get()))
        qFatal("map not shown");
    return map;
}

void TestMapNavigation::wheelSteps()
{
    auto map = shownMap(true);
    QCOMPARE(map->getScaleFactor(), 1.0);
    wheel(*map, 120);
    QCOMPARE(map->getScaleFactor(), 1.15);
    QCOMPARE(viewScale(*map), 1.15);
    wheel(*map, -120);
    QCOMPARE(map->getScaleFactor(), 1.0);
    wheel(*map, -120);
    QCOMPARE(map->getScaleFactor(), 1 / 1.15);

    // Ctrl: the fine step; a large delta is still one step.
    map = shownMap(true);
    wheel(*map, 120, Qt::ControlModifier);
    QCOMPARE(map->getScaleFactor(), 1.01);
    wheel(*map, -960, Qt::ControlModifier);
    QCOMPARE(map->getScaleFactor(), 1.0);
    wheel(*map, 1, Qt::ControlModifier | Qt::ShiftModifier);
    QCOMPARE(map->getScaleFactor(), 1.01);

    // Delta 0 zooms out.
    map = shownMap(true);
    wheel(*map, 0);
    QCOMPARE(map->getScaleFactor(), 1 / 1.15);
    QCOMPARE(viewScale(*map), 1 / 1.15);

    // No limit: a hundred steps in.
    map = shownMap(true);
    for (int i = 0; i < 100; ++i)
        wheel(*map, 120);
    QVERIFY(qFuzzyCompare(map->getScaleFactor(), std::pow(1.15, 100)));
    QCOMPARE(viewScale(*map), map->getScaleFactor());
}

void TestMapNavigation::pinch()
{
    QTouchDevice* screen = QTest::createTouchDevice();
    auto map = shownMap(true);
    wheel(*map, 120); // the pinch continues from the wheel's zoom
    QWidget* viewport = map->viewport();

    // Two fingers 100 pixels apart move to 200 apart: twice the zoom on screen.
    QTest::touchEvent(viewport, screen)
        .press(0, QPoint(150, 150), viewport)
        .press(1, QPoint(250, 150), viewport);
    QCOMPARE(viewScale(*map), 1.15);
    QTest::touchEvent(viewport, screen)
        .move(0, QPoint(100, 150), viewport)
        .move(1, QPoint(300, 150), viewport);
    QCOMPARE(map->getScaleFactor(), 1.15);
    QVERIFY(qFuzzyCompare(viewScale(*map), 2.3));
    // Lifting a finger commits it.
    QTest::touchEvent(viewport, screen)
        .release(0, QPoint(100, 150), viewport)
        .move(1, QPoint(300, 150), viewport); // still, where it was
    QVERIFY(qFuzzyCompare(map->getScaleFactor(), 2.3));
    QVERIFY(qFuzzyCompare(viewScale(*map), 2.3));

    // One or three fingers change nothing.
    QTest::touchEvent(viewport, screen).release(1, QPoint(300, 150), viewport);
    QTest::touchEvent(viewport, screen).press(0, QPoint(100, 100), viewport);
    QTest::touchEvent(viewport, screen).move(0, QPoint(50, 50), viewport);
    QTest::touchEvent(viewport, screen).release(0, QPoint(50, 50), viewport);
    QTest::touchEvent(viewport, screen)
        .press(0, QPoint(100, 100), viewport)
        .press(1, QPoint(120, 100), viewport)
        .press(2, QPoint(140, 100), viewport);
    QTest::touchEvent(viewport, screen)
        .move(0, QPoint(10, 10), viewport)
        .move(1, QPoint(200, 200), viewport)
        .move(2, QPoint(300, 100), viewport);
    QTest::touchEvent(viewport, screen)
        .release(0, QPoint(10, 10), viewport)
        .release(1, QPoint(200, 200), viewport)
        .release(2, QPoint(300, 100), viewport);
    QVERIFY(qFuzzyCompare(map->getScaleFactor(), 2.3));
    QVERIFY(qFuzzyCompare(viewScale(*map), 2.3));

    // Two fingers that start on the same spot: no zoom rather than infinity.
    QTest::touchEvent(viewport, screen)
        .press(0, QPoint(100, 100), viewport)
        .press(1, QPoint(100, 100), viewport);
    QTest::touchEvent(viewport, screen)
        .move(0, QPoint(50, 100), viewport)
        .move(1, QPoint(150, 100), viewport);
    QTest::touchEvent(viewport, screen)
        .release(0, QPoint(50, 100), viewport)
        .release(1, QPoint(150, 100), viewport);
    QVERIFY(qFuzzyCompare(map->getScaleFactor(), 2.3));
}

void TestMapNavigation::resizeKeepsZoomAndCentre()
{
    auto map = shownMap(true);
    wheel(*map, 120);
    wheel(*map, 120);
    map->centerOn(QPointF(500, 400));
    const double zoom = map->getScaleFactor();
    const QPointF centre = viewCentre(*map);
    // The pointer passed a corner of the map and left it: a resize must not
    // follow where it was.
    QTest::mouseMove(map->viewport(), QPoint(3, 3));
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(map->viewport(), &leave);

    for (QSize size : {QSize(600, 450), QSize(250, 200), QSize(400, 300), QSize(400, 308)}) {
        map->resize(size);
        QTRY_COMPARE(map->size(), size);
        QCOMPARE(map->getScaleFactor(), zoom);
        QCOMPARE(viewScale(*map), zoom);
        const QPointF now = viewCentre(*map);
        QVERIFY2(QLineF(now, centre).length() <= 2, qPrintable(QStringLiteral("%1,%2 vs %3,%4")
                                                                   .arg(now.x())
                                                                   .arg(now.y())
                                                                   .arg(centre.x())
                                                                   .arg(centre.y())));
    }

    // The first layout of a new widget (no old size) changes nothing.
    const QTransform before = map->transform();
    QResizeEvent first(QSize(300, 200), QSize(-1, -1));
    QApplication::sendEvent(map.get(), &first);
    QCOMPARE(map->transform(), before);
}

void TestMapNavigation::dragPansWithAndWithoutProjections()
{
    for (bool projections : {true, false}) {
        auto map = shownMap(projections);
        QCOMPARE(map->hasProjections(), projections);
        map->centerOn(QPointF(500, 400));
        const int x = map->horizontalScrollBar()->value();
        const int y = map->verticalScrollBar()->value();
        drag(*map, QPoint(200, 150), QPoint(150, 110));
        QCOMPARE(map->horizontalScrollBar()->value(), x + 50);
        QCOMPARE(map->verticalScrollBar()->value(), y + 40);
    }
}

void TestMapNavigation::zoomAndCentreKeptForTheNextStart()
{
    QPointF centre;
    {
        auto map = shownMap(true);
        wheel(*map, 120);
        map->centerOn(QPointF(600, 500));
        centre = viewCentre(*map);
    }
    {
        QSettings settings;
        QCOMPARE(settings.value("Map/ScaleFactor").toDouble(), 1.15);
    }
    auto map = shownMap(true);
    QCOMPARE(map->getScaleFactor(), 1.0); // only when asked
    map->loadSettings();
    QCOMPARE(map->getScaleFactor(), 1.15);
    QCOMPARE(viewScale(*map), 1.15);
    QVERIFY(QLineF(viewCentre(*map), centre).length() <= 0.5 / 1.15 * std::sqrt(2.0));

    // A value that would leave the map unusable starts at 1.0.
    for (const QVariant& stored : {QVariant(0.0), QVariant(-2.0), QVariant("big"), QVariant(qInf()),
                                   QVariant(qQNaN()), QVariant()}) {
        map.reset();
        QSettings().setValue("Map/ScaleFactor", stored);
        QSettings().setValue("Map/Center", QVariant());
        map = shownMap(true);
        map->loadSettings();
        QCOMPARE(map->getScaleFactor(), 1.0);
        QCOMPARE(viewScale(*map), 1.0);
    }
}

void TestMapNavigation::pickingAPoint()
{
    auto map = shownMap(true);
    QSignalSpy picked(map.get(), &TOrvisk::pointPicked);
    QSignalSpy cancelled(map.get(), &TOrvisk::pickCancelled);
    const int x = map->horizontalScrollBar()->value();

    // The click picks instead of starting a drag.
    map->startPointPick();
    QVERIFY(map->isPickingPoint());
    drag(*map, QPoint(120, 90), QPoint(60, 50));
    QCOMPARE(picked.size(), 1);
    QCOMPARE(picked[0][0].toPointF(), map->mapToScene(QPoint(120, 90)));
    QVERIFY(!map->isPickingPoint());
    QCOMPARE(map->horizontalScrollBar()->value(), x);

    // Escape, the right button or a click outside the map cancel.
    map->startPointPick();
    QTest::keyClick(map.get(), Qt::Key_Escape);
    map->startPointPick();
    mouse(map->viewport(), QEvent::MouseButtonPress, QPoint(50, 50), Qt::RightButton,
          Qt::RightButton);
    map->startPointPick();
    mouse(map->viewport(), QEvent::MouseButtonPress, QPoint(-30, 50), Qt::LeftButton,
          Qt::LeftButton);
    QCOMPARE(cancelled.size(), 3);
    QCOMPARE(picked.size(), 1);
    QVERIFY(!map->isPickingPoint());

    // Marks: set, kept through a rebuild, cleared.
    QSignalSpy changed(map.get(), &TOrvisk::measurementChanged);
    map->setMeasurePoint(0, QPointF(100, 100));
    QVERIFY(!map->measurement());
    map->setMeasurePoint(1, QPointF(130, 140));
    QVERIFY(map->measurement());
    map->createScene(2);
    QCOMPARE(map->measurePoint(1), std::optional<QPointF>(QPointF(130, 140)));
    const int items = static_cast<QGraphicsView&>(*map).scene()->items().size();
    QCOMPARE(items, 2 + 3); // map, track, line and two marks
    map->clearMeasurement();
    QVERIFY(!map->measurePoint(0) && !map->measurePoint(1));
    QCOMPARE(static_cast<QGraphicsView&>(*map).scene()->items().size(), 2);
    QCOMPARE(changed.size(), 3);
}

QTEST_MAIN(TestMapNavigation)
#include "test_map_navigation.moc"
