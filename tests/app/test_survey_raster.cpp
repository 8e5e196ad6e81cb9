// The dose-rate raster: its values against an inverse distance computed
// here, its mask, projection and frame, its layout, its refusals, and
// orvisk-archive interpolate on an archive made by orvisk-download.
#include "full_disk.h"
#include "survey_archive.h"
#include "survey_raster.h"
#include "survey_sim.h"

#include <check_settings.h>

#include <gdal_priv.h>
#include <ogr_spatialref.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <random>

namespace {

const char* const kUtm35 = "EPSG:32635";
const double kEast = 500000, kNorth = 6360000; // on zone 35's central meridian, 27 E

// A point in WGS 84 from a place in UTM zone 35 north.
SurveyPoint at(double x, double y, float doseRate)
{
    OGRSpatialReference from, wgs84;
    from.SetFromUserInput(kUtm35);
    from.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    wgs84.SetWellKnownGeogCS("WGS84");
    wgs84.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    std::unique_ptr<OGRCoordinateTransformation> t(
        OGRCreateCoordinateTransformation(&from, &wgs84));
    t->Transform(1, &x, &y);
    SurveyPoint p;
    p.longitude = x, p.latitude = y, p.doseRate = doseRate;
    return p;
}

struct Raster
{
    int width = 0, height = 0, overviews = 0;
    double gt[6] = {};
    double nodata = 0;
    std::vector<float> v;
    OGRSpatialReference srs;
    QString unit, layout;
    QMap<QString, QString> items;

    // The value of the cell holding (x, y); NaN outside the raster.
    float at(double x, double y) const
    {
        const double c = std::floor((x - gt[0]) / gt[1]), r = std::floor((y - gt[3]) / gt[5]);
        return c >= 0 && r >= 0 && c < width && r < height ? v[std::size_t(r * width + c)] : NAN;
    }
    double cx(int c) const { return gt[0] + (c + 0.5) * gt[1]; }
    double cy(int r) const { return gt[3] + (r + 0.5) * gt[5]; }
};

std::unique_ptr<Raster> read(const QString& path)
{
    GDALAllRegister();
    std::unique_ptr<GDALDataset> ds(
        GDALDataset::Open(path.toUtf8().constData(), GDAL_OF_RASTER | GDAL_OF_VERBOSE_ERROR));
    if (!ds)
        return nullptr;
    auto r = std::make_unique<Raster>();
    r->width = ds->GetRasterXSize(), r->height = ds->GetRasterYSize();
    ds->GetGeoTransform(r->gt);
    GDALRasterBand* band = ds->GetRasterBand(1);
    r->nodata = band->GetNoDataValue();
    r->unit = QString::fromUtf8(band->GetUnitType());
    r->overviews = band->GetOverviewCount();
    r->v.resize(std::size_t(r->width) * std::size_t(r->height));
    if (band->RasterIO(GF_Read, 0, 0, r->width, r->height, r->v.data(), r->width, r->height,
                       GDT_Float32, 0, 0, nullptr) != CE_None)
        return nullptr;
    if (const OGRSpatialReference* s = ds->GetSpatialRef())
        r->srs = *s;
    for (char** item = ds->GetMetadata(); item && *item; ++item) {
        const QString text = QString::fromUtf8(*item);
        r->items.insert(text.section('=', 0, 0), text.section('=', 1));
    }
    r->layout = QString::fromUtf8(ds->GetMetadataItem("LAYOUT", "IMAGE_STRUCTURE"));
    return r;
}

// A program's exit status (-1: it did not end by itself) and standard error.
std::pair<int, QByteArray> run(const QString& program, const QStringList& args,
                               const QString& archive = {})
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("ORVISK_ARCHIVE"), archive);
    p.setProcessEnvironment(env);
    p.start(program, args);
    const bool ended = p.waitForFinished(120000) && p.exitStatus() == QProcess::NormalExit;
    return {ended ? p.exitCode() : -1, p.readAllStandardError()};
}

QByteArray bytesOf(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(none)");
}

} // namespace

class TestSurveyRaster : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;

private slots:
    // Every cell is the inverse distance of the nearest good points within
    // the radius, computed here, and has a value only within the mask
    // distance of one; a point alone holds its own rate (nSv/h) around it.
    // Flagged points and those without a rate count for nothing.
    void valuesFollowTheGoodPointsWithinTheMask()
    {
        std::mt19937 rng(7);
        std::uniform_real_distribution<double> place(0, 200), rate(0.05, 0.5);
        std::vector<SurveyPoint> points;
        std::vector<double> x, y, z;
        for (int i = 0; i < 64; ++i) { // 60 close together, 4 far apart
            x.push_back(i < 60 ? kEast + 1000 + place(rng) : kEast + 150 * (i - 60));
            y.push_back(i < 60 ? kNorth + place(rng) : kNorth + 90 * (i % 2));
            points.push_back(at(x.back(), y.back(), float(i < 60 ? rate(rng) : i - 59)));
            z.push_back(double(points.back().doseRate) * 1000);
        }
        std::vector<uint16_t> flags(points.size(), 0);
        points.push_back(at(kEast + 75, kNorth + 100, 50));
        flags.push_back(kFlagHdop);
        points.push_back(at(kEast + 300, kNorth + 100, NAN));
        flags.push_back(0);
        RasterOptions o;
        o.projection = kUtm35, o.cellSize = 1.5, o.power = 2.5, o.smoothing = 3, o.radius = 35;
        o.maxPoints = 5, o.mask = 18;
        const QString path = dir.filePath(QStringLiteral("values.tif"));
        QString error;
        QVERIFY2(interpolateSurvey(points, flags, o, path, &error), qPrintable(error));
        auto r = read(path);
        QVERIFY(r);
        QCOMPARE(r->items.value("POINT_COUNT"), QStringLiteral("64"));
        for (int i = 60; i < 64; ++i)
            QCOMPARE(r->at(x[i], y[i]), float(z[i]));
        QCOMPARE(double(r->at(kEast + 75, kNorth + 100)), r->nodata);
        QCOMPARE(double(r->at(kEast + 300, kNorth + 100)), r->nodata);
        int valued = 0, masked = 0, maskedWithinRadius = 0;
        for (int row = 0; row < r->height; ++row)
            for (int c = 0; c < r->width; ++c) {
                std::vector<std::pair<double, double>> near; // squared distance, value
                for (std::size_t i = 0; i < x.size(); ++i)
                    near.push_back(
                        {std::pow(x[i] - r->cx(c), 2) + std::pow(y[i] - r->cy(row), 2), z[i]});
                std::sort(near.begin(), near.end());
                const auto border = [&](double a, double b) { return std::fabs(a - b) < 1e-3; };
                const double nearest = std::sqrt(near[0].first);
                if (border(nearest, o.mask) || border(nearest, o.radius) ||
                    border(std::sqrt(near[4].first), std::sqrt(near[5].first)))
                    continue; // a point on the edge of a circle: either answer is right
                const float v = r->v[std::size_t(row * r->width + c)];
                if (nearest > o.mask) {
                    QVERIFY2(v == r->nodata, qPrintable(QStringLiteral("%1,%2").arg(c).arg(row)));
                    ++masked;
                    maskedWithinRadius += nearest <= o.radius;
                    continue;
                }
                double sum = 0, weights = 0;
                for (std::size_t i = 0; i < 5 && near[i].first <= o.radius * o.radius; ++i) {
                    const double w = 1 / std::pow(near[i].first + 9, o.power / 2);
                    sum += w * near[i].second, weights += w;
                }
                QVERIFY2(std::fabs(v - sum / weights) <= 0.01 * sum / weights,
                         qPrintable(QStringLiteral("%1,%2: %3, not %4")
                                        .arg(c)
                                        .arg(row)
                                        .arg(v)
                                        .arg(sum / weights)));
                ++valued;
            }
        QVERIFY(valued > 1000 && masked > 1000 && maskedWithinRadius > 100);
    }

    // The projection asked for (EPSG, PROJ, WKT, in feet too) or the UTM
    // zone of the points; a north-up frame of the cell's size on multiples
    // of it, holding the points with the margin; a point's cell found
    // through the geotransform has a value.
    void projectionAndFrame()
    {
        OGRSpatialReference etrs;
        etrs.importFromEPSG(3067);
        char* wkt = nullptr;
        etrs.exportToWkt(&wkt);
        const QString etrsWkt = QString::fromUtf8(wkt);
        CPLFree(wkt);
        const char* const feet = "+proj=utm +zone=35 +datum=WGS84 +units=us-ft +no_defs";
        struct Case
        {
            QString projection;
            double lon, lat;
            const char* expected; // EPSG code, or the definition the file's projection is
        } cases[] = {
            {{}, 24.6, 57.4, "32635"},
            {{}, 18.4, -33.9, "32734"},
            {{}, 179.999, 10, "32660"}, // across the antimeridian
            {{}, 10, 89, "32661"},
            {QStringLiteral("EPSG:32634"), 24.6, 57.4, "32634"},
            {QStringLiteral("+proj=utm +zone=34 +datum=WGS84 +units=m +no_defs"), 24.6, 57.4,
             "+proj=utm +zone=34 +datum=WGS84 +units=m +no_defs"},
            {etrsWkt, 24.6, 57.4, "3067"},
            {QLatin1String(feet), 27, 57.4, feet},
        };
        for (const Case& k : cases) {
            std::vector<SurveyPoint> points;
            for (double d : {-0.002, 0.0, 0.002}) {
                SurveyPoint p;
                p.longitude = k.lon + d, p.latitude = k.lat + d / 2, p.doseRate = 0.1f;
                if (p.longitude > 180)
                    p.longitude -= 360;
                points.push_back(p);
            }
            RasterOptions o;
            o.projection = k.projection, o.cellSize = 2, o.mask = 20;
            const QString path = dir.filePath(QStringLiteral("frame.tif"));
            QString error;
            QVERIFY2(interpolateSurvey(points, {}, o, path, &error), qPrintable(error));
            auto r = read(path);
            QVERIFY(r);
            OGRSpatialReference expected;
            expected.SetFromUserInput(k.expected[0] == '+'
                                          ? k.expected
                                          : qPrintable(QStringLiteral("EPSG:") + k.expected));
            // GDAL reads UPS back from a GeoTIFF not quite the same: its code is.
            QVERIFY2(k.expected[0] == '+'
                         ? r->srs.IsSame(&expected)
                         : qstrcmp(r->srs.GetAuthorityCode(nullptr), k.expected) == 0,
                     k.expected);
            const double cell = 2 / expected.GetLinearUnits();
            QVERIFY(std::fabs(r->gt[1] - cell) < 1e-9 && std::fabs(r->gt[5] + cell) < 1e-9);
            QVERIFY(r->gt[2] == 0 && r->gt[4] == 0);
            QVERIFY(std::fabs(std::remainder(r->gt[0], cell)) < 1e-6 * std::fabs(r->gt[0]));
            OGRSpatialReference wgs84;
            wgs84.SetWellKnownGeogCS("WGS84");
            wgs84.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
            expected.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
            std::unique_ptr<OGRCoordinateTransformation> t(
                OGRCreateCoordinateTransformation(&wgs84, &expected));
            const double metre = 1 / expected.GetLinearUnits();
            std::vector<double> x, y;
            for (const SurveyPoint& p : points) {
                x.push_back(p.longitude), y.push_back(p.latitude);
                QVERIFY(t->Transform(1, &x.back(), &y.back()));
                QVERIFY2(r->at(x.back(), y.back()) != r->nodata, k.expected);
            }
            // Towards the next point, far beyond the mask: a value 15 m from
            // the first, none 25 m from it, in metres whatever the units.
            const double dx = x[1] - x[0], dy = y[1] - y[0], d = std::hypot(dx, dy);
            QVERIFY(d > 100 * metre);
            const float near = r->at(x[0] + 15 * metre * dx / d, y[0] + 15 * metre * dy / d);
            const float far = r->at(x[0] + 25 * metre * dx / d, y[0] + 25 * metre * dy / d);
            QVERIFY2(near != r->nodata && far == r->nodata, k.expected);
        }
    }

    // By default: the points' UTM zone, about 1000 cells on the long side, a
    // Cloud Optimized GeoTIFF with overviews that says what it holds.
    void defaultsMakeACloudOptimizedGeoTiff()
    {
        std::vector<SurveyPoint> points;
        for (int i = 0; i <= 190; ++i)
            points.push_back(at(kEast + 10 * i, kNorth + 3 * (i % 7), 0.08f + 0.001f * i));
        const QString path = dir.filePath(QStringLiteral("walk.tif"));
        QString error;
        DoseRaster made;
        QVERIFY2(interpolateSurvey(points, {}, RasterOptions(), path, &error, &made),
                 qPrintable(error));
        QCOMPARE(made.authority, QStringLiteral("EPSG:32635"));
        auto r = read(path);
        QVERIFY(r);
        QCOMPARE(r->gt[1], 2.0);
        QVERIFY(r->width > 900 && r->width <= 1000 && r->height < 100);
        QCOMPARE(r->layout, QStringLiteral("COG"));
        QVERIFY(r->overviews >= 1);
        QCOMPARE(r->unit, QStringLiteral("nSv/h"));
        QCOMPARE(r->nodata, -9999.0);
        const std::pair<const char*, const char*> items[] = {
            {"UNIT", "nSv/h"},   {"POWER", "2"},         {"SMOOTHING_M", "0"},
            {"RADIUS_M", "30"},  {"MAX_POINTS", "12"},   {"MIN_POINTS", "1"},
            {"MASK_M", "20"},    {"MARGIN_M", "20"},     {"CELL_M", "2"},
            {"NODATA", "-9999"}, {"POINT_COUNT", "191"}, {"ORVISK_VERSION", ORVISK_VERSION},
        };
        for (const auto& [key, value] : items)
            QCOMPARE(r->items.value(key), QString::fromUtf8(value));
        QVERIFY(r->items.value("METHOD").contains("invdistnn"));
        const QString validator = QStringLiteral("/usr/lib/python3/dist-packages/osgeo_utils/"
                                                 "samples/validate_cloud_optimized_geotiff.py");
        if (QFile::exists(validator)) {
            QProcess p;
            p.start(QStringLiteral("/usr/bin/python3"), {validator, path});
            QVERIFY(p.waitForFinished(60000));
            QVERIFY2(p.exitCode() == 0, p.readAll().constData());
        }
    }

    // Each bad input gets its own message and leaves the earlier file as it
    // was, with nothing beside it; so does a cancel.
    void refusalsLeaveTheEarlierFile()
    {
        struct Input
        {
            std::vector<SurveyPoint> points;
            std::vector<uint16_t> flags;
            RasterOptions o;
            QString target;
        } base;
        for (int i = 0; i < 5; ++i)
            base.points.push_back(at(kEast + 400 * i, kNorth, 0.1f));
        base.target = dir.filePath(QStringLiteral("refused/out.tif"));
        QVERIFY(QDir().mkpath(QFileInfo(base.target).path()));
        const std::pair<const char*, void (*)(Input&)> cases[] = {
            {"too few good points with a dose rate (2)",
             [](Input& in) {
                 in.flags = {0, kFlagTime, 0, kFlagSpeed, kFlagHdop};
             }},
            {"too few good points with a dose rate (2)",
             [](Input& in) {
                 in.points[0].doseRate = NAN, in.points[1].latitude = 91;
                 in.points[2].doseRate = 0;
             }},
            {"the flags do not match",
             [](Input& in) {
                 in.flags = {0, 0};
             }},
            {"power 0:", [](Input& in) { in.o.power = 0; }},
            {"power 11:", [](Input& in) { in.o.power = 11; }},
            {"radius 0 m:", [](Input& in) { in.o.radius = 0; }},
            {"smoothing 31 m:", [](Input& in) { in.o.smoothing = 31; }},
            {"at most 0 points", [](Input& in) { in.o.maxPoints = 0; }},
            {"at least 13 points", [](Input& in) { in.o.minPoints = 13; }},
            {"mask -1 m:", [](Input& in) { in.o.mask = -1; }},
            {"cell 0.001 m:", [](Input& in) { in.o.cellSize = 0.001; }},
            {"nodata 1:", [](Input& in) { in.o.nodata = 1; }},
            {"choose larger cells", [](Input& in) { in.o.cellSize = 0.05; }},
            {"unknown projection \"EPSG:999999\"",
             [](Input& in) { in.o.projection = "EPSG:999999"; }},
            {"unknown projection \"/etc/hostname\"", // no file is read for it
             [](Input& in) { in.o.projection = "/etc/hostname"; }},
            {"\"EPSG:4326\" is not a projection", [](Input& in) { in.o.projection = "EPSG:4326"; }},
            {"is a folder", [](Input& in) { in.target = QFileInfo(in.target).path(); }},
            {"does not exist", [](Input& in) { in.target.replace("refused/", "none/"); }},
        };
        for (const auto& [expected, change] : cases) {
            QFile earlier(base.target);
            QVERIFY(earlier.open(QIODevice::WriteOnly) && earlier.write("earlier") == 7);
            earlier.close();
            Input in = base;
            change(in);
            QString error;
            QVERIFY2(!interpolateSurvey(in.points, in.flags, in.o, in.target, &error), expected);
            QVERIFY2(error.contains(QLatin1String(expected)), qPrintable(error));
            QCOMPARE(bytesOf(base.target), QByteArray("earlier"));
            QCOMPARE(QDir(QFileInfo(base.target).path())
                         .entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot),
                     QStringList{QStringLiteral("out.tif")});
            QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("none"))));
        }
        double last = 0;
        QString error;
        QVERIFY(!interpolateSurvey(base.points, {}, base.o, base.target, &error, nullptr,
                                   [&last](double done) { return (last = done) < 0.95; }));
        QCOMPARE(error, QStringLiteral("cancelled"));
        QVERIFY(last >= 0.9); // while the file was being made
        QCOMPARE(bytesOf(base.target), QByteArray("earlier"));
    }

    // orvisk-archive interpolate: the archived download's good points, the
    // options given, a refusal for each bad one, and nothing left on a full
    // disk.
    void archiveInterpolates()
    {
        sim::Simulator s(options(12));
        s.start();
        const QString archive = dir.filePath(QStringLiteral("archive.gpkg"));
        QCOMPARE(
            run(ORVISK_DOWNLOAD, {tcpString(s), "--out", dir.filePath("a.csv")}, archive).first, 0);
        std::vector<SurveyPoint> points;
        std::vector<RecordSpan> spans;
        QString error;
        auto opened = SurveyArchive::open(archive, &error);
        QVERIFY(opened && opened->points(1, points) && opened->recordSpans(1, 0, spans));
        const std::optional<SurveyProvenance> from = archivedProvenance(*opened, 1, &error);
        QVERIFY2(from && from->family == QLatin1String("M30") && !from->serial.isEmpty(),
                 qPrintable(error));
        opened.reset();
        const std::vector<uint16_t> flags = checkSurvey(points, spans, loadCheckLimits());
        std::size_t good = 0;
        for (std::size_t i = 0; i < points.size(); ++i)
            good += flags[i] == 0 && points[i].hasDoseRate();
        QVERIFY(good > 100 && good < points.size()); // some flagged
        const QString tif = dir.filePath(QStringLiteral("archived.tif"));
        const auto interpolate = [&](const QStringList& more) {
            return run(ORVISK_ARCHIVE_PROGRAM,
                       QStringList{"--archive", archive, "interpolate"} + more);
        };
        const auto [done, said] = interpolate({"1", tif, "--epsg", "32635", "--cell", "5",
                                               "--power", "3", "--radius", "40", "--mask", "15"});
        QVERIFY2(done == 0 && said.contains("interpolated " + QByteArray::number(qulonglong(good)) +
                                            " points"),
                 said.constData());
        auto r = read(tif);
        QVERIFY(r);
        QCOMPARE(QString::fromUtf8(r->srs.GetAuthorityCode(nullptr)), QStringLiteral("32635"));
        QCOMPARE(r->gt[1], 5.0);
        QCOMPARE(r->layout, QStringLiteral("COG"));
        QCOMPARE(r->items.value("POINT_COUNT"), QString::number(good));
        QCOMPARE(r->items.value("POWER"), QStringLiteral("3"));
        QCOMPARE(r->items.value("RADIUS_M"), QStringLiteral("40"));
        QCOMPARE(r->items.value("MASK_M"), QStringLiteral("15"));
        // Where the points came from.
        QCOMPARE(r->items.value("INSTRUMENT_FAMILY"), from->family);
        QCOMPARE(r->items.value("INSTRUMENT_SERIAL"), from->serial);
        QCOMPARE(r->items.value("RECORDS_SHA256"), from->recordsSha256);
        QVERIFY(QFile::remove(tif));

        const std::pair<QStringList, int> refused[] = {
            {{"1", tif, "--power"}, 1},
            {{"1", tif, "--power", "abc"}, 1},
            {{"1", tif, "--power", "50"}, 1},
            {{"1", tif, "--epsg", "4326"}, 1},
            {{"1", tif, "--colour", "red"}, 1},
            {{"99", tif}, 3},
            {{"1", dir.filePath(QStringLiteral("none/x.tif"))}, 4},
        };
        for (const auto& [args, status] : refused) {
            const auto [got, err] = interpolate(args);
            QVERIFY2(got == status && !err.isEmpty(), qPrintable(args.join(' ')));
            QVERIFY(!QFile::exists(tif));
        }

        const fulldisk::Result full = fulldisk::runWithFullDisk(
            QStringLiteral("%1 --archive %2 interpolate 1 \"$FULL/walk.tif\" --cell 2 2>&1\n"
                           "echo \"status=$?\"\n"
                           "echo \"files=$(ls -A \"$FULL\" | tr '\\n' ' ')\"\n")
                .arg(fulldisk::shellQuoted(QStringLiteral(ORVISK_ARCHIVE_PROGRAM)),
                     fulldisk::shellQuoted(archive)),
            16 * 1024);
        QVERIFY2(full.ran && full.exitCode == 0, full.err.constData());
        QVERIFY2(full.out.contains("status=4\n") && full.out.contains("files=\n"),
                 full.out.constData());
        QVERIFY2(full.out.contains(full.tmpfs ? "No space left on device" : "File too large"),
                 full.out.constData());
    }
};

QTEST_GUILESS_MAIN(TestSurveyRaster)
#include "test_survey_raster.moc"
