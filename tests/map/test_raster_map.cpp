// A GeoTIFF as the map: made here with GDAL in UTM and in a national grid, a
// known place lands on its pixel; a 20 000 x 20 000 raster is drawn with the
// memory it needs for the view, not for the file; each unusable raster is
// refused with its message and the map in use stays; orvisk-map-import makes
// a folder both kinds of Orvisk read.
#include "message_dialogs.h"
#include "orvisk.h"
#include "raster_map.h"

#include <QDir>
#include <QFile>
#include <QGraphicsScene>
#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <gdal_priv.h>
#include <ogr_spatialref.h>

#include <cmath>
#include <memory>

namespace {

// A place in the sample map's area.
constexpr double kLatitude = 57.40912, kLongitude = 24.61670;
// Where it lies in the test's raster, in pixels from its upper-left corner.
constexpr double kColumn = 123.3, kRow = 87.6;

// The place in the projection of `epsg`, metres.
QPointF projected(int epsg)
{
    OGRSpatialReference wgs84, target;
    wgs84.importFromEPSG(4326);
    wgs84.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    target.importFromEPSG(epsg);
    target.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    std::unique_ptr<OGRCoordinateTransformation> t(
        OGRCreateCoordinateTransformation(&wgs84, &target));
    double x = kLongitude, y = kLatitude;
    t->Transform(1, &x, &y);
    return {x, y};
}

// A white RGB raster of 400 x 300 cells of `cell` metres in EPSG:`epsg`
// with the place's pixel red; `rotation` turns its rows.
bool writeRaster(const QString& path, int epsg, double cell, double rotation = 0)
{
    GDALAllRegister();
    GDALDriver* gtiff = GetGDALDriverManager()->GetDriverByName("GTiff");
    std::unique_ptr<GDALDataset> ds(
        gtiff->Create(path.toUtf8().constData(), 400, 300, 3, GDT_Byte, nullptr));
    if (!ds)
        return false;
    if (epsg > 0) {
        const QPointF at = projected(epsg);
        double gt[6] = {at.x() - kColumn * cell, cell, rotation, at.y() + kRow * cell, 0, -cell};
        OGRSpatialReference srs;
        srs.importFromEPSG(epsg);
        if (ds->SetGeoTransform(gt) != CE_None || ds->SetSpatialRef(&srs) != CE_None)
            return false;
    }
    std::vector<GByte> white(400 * 300, 255);
    for (int band = 1; band <= 3; ++band) {
        white[std::size_t(int(kRow) * 400 + int(kColumn))] = band == 1 ? 255 : 0;
        if (ds->GetRasterBand(band)->RasterIO(GF_Write, 0, 0, 400, 300, white.data(), 400, 300,
                                              GDT_Byte, 0, 0) != CE_None)
            return false;
    }
    return true;
}

// The resident memory of this process, bytes.
qint64 residentBytes()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong() * 1024;
    return 0;
}

// The scene's pixels around `scenePos` drawn at one device pixel a map
// pixel: the colour of the pixel at `scenePos`.
QColor drawnAt(TOrvisk& map, QPointF scenePos)
{
    QImage image(8, 8, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    const QPointF corner(std::floor(scenePos.x()) - 4, std::floor(scenePos.y()) - 4);
    map.renderScene(&painter, QRectF(0, 0, 8, 8), QRectF(corner, QSizeF(8, 8)), 1);
    painter.end();
    return image.pixelColor(int(scenePos.x() - corner.x()), int(scenePos.y() - corner.y()));
}

} // namespace

class TestRasterMap : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    QStringList messages;

private slots:
    void init()
    {
        messages.clear();
        ui::setMessageSink([this](const QString& text) { messages << text; });
    }
    void cleanup() { ui::setMessageSink({}); }

    // UTM and the Latvian national grid: the projection comes from the file
    // and the place falls on the red pixel, drawn where it lies.
    void placesLandOnTheirPixels()
    {
        for (const int epsg : {32634, 3059}) {
            const QString folder = dir.filePath(QStringLiteral("grid%1").arg(epsg));
            QVERIFY(QDir().mkpath(folder));
            QVERIFY(writeRaster(folder + QStringLiteral("/map.tif"), epsg, 2.5));
            TOrvisk map;
            map.loadMapFolder(folder);
            QVERIFY2(messages.isEmpty(), qPrintable(messages.join('\n')));
            QVERIFY(map.rasterMap() && map.hasProjections());
            const std::optional<QPointF> at = map.geoToScene(kLatitude, kLongitude);
            QVERIFY(at);
            // The scene counts from the upper-left pixel's centre.
            QVERIFY2(
                std::abs(at->x() - (kColumn - 0.5)) < 0.1 && std::abs(at->y() - (kRow - 0.5)) < 0.1,
                qPrintable(QStringLiteral("EPSG:%1: %2, %3").arg(epsg).arg(at->x()).arg(at->y())));
            const std::optional<QPointF> back = map.sceneToGeo(*at);
            QVERIFY(back && std::abs(back->x() - kLatitude) < 1e-7 &&
                    std::abs(back->y() - kLongitude) < 1e-7);
            map.createScene(0);
            QCOMPARE(drawnAt(map, *at + QPointF(0.5, 0.5)), QColor(Qt::red));
            QCOMPARE(drawnAt(map, *at + QPointF(2.5, 0.5)), QColor(Qt::white));
        }
    }

    // A raster of 20 000 x 20 000 (1.6 GB as pixels) with overviews: the view
    // at full extent and at full resolution in many places keeps at most the
    // tile cache, and the pixels read are the file's.
    void largeRasterInBoundedMemory()
    {
        const QString folder = dir.filePath(QStringLiteral("large"));
        QVERIFY(QDir().mkpath(folder));
        const QString path = folder + QStringLiteral("/map.tif");
        constexpr int kSide = 20000;
        {
            GDALAllRegister();
            char** options = nullptr;
            options = CSLSetNameValue(options, "TILED", "YES");
            options = CSLSetNameValue(options, "COMPRESS", "DEFLATE");
            options = CSLSetNameValue(options, "SPARSE_OK", "TRUE");
            std::unique_ptr<GDALDataset> ds(
                GetGDALDriverManager()->GetDriverByName("GTiff")->Create(
                    path.toUtf8().constData(), kSide, kSide, 1, GDT_Byte, options));
            CSLDestroy(options);
            QVERIFY(ds);
            double gt[6] = {600000, 0.5, 0, 6370000, 0, -0.5};
            OGRSpatialReference srs;
            srs.importFromEPSG(32634);
            QVERIFY(ds->SetGeoTransform(gt) == CE_None && ds->SetSpatialRef(&srs) == CE_None);
            // A grey square of 512 pixels on a diagonal every 2 000.
            std::vector<GByte> grey(512 * 512, 200);
            for (int i = 0; i < kSide; i += 2000)
                QVERIFY(ds->GetRasterBand(1)->RasterIO(GF_Write, i, i, 512, 512, grey.data(), 512,
                                                       512, GDT_Byte, 0, 0) == CE_None);
            const int levels[] = {4, 16, 64};
            QVERIFY(ds->BuildOverviews("NEAREST", 3, levels, 0, nullptr, nullptr, nullptr) ==
                    CE_None);
        }
        const qint64 before = residentBytes();
        TOrvisk map;
        map.resize(1200, 800);
        map.loadMapFolder(folder);
        QVERIFY2(messages.isEmpty(), qPrintable(messages.join('\n')));
        QCOMPARE(map.rasterMap()->size(), QSize(kSide, kSide));
        map.createScene(0);
        QImage view(1200, 800, QImage::Format_ARGB32_Premultiplied);
        {
            QPainter painter(&view);
            map.renderScene(&painter, QRectF(0, 0, 1200, 800), QRectF(0, 0, 30000, 20000), 1);
        }
        for (int i = 0; i < kSide; i += 2000)
            QCOMPARE(drawnAt(map, QPointF(i + 256, i + 256)), QColor(200, 200, 200));
        QCOMPARE(drawnAt(map, QPointF(1000 + 256, 256)), QColor(0, 0, 0));
        const auto* item = [&]() -> const RasterMapItem* {
            for (QGraphicsItem* it : map.QGraphicsView::scene()->items())
                if (auto* raster = dynamic_cast<const RasterMapItem*>(it))
                    return raster;
            return nullptr;
        }();
        QVERIFY(item && item->cachedBytes() <= RasterMapItem::kCacheBytes);
        const qint64 grown = residentBytes() - before;
        QVERIFY2(grown < 400LL * 1024 * 1024,
                 qPrintable(QStringLiteral("%1 MB").arg(grown / (1024 * 1024))));
    }

    // Each raster that cannot be a map is refused with its reason, and the
    // map in use stays.
    void refusalsKeepTheMap()
    {
        const QString good = dir.filePath(QStringLiteral("good"));
        QVERIFY(QDir().mkpath(good));
        QVERIFY(writeRaster(good + QStringLiteral("/map.tif"), 32634, 2.5));
        const struct
        {
            const char* name;
            const char* said;
            std::function<bool(const QString& folder)> make;
        } cases[] = {
            {"notraster", "cannot be read as a map",
             [](const QString& f) {
                 QFile file(f + QStringLiteral("/map.tif"));
                 return file.open(QIODevice::WriteOnly) && file.write("not a raster") > 0;
             }},
            {"nogeo", "no georeferencing",
             [](const QString& f) { return writeRaster(f + QStringLiteral("/map.tif"), 0, 1); }},
            {"rotated", "rotated",
             [](const QString& f) {
                 return writeRaster(f + QStringLiteral("/map.tif"), 32634, 2.5, 0.3);
             }},
            {"engineering", "projection",
             [](const QString& f) {
                 if (!writeRaster(f + QStringLiteral("/map.tif"), 32634, 2.5))
                     return false;
                 std::unique_ptr<GDALDataset> ds(GDALDataset::Open(
                     (f + QStringLiteral("/map.tif")).toUtf8().constData(), GDAL_OF_UPDATE));
                 OGRSpatialReference local;
                 local.SetLocalCS("site grid");
                 return ds && ds->SetSpatialRef(&local) == CE_None;
             }},
            {"both", "both map.png and map.tif",
             [&good](const QString& f) {
                 return QFile::copy(good + QStringLiteral("/map.tif"),
                                    f + QStringLiteral("/map.tif")) &&
                        QFile::copy(QStringLiteral(ORVISK_SOURCE_DIR "/maps/Korvenix/map.png"),
                                    f + QStringLiteral("/map.png"));
             }},
        };
        TOrvisk map;
        map.loadMapFolder(good);
        QVERIFY(messages.isEmpty());
        const RasterMap* inUse = map.rasterMap();
        const QPointF origin = map.getMapOrigin();
        for (const auto& c : cases) {
            const QString folder = dir.filePath(QLatin1String(c.name));
            QVERIFY(QDir().mkpath(folder));
            QVERIFY2(c.make(folder), c.name);
            messages.clear();
            map.loadMapFolder(folder);
            QVERIFY2(messages.size() == 1 && messages[0].contains(QLatin1String(c.said)),
                     qPrintable(QLatin1String(c.name) + QStringLiteral(": ") + messages.join('|')));
            QCOMPARE(map.rasterMap(), inUse);
            QCOMPARE(map.getMapOrigin(), origin);
        }
    }

    // orvisk-map-import: reprojected into the national grid, with overviews,
    // and the classic files beside; both folders place the place alike.
    void importMakesBothKinds()
    {
        const QString input = dir.filePath(QStringLiteral("utm.tif"));
        QVERIFY(writeRaster(input, 32634, 2.5));
        const QString folder = dir.filePath(QStringLiteral("imported"));
        QProcess p;
        p.start(QStringLiteral(ORVISK_MAP_IMPORT),
                {input, folder, QStringLiteral("--epsg"), QStringLiteral("3059")});
        QVERIFY(p.waitForFinished(120000));
        QVERIFY2(p.exitCode() == 0, p.readAllStandardError().constData());
        std::unique_ptr<GDALDataset> made(GDALDataset::Open(
            (folder + QStringLiteral("/map.tif")).toUtf8().constData(), GDAL_OF_RASTER));
        QVERIFY(made);
        QCOMPARE(QString::fromUtf8(made->GetSpatialRef()->GetAuthorityCode(nullptr)),
                 QStringLiteral("3059"));
        QVERIFY(made->GetRasterBand(1)->GetOverviewCount() > 0 ||
                std::max(made->GetRasterXSize(), made->GetRasterYSize()) <= 512);
        QCOMPARE(QString::fromUtf8(made->GetMetadataItem("LAYOUT", "IMAGE_STRUCTURE")),
                 QStringLiteral("COG"));

        TOrvisk tiff, classic;
        tiff.loadMapFolder(folder);
        classic.loadMapFolder(folder + QStringLiteral("/classic"));
        QVERIFY2(messages.isEmpty(), qPrintable(messages.join('\n')));
        QVERIFY(tiff.rasterMap() && !classic.rasterMap());
        const auto a = tiff.geoToScene(kLatitude, kLongitude);
        const auto b = classic.geoToScene(kLatitude, kLongitude);
        QVERIFY(a && b);
        QVERIFY2(std::hypot(a->x() - b->x(), a->y() - b->y()) < 0.01,
                 qPrintable(QStringLiteral("%1,%2 against %3,%4")
                                .arg(a->x())
                                .arg(a->y())
                                .arg(b->x())
                                .arg(b->y())));
        tiff.createScene(0);
        QCOMPARE(drawnAt(tiff, *a + QPointF(0.5, 0.5)).red(), 255);
        QVERIFY(drawnAt(tiff, *a + QPointF(0.5, 0.5)).green() < 230);

        // Refused: a raster without georeferencing, and a folder with a
        // classic map in it; nothing is written.
        const QString bare = dir.filePath(QStringLiteral("bare.tif"));
        QVERIFY(writeRaster(bare, 0, 1));
        for (const QStringList& args : {QStringList{bare, dir.filePath(QStringLiteral("none"))},
                                        QStringList{input, folder + QStringLiteral("/classic")}}) {
            p.start(QStringLiteral(ORVISK_MAP_IMPORT), args);
            QVERIFY(p.waitForFinished(120000));
            QCOMPARE(p.exitCode(), 2);
            QVERIFY(!QFile::exists(args[1] + QStringLiteral("/map.tif")));
        }
    }
};

QTEST_MAIN(TestRasterMap)
#include "test_raster_map.moc"
