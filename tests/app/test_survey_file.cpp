// Survey files read back: Orvisk's own exports exactly, other GIS files
// converted, and what is no survey refused with its reason.
#include "survey_export.h"
#include "survey_file.h"

#include <gdal_priv.h>
#include <ogr_spatialref.h>
#include <ogrsf_frmts.h>

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <limits>
#include <random>

namespace {

const float unknown = std::numeric_limits<float>::quiet_NaN();

SurveyPoint point(float lat, float lon, float alt, float dose, uint32_t time, uint16_t cps)
{
    SurveyPoint p;
    p.latitude = lat; // the instrument's floats, as a download decodes them
    p.longitude = lon;
    p.altitude = alt;
    p.doseRate = dose;
    p.time = time;
    p.cps = cps;
    return p;
}

// The edges by hand, then many points to find any value a format writes with
// too few digits. GPX, KML and CSV write magnitudes below 1 with 15
// decimals: a float survives down to about 1e-6, which no dose rate in uSv/h
// nor a position comes near.
std::vector<SurveyPoint> surveyPoints()
{
    const uint32_t may1 = 1682899200; // 2023-05-01T00:00:00Z
    std::vector<SurveyPoint> points = {
        point(51.5074f, -0.1278f, 35.25f, 0.123456789f, may1 - 1, 17),
        point(51.50741f, -0.12781f, 35.5f, unknown, may1, 18), // unknown dose rate, next day
        point(51.50742f, -0.12782f, unknown, 0.0001f, may1 + 86399, 0), // unknown altitude
        point(-89.99999f, 180.0f, -12.5f, 12345.678f, may1 + 86400, 65535),
        point(90.0f, -180.0f, unknown, unknown, 0, 1),
        point(0.0f, -179.99998f, 8848.86f, 3.4e38f, 0xffffffffu, 2),
        point(-0.00001f, 0.00001f, 0.0f, 0.00001f, 1, 3), // a metre from null island
    };
    std::mt19937 random(7);
    std::uniform_real_distribution<float> lat(-90, 90), lon(-180, 180), alt(-400, 9000),
        exponent(-4, 3);
    std::uniform_int_distribution<uint32_t> time(0, 0xffffffffu);
    for (int i = 0; i < 300; ++i)
        points.push_back(point(lat(random), lon(random), alt(random),
                               std::pow(10.0f, exponent(random)), time(random),
                               uint16_t(time(random))));
    return points;
}

// The export's positions are the instrument's floats. GeoPackage and GeoJSON
// keep the double made of it; GPX, KML and CSV write 15 digits, which give
// the float back but not always that double.
bool samePosition(double read, double written, bool asDouble)
{
    return asDouble ? read == written : float(read) == float(written);
}

bool sameValue(float read, float written)
{
    return std::isnan(read) ? std::isnan(written) : read == written;
}

QString describe(const SurveyPoint& p)
{
    return QStringLiteral("%1 %2 alt %3 dose %4 time %5 cps %6")
        .arg(p.latitude, 0, 'g', 17)
        .arg(p.longitude, 0, 'g', 17)
        .arg(double(p.altitude), 0, 'g', 9)
        .arg(double(p.doseRate), 0, 'g', 9)
        .arg(p.time)
        .arg(p.cps);
}

bool writeText(const QString& path, const QByteArray& text)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(text) == text.size();
}

struct DatasetCloser
{
    void operator()(GDALDataset* d) const { GDALClose(d); }
};
using Dataset = std::unique_ptr<GDALDataset, DatasetCloser>;

Dataset createGpkg(const QString& path)
{
    GDALAllRegister();
    GDALDriver* driver = GetGDALDriverManager()->GetDriverByName("GPKG");
    return Dataset(driver ? driver->Create(path.toUtf8().constData(), 0, 0, 0, GDT_Unknown, nullptr)
                          : nullptr);
}

} // namespace

class TestSurveyFile : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;

private slots:
    void everyExportComesBackAsWritten()
    {
        const std::vector<SurveyPoint> points = surveyPoints();
        QStringList suffixes = surveyExportSuffixes();
        suffixes << QStringLiteral("json");
        for (const QString& suffix : suffixes) {
            QVERIFY2(surveyOpenFilter().contains(QStringLiteral("*.") + suffix),
                     qPrintable(suffix));
            const QString path = dir.filePath(QStringLiteral("walk.") + suffix);
            QString error;
            QVERIFY2(exportSurvey(path, points, &error), qPrintable(error));
            const std::optional<SurveyFile> file = readSurveyFile(path, &error);
            QVERIFY2(file, qPrintable(error));
            QVERIFY2(file->orviskExport, qPrintable(suffix));
            QVERIFY2(file->doseRateField.contains(QLatin1String("dose_rate")),
                     qPrintable(suffix + QLatin1Char(' ') + file->doseRateField));
            QCOMPARE(file->skipped, 0);
            QCOMPARE(file->points.size(), points.size());
            const bool asDouble =
                suffix == QLatin1String("gpkg") || suffix.contains(QLatin1String("json"));
            for (std::size_t i = 0; i < points.size(); ++i) {
                SurveyPoint expected = points[i];
                if (suffix == QLatin1String("gpx") && expected.longitude == 180)
                    expected.longitude = -180; // the same meridian, as GPX wants it
                const SurveyPoint& r = file->points[i];
                QVERIFY2(samePosition(r.latitude, expected.latitude, asDouble) &&
                             samePosition(r.longitude, expected.longitude, asDouble) &&
                             sameValue(r.altitude, expected.altitude) &&
                             sameValue(r.doseRate, expected.doseRate) && r.time == expected.time &&
                             r.cps == expected.cps && r.satellites == 0 && r.hdop10 == 0,
                         qPrintable(QStringLiteral("%1 point %2: %3, exported %4")
                                        .arg(suffix)
                                        .arg(i)
                                        .arg(describe(r), describe(expected))));
            }
        }
    }

    // A dose rate in nSv/h with the time at an offset, a multipoint and
    // features without a place; a CSV's dose rate found by name and unit.
    void foreignFilesComeInConverted()
    {
        const QString geojson = dir.filePath("foreign.geojson");
        QVERIFY(writeText(geojson,
                          R"({"type": "FeatureCollection", "features": [
{"type": "Feature", "properties": {"DoseRate_nSv/h": 120, "timestamp": "2023-05-01T12:00:00+02:00",
  "elevation": 100.5, "cps": 42},
 "geometry": {"type": "Point", "coordinates": [24.5, 60.25]}},
{"type": "Feature", "properties": {"DoseRate_nSv/h": 0, "timestamp": null, "elevation": null},
 "geometry": {"type": "MultiPoint", "coordinates": [[24.75, 60.5], [25, 60.75]]}},
{"type": "Feature", "properties": {"DoseRate_nSv/h": 95}, "geometry": null},
{"type": "Feature", "properties": {"DoseRate_nSv/h": 95},
 "geometry": {"type": "Point", "coordinates": [24.5, 95]}}
]})"));
        QString error;
        std::optional<SurveyFile> file = readSurveyFile(geojson, &error);
        QVERIFY2(file, qPrintable(error));
        QCOMPARE(file->doseRateField, QStringLiteral("DoseRate_nSv/h"));
        QVERIFY(!file->orviskExport);
        QCOMPARE(file->skipped, 2);
        QCOMPARE(file->points.size(), std::size_t(3));
        const SurveyPoint& first = file->points[0];
        QCOMPARE(first.longitude, 24.5);
        QCOMPARE(first.latitude, 60.25);
        QCOMPARE(first.doseRate, 0.12f);
        QCOMPARE(first.time, uint32_t(1682935200)); // 10:00 UTC
        QCOMPARE(first.altitude, 100.5f);
        QCOMPARE(first.cps, uint16_t(42));
        for (std::size_t i : {1, 2}) {
            QVERIFY(!file->points[i].hasDoseRate());
            QVERIFY(!file->points[i].hasAltitude());
            QCOMPARE(file->points[i].time, uint32_t(0));
        }
        QCOMPARE(file->points[2].longitude, 25.0);
        QCOMPARE(file->points[2].latitude, 60.75);

        // Web Mercator with Z and a field "dose": degrees, the Z as altitude.
        const QString gpkg = dir.filePath("mercator.gpkg");
        {
            Dataset ds = createGpkg(gpkg);
            QVERIFY(ds);
            OGRSpatialReference mercator;
            QCOMPARE(mercator.importFromEPSG(3857), OGRERR_NONE);
            OGRLayer* layer = ds->CreateLayer("walk", &mercator, wkbPoint25D, nullptr);
            QVERIFY(layer);
            OGRFieldDefn dose("dose", OFTReal), time("time", OFTDateTime);
            QCOMPARE(layer->CreateField(&dose), OGRERR_NONE);
            QCOMPARE(layer->CreateField(&time), OGRERR_NONE);
            OGRFeature f(layer->GetLayerDefn());
            OGRPoint p(1113194.9079327357, 6446275.841017158, 123.0); // 10 E, 50 N
            QCOMPARE(f.SetGeometry(&p), OGRERR_NONE);
            f.SetField("dose", 0.5);
            f.SetField(f.GetFieldIndex("time"), 2023, 5, 1, 23, 59, 59.0f, 100);
            QCOMPARE(layer->CreateFeature(&f), OGRERR_NONE);
        }
        file = readSurveyFile(gpkg, &error);
        QVERIFY2(file, qPrintable(error));
        QCOMPARE(file->points.size(), std::size_t(1));
        const SurveyPoint& m = file->points[0];
        QVERIFY2(std::abs(m.longitude - 10) < 1e-9 && std::abs(m.latitude - 50) < 1e-9,
                 qPrintable(describe(m)));
        QCOMPARE(m.altitude, 123.0f);
        QCOMPARE(m.doseRate, 0.5f);
        QCOMPARE(file->doseRateField, QStringLiteral("dose"));
        QCOMPARE(m.time, uint32_t(1682985599));

        // The unit comes from the name; a field not named for a dose rate is not one.
        const struct
        {
            const char* name;
            float doseRate;
        } columns[] = {{"dose_rate", 250.0f}, {"Dose Rate (\xc2\xb5Sv/h)", 250.0f},
                       {"nSv/h", 0.25f},      {"DOSE-mSv/h", 250000.0f},
                       {"usvh", 250.0f},      {"rate", unknown},
                       {"dosimeter", unknown}};
        for (const auto& c : columns) {
            const QString csv = dir.filePath("columns.csv");
            QVERIFY(writeText(csv, QByteArray("Longitude,lat,time,") + c.name +
                                       "\n10.5,-20.25,2023-05-01T00:00:01Z,250\n"
                                       "11,-21,,-3\n"));
            file = readSurveyFile(csv, &error);
            QVERIFY2(file, qPrintable(error));
            QCOMPARE(file->points.size(), std::size_t(2));
            QVERIFY2(sameValue(file->points[0].doseRate, c.doseRate), c.name);
            QCOMPARE(file->doseRateField.isEmpty(), std::isnan(c.doseRate));
            QVERIFY(!file->points[1].hasDoseRate());
            QCOMPARE(file->points[0].longitude, 10.5);
            QCOMPARE(file->points[0].latitude, -20.25);
            QCOMPARE(file->points[0].time, uint32_t(1682899201));
        }
    }

    void whatIsNoSurveyIsRefused()
    {
        auto refused = [](const QString& path, const char* why) {
            QString error;
            if (readSurveyFile(path, &error))
                return QStringLiteral("read");
            if (!error.startsWith(path) || !error.contains(QLatin1String(why)))
                return error;
            return QString();
        };
        QCOMPARE(refused(dir.filePath("missing.gpkg"), "does not exist"), QString());

        QVERIFY(writeText(dir.filePath("notes.txt"), "Survey of May, by the river.\n"));
        QCOMPARE(refused(dir.filePath("notes.txt"), "not a file GDAL reads"), QString());
        // CSV opens anything as a table, but without positions it has no points.
        QVERIFY(writeText(dir.filePath("notes.csv"), "Survey of May\nby the river\n"));
        QCOMPARE(refused(dir.filePath("notes.csv"), "has no point layer"), QString());

        OGRSpatialReference wgs84;
        wgs84.SetWellKnownGeogCS("WGS84");
        const QString lines = dir.filePath("lines.gpkg");
        {
            Dataset ds = createGpkg(lines);
            QVERIFY(ds);
            OGRLayer* layer = ds->CreateLayer("track", &wgs84, wkbLineString, nullptr);
            QVERIFY(layer);
            OGRFeature f(layer->GetLayerDefn());
            OGRLineString line;
            line.addPoint(10, 50);
            line.addPoint(10.1, 50.1);
            QCOMPARE(f.SetGeometry(&line), OGRERR_NONE);
            QCOMPARE(layer->CreateFeature(&f), OGRERR_NONE);
        }
        QCOMPARE(refused(lines, "has no point layer"), QString());

        const QString empty = dir.filePath("empty.gpkg");
        {
            Dataset ds = createGpkg(empty);
            QVERIFY(ds && ds->CreateLayer("walk", &wgs84, wkbPoint, nullptr));
        }
        QCOMPARE(refused(empty, "has no points"), QString());

        // Points, but none of them on the earth.
        QVERIFY(writeText(dir.filePath("off.geojson"),
                          R"({"type": "FeatureCollection", "features": [
{"type": "Feature", "properties": {}, "geometry": {"type": "Point", "coordinates": [200, 10]}}
]})"));
        QCOMPARE(refused(dir.filePath("off.geojson"), "has no point on the earth (1 left out)"),
                 QString());
    }
};

QTEST_GUILESS_MAIN(TestSurveyFile)
#include "test_survey_file.moc"
