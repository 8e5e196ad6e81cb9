// Survey export read back through OGR, and orvisk-download against orvisk-sim.
#include "full_disk.h"
#include "gdal_rows.h"
#include "survey_download.h"
#include "survey_export.h"
#include "survey_sim.h"

#include <dose_scale.h>
#include <dose_steps.h>
#include <map_settings.h>

#include <gdal_priv.h>
#include <ogrsf_frmts.h>

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QXmlStreamReader>

#include <cmath>
#include <csignal>
#include <limits>

namespace {

struct ReadBack
{
    double x = 0, y = 0;
    std::optional<double> doseRate, altitude;
    qint64 time = 0;
    int cps = -1;
};

qint64 timeOf(OGRFeature& f, int field)
{
    if (f.GetFieldDefnRef(field)->GetType() == OFTDateTime) {
        int y, mo, d, h, mi, tz;
        float s;
        f.GetFieldAsDateTime(field, &y, &mo, &d, &h, &mi, &s, &tz);
        return QDateTime(QDate(y, mo, d), QTime(h, mi, int(s)), Qt::UTC).toSecsSinceEpoch();
    }
    return QDateTime::fromString(QString::fromUtf8(f.GetFieldAsString(field)), Qt::ISODate)
        .toSecsSinceEpoch();
}

std::vector<ReadBack> readBack(const QString& path)
{
    std::vector<ReadBack> out;
    GDALAllRegister();
    GDALDataset* ds = static_cast<GDALDataset*>(
        GDALOpenEx(path.toUtf8().constData(), GDAL_OF_VECTOR, nullptr, nullptr, nullptr));
    if (!ds)
        return out;
    OGRLayer* layer = ds->GetLayerByName("waypoints"); // GPX keeps points there
    if (!layer)
        layer = ds->GetLayer(0);
    OGRFeatureDefn* defn = layer->GetLayerDefn();
    auto field = [defn](std::initializer_list<const char*> names) {
        for (const char* n : names)
            if (defn->GetFieldIndex(n) >= 0)
                return defn->GetFieldIndex(n);
        return -1;
    };
    const int dose = field({"dose_rate", "ogr_dose_rate"}), alt = field({"altitude", "ele"}),
              time = field({"time"}), cps = field({"cps", "ogr_cps"});
    for (auto& f : *layer) {
        ReadBack r;
        if (const OGRPoint* p = dynamic_cast<const OGRPoint*>(f->GetGeometryRef())) {
            r.x = p->getX();
            r.y = p->getY();
        } else {
            r.x = f->GetFieldAsDouble("X");
            r.y = f->GetFieldAsDouble("Y");
        }
        if (dose >= 0 && f->IsFieldSetAndNotNull(dose) && *f->GetFieldAsString(dose))
            r.doseRate = f->GetFieldAsDouble(dose);
        if (alt >= 0 && f->IsFieldSetAndNotNull(alt) && *f->GetFieldAsString(alt))
            r.altitude = f->GetFieldAsDouble(alt);
        r.time = time >= 0 ? timeOf(*f, time) : 0;
        r.cps = cps >= 0 ? f->GetFieldAsInteger(cps) : -1;
        out.push_back(r);
    }
    GDALClose(ds);
    return out;
}

bool sameAs(const ReadBack& r, const SurveyPoint& p)
{
    auto near = [](double a, double b) {
        return std::abs(a - b) <= 1e-6 * std::max(1.0, std::abs(b));
    };
    return near(r.x, p.longitude) && near(r.y, p.latitude) &&
           r.doseRate.has_value() == p.hasDoseRate() &&
           (!p.hasDoseRate() || near(*r.doseRate, p.doseRate)) &&
           r.altitude.has_value() == p.hasAltitude() &&
           (!p.hasAltitude() || near(*r.altitude, p.altitude)) && r.time == qint64(p.time) &&
           r.cps == int(p.cps);
}

struct Run
{
    int status = -1;
    QByteArray out, err;
};

// orvisk-download, or another program, with the archive in `archive` when given.
Run download(const QStringList& args, const QString& archive = {},
             const QString& program = QStringLiteral(ORVISK_DOWNLOAD))
{
    QProcess p;
    if (!archive.isEmpty()) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("ORVISK_ARCHIVE"), archive);
        p.setProcessEnvironment(env);
    }
    p.start(program, args);
    Run r;
    if (!p.waitForFinished(120000))
        return r;
    r.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2;
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
}

// A download sent `signal` once its standard error shows `cue`.
Run interrupted(const QStringList& args, const QByteArray& cue, int signal)
{
    QProcess p;
    p.setReadChannel(QProcess::StandardError);
    p.start(QStringLiteral(ORVISK_DOWNLOAD), args);
    Run r;
    while (!r.err.contains(cue) && p.waitForReadyRead(20000))
        r.err += p.readAllStandardError();
    if (!r.err.contains(cue))
        return r;
    ::kill(pid_t(p.processId()), signal);
    if (!p.waitForFinished(60000))
        return r;
    r.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2;
    r.err += p.readAllStandardError();
    return r;
}

// What stands in a folder: names and contents, to see that nothing changed.
QStringList contentsOf(const QString& folder)
{
    QStringList out;
    for (const QFileInfo& f : QDir(folder).entryInfoList(QDir::Files | QDir::NoDotAndDotDot)) {
        QFile file(f.filePath());
        out << f.fileName() + QLatin1Char('=') +
                   QString::fromLatin1((file.open(QIODevice::ReadOnly) ? file.readAll() : "?"));
    }
    return out;
}

bool gpxIsValid(const QString& path)
{
    QProcess xmllint;
    xmllint.start(QStringLiteral("xmllint"),
                  {QStringLiteral("--noout"), QStringLiteral("--schema"),
                   QStringLiteral(ORVISK_SOURCE_DIR "/tests/data/gpx-1.1.xsd"), path});
    return xmllint.waitForFinished(30000) && xmllint.exitStatus() == QProcess::NormalExit &&
           xmllint.exitCode() == 0;
}

// The SHA-256 of the simulator's records as an instrument sends them, in the
// download's order (newest first), as one stream.
QString recordsSha256(const sim::SurveyStore& store)
{
    QCryptographicHash hash(QCryptographicHash::Sha256);
    for (auto r = store.records().rbegin(); r != store.records().rend(); ++r) {
        const sim::Bytes bytes = sim::SurveyStore::encode(*r);
        hash.addData(reinterpret_cast<const char*>(bytes.data()), int(bytes.size()));
    }
    return QString::fromLatin1(hash.result().toHex());
}

// An XML file as a tree of local names, enough to look into an export; no
// children when it is not well formed.
struct Node
{
    QString name, text;
    QXmlStreamAttributes attributes;
    std::vector<Node> children;

    const Node* child(const char* n) const
    {
        for (const Node& c : children)
            if (c.name == QLatin1String(n))
                return &c;
        return nullptr;
    }
    QString childText(const char* n) const { return child(n) ? child(n)->text : QString(); }
    QString attribute(const char* a) const { return attributes.value(QLatin1String(a)).toString(); }
    // Every element named `n` below this one, in the file's order.
    std::vector<const Node*> all(const char* n, std::vector<const Node*> out = {}) const
    {
        for (const Node& c : children) {
            if (c.name == QLatin1String(n))
                out.push_back(&c);
            out = c.all(n, std::move(out));
        }
        return out;
    }
};

Node parseXml(const QByteArray& bytes)
{
    QXmlStreamReader xml(bytes);
    Node root;
    std::vector<Node*> open{&root};
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement()) {
            open.back()->children.push_back({xml.name().toString(), {}, xml.attributes(), {}});
            open.push_back(&open.back()->children.back());
        } else if (xml.isEndElement()) {
            open.pop_back();
        } else if (xml.isCharacters() && !xml.isWhitespace()) {
            open.back()->text += xml.text();
        }
    }
    return xml.hasError() ? Node() : root;
}

QByteArray fileBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

gdal::Dataset openVector(const QString& path, const char* const* options = nullptr)
{
    return gdal::Dataset(static_cast<GDALDataset*>(
        GDALOpenEx(path.toUtf8().constData(), GDAL_OF_VECTOR, nullptr, options, nullptr)));
}

// A threshold as a dose_rate field is compared with it in a style.
QString limitOf(float nanoSievertPerHour)
{
    return QString::number(double(nanoSievertPerHour / 1000.0f), 'g', 17);
}

// The QML and SLD of every default style of the layer "survey", as QGIS
// looks them up in layer_styles.
std::vector<std::pair<QString, QString>> defaultStyles(GDALDataset* ds)
{
    std::vector<std::pair<QString, QString>> out;
    OGRLayer* styles = ds->GetLayerByName("layer_styles");
    OGRLayer* survey = ds->GetLayerByName("survey");
    if (!styles || !survey)
        return out;
    for (auto& row : *styles)
        if (QLatin1String(row->GetFieldAsString("f_table_name")) == QLatin1String("survey") &&
            QLatin1String(row->GetFieldAsString("f_geometry_column")) ==
                QLatin1String(survey->GetGeometryColumn()) &&
            !*row->GetFieldAsString("f_table_schema") && row->GetFieldAsInteger("useAsDefault"))
            out.emplace_back(QString::fromUtf8(row->GetFieldAsString("styleQML")),
                             QString::fromUtf8(row->GetFieldAsString("styleSLD")));
    return out;
}

// The fill colour ("r,g,b,a") of the QML rule whose filter is `filter`.
QString qmlColourOf(const QString& qml, const QString& filter)
{
    const Node root = parseXml(qml.toUtf8());
    QString symbol = QStringLiteral("none");
    for (const Node* rule : root.all("rule"))
        if (rule->attribute("filter") == filter)
            symbol = rule->attribute("symbol");
    for (const Node* s : root.all("symbol"))
        for (const Node* o : s->all("Option"))
            if (s->attribute("name") == symbol && o->attribute("name") == QLatin1String("color"))
                return o->attribute("value");
    return QString();
}

} // namespace

class TestSurveyExport : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;

private slots:
    void initTestCase()
    {
        // The settings store orvisk-download reads, in this test's own
        // configuration folder.
        QCoreApplication::setOrganizationName(QStringLiteral("Korvenix"));
        QCoreApplication::setApplicationName(QStringLiteral("Orvisk"));
        GDALAllRegister();
    }
    void init() { QSettings().clear(); }
    void cleanup() { QSettings().clear(); }

    // The steps the window draws with, read without it: the same defaults,
    // the same fallbacks, colours read as the window reads them.
    void doseStepsAreTheWindowsSteps()
    {
        auto sameAsWindow = [] {
            const MapSettings window = MapSettings::load();
            const DoseScale scale(window.thresholds, window.colors);
            const std::vector<DoseStep> steps = loadDoseSteps();
            bool same = int(steps.size()) == scale.steps().size();
            for (int n = 0; same && n < scale.steps().size(); ++n)
                same = steps[n].threshold == scale.steps()[n].threshold &&
                       steps[n].argb == scale.steps()[n].colour.rgba();
            return same;
        };
        QSettings settings;
        QVERIFY(sameAsWindow());
        QCOMPARE(loadDoseSteps()[4].argb, 0xff5aa0c8u);
        settings.setValue("Thresholds", QStringList{"300", "80.5", "1e3", "250.5", "50"});
        settings.setValue("Colors",
                          QStringList{"#ff102030", "#abc", "#80FF00aa", "#123456", "#00ffffff"});
        QVERIFY2(sameAsWindow(), "stored out of order");
        QCOMPARE(loadDoseSteps()[0].threshold, 50.0f);
        QCOMPARE(loadDoseSteps()[0].argb, 0x00ffffffu);
        // A bad entry sends its own list back to the defaults.
        settings.setValue("Thresholds", QStringList{"100", "x", "300", "400", "500"});
        QVERIFY2(sameAsWindow(), "a bad threshold");
        QCOMPARE(loadDoseSteps()[1].argb, 0xffaabbccu);
        settings.setValue("Colors",
                          QStringList{"#ff102030", "#12", "#80FF00aa", "#123456", "#123"});
        QVERIFY2(sameAsWindow(), "a bad colour");
        QCOMPARE(loadDoseSteps()[1].argb, 0xff1ee100u);
        settings.setValue("Thresholds", QStringList{"100", "200", "300", "400"});
        QVERIFY2(sameAsWindow(), "four thresholds");
        uint32_t argb = 0;
        QVERIFY(!parseDoseColour(QStringLiteral("#0x1234"), &argb));
    }

    // Every format says where its points came from; the GeoPackage carries
    // the steps as its default style, KML a style per step.
    void eachFormatCarriesItsStyleAndProvenance()
    {
        sim::Simulator s(options(6));
        const sim::SurveyStore& store = *s.instruments()[0].store;
        std::vector<SurveyPoint> points = pointsOf(store);
        QVERIFY(points.size() > 100);
        // On a threshold, without a rate, below every threshold, on the last.
        points[3].doseRate = 0.2505f;
        points[4].doseRate = std::numeric_limits<float>::quiet_NaN();
        points[5].doseRate = 0.01f;
        points[6].doseRate = 0.4f;
        const std::vector<uint16_t> flags = checkSurvey(points, spansOf(store));
        SurveyExportOptions o;
        o.flags = &flags;
        // Given out of order: the map takes them rising.
        o.doseSteps = {{250.5f, 0x80ff0000},
                       {50, 0xff102030},
                       {400, 0xff00ff7f},
                       {80.5f, 0xffaabbcc},
                       {120, 0xff123456}};
        const float thresholds[] = {50, 80.5f, 120, 250.5f, 400};
        const char* const colours[] = {"16,32,48,255", "170,187,204,255", "18,52,86,255",
                                       "255,0,0,128", "0,255,127,255"};
        SurveyProvenance p;
        p.family = QStringLiteral("M30");
        p.serial = QStringLiteral("C3000042");
        p.report = QByteArray("\x01\x02M30 v1\0", 9);
        p.downloaded = QDateTime(QDate(2026, 12, 9), QTime(2, 27, 22), Qt::UTC);
        p.periodFrom = QDateTime(QDate(2026, 12, 8), QTime(0, 0), Qt::UTC);
        p.periodTo = p.downloaded;
        p.recordsSha256 = recordsSha256(store);
        p.source = QStringLiteral("tcp:127.0.0.1:4444");
        o.provenance = p;
        const QMap<QString, QString> expected = {
            {"instrument_family", "M30"},
            {"instrument_serial", "C3000042"},
            {"instrument_report_hex", "01024d333020763100"},
            {"downloaded", "2026-12-09T02:27:22Z"},
            {"period_from", "2026-12-08T00:00:00Z"},
            {"period_to", "2026-12-09T02:27:22Z"},
            {"records_sha256", p.recordsSha256},
            {"source", "tcp:127.0.0.1:4444"},
            {"orvisk_version", ORVISK_VERSION},
        };
        QString error;
        auto exported = [&](const char* name) {
            const QString path = dir.filePath(QLatin1String(name));
            const bool written = exportSurvey(path, points, o, &error);
            return written && readBack(path).size() == points.size() ? path : QString();
        };

        // GeoPackage: the style QGIS opens it with, the provenance in its
        // metadata tables.
        const QString gpkg = exported("styled.gpkg");
        QVERIFY2(!gpkg.isEmpty(), qPrintable(error));
        {
            const gdal::Dataset file = openVector(gpkg);
            for (auto i = expected.begin(); i != expected.end(); ++i)
                QCOMPARE(QString::fromUtf8(file->GetMetadataItem(qPrintable(i.key()))), i.value());
            QCOMPARE(file->GetLayerByName("survey")->GetMetadataItem("unit_dose_rate"), "uSv/h");
            const auto styles = defaultStyles(file.get());
            QCOMPARE(int(styles.size()), 1);
            const auto& [qml, sld] = styles[0];
            // A step takes the rates from its threshold up to the next one's.
            const QString good = QStringLiteral(" AND coalesce(\"flags\", '') = ''");
            for (int n = 0; n < 5; ++n) {
                const QString below =
                    n < 4 ? QStringLiteral(" AND \"dose_rate\" < ") + limitOf(thresholds[n + 1])
                          : QString();
                QCOMPARE(qmlColourOf(qml, QStringLiteral("\"dose_rate\" >= ") +
                                              limitOf(thresholds[n]) + below + good),
                         QLatin1String(colours[n]));
                QVERIFY(sld.contains(QStringLiteral(">%1<").arg(limitOf(thresholds[n]))));
            }
            QCOMPARE(qmlColourOf(qml, QStringLiteral("\"dose_rate\" < ") + limitOf(50) + good),
                     QStringLiteral("128,128,128,255"));
            QCOMPARE(qmlColourOf(qml, QStringLiteral("\"dose_rate\" IS NULL") + good),
                     QStringLiteral("255,0,0,255"));
            // A flagged point is a hollow ring, as on the map.
            QCOMPARE(qmlColourOf(qml, QStringLiteral("coalesce(\"flags\", '') <> ''")),
                     QStringLiteral("0,0,0,0"));
            QCOMPARE(int(parseXml(sld.toUtf8()).all("Rule").size()), 8);
            QVERIFY(sld.contains(QStringLiteral(">#aabbcc<")));
        }

        // GeoJSON: foreign members at the top level.
        const QString geojson = exported("styled.geojson");
        QVERIFY2(!geojson.isEmpty(), qPrintable(error));
        {
            const char* const native[] = {"NATIVE_DATA=YES", nullptr};
            const gdal::Dataset file = openVector(geojson, native);
            const QJsonObject members = QJsonDocument::fromJson(file->GetLayer(0)->GetMetadataItem(
                                                                    "NATIVE_DATA", "NATIVE_DATA"))
                                            .object();
            for (auto i = expected.begin(); i != expected.end(); ++i)
                QCOMPARE(members.value(i.key()).toString(), i.value());
            QCOMPARE(members.value("units").toObject().value("dose_rate").toString(),
                     QStringLiteral("uSv/h"));
        }

        // GPX: satellites and HDOP in its own elements, the provenance in
        // the metadata's extensions, valid against the schema.
        const QString gpx = exported("styled.gpx");
        QVERIFY2(!gpx.isEmpty(), qPrintable(error));
        QVERIFY(gpxIsValid(gpx));
        {
            const gdal::Dataset file = openVector(gpx);
            std::size_t i = 0;
            for (auto& f : *file->GetLayerByName("waypoints")) {
                QCOMPARE(f->GetFieldAsInteger("sat"), int(points[i].satellites));
                QCOMPARE(f->GetFieldAsDouble("hdop"), points[i].hdop10 / 10.0);
                QCOMPARE(f->GetFieldAsString("ogr_flags"), flagNames(flags[i++]).c_str());
            }
            const Node root = parseXml(fileBytes(gpx));
            const Node* metadata =
                root.child("gpx") ? root.child("gpx")->child("metadata") : nullptr;
            QVERIFY(metadata && metadata->child("extensions"));
            QVERIFY(metadata->childText("desc").contains(QLatin1String("C3000042")));
            for (auto i = expected.begin(); i != expected.end(); ++i)
                QCOMPARE(metadata->child("extensions")->childText(qPrintable(i.key())), i.value());
        }

        // KML: a style per step, each placemark in its step's.
        const QString kml = exported("styled.kml");
        QVERIFY2(!kml.isEmpty(), qPrintable(error));
        {
            const Node root = parseXml(fileBytes(kml));
            const Node* document =
                root.child("kml") ? root.child("kml")->child("Document") : nullptr;
            QVERIFY(document && document->child("ExtendedData"));
            QMap<QString, QString> styles; // id: colour, aabbggrr
            for (const Node* style : document->all("Style"))
                styles[style->attribute("id")] = style->child("IconStyle")->childText("color");
            const QMap<QString, QString> kmlColours = {
                {"no_dose_rate", "ff0000ff"}, {"background", "ff808080"}, {"step1", "ff302010"},
                {"step2", "ffccbbaa"},        {"step3", "ff563412"},      {"step4", "800000ff"},
                {"step5", "ff7fff00"}};
            QCOMPARE(styles, kmlColours);
            QMap<QString, QString> data;
            for (const Node* d : document->child("ExtendedData")->all("Data"))
                data[d->attribute("name")] = d->childText("value");
            for (auto i = expected.begin(); i != expected.end(); ++i)
                QCOMPARE(data.value(i.key()), i.value());
            QCOMPARE(data.value("unit_dose_rate"), QStringLiteral("uSv/h"));
            const std::vector<const Node*> placemarks = document->all("Placemark");
            QCOMPARE(placemarks.size(), points.size());
            // Counted the plain way: the thresholds a rate is at or above.
            for (std::size_t i = 0; i < points.size(); ++i) {
                const float rate = points[i].doseRate;
                const auto step = std::count_if(std::begin(thresholds), std::end(thresholds),
                                                [rate](float t) { return rate >= t / 1000.0f; });
                const QString id = !points[i].hasDoseRate() ? QStringLiteral("no_dose_rate")
                                   : step == 0              ? QStringLiteral("background")
                                                            : QStringLiteral("step%1").arg(step);
                QCOMPARE(placemarks[i]->childText("styleUrl"), QLatin1Char('#') + id);
            }
            QCOMPARE(placemarks[3]->childText("styleUrl"), QStringLiteral("#step4"));
            QCOMPARE(
                placemarks[3]->childText("name"),
                QStringLiteral("250.5 nSv/h, ") +
                    QDateTime::fromSecsSinceEpoch(points[3].time, Qt::UTC).toString(Qt::ISODate));
            const QString description = placemarks[7]->childText("description");
            for (const QString& shown :
                 {QStringLiteral("Counts: %1 cps").arg(points[7].cps),
                  QStringLiteral("Satellites: %1").arg(points[7].satellites),
                  QStringLiteral("HDOP: %1").arg(points[7].hdop10 / 10.0, 0, 'f', 1),
                  QStringLiteral("uSv/h"), QStringLiteral("Altitude: "), QStringLiteral("Flags: ")})
                QVERIFY2(description.contains(shown), qPrintable(description));
        }

        // CSV reads as before; its provenance is beside it.
        const QString csv = exported("styled.csv");
        QVERIFY2(!csv.isEmpty(), qPrintable(error));
        QCOMPARE(surveyExportSideFile(csv), csv + QStringLiteral(".txt"));
        const QString side = QString::fromUtf8(fileBytes(csv + QStringLiteral(".txt")));
        for (auto i = expected.begin(); i != expected.end(); ++i)
            QVERIFY2(side.contains(QStringLiteral("\n%1: %2\n").arg(i.key(), i.value())),
                     qPrintable(i.key()));
        QVERIFY(side.contains(QStringLiteral("\nunit_dose_rate: uSv/h\n")));
    }

    // The download and the archive's export name the same records, hashed
    // as the instrument sent them, and style by the steps in Settings.
    void downloadsSayWhichRecordsTheyCameFrom()
    {
        QSettings settings;
        settings.setValue("Thresholds", QStringList{"60", "90", "150", "300", "600"});
        settings.sync();
        sim::Simulator s(options(5));
        s.start();
        const QString sha = recordsSha256(*s.instruments()[0].store);
        const QString archive = dir.filePath("provenance-archive.gpkg");
        const QString gpkg = dir.filePath("provenance.gpkg");
        QCOMPARE(download({tcpString(s), "--days", "3650", "--out", gpkg}, archive).status, 0);
        QString serial;
        {
            const gdal::Dataset file = openVector(gpkg);
            QVERIFY(file);
            QCOMPARE(QString::fromLatin1(file->GetMetadataItem("records_sha256")), sha);
            serial = QString::fromUtf8(file->GetMetadataItem("instrument_serial"));
            QCOMPARE(file->GetMetadataItem("source"), qPrintable(tcpString(s)));
            QVERIFY(file->GetMetadataItem("period_from"));
            // The versions record is text: its fields are read out too.
            QVERIFY(QString::fromLatin1(file->GetMetadataItem("instrument_report"))
                        .endsWith(QLatin1String(" | ") + serial));
            const auto styles = defaultStyles(file.get());
            QCOMPARE(int(styles.size()), 1);
            for (float t : {60.0f, 90.0f, 150.0f, 300.0f, 600.0f})
                QVERIFY2(styles[0].first.contains(limitOf(t)), qPrintable(limitOf(t)));
        }
        const QString kml = dir.filePath("from-archive.kml");
        const Run exported =
            download({"export", "1", kml}, archive, QStringLiteral(ORVISK_ARCHIVE_PROGRAM));
        QVERIFY2(exported.status == 0, exported.err.constData());
        QMap<QString, QString> data;
        const Node fromArchive = parseXml(fileBytes(kml));
        for (const Node* d : fromArchive.all("Data"))
            data[d->attribute("name")] = d->childText("value");
        QCOMPARE(data.value("records_sha256"), sha);
        QCOMPARE(data.value("instrument_serial"), serial);
        QVERIFY(data.value("source").contains(archive));

        const QString csv = dir.filePath("provenance.csv");
        QCOMPARE(download({tcpString(s), "--no-archive", "--out", csv}).status, 0);
        QVERIFY(fileBytes(csv + ".txt").contains("\nrecords_sha256: " + sha.toLatin1() + '\n'));
    }

    // A side file that cannot be written: said before anything is written
    // when its place is taken, and after the export when the disk fills.
    void aSideFileThatCannotBeWrittenIsSaid()
    {
        sim::Simulator s(options(3));
        s.start();
        const std::vector<SurveyPoint> points = pointsOf(*s.instruments()[0].store);
        QTemporaryDir here;
        const QString csv = here.filePath(QStringLiteral("walk.csv"));
        QVERIFY(QDir(here.path()).mkdir(QStringLiteral("walk.csv.txt")));
        QString error;
        QVERIFY(!exportSurvey(csv, points, &error));
        QVERIFY2(error.contains(QLatin1String("walk.csv.txt: is a folder")), qPrintable(error));
        QVERIFY(!QFileInfo::exists(csv));
        Run cli = download({tcpString(s), QStringLiteral("--out"), csv});
        QCOMPARE(cli.status, 6);
        QVERIFY(cli.err.contains("walk.csv.txt: is a folder"));
        QVERIFY(!cli.err.contains("records listed"));

        // A disk with room for the CSV and not one page more: the CSV is
        // written, the earlier side file goes, and the message says both.
        const QString measured = here.filePath(QStringLiteral("measured.csv"));
        QCOMPARE(download({tcpString(s), QStringLiteral("--out"), measured}).status, 0);
        const qint64 pages = (QFileInfo(measured).size() + 4095) / 4096;
        const fulldisk::Result r = fulldisk::runWithFullDisk(
            QStringLiteral("cd \"$FULL\" || exit 99\n"
                           "printf 'earlier' > walk.csv.txt\n"
                           "%1 %2 --out \"$FULL/walk.csv\" 2>&1\n"
                           "echo \"status=$?\"\n"
                           "echo \"lines=$(wc -l < walk.csv)\"\n"
                           "echo \"files=$(ls -A | tr '\\n' ' ')\"\n")
                .arg(fulldisk::shellQuoted(QStringLiteral(ORVISK_DOWNLOAD)), tcpString(s)),
            (pages + 1) * 4096);
        QVERIFY2(r.ran && r.exitCode == 0, r.err.constData());
        if (!r.tmpfs)
            return; // a limit on each file's size fills no disk
        QVERIFY2(r.out.contains("status=6\n"), r.out.constData());
        QVERIFY2(r.out.contains("walk.csv is written, but not its provenance"), r.out.constData());
        QVERIFY2(r.out.contains("No space left on device"), r.out.constData());
        QVERIFY2(r.out.contains(QStringLiteral("lines=%1\n").arg(points.size() + 1).toUtf8()),
                 r.out.constData());
        QVERIFY2(r.out.contains("files=walk.csv \n"), r.out.constData());
    }

    void everyFormatReadsBackAsWritten()
    {
        sim::SimOptions o = options(6);
        sim::Simulator s(o);
        std::vector<SurveyPoint> points = pointsOf(*s.instruments()[0].store);
        QVERIFY(points.size() > 100);
        // Unknown values stay empty.
        points[1].doseRate = std::numeric_limits<float>::quiet_NaN();
        points[2].altitude = std::numeric_limits<float>::quiet_NaN();
        for (const QString& suffix : surveyExportSuffixes()) {
            const QString path = dir.filePath(QStringLiteral("walk.") + suffix);
            QString error;
            QVERIFY2(exportSurvey(path, points, &error), qPrintable(error));
            // Written twice: the second replaces the first.
            QVERIFY2(exportSurvey(path, points, &error), qPrintable(error));
            const std::vector<ReadBack> back = readBack(path);
            QCOMPARE(back.size(), points.size());
            for (std::size_t i = 0; i < points.size(); ++i)
                QVERIFY2(sameAs(back[i], points[i]),
                         qPrintable(QStringLiteral("%1: point %2").arg(suffix).arg(i)));
        }
        QString error;
        QVERIFY(!exportSurvey(dir.filePath("walk.shp"), points, &error));
        QVERIFY(error.contains(QLatin1String("not a known survey format")));
        QVERIFY(!exportSurvey(dir.filePath("no/such/folder/walk.gpkg"), points, &error));
        QVERIFY(!error.isEmpty());
    }

    void downloaderWritesEachFormat()
    {
        sim::Simulator s(options(8));
        s.start();
        const std::vector<SurveyPoint> points = pointsOf(*s.instruments()[0].store);
        // CSV on standard output, nothing else there.
        Run csv = download({tcpString(s)});
        QCOMPARE(csv.status, 0);
        const QList<QByteArray> lines = csv.out.trimmed().split('\n');
        QCOMPARE(lines.first(), QByteArray("X,Y,time,altitude,dose_rate,cps,flags"));
        QCOMPARE(lines.size(), int(points.size()) + 1);
        // Every point is written, a flagged one naming its checks: the first
        // seconds of each session are the instrument warming up.
        const std::vector<RecordSpan> spans = spansOf(*s.instruments()[0].store);
        const std::vector<uint16_t> flags = checkSurvey(points, spans);
        QVERIFY(std::count(flags.begin(), flags.end(), uint16_t(kFlagWarmUp)) > 0);
        for (std::size_t i = 0; i < points.size(); ++i)
            QCOMPARE(lines[int(i) + 1].split(',').last(), QByteArray(flagNames(flags[i]).c_str()));
        QVERIFY(csv.err.contains("8 records listed"));
        for (const char* suffix : {"gpkg", "kml"}) {
            const QString path = dir.filePath(QStringLiteral("cli.") + QLatin1String(suffix));
            Run r = download({tcpString(s), QStringLiteral("--out"), path});
            QCOMPARE(r.status, 0);
            QCOMPARE(readBack(path).size(), points.size());
        }
    }

    void downloaderSaysWhatWentWrong()
    {
        // No instrument: a port just given back by the system.
        quint16 port = 0;
        {
            sim::Simulator gone(options(1));
            gone.start();
            port = gone.instruments()[0].port;
        }
        const QString nobody = QStringLiteral("tcp:127.0.0.1:%1").arg(port);
        Run none = download({nobody});
        QCOMPARE(none.status, 2);
        QVERIFY(none.err.contains("no instrument answered"));
        Run nonsense = download({QStringLiteral("nonsense")});
        QCOMPARE(nonsense.status, 1);
        QVERIFY(nonsense.err.contains("not a connection string"));
        // What the command line gets wrong is known before connecting.
        QCOMPARE(download({nobody, QStringLiteral("--out"), dir.filePath("walk.shp")}).status, 1);
        Run noFolder = download({nobody, QStringLiteral("--out"), dir.filePath("no/walk.csv")});
        QCOMPARE(noFolder.status, 6);
        QVERIFY(noFolder.err.contains("does not exist"));
        QVERIFY(!noFolder.err.contains("no instrument"));
        // Control characters are shown, never sent to the terminal.
        Run escape = download({QStringLiteral("tcp:\x1b[31mred")});
        QCOMPARE(escape.status, 1);
        QVERIFY(!escape.err.contains('\x1b'));
        QVERIFY(escape.err.contains("\\x1b[31mred"));
        QCOMPARE(download({}).status, 1);
        QCOMPARE(download({QStringLiteral("tcp:127.0.0.1:1"), QStringLiteral("--days"),
                           QStringLiteral("x")})
                     .status,
                 1);

        sim::SimOptions m17 = options(2);
        m17.family = "M17";
        sim::Simulator other(m17);
        other.start();
        Run wrong = download({tcpString(other)});
        QCOMPARE(wrong.status, 3);
        QVERIFY2(wrong.err.contains("is an M17, which keeps no surveys"), wrong.err.constData());
        // MVD answers only its own query, and is named too.
        sim::SimOptions mvd = options(2);
        mvd.family = "MVD";
        sim::Simulator mvdSim(mvd);
        mvdSim.start();
        Run notM30 = download({tcpString(mvdSim)});
        QCOMPARE(notM30.status, 3);
        QVERIFY2(notM30.err.contains("is an MVD, which keeps no surveys"), notM30.err.constData());
        // An M34 keeps surveys in the M30's way.
        sim::SimOptions m34 = options(2);
        m34.family = "M34";
        sim::Simulator keeper(m34);
        keeper.start();
        Run fromM34 = download({tcpString(keeper)});
        QVERIFY2(fromM34.status == 0, fromM34.err.constData());
        QVERIFY(fromM34.out.count('\n') > 2);

        sim::Simulator refusing(options(2));
        refusing.start();
        refusing.instruments()[0].instrument->set_rule(8411, sim::Rule::fail(3));
        Run refused = download({tcpString(refusing)});
        QCOMPARE(refused.status, 4);
        QVERIFY(refused.err.contains("refused the record index list"));
    }

    // A folder, or a link to one, is never a target, and nothing in it is
    // touched; a link to a file is written through and stays a link.
    void exportNeverDestroysWhatStands()
    {
        sim::Simulator s(options(2));
        const std::vector<SurveyPoint> points = pointsOf(*s.instruments()[0].store);
        QTemporaryDir here;
        QVERIFY(QDir(here.path()).mkdir(QStringLiteral("target")));
        const QString target = here.filePath(QStringLiteral("target"));
        QFile kept(target + QStringLiteral("/kept.txt"));
        QVERIFY(kept.open(QIODevice::WriteOnly) && kept.write("survey of May") == 13);
        kept.close();
        for (const QString& suffix : surveyExportSuffixes()) {
            const QString folder = here.filePath(QStringLiteral("v.") + suffix);
            QVERIFY(QDir(here.path()).mkdir(QStringLiteral("v.") + suffix));
            QVERIFY(QFile::copy(kept.fileName(), folder + QStringLiteral("/kept.txt")));
            const QString link = here.filePath(QStringLiteral("l.") + suffix);
            QVERIFY(QFile::link(target, link));
            QString error;
            QVERIFY(!exportSurvey(folder, points, &error));
            QVERIFY2(error.contains(QLatin1String("is a folder")), qPrintable(error));
            QVERIFY(!exportSurvey(link, points, &error));
            QVERIFY2(error.contains(QLatin1String("is a folder")), qPrintable(error));
            QCOMPARE(contentsOf(folder), QStringList{"kept.txt=survey of May"});
            QCOMPARE(contentsOf(target), QStringList{"kept.txt=survey of May"});

            const QString file = here.filePath(QStringLiteral("file.") + suffix);
            const QString fileLink = here.filePath(QStringLiteral("f.") + suffix);
            QVERIFY(QFile::link(file, fileLink));
            QVERIFY2(exportSurvey(fileLink, points, &error), qPrintable(error));
            QVERIFY(QFileInfo(fileLink).isSymLink());
            QCOMPARE(readBack(file).size(), points.size());
        }
        // Nothing but what the test made: no temporary file left behind.
        QCOMPARE(QDir(here.path()).entryList(QDir::Files | QDir::Hidden).filter("survey").size(),
                 0);
        Run cli = download({QStringLiteral("tcp:127.0.0.1:1"), QStringLiteral("--out"),
                            here.filePath(QStringLiteral("v.csv"))});
        QCOMPARE(cli.status, 6);
        QVERIFY(cli.err.contains("is a folder"));
        QCOMPARE(contentsOf(here.filePath(QStringLiteral("v.csv"))),
                 QStringList{"kept.txt=survey of May"});
    }

    // A file system that fills up during the export: the status says so,
    // the earlier file stays as it was and no temporary file is left.
    void aFullDiskKeepsTheEarlierFile()
    {
        sim::Simulator s(options(40));
        s.start();
        for (const QString& suffix : surveyExportSuffixes()) {
            const QString name = QStringLiteral("walk.") + suffix;
            const fulldisk::Result r = fulldisk::runWithFullDisk(
                QStringLiteral("cd \"$FULL\" || exit 99\n"
                               "printf 'earlier export' > %1\n"
                               "%2 %3 --out \"$FULL/%1\" 2>&1\n"
                               "echo \"status=$?\"\n"
                               "echo \"content=$(cat %1)\"\n"
                               "echo \"files=$(ls -A | tr '\\n' ' ')\"\n")
                    .arg(name, fulldisk::shellQuoted(QStringLiteral(ORVISK_DOWNLOAD)),
                         tcpString(s)),
                64 * 1024);
            QVERIFY2(r.ran && r.exitCode == 0, r.err.constData());
            QVERIFY2(r.out.contains("status=6\n"), r.out.constData());
            QVERIFY2(r.out.contains(r.tmpfs ? "No space left on device" : "File too large"),
                     r.out.constData());
            QVERIFY2(r.out.contains("content=earlier export\n"), r.out.constData());
            QVERIFY2(r.out.contains(("files=" + name + " \n").toUtf8()), r.out.constData());
        }
    }

    // Records that contradict their own headers are missing, named and
    // counted; positions off the earth are left out and every format writes
    // the same points; longitude 180 goes into GPX as -180.
    void hostileRecordsAreRefusedInEveryFormat()
    {
        sim::SimOptions o = options(6);
        o.hostile = {"cut", "count", "positions"};
        sim::Simulator s(o);
        s.start();
        const sim::SurveyStore& store = *s.instruments()[0].store;
        const std::vector<SurveyPoint> expected = pointsOf(store);
        const auto& records = store.records();
        const QByteArray missing = QStringLiteral("2 of 6 records could not be downloaded: %1 %2")
                                       .arg(records[5].index)
                                       .arg(records[4].index)
                                       .toLatin1();
        for (const QString& suffix : surveyExportSuffixes()) {
            const QString path = dir.filePath(QStringLiteral("hostile.") + suffix);
            Run r = download({tcpString(s), QStringLiteral("--out"), path});
            QCOMPARE(r.status, 5);
            QVERIFY2(r.err.contains(missing), r.err.constData());
            QVERIFY2(r.err.contains("5 points were left out"), r.err.constData());
            const std::vector<ReadBack> back = readBack(path);
            QCOMPARE(back.size(), expected.size());
            for (std::size_t i = 0; i < back.size(); ++i)
                QVERIFY(std::abs(back[i].y) <= 90 && std::abs(back[i].x) <= 180);
            if (suffix == QLatin1String("gpx")) {
                QVERIFY(gpxIsValid(path));
                QVERIFY(std::any_of(back.begin(), back.end(),
                                    [](const ReadBack& b) { return b.x == -180; }));
            }
        }
    }

    // Ctrl+C or SIGTERM ends the download after the exchange under way: what
    // arrived is written and the rest named (5), or nothing is (130).
    void interruptedDownloadsKeepWhatArrived()
    {
        sim::SimOptions o = options(100);
        o.faults.latency = std::chrono::milliseconds(20);
        sim::Simulator s(o);
        s.start();
        const QString path = dir.filePath("interrupted.gpkg");
        Run some =
            interrupted({tcpString(s), QStringLiteral("--out"), path}, "record 3 of", SIGINT);
        QCOMPARE(some.status, 5);
        QVERIFY2(some.err.contains("interrupted; "), some.err.constData());
        const std::size_t written = readBack(path).size();
        QVERIFY(written > 0);
        QVERIFY(written < pointsOf(*s.instruments()[0].store).size());

        // Slow enough that the signal comes during the index list.
        o.faults.latency = std::chrono::milliseconds(300);
        sim::Simulator slow(o);
        slow.start();
        const QString none = dir.filePath("none.gpkg");
        Run nothing =
            interrupted({tcpString(slow), QStringLiteral("--out"), none}, "connected", SIGTERM);
        QCOMPARE(nothing.status, 130);
        QVERIFY(!QFileInfo::exists(none));
    }

    void aLossyInstrumentWritesWhatArrived()
    {
        sim::SimOptions o = options(10);
        o.faults.drop = 0.05;
        o.faults.corrupt = 0.05;
        o.seed = 5;
        sim::Simulator s(o);
        s.start();
        const QString path = dir.filePath("lossy.geojson");
        Run r = download({tcpString(s), QStringLiteral("--out"), path});
        QVERIFY(r.status == 0 || r.status == 5);
        const std::size_t written = readBack(path).size();
        if (r.status == 5)
            QVERIFY(r.err.contains("records could not be downloaded"));
        else
            QCOMPARE(written, pointsOf(*s.instruments()[0].store).size());
        QVERIFY(written > 0);
    }
};

QTEST_GUILESS_MAIN(TestSurveyExport)
#include "test_survey_export.moc"
