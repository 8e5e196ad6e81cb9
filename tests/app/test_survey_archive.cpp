// The archive: downloads kept as they arrive, read back as they were drawn,
// records stored once, and archives that cannot be used refused whole.
#include "full_disk.h"
#include "survey_archive.h"
#include "survey_sim.h"

#include <gdal_priv.h>
#include <ogrsf_frmts.h>

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <cstring>

namespace {

bool same(const SurveyPoint& a, const SurveyPoint& b)
{
    auto sameFloat = [](float x, float y) { return std::memcmp(&x, &y, sizeof x) == 0; };
    return a.latitude == b.latitude && a.longitude == b.longitude && a.time == b.time &&
           a.cps == b.cps && a.satellites == b.satellites && a.hdop10 == b.hdop10 &&
           a.hasAltitude() == b.hasAltitude() &&
           (!a.hasAltitude() || sameFloat(a.altitude, b.altitude)) &&
           a.hasDoseRate() == b.hasDoseRate() &&
           (!a.hasDoseRate() || sameFloat(a.doseRate, b.doseRate));
}

struct Run
{
    int status = -1;
    QByteArray err;
};

Run download(const QString& archive, const QStringList& args)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("ORVISK_ARCHIVE"), archive);
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(ORVISK_DOWNLOAD), args);
    Run r;
    if (!p.waitForFinished(120000))
        return r;
    r.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2;
    r.err = p.readAllStandardError();
    return r;
}

qint64 rows(const QString& archive, const char* table)
{
    GDALAllRegister();
    std::unique_ptr<GDALDataset> ds(static_cast<GDALDataset*>(
        GDALOpenEx(archive.toUtf8().constData(), GDAL_OF_VECTOR, nullptr, nullptr, nullptr)));
    OGRLayer* layer = ds ? ds->GetLayerByName(table) : nullptr;
    return layer ? layer->GetFeatureCount() : -1;
}

std::vector<SurveyRecord> recordsOf(const sim::Simulator& s)
{
    std::vector<SurveyRecord> records;
    for (const auto& r : s.instruments()[0].store->records())
        records.push_back(recordOf(r));
    return records;
}

std::vector<SurveyArchive::Arrival> arrivalsOf(const std::vector<SurveyRecord>& records)
{
    std::vector<SurveyArchive::Arrival> arrivals;
    for (std::size_t i = 0; i < records.size(); ++i)
        arrivals.push_back({int(i), &records[i]});
    return arrivals;
}

QByteArray bytesOf(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

class TestSurveyArchive : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;

private slots:
    // What orvisk-download archives reads back as it was drawn; the same
    // records downloaded again are stored once; deleting keeps what another
    // download still links to.
    void downloadsKeptAsDrawnAndStoredOnce()
    {
        sim::Simulator s(options(12));
        s.start();
        const std::vector<SurveyPoint> drawn = pointsOf(*s.instruments()[0].store);
        const QString path = dir.filePath(QStringLiteral("kept/archive.gpkg"));
        for (int i = 0; i < 2; ++i) {
            const Run r = download(path, {tcpString(s), QStringLiteral("--out"),
                                          dir.filePath(QStringLiteral("out.csv"))});
            QCOMPARE(r.status, 0);
            QVERIFY(r.err.contains("archived as download"));
        }
        QString error;
        auto archive = SurveyArchive::open(path, &error);
        QVERIFY2(archive, qPrintable(error));
        const std::vector<ArchivedDownload> list = archive->downloads();
        QCOMPARE(int(list.size()), 2);
        for (const ArchivedDownload& d : list) {
            QCOMPARE(d.info.family, QStringLiteral("M30"));
            QCOMPARE(d.info.serial, QStringLiteral("C3000001"));
            QCOMPARE(d.info.versions.size(), 415);
            QCOMPARE(d.info.connection, tcpString(s));
            QCOMPARE(d.info.listed, 12);
            QCOMPARE(d.info.fetched, 12);
            QCOMPARE(d.info.missing, 0);
            QCOMPARE(d.points, qint64(drawn.size()));
            QVERIFY(d.info.downloaded.isValid() && !d.info.periodFrom.isValid());
            std::vector<SurveyPoint> back;
            QVERIFY(archive->points(d.id, back));
            QCOMPARE(back.size(), drawn.size());
            for (std::size_t i = 0; i < drawn.size(); ++i)
                QVERIFY2(same(back[i], drawn[i]), qPrintable(QString::number(i)));
            std::vector<SurveyArchive::StoredRecord> records;
            QVERIFY(archive->records(d.id, records));
            QCOMPARE(int(records.size()), 12);
            for (const auto& r : records)
                QCOMPARE(r.sha256,
                         QCryptographicHash::hash(r.bytes, QCryptographicHash::Sha256).toHex());
        }
        QVERIFY(list[0].info.uuid != list[1].info.uuid);

        // A box and a period find the same points as a filter over the drawn
        // ones, through either index, each point once.
        double west = 180, east = -180, south = 90, north = -90;
        uint32_t first = UINT32_MAX, last = 0;
        for (const SurveyPoint& p : drawn) {
            west = std::min(west, p.longitude), east = std::max(east, p.longitude);
            south = std::min(south, p.latitude), north = std::max(north, p.latitude);
            first = std::min(first, p.time), last = std::max(last, p.time);
        }
        const double midLon = (west + east) / 2, midLat = (south + north) / 2;
        const uint32_t midTime = first + (last - first) / 2;
        const QDateTime from = QDateTime::fromSecsSinceEpoch(first, Qt::UTC),
                        to = QDateTime::fromSecsSinceEpoch(midTime, Qt::UTC);
        for (const bool withPeriod : {true, false}) {
            std::size_t expected = 0;
            for (const SurveyPoint& p : drawn)
                expected += p.longitude >= west && p.longitude <= midLon && p.latitude >= midLat &&
                            p.latitude <= north && (!withPeriod || p.time < midTime);
            std::vector<SurveyPoint> found;
            QVERIFY(archive->pointsWithin(west, midLat, midLon, north,
                                          withPeriod ? from : QDateTime(),
                                          withPeriod ? to : QDateTime(), found));
            QVERIFY(expected > 0 && expected < drawn.size());
            QCOMPARE(found.size(), expected);
        }
        QCOMPARE(rows(path, "records"), qint64(12));
        QCOMPARE(rows(path, "points"), qint64(drawn.size()));

        QVERIFY(archive->remove(list[0].id));
        std::vector<SurveyPoint> still;
        QVERIFY(archive->points(list[1].id, still));
        QCOMPARE(still.size(), drawn.size());
        QVERIFY(archive->remove(list[1].id));
        archive.reset();
        QCOMPARE(rows(path, "records"), qint64(0));
        QCOMPARE(rows(path, "points"), qint64(0));
        QCOMPARE(rows(path, "download_records"), qint64(0));
    }

    // A download cut short keeps every record that arrived, whole: by a lost
    // link (the counts name what is missing) and by a crash of the program.
    void cutDownloadKeepsWhatArrived()
    {
        sim::SimOptions o = options(30);
        o.faults.disconnect_after = 12;
        sim::Simulator s(o);
        s.start();
        const QString lost = dir.filePath(QStringLiteral("lost.gpkg"));
        const Run r = download(lost, {tcpString(s), QStringLiteral("--out"),
                                      dir.filePath(QStringLiteral("lost.csv"))});
        QCOMPARE(r.status, 5);
        QString error;
        auto archive = SurveyArchive::open(lost, &error);
        QVERIFY2(archive, qPrintable(error));
        const auto list = archive->downloads();
        QCOMPARE(int(list.size()), 1);
        const DownloadInfo& info = list[0].info;
        QVERIFY(info.fetched > 0 && info.fetched < 30);
        QCOMPARE(info.missing, 30 - info.fetched);
        QCOMPARE(int(info.missingIndices.size()), info.missing);
        std::vector<SurveyArchive::StoredRecord> records;
        QVERIFY(archive->records(list[0].id, records));
        QCOMPARE(int(records.size()), info.fetched);

        // Killed mid-download: every record in the archive has all its points.
        sim::SimOptions slow = options(200);
        slow.faults.latency = std::chrono::milliseconds(5);
        sim::Simulator t(slow);
        t.start();
        const QString crashed = dir.filePath(QStringLiteral("crashed.gpkg"));
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("ORVISK_ARCHIVE"), crashed);
        p.setProcessEnvironment(env);
        p.setReadChannel(QProcess::StandardError);
        p.start(QStringLiteral(ORVISK_DOWNLOAD),
                {tcpString(t), QStringLiteral("--out"), dir.filePath(QStringLiteral("c.csv"))});
        QByteArray err;
        while (!err.contains("record 60 of") && p.waitForReadyRead(20000))
            err += p.readAllStandardError();
        QVERIFY(err.contains("record 60 of"));
        ::kill(pid_t(p.processId()), SIGKILL);
        QVERIFY(p.waitForFinished(20000));
        auto after = SurveyArchive::open(crashed, &error);
        QVERIFY2(after, qPrintable(error));
        const auto kept = after->downloads();
        QCOMPARE(int(kept.size()), 1);
        std::vector<SurveyArchive::StoredRecord> arrived;
        QVERIFY(after->records(kept[0].id, arrived));
        QVERIFY(arrived.size() >= 40);
        std::size_t points = 0;
        for (const auto& stored : arrived) {
            const auto d = decodeSurveyRecord(stored.bytes.constData(), stored.bytes.size(), 0);
            QVERIFY(d);
            points += d->points.size();
        }
        std::vector<SurveyPoint> back;
        QVERIFY(after->points(kept[0].id, back));
        QCOMPARE(back.size(), points);
        QCOMPARE(kept[0].points, qint64(points));
    }

    // A file that is no archive, is damaged or newer is refused with its
    // reason and never rewritten; a locked archive fails its write whole.
    void unusableArchivesRefused()
    {
        QString error;
        const QString junk = dir.filePath(QStringLiteral("junk.gpkg"));
        QFile f(junk);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(8192, 'x'));
        f.close();
        QVERIFY(!SurveyArchive::open(junk, &error));
        QVERIFY2(error.contains(QStringLiteral("not an archive, or damaged")), qPrintable(error));
        QCOMPARE(bytesOf(junk), QByteArray(8192, 'x'));

        const QString good = dir.filePath(QStringLiteral("good.gpkg"));
        {
            auto archive = SurveyArchive::open(good, &error);
            QVERIFY2(archive, qPrintable(error));
            sim::Simulator s(options(4));
            DownloadInfo info;
            info.serial = QStringLiteral("C3000001");
            const qint64 id = archive->beginDownload(info);
            QVERIFY(id > 0);
            const std::vector<SurveyRecord> records = recordsOf(s);
            QVERIFY(archive->addRecords(id, arrivalsOf(records)));
            QVERIFY(archive->finishDownload(id, info));
        }
        const QByteArray whole = bytesOf(good);

        // Cut in half, as a copy that did not finish.
        const QString half = dir.filePath(QStringLiteral("half.gpkg"));
        QFile h(half);
        QVERIFY(h.open(QIODevice::WriteOnly));
        h.write(whole.left(whole.size() / 2));
        h.close();
        QVERIFY(!SurveyArchive::open(half, &error));
        QVERIFY2(error.contains(QStringLiteral("damaged")), qPrintable(error));

        // Newer: refused, and not a byte changed.
        const QString newer = dir.filePath(QStringLiteral("newer.gpkg"));
        QVERIFY(QFile::copy(good, newer));
        {
            std::unique_ptr<GDALDataset> ds(static_cast<GDALDataset*>(
                GDALOpenEx(newer.toUtf8().constData(), GDAL_OF_VECTOR | GDAL_OF_UPDATE, nullptr,
                           nullptr, nullptr)));
            QVERIFY(ds);
            ds->ExecuteSQL("UPDATE orvisk_archive SET value = '99' WHERE key = 'schema_version'",
                           nullptr, nullptr);
        }
        const QByteArray newerBytes = bytesOf(newer);
        QVERIFY(!SurveyArchive::open(newer, &error));
        QVERIFY2(error.contains(QStringLiteral("newer Orvisk")), qPrintable(error));
        QCOMPARE(bytesOf(newer), newerBytes);

        // Locked by another writer: the write fails whole, with the reason,
        // and once free the archive takes the same records.
        auto archive = SurveyArchive::open(good, &error);
        QVERIFY2(archive, qPrintable(error));
        DownloadInfo info;
        info.serial = QStringLiteral("LOCKTEST");
        const qint64 id = archive->beginDownload(info);
        QVERIFY(id > 0);
        sim::Simulator s(options(3));
        const std::vector<SurveyRecord> records = recordsOf(s);
        const std::vector<SurveyArchive::Arrival> arrivals = arrivalsOf(records);
        const qint64 pointsBefore = rows(good, "points");
        {
            std::unique_ptr<GDALDataset> other(static_cast<GDALDataset*>(
                GDALOpenEx(good.toUtf8().constData(), GDAL_OF_VECTOR | GDAL_OF_UPDATE, nullptr,
                           nullptr, nullptr)));
            QVERIFY(other);
            QCOMPARE(other->StartTransaction(), OGRERR_NONE);
            other->ExecuteSQL("DELETE FROM orvisk_archive WHERE key = 'nothing'", nullptr, nullptr);
            QVERIFY(!archive->addRecords(id, arrivals));
            QVERIFY2(archive->lastError().contains(QStringLiteral("locked")),
                     qPrintable(archive->lastError()));
            other->RollbackTransaction();
        }
        QCOMPARE(rows(good, "points"), pointsBefore);
        QVERIFY2(archive->addRecords(id, arrivals), qPrintable(archive->lastError()));
        QVERIFY(rows(good, "points") > pointsBefore);
    }

    // A full disk and a read-only folder: orvisk-download says so, writes
    // the points to their file all the same, and exits 7.
    void fullOrReadOnlyArchiveStillExports()
    {
        sim::Simulator s(options(20));
        s.start();
        const QString out = dir.filePath(QStringLiteral("full.csv"));
        const QString readOnlyOut = dir.filePath(QStringLiteral("read-only.csv"));
        const QString script =
            QStringLiteral(
                "ORVISK_ARCHIVE=\"$FULL/archive.gpkg\" %1 %2 --out %3; echo \"exit $?\"\n"
                "mount -o remount,ro \"$FULL\" 2>/dev/null && "
                "{ ORVISK_ARCHIVE=\"$FULL/archive.gpkg\" %1 %2 --out %4; "
                "echo \"ro exit $?\"; }\n")
                .arg(fulldisk::shellQuoted(QStringLiteral(ORVISK_DOWNLOAD)), tcpString(s),
                     fulldisk::shellQuoted(out), fulldisk::shellQuoted(readOnlyOut));
        const fulldisk::Result r = fulldisk::runWithFullDisk(script, 160 * 1024);
        QVERIFY(r.ran);
        QVERIFY2(r.out.contains("exit 7"), r.out + r.err);
        QVERIFY2(r.err.contains("could not be archived") || r.err.contains("will not be archived"),
                 r.err);
        QVERIFY(QFile::exists(out));
        if (r.tmpfs) {
            QVERIFY2(r.out.contains("ro exit 7"), r.out + r.err);
            QVERIFY(QFile::exists(readOnlyOut));
        }
    }
};

QTEST_GUILESS_MAIN(TestSurveyArchive)
#include "test_survey_archive.moc"
