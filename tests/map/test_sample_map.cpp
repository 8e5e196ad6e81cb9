// The committed sample map: its world file and projection line must put known
// places on the pixels where the image shows them.
#include "map_test_files.h"
#include "orvisk.h"

#include <QImage>
#include <QtTest>

namespace {

const QString mapFolder = QStringLiteral(ORVISK_SOURCE_DIR "/maps/Korvenix/");

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
    QCOMPARE(image.size(), QSize(3250, 2000));
    auto pixelOf = [&map](double latitude, double longitude) {
        map.clearTrack();
        map.addTrackPoint(latitude, longitude);
        return map.getTrack().value(0, QPointF(-1, -1)).toPoint();
    };

    // The graticule drawn every minute of arc must run through the pixels the
    // world file and projection give its lines, to a pixel (8 m).
    const QRgb grid = qRgb(190, 176, 130);
    auto gridWithin = [&](QPoint pixel, QPoint across) {
        for (int d = -1; d <= 1; ++d)
            if (image.pixel(pixel + d * across) == grid)
                return true;
        return false;
    };
    for (double longitude : {24.58, 24.60, 24.62, 24.65}) // along 57 24' N
        QVERIFY2(gridWithin(pixelOf(57.4, longitude), QPoint(0, 1)),
                 qPrintable(QString::number(longitude)));
    for (double latitude : {57.39, 57.40, 57.41}) // along 24 36' E
        QVERIFY2(gridWithin(pixelOf(latitude, 24.6), QPoint(1, 0)),
                 qPrintable(QString::number(latitude)));

    // The shore and a lake where the shorelines put them.
    const QColor land(236, 232, 208), sea(166, 206, 227), lake(176, 212, 232);
    struct Place
    {
        const char* name;
        double latitude, longitude;
        QColor colour;
    };
    const Place places[] = {
        {"Gulf of Riga", 57.405, 24.36, sea},
        {"shore land", 57.405, 24.42, land},
        {"lake", 57.3800, 24.7227, lake},
        {"the walk", 57.409, 24.617, land},
    };
    for (const Place& place : places) {
        const QPoint pixel = pixelOf(place.latitude, place.longitude);
        QVERIFY2(image.rect().contains(pixel), place.name);
        QVERIFY2(image.pixelColor(pixel) == place.colour, place.name);
    }

    // The simulator's walk must be readable: its box well inside the image,
    // and transects 100 m apart more than ten pixels apart.
    const QPoint southWest = pixelOf(57.400, 24.600), northEast = pixelOf(57.418, 24.634);
    QVERIFY(image.rect().adjusted(500, 500, -500, -500).contains(southWest));
    QVERIFY(image.rect().adjusted(500, 500, -500, -500).contains(northEast));
    const double metresPerDegree = 111300;
    const double pixelsPer100m =
        (southWest.y() - pixelOf(57.4 + 100 / metresPerDegree, 24.6).y()) * 1.0;
    QVERIFY2(pixelsPer100m > 10, qPrintable(QString::number(pixelsPer100m)));
}

QTEST_MAIN(TestSampleMap)
#include "test_sample_map.moc"
