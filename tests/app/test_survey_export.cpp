// Survey export read back through OGR, and orvisk-download against orvisk-sim.
#include "sim_session.h"
#include "survey_download.h"
#include "survey_export.h"

#include <gdal_priv.h>
#include <ogrsf_frmts.h>

#include <QDateTime>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <limits>

namespace {

// The simulator's points as the download decodes them.
std::vector<SurveyPoint> pointsOf(const sim::SurveyStore& store)
{
    std::vector<SurveyPoint> out;
    for (auto r = store.records().rbegin(); r != store.records().rend(); ++r) {
        const sim::Bytes bytes = sim::SurveyStore::encode(*r);
        const SurveyRecord d = decodeSurveyRecord(reinterpret_cast<const char*>(bytes.data()), 0);
        out.insert(out.end(), d.points.begin(), d.points.end());
    }
    return out;
}

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

sim::SimOptions options(std::size_t records)
{
    sim::SimOptions o = session::loopback_options();
    o.records = records;
    o.epoch = 0;
    return o;
}

QString tcpString(const sim::Simulator& s)
{
    return QStringLiteral("tcp:127.0.0.1:%1").arg(s.instruments()[0].port);
}

struct Run
{
    int status = -1;
    QByteArray out, err;
};

Run download(const QStringList& args)
{
    QProcess p;
    p.start(QStringLiteral(ORVISK_DOWNLOAD), args);
    Run r;
    if (!p.waitForFinished(120000))
        return r;
    r.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2;
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
}

} // namespace

class TestSurveyExport : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;

private slots:
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
        QCOMPARE(lines.first(), QByteArray("X,Y,time,altitude,dose_rate,cps"));
        QCOMPARE(lines.size(), int(points.size()) + 1);
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
        Run none = download({QStringLiteral("tcp:127.0.0.1:%1").arg(port)});
        QCOMPARE(none.status, 2);
        QVERIFY(none.err.contains("no instrument answered"));
        QCOMPARE(download({QStringLiteral("nonsense")}).status, 2);
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
        QVERIFY(wrong.err.contains("is an M17, not an M30"));

        sim::Simulator refusing(options(2));
        refusing.start();
        refusing.instruments()[0].instrument->set_rule(8411, sim::Rule::fail(3));
        Run refused = download({tcpString(refusing)});
        QCOMPARE(refused.status, 4);
        QVERIFY(refused.err.contains("refused the record index list"));
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
