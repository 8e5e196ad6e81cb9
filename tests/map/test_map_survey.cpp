// The values a track keeps: markers coloured by dose rate, the legend that
// explains them, and the point under the mouse.
#include "dose_legend.h"
#include "dose_scale.h"
#include "map_settings.h"
#include "map_test_files.h"
#include "orvisk.h"
#include "survey_text.h"
#include "track_item.h"

#include <QSignalSpy>
#include <QToolTip>
#include <QtTest>

#include <cmath>
#include <limits>

namespace {

constexpr float unknown = std::numeric_limits<float>::quiet_NaN();

void moveMouse(TOrvisk& map, QPoint at)
{
    QMouseEvent event(QEvent::MouseMove, at, map.viewport()->mapToGlobal(at), Qt::NoButton,
                      Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(map.viewport(), &event);
}

void wheel(TOrvisk& map, int delta)
{
    const QPointF at(30, 30);
    QWheelEvent event(at, map.viewport()->mapToGlobal(at.toPoint()), QPoint(), QPoint(0, delta),
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(map.viewport(), &event);
}

int pixelsOf(const QImage& image, QRgb colour)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            count += image.pixel(x, y) == colour;
    return count;
}

} // namespace

class TestMapSurvey : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void colourChosenByThreshold();
    void markersDrawnInTheirColours();
    void legendStaysInItsCorner();
    void pointUnderTheMouse();

private:
    // A survey point whose map coordinates are (x, y), near pixel (x, 100 - y).
    SurveyPoint mapPoint(double x, double y, float doseRate) const;
    QRgb shownAt(QPointF scenePos);

    MapFiles files;
    std::unique_ptr<TOrvisk> map;
};

void TestMapSurvey::init()
{
    QImage image(60, 40, QImage::Format_RGB32);
    image.fill(Qt::white);
    const QString imagePath = files.write(QStringLiteral("map.png"), {});
    QVERIFY(image.save(imagePath, "PNG"));
    MessageLog log;
    map = std::make_unique<TOrvisk>();
    map->loadMapImage(imagePath);
    map->loadCalFile(files.write(QStringLiteral("map.pgw"), "1\n0\n0\n-1\n0\n100\n"));
    map->loadProjFile(files.write(QStringLiteral("map.ppr"), mercator));
    QVERIFY(log.take().isEmpty());
    map->resize(300, 200);
}

SurveyPoint TestMapSurvey::mapPoint(double x, double y, float doseRate) const
{
    const auto [latitude, longitude] = latLongOfMercator(x, y);
    SurveyPoint p;
    p.latitude = latitude;
    p.longitude = longitude;
    p.doseRate = doseRate;
    return p;
}

QRgb TestMapSurvey::shownAt(QPointF scenePos)
{
    return map->viewport()->grab().toImage().pixel(map->mapFromScene(scenePos));
}

void TestMapSurvey::colourChosenByThreshold()
{
    const QList<QColor> colours = MapSettings::defaultColors();
    const DoseScale scale; // 100 to 500 nSv/h
    // No rate, however a point came to carry it, is plain red, never a step.
    for (float none : {unknown, 0.0f, -0.3f, std::numeric_limits<float>::infinity()}) {
        QCOMPARE(scale.colourOf(none), QColor(255, 0, 0));
        QCOMPARE(survey_text::doseRate(mapPoint(0, 0, none)), QStringLiteral("unknown"));
    }
    QCOMPARE(scale.colourOf(0.02f), DoseScale::backgroundColour());
    for (int n = 0; n < 5; ++n) {
        const float at = float(n + 1) / 10; // uSv/h, as the instrument writes it
        const QColor below = n == 0 ? DoseScale::backgroundColour() : colours[n - 1];
        QCOMPARE(scale.stepOf(at), n + 1);
        QCOMPARE(scale.colourOf(at), colours[n]);
        QCOMPARE(scale.colourOf(std::nextafter(at, 0.0f)), below);
        QCOMPARE(scale.colourOf(at + 0.05f), colours[n]);
    }
    QCOMPARE(scale.colourOf(1e6f), colours[4]);

    // As typed in the settings: decimals, out of order, a colour short.
    const QColor a(1, 1, 1), b(2, 2, 2), c(3, 3, 3);
    const DoseScale typed({250.5f, 80.25f, 1000, 3000}, {a, b, c});
    QCOMPARE(typed.steps().size(), 3);
    QCOMPARE(typed.colourOf(0.08024f), DoseScale::backgroundColour());
    QCOMPARE(typed.colourOf(0.08025f), b);
    QCOMPARE(typed.colourOf(0.2505f), a);
    QCOMPARE(typed.colourOf(0.9999f), a);
    QCOMPARE(typed.colourOf(1.0f), c);

    // The legend: highest step first, each with its range, under the unit.
    QVector<QPair<QColor, QString>> rows;
    for (const DoseScale::LegendRow& row : scale.legend())
        rows << qMakePair(row.colour, row.range);
    const QString to = QStringLiteral(" ") + QChar(0x2013) + QStringLiteral(" ");
    QCOMPARE(rows, (QVector<QPair<QColor, QString>>{
                       {colours[4], QChar(0x2265) + QStringLiteral(" 500")},
                       {colours[3], QStringLiteral("400") + to + QStringLiteral("500")},
                       {colours[2], QStringLiteral("300") + to + QStringLiteral("400")},
                       {colours[1], QStringLiteral("200") + to + QStringLiteral("300")},
                       {colours[0], QStringLiteral("100") + to + QStringLiteral("200")},
                       {DoseScale::backgroundColour(), QStringLiteral("< 100")},
                       {QColor(255, 0, 0), QStringLiteral("unknown")},
                   }));
    QCOMPARE(DoseLegend().title(), QStringLiteral("Dose rate, nSv/h"));
}

void TestMapSurvey::markersDrawnInTheirColours()
{
    const QList<QColor> colours = MapSettings::defaultColors();
    map->addTrackPoint(mapPoint(10.5, 89.5, 0.05f)); // background
    map->addTrackPoint(mapPoint(20.5, 89.5, 0.25f)); // step 2
    map->addTrackPoint(mapPoint(30.5, 89.5, unknown));
    map->addTrackPoint(mapPoint(40.5, 89.5, 0.7f)); // step 5
    const auto [latitude, longitude] = latLongOfMercator(25.5, 84.5);
    map->addTrackPoint(latitude, longitude); // a position alone: its values unknown
    QCOMPARE(map->getTrackValues().size(), map->getTrackLen());
    QCOMPARE(map->getTrackValues()[1].doseRate, 0.25f);
    QVERIFY(std::isnan(map->getTrackValues()[4].doseRate));
    QCOMPARE(map->getTrack()[4], QPointF(25, 15));
    map->createScene(2);
    map->show();
    QVERIFY(QTest::qWaitForWindowExposed(map.get()));

    const QRgb expected[] = {DoseScale::backgroundColour().rgb(), colours[1].rgb(), qRgb(255, 0, 0),
                             colours[4].rgb()};
    for (int i = 0; i < 4; ++i) {
        QCOMPARE(map->trackItem()->colourAt(i).rgb(), expected[i]);
        QCOMPARE(shownAt(QPointF(10.5 + 10 * i, 10.5)), expected[i]);
    }

    // New settings colour the drawn track again, without a rebuild.
    const QColor green(0, 200, 0), blue(0, 0, 200);
    map->setDoseScale(DoseScale({40, 600}, {green, blue}));
    QCOMPARE(shownAt(QPointF(10.5, 10.5)), green.rgb());
    QCOMPARE(shownAt(QPointF(20.5, 10.5)), green.rgb());
    QCOMPARE(shownAt(QPointF(30.5, 10.5)), qRgb(255, 0, 0));
    QCOMPARE(shownAt(QPointF(40.5, 10.5)), blue.rgb());

    // Radius 0 (a first start's): every point is drawn in its colour at the
    // least size a surveyor sees, at any zoom; the last one on top.
    map->createScene(0);
    for (double zoom : {1.0, 0.2, 6.0}) {
        map->setTransform(QTransform::fromScale(zoom, zoom));
        map->centerOn(25, 10);
        const QImage shown = map->viewport()->grab().toImage();
        // The pixel a point lies in (mapFromScene rounds to the nearest corner).
        auto pixelOf = [&](int index) {
            const QPointF at = map->viewportTransform().map(map->getTrack()[index]);
            return shown.pixel(int(std::floor(at.x())), int(std::floor(at.y())));
        };
        QCOMPARE(pixelOf(4), qRgb(255, 0, 0));
        if (zoom < 1)
            continue; // the markers overlap
        QVERIFY(pixelsOf(shown, green.rgb()) >= 2 * 9);
        QVERIFY(pixelsOf(shown, blue.rgb()) >= 9);
        QCOMPARE(pixelOf(3), blue.rgb());
    }
}

void TestMapSurvey::legendStaysInItsCorner()
{
    map->show();
    QVERIFY(QTest::qWaitForWindowExposed(map.get()));
    DoseLegend* legend = map->legend();
    QVERIFY(legend);
    map->createScene(2);
    QVERIFY(!legend->isVisible()); // nothing to explain yet

    map->addTrackPoint(mapPoint(10.5, 89.5, 0.15f));
    map->createScene(2);
    QVERIFY(legend->isVisible());
    auto cornerGap = [&] {
        const QRect area = map->viewport()->geometry();
        return QPoint(area.right() - legend->geometry().right(),
                      legend->geometry().top() - area.top());
    };
    QCOMPARE(cornerGap(), QPoint(8, 8));
    const QRect before = legend->geometry();
    wheel(*map, 120);
    wheel(*map, 120);
    QCOMPARE(legend->geometry(), before); // it does not zoom or move with the map
    map->resize(420, 260);
    QCOMPARE(cornerGap(), QPoint(8, 8));

    // It shows what the track is coloured with.
    const QColor green(0, 200, 0);
    map->setDoseScale(DoseScale({120.5f}, {green}));
    QCOMPARE(legend->scale(), map->doseScale());
    QCOMPARE(cornerGap(), QPoint(8, 8));
    const QImage drawn = legend->grab().toImage();
    for (const DoseScale::LegendRow& row : map->doseScale().legend())
        QVERIFY2(pixelsOf(drawn, row.colour.rgb()) > 20, qPrintable(row.range));
}

void TestMapSurvey::pointUnderTheMouse()
{
    SurveyPoint first = mapPoint(10.5, 89.5, 0.15f);
    first.altitude = 12.5f;
    first.time = 1714561392; // 2024-05-01 11:03:12 UTC
    first.cps = 525;
    first.satellites = 9;
    first.hdop10 = 12;
    map->addTrackPoint(first);
    map->addTrackPoint(mapPoint(30.5, 79.5, 0.2f));
    map->addTrackPoint(mapPoint(33.5, 79.5, unknown)); // over the one before
    map->createScene(3);
    map->show();
    QVERIFY(QTest::qWaitForWindowExposed(map.get()));
    QSignalSpy inspected(map.get(), &TOrvisk::pointInspected);
    QSignalSpy cursor(map.get(), &TOrvisk::cursorMoved);

    // Inside the marker, not on the point itself.
    moveMouse(*map, map->mapFromScene(QPointF(12, 9)));
    QCOMPARE(inspected.size(), 1);
    QCOMPARE(cursor.size(), 0);
    const SurveyPoint shown = inspected.takeFirst()[0].value<SurveyPoint>();
    QCOMPARE(shown.latitude, first.latitude);
    QCOMPARE(shown.longitude, first.longitude);
    QCOMPARE(shown.altitude, 12.5f);
    QCOMPARE(shown.doseRate, 0.15f);
    QCOMPARE(shown.time, first.time);
    QVERIFY(QToolTip::text().contains(QStringLiteral("2024-05-01 11:03:12 UTC")));
    QVERIFY(QToolTip::text().contains(QStringLiteral("525 counts/s")));

    // Every screen pixel drawn in a marker's colour shows that marker's point,
    // its outermost ones included.
    const QImage drawn = map->viewport()->grab().toImage();
    const QRgb firstColour = map->trackItem()->colourAt(0).rgb();
    int pixels = 0;
    for (int y = 0; y < drawn.height(); ++y)
        for (int x = 0; x < drawn.width(); ++x)
            if (drawn.pixel(x, y) == firstColour) {
                ++pixels;
                moveMouse(*map, QPoint(x, y));
                QCOMPARE(inspected.size(), 1);
                QCOMPARE(inspected.takeFirst()[0].value<SurveyPoint>().time, first.time);
            }
    QVERIFY(pixels > 10);

    // Where two markers overlap, the one drawn on top.
    moveMouse(*map, map->mapFromScene(QPointF(32, 20.5)));
    QCOMPARE(inspected.size(), 1);
    QVERIFY(std::isnan(inspected.takeFirst()[0].value<SurveyPoint>().doseRate));
    moveMouse(*map, map->mapFromScene(QPointF(29, 20.5)));
    QCOMPARE(inspected.takeFirst()[0].value<SurveyPoint>().doseRate, 0.2f);

    // Away from markers: the cursor's own place.
    const QPoint away = map->mapFromScene(QPointF(50, 5));
    moveMouse(*map, away);
    QCOMPARE(inspected.size(), 0);
    QCOMPARE(cursor.size(), 1);
    const std::optional<QPointF> geo = map->sceneToGeo(map->mapToScene(away));
    QCOMPARE(cursor[0][0].toDouble(), geo->x());
    QCOMPARE(cursor[0][1].toDouble(), geo->y());
    QTRY_VERIFY(!QToolTip::isVisible());

    // Markers far out keep their size on the screen, and are found from a
    // few screen pixels beyond their edge, not farther.
    map->createScene(0);
    map->setTransform(QTransform::fromScale(0.25, 0.25));
    map->centerOn(20, 20);
    const QPoint dot = map->mapFromScene(QPointF(10.5, 10.5));
    moveMouse(*map, dot + QPoint(-4, -1));
    QCOMPARE(inspected.size(), 1);
    QCOMPARE(inspected.takeFirst()[0].value<SurveyPoint>().time, first.time);
    moveMouse(*map, dot + QPoint(0, -8));
    QCOMPARE(inspected.size(), 0);

    // The texts the window shows for a point.
    QCOMPARE(survey_text::latitude(57.409123), QStringLiteral("57.40912") + QChar(0x00B0) + " N");
    QCOMPARE(survey_text::longitude(-0.5), QStringLiteral("0.50000") + QChar(0x00B0) + " W");
    QCOMPARE(survey_text::altitude(first), QStringLiteral("12.5 m"));
    QCOMPARE(survey_text::doseRate(first), QStringLiteral("150.0 nSv/h"));
    QCOMPARE(survey_text::doseRate(SurveyPoint{}), QStringLiteral("unknown"));
}

QTEST_MAIN(TestMapSurvey)
#include "test_map_survey.moc"
