#include "map_test_files.h"
#include "orvisk.h"

#include <QBuffer>
#include <QGraphicsPixmapItem>
#include <QtTest>

class TestMapGeoreferencing : public QObject
{
    Q_OBJECT

private slots:
    void worldFileLineFormats();
    void worldFileThatCannotBeUsed();
    void damagedFolderChangesNothing();
    void examplePointAndReadOut();
    void truncationTowardZero();
    void projectionFileLines();
    void rejectedProjectionDisablesConversions();
    void pointsWithoutAPixelAreDropped();
};

void TestMapGeoreferencing::worldFileLineFormats()
{
    MapFiles files;
    MessageLog log;
    struct Case
    {
        const char* name;
        QByteArray content;
        QPointF pixelSize, origin;
    };
    const QPointF size(2.5, -2.5), origin(312345.75, 6712345.25);
    const Case cases[] = {
        {"plain LF", "2.5\n0\n0\n-2.5\n312345.75\n6712345.25\n", size, origin},
        {"CR LF", "2.5\r\n0\r\n0\r\n-2.5\r\n312345.75\r\n6712345.25\r\n", size, origin},
        {"blanks", "  2.5 \n\t0\n0 \n -2.5\t\n 312345.75  \n6712345.25", size, origin},
        {"exponent", "2.5e0\n0\n0\n-25E-1\n3.1234575e5\n6712345.25\n", size, origin},
        {"rotation terms", "2.5\n0.3\n-0.7\n-2.5\n312345.75\n6712345.25\n", size, origin},
        {"seventh line", "2.5\n0\n0\n-2.5\n312345.75\n6712345.25\n99\ngarbage\n", size, origin},
        {"decimal comma", "2.5\n0,3\n0\n-2.5\n312345,75\n6712345.25\n", size,
         QPointF(0, 6712345.25)},
    };
    for (const Case& c : cases) {
        TOrvisk map;
        map.loadCalFile(files.write(QStringLiteral("map.pgw"), c.content));
        QCOMPARE(map.getPixelSize(), c.pixelSize);
        QCOMPARE(map.getMapOrigin(), c.origin);
        QVERIFY2(log.take().isEmpty(), c.name);
    }
}

void TestMapGeoreferencing::worldFileThatCannotBeUsed()
{
    MapFiles files;
    MessageLog log;
    TOrvisk map;
    map.loadCalFile(files.write(QStringLiteral("good.pgw"), "2\n0\n0\n-2\n1000\n5000\n"));
    QVERIFY(log.take().isEmpty());

    // Five lines: the origin's y would be made up, so nothing changes.
    map.loadCalFile(files.write(QStringLiteral("short.pgw"), "7\n0\n0\n-7\n123\n"));
    QCOMPARE(log.take(), QStringList{QStringLiteral("Could not load calibration file!")});
    map.loadCalFile(files.write(QStringLiteral("empty.pgw"), ""));
    QCOMPARE(log.take(), QStringList{QStringLiteral("Could not load calibration file!")});
    map.loadCalFile(files.missing());
    QCOMPARE(log.take(), QStringList{QStringLiteral("Could not load calibration file!")});

    // Pixel sizes that place nothing, values that are not numbers, a line no
    // world file has: refused like a short file.
    const char* const unusable[] = {"0\n0\n0\n-2\n1000\n5000\n",     "2\n0\n0\n-0.0\n1000\n5000\n",
                                    "2,5\n0\n0\n-2\n1000\n5000\n",   "nan\n0\n0\n-2\n1000\n5000\n",
                                    "2\n0\n0\n-1e999\n1000\n5000\n", "2\n0\n0\n-2\n1e999\n5000\n",
                                    "2\n0\n0\n-2\n1000\nnan"};
    for (const char* content : unusable) {
        map.loadCalFile(files.write(QStringLiteral("bad.pgw"), content));
        QVERIFY2(log.take() == QStringList{QStringLiteral("Could not load calibration file!")},
                 content);
    }
    map.loadCalFile(files.write(QStringLiteral("long.pgw"),
                                "2" + QByteArray(100000, '0') + "\n0\n0\n-2\n1000\n5000\n"));
    QCOMPARE(log.take(), QStringList{QStringLiteral("Could not load calibration file!")});

    QCOMPARE(map.getPixelSize(), QPointF(2, -2));
    QCOMPARE(map.getMapOrigin(), QPointF(1000, 5000));
}

void TestMapGeoreferencing::examplePointAndReadOut()
{
    MapFiles files;
    MessageLog log;
    TOrvisk map;
    map.loadCalFile(files.write(QStringLiteral("map.pgw"), "2\n0\n0\n-2\n1000\n5000\n"));
    map.loadProjFile(files.write(QStringLiteral("map.ppr"), mercator));
    QVERIFY(log.take().isEmpty());
    QVERIFY(map.hasProjections());

    // (1010, 4990) in map units is pixel (5, 5); a little inside that pixel so
    // that the round trip through PROJ cannot fall on the pixel's edge.
    auto [latitude, longitude] = latLongOfMercator(1010.4, 4989.6);
    map.addTrackPoint(latitude, longitude);
    QCOMPARE(map.getTrack(), QVector<QPointF>{QPointF(5, 5)});

    auto [lat, lon] = latLongOfMercator(1010, 4990);
    QString expected =
        QString::asprintf("x:5 y:5       px:1010.000000 py:4990.000000      %f %f\n", lon, lat);
    QCOMPARE(map.coordsText(QPointF(5, 5)), expected);
    // The read-out is not rounded: 5.9 is still pixel 5 but map x 1011.8.
    QVERIFY(map.coordsText(QPointF(5.9, 5)).startsWith("x:5 y:5       px:1011.800000 "));
}

void TestMapGeoreferencing::truncationTowardZero()
{
    MapFiles files;
    MessageLog log;
    TOrvisk map;
    map.loadCalFile(files.write(QStringLiteral("map.pgw"), "2\n0\n0\n-2\n1000\n5000\n"));
    map.loadProjFile(files.write(QStringLiteral("map.ppr"), mercator));

    // Columns -0.7 and 0.7, rows 0.7 and -0.7, then -1.3 and 3.999.
    const QPair<double, double> mapPoints[] = {
        {998.6, 4998.6}, {1001.4, 5001.4}, {997.4, 4992.002}};
    for (auto [x, y] : mapPoints) {
        auto [lat, lon] = latLongOfMercator(x, y);
        map.addTrackPoint(lat, lon);
    }
    QCOMPARE(map.getTrack(), (QVector<QPointF>{QPointF(0, 0), QPointF(0, 0), QPointF(-1, 3)}));
}

void TestMapGeoreferencing::projectionFileLines()
{
    MapFiles files;
    MessageLog log;
    TOrvisk map;
    map.loadProjFile(files.write(QStringLiteral("map.ppr"), mercator + "this is no definition\n"));
    QVERIFY(log.take().isEmpty());
    QVERIFY(map.hasProjections());

    // A missing file keeps the projection already loaded.
    map.loadProjFile(files.missing());
    QCOMPARE(log.take(), QStringList{QStringLiteral("Could not load calibration file!")});
    QVERIFY(map.hasProjections());
}

void TestMapGeoreferencing::rejectedProjectionDisablesConversions()
{
    MapFiles files;
    MessageLog log;
    TOrvisk map;
    map.loadCalFile(files.write(QStringLiteral("map.pgw"), "2\n0\n0\n-2\n1000\n5000\n"));
    auto [lat, lon] = latLongOfMercator(1010.4, 4989.6);

    // Before any projection file, points are lost silently.
    map.addTrackPoint(lat, lon);
    QCOMPARE(map.getTrackLen(), 0);

    const QByteArray rejected[] = {"", "garbage\n", "+proj=nosuchprojection +ellps=WGS84\n"};
    for (const QByteArray& definition : rejected) {
        map.loadProjFile(files.write(QStringLiteral("map.ppr"), mercator));
        QVERIFY(map.hasProjections());
        map.loadProjFile(files.write(QStringLiteral("bad.ppr"), definition));
        QStringList messages = log.take();
        QCOMPARE(messages.size(), 1);
        const QString prefix = QStringLiteral("User projection error:");
        QVERIFY2(messages[0].startsWith(prefix) && messages[0].size() > prefix.size(),
                 qPrintable(messages[0]));
        QVERIFY(!map.hasProjections());
        map.addTrackPoint(lat, lon);
        QCOMPARE(map.getTrackLen(), 0);
        QCOMPARE(map.coordsText(QPointF(5, 5)), QString());
    }
}

void TestMapGeoreferencing::pointsWithoutAPixelAreDropped()
{
    MapFiles files;
    MessageLog log;
    TOrvisk map;
    map.loadProjFile(files.write(QStringLiteral("map.ppr"), mercator));
    auto [lat, lon] = latLongOfMercator(1010.4, 4989.6);

    // No calibration: pixel size 0 divides to infinity or NaN.
    map.addTrackPoint(lat, lon);
    QCOMPARE(map.getTrackLen(), 0);

    // A pixel size so small that the column does not fit an int.
    map.loadCalFile(files.write(QStringLiteral("tiny.pgw"), "1e-9\n0\n0\n-1e-9\n0\n0\n"));
    map.addTrackPoint(lat, lon);
    QCOMPARE(map.getTrackLen(), 0);

    // A position PROJ cannot transform (a corrupt fix beyond the pole).
    map.loadCalFile(files.write(QStringLiteral("map.pgw"), "2\n0\n0\n-2\n1000\n5000\n"));
    map.addTrackPoint(91.0, 0.0);
    QCOMPARE(map.getTrackLen(), 0);

    map.addTrackPoint(lat, lon);
    QCOMPARE(map.getTrack(), QVector<QPointF>{QPointF(5, 5)});
    QVERIFY(log.take().isEmpty());
}

namespace {

// PNG's chunk check: CRC-32 of the chunk type and data.
quint32 pngCrc(const QByteArray& bytes)
{
    quint32 crc = 0xFFFFFFFFu;
    for (char ch : bytes) {
        crc ^= static_cast<quint8>(ch);
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

QByteArray png(const QSize& size)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::darkGreen);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

// A well-formed PNG whose header claims `width` x `height`.
QByteArray pngClaiming(quint32 width, quint32 height)
{
    QByteArray bytes = png(QSize(4, 4));
    // Signature (8), IHDR length (4), "IHDR" (4), width, height, ..., CRC after 13 data bytes.
    for (int i = 0; i < 4; ++i) {
        bytes[16 + i] = static_cast<char>(width >> (24 - 8 * i));
        bytes[20 + i] = static_cast<char>(height >> (24 - 8 * i));
    }
    const quint32 crc = pngCrc(bytes.mid(12, 17));
    for (int i = 0; i < 4; ++i)
        bytes[29 + i] = static_cast<char>(crc >> (24 - 8 * i));
    return bytes;
}

QSize shownImageSize(TOrvisk& map)
{
    map.createScene(0);
    for (QGraphicsItem* item : static_cast<QGraphicsView&>(map).scene()->items())
        if (auto* pixmap = dynamic_cast<QGraphicsPixmapItem*>(item))
            return pixmap->pixmap().size();
    return {};
}

} // namespace

void TestMapGeoreferencing::damagedFolderChangesNothing()
{
    MapFiles good;
    good.write(QStringLiteral("map.png"), png(QSize(40, 30)));
    good.write(QStringLiteral("map.pgw"), "2\n0\n0\n-2\n1000\n5000\n");
    good.write(QStringLiteral("map.ppr"), mercator);
    MessageLog log;
    TOrvisk map;
    map.loadMapFolder(good.folder());
    QVERIFY(log.take().isEmpty());
    auto [lat, lon] = latLongOfMercator(1010.4, 4989.6);
    map.addTrackPoint(lat, lon);
    QCOMPARE(map.getTrack(), QVector<QPointF>{QPointF(5, 5)});

    const QByteArray whole = png(QSize(50, 50));
    struct Damage
    {
        const char* name;
        const char* file;
        QByteArray content;
        const char* message;
    };
    const Damage damages[] = {
        {"empty image", "map.png", QByteArray(), "Could not load raster image file!"},
        {"truncated image", "map.png", whole.left(whole.size() / 2),
         "Could not load raster image file!"},
        {"enormous image", "map.png", pngClaiming(200000, 200000),
         "Could not load raster image file!"},
        {"image just past the limit", "map.png", pngClaiming(16384, 8193),
         "Could not load raster image file!"},
        {"not an image", "map.png", "BRNO", "Could not load raster image file!"},
        {"NaN in the world file", "map.pgw", "3\n0\n0\n-3\n0\nnan",
         "Could not load calibration file!"},
        {"infinite pixel size", "map.pgw", "3\n0\n0\n-1e999\n0\n0\n",
         "Could not load calibration file!"},
        {"zero pixel size", "map.pgw", "0\n0\n0\n0\n0\n0\n", "Could not load calibration file!"},
        {"short world file", "map.pgw", "3\n0\n0\n", "Could not load calibration file!"},
    };
    for (const Damage& d : damages) {
        MapFiles folder;
        folder.write(QStringLiteral("map.png"), png(QSize(60, 60)));
        folder.write(QStringLiteral("map.pgw"), "3\n0\n0\n-3\n0\n0\n");
        folder.write(QStringLiteral("map.ppr"), "+proj=utm +zone=34 +ellps=WGS84 +units=m\n");
        folder.write(QString::fromLatin1(d.file), d.content);
        map.loadMapFolder(folder.folder());
        QVERIFY2(log.take() == QStringList{QString::fromLatin1(d.message)}, d.name);
        QVERIFY2(map.getPixelSize() == QPointF(2, -2) && map.getMapOrigin() == QPointF(1000, 5000),
                 d.name);
        QVERIFY2(map.getTrack() == QVector<QPointF>{QPointF(5, 5)}, d.name);
        QVERIFY2(shownImageSize(map) == QSize(40, 30), d.name);
        QVERIFY2(map.coordsText(QPointF(5, 5)).contains(QLatin1String("px:1010.000000")), d.name);
    }

    // A rejected projection, and a folder without its files.
    MapFiles badProjection;
    badProjection.write(QStringLiteral("map.png"), png(QSize(60, 60)));
    badProjection.write(QStringLiteral("map.pgw"), "3\n0\n0\n-3\n0\n0\n");
    badProjection.write(QStringLiteral("map.ppr"), "+proj=nonsense\n");
    map.loadMapFolder(badProjection.folder());
    QCOMPARE(log.take().size(), 1);
    MapFiles emptyFolder;
    map.loadMapFolder(emptyFolder.folder());
    QCOMPARE(log.take().size(), 3);
    QVERIFY(map.hasProjections());
    QCOMPARE(map.getTrack(), QVector<QPointF>{QPointF(5, 5)});
    QCOMPARE(shownImageSize(map), QSize(40, 30));
}

QTEST_MAIN(TestMapGeoreferencing)
#include "test_map_georeferencing.moc"
