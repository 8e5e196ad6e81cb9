// The committed sample map: its world file and projection line must put known
// places on the pixels where the image shows them.
#include "map_test_files.h"
#include "orvisk.h"

#include <QImage>
#include <QtTest>

namespace {

const QString mapFolder = QStringLiteral(ORVISK_SOURCE_DIR "/maps/Korvenix/");

bool near(QPointF a, QPointF b, double tolerance)
{
    return qAbs(a.x() - b.x()) <= tolerance && qAbs(a.y() - b.y()) <= tolerance;
}

} // namespace

class TestSampleMap : public QObject
{
    Q_OBJECT

private slots:
    void knownPlacesLandWhereTheImageShowsThem();
};

void TestSampleMap::knownPlacesLandWhereTheImageShowsThem()
{
    MessageLog log;
    TOrvisk map;
    map.loadMapImage(mapFolder + "map.png");
    map.loadCalFile(mapFolder + "map.pgw");
    map.loadProjFile(mapFolder + "map.ppr");
    QCOMPARE(log.take(), QStringList());

    const QImage image(mapFolder + "map.png");
    QCOMPARE(image.size(), QSize(2000, 1500));

    // Tips of capes, where the coastline itself is the landmark.
    struct Cape
    {
        const char* name;
        double latitude, longitude;
        QPointF pixel;
    };
    const Cape capes[] = {
        {"Cape Kolka", 57.7564, 22.6053, QPointF(354, 522)},
        {"Sorve peninsula", 57.9090, 22.0560, QPointF(25, 358)},
    };
    for (const Cape& cape : capes) {
        map.clearTrack();
        map.addTrackPoint(cape.latitude, cape.longitude);
        QCOMPARE(map.getTrackLen(), 1);
        QVERIFY2(near(map.getTrack()[0], cape.pixel, 3), cape.name);
    }

    // Islands must be drawn as land and the open gulf as sea.
    const QColor land(236, 232, 208), sea(166, 206, 227);
    struct Place
    {
        const char* name;
        double latitude, longitude;
        QColor colour;
    };
    const Place places[] = {
        {"Ruhnu", 57.8000, 23.2500, land},
        {"Kihnu", 58.1250, 23.9800, land},
        {"Gulf of Riga", 57.5200, 23.5500, sea},
        {"Latvian inland", 57.4090, 24.6160, land},
    };
    for (const Place& place : places) {
        map.clearTrack();
        map.addTrackPoint(place.latitude, place.longitude);
        QPoint pixel = map.getTrack()[0].toPoint();
        QVERIFY2(image.rect().contains(pixel), place.name);
        QVERIFY2(image.pixelColor(pixel) == place.colour, place.name);
    }
}

QTEST_MAIN(TestSampleMap)
#include "test_sample_map.moc"
