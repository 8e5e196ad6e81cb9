// Survey export read back through OGR, and orvisk-download against orvisk-sim.
#include "full_disk.h"
#include "survey_download.h"
#include "survey_export.h"
#include "survey_sim.h"

#include <gdal_priv.h>
#include <ogrsf_frmts.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

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
        QVERIFY(wrong.err.contains("is an M17, not an M30"));
        // MVD answers only its own query, and is named too.
        sim::SimOptions mvd = options(2);
        mvd.family = "MVD";
        sim::Simulator mvdSim(mvd);
        mvdSim.start();
        Run notM30 = download({tcpString(mvdSim)});
        QCOMPARE(notM30.status, 3);
        QVERIFY2(notM30.err.contains("is an MVD, not an M30"), notM30.err.constData());

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
