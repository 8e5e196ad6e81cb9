// The archive pushed to and pulled from a team database: a PostgreSQL with
// PostGIS of the test's own, on 127.0.0.1.
#include "archive_team.h"
#include "postgres_cluster.h"
#include "sim/survey_store.h"
#include "survey_archive.h"

#include <gdal_priv.h>
#include <ogrsf_frmts.h>

#include <QCryptographicHash>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <cmath>
#include <thread>

namespace {

// Records as the download decodes them: the simulator's walk, its bytes.
std::vector<SurveyRecord> walk(std::size_t count, std::uint32_t seed)
{
    sim::WalkConfig config;
    config.records = count;
    config.seed = seed;
    config.now = 1700000000;
    std::vector<SurveyRecord> out;
    const sim::SurveyStore store = sim::SurveyStore::walk(config);
    for (const sim::SurveyRecord& r : store.records()) {
        const sim::Bytes bytes = sim::SurveyStore::encode(r);
        if (auto d = decodeSurveyRecord(reinterpret_cast<const char*>(bytes.data()),
                                        int(bytes.size()), r.index))
            out.push_back(std::move(*d));
    }
    return out;
}

// A download of `records` (newest last), written as the download writes it.
QString addDownload(SurveyArchive& archive, const std::vector<SurveyRecord>& records,
                    const QString& uuid = {})
{
    DownloadInfo info;
    info.uuid = uuid;
    info.family = QStringLiteral("M30");
    info.serial = QStringLiteral("M30-0042");
    info.versions = QByteArray("fw 2.1\0\x01\xff", 9);
    info.connection = QStringLiteral("tcp 127.0.0.1:7000");
    info.downloaded = QDateTime::fromSecsSinceEpoch(1700000100, Qt::UTC);
    info.listed = int(records.size()) + 1;
    const qint64 id = archive.beginDownload(info);
    if (id == 0)
        return {};
    std::vector<SurveyArchive::Arrival> arrivals;
    for (std::size_t i = 0; i < records.size(); ++i)
        arrivals.push_back({int(records.size() - 1 - i), &records[i]});
    info.fetched = int(records.size());
    info.missing = 1;
    info.missingIndices = {77};
    if (!archive.addRecords(id, arrivals) || !archive.finishDownload(id, info))
        return {};
    return info.uuid;
}

qint64 count(PostgresCluster& cluster, const QString& database, const QString& table)
{
    QString out;
    if (!cluster.psql(database, QStringLiteral("SELECT COUNT(*) FROM %1").arg(table), &out))
        return -1;
    return out.toLongLong();
}

QByteArray fileHash(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256);
}

bool same(float a, float b)
{
    return (std::isnan(a) && std::isnan(b)) || a == b;
}

// Two archives hold the download `uuid` the same, value for value.
void compareDownload(SurveyArchive& a, SurveyArchive& b, const QString& uuid)
{
    const auto da = a.downloadByUuid(uuid), db = b.downloadByUuid(uuid);
    QVERIFY2(da && db, qPrintable(uuid));
    const DownloadInfo &ia = da->info, &ib = db->info;
    QCOMPARE(ib.family, ia.family);
    QCOMPARE(ib.serial, ia.serial);
    QCOMPARE(ib.versions, ia.versions);
    QCOMPARE(ib.connection, ia.connection);
    QCOMPARE(ib.downloaded, ia.downloaded);
    QCOMPARE(ib.periodFrom, ia.periodFrom);
    QCOMPARE(ib.listed, ia.listed);
    QCOMPARE(ib.fetched, ia.fetched);
    QCOMPARE(ib.missing, ia.missing);
    QCOMPARE(ib.missingIndices, ia.missingIndices);
    QCOMPARE(ib.orviskVersion, ia.orviskVersion);
    QCOMPARE(db->points, da->points);
    QCOMPARE(db->firstTime, da->firstTime);
    QCOMPARE(db->lastTime, da->lastTime);
    QVERIFY(same(float(db->maxDoseRate), float(da->maxDoseRate)));

    std::vector<SurveyArchive::StoredRecord> ra, rb;
    QVERIFY(a.records(da->id, ra));
    QVERIFY(b.records(db->id, rb));
    QCOMPARE(rb.size(), ra.size());
    for (std::size_t i = 0; i < ra.size(); ++i) {
        QCOMPARE(rb[i].index, ra[i].index);
        QCOMPARE(rb[i].time, ra[i].time);
        QCOMPARE(rb[i].sha256, ra[i].sha256);
        QCOMPARE(rb[i].bytes, ra[i].bytes);
        QCOMPARE(QCryptographicHash::hash(rb[i].bytes, QCryptographicHash::Sha256).toHex(),
                 rb[i].sha256);
    }

    std::vector<SurveyPoint> pa, pb;
    QVERIFY(a.points(da->id, pa));
    QVERIFY(b.points(db->id, pb));
    QVERIFY(!pa.empty());
    QCOMPARE(pb.size(), pa.size());
    for (std::size_t i = 0; i < pa.size(); ++i) {
        QCOMPARE(pb[i].latitude, pa[i].latitude);
        QCOMPARE(pb[i].longitude, pa[i].longitude);
        QVERIFY(same(pb[i].altitude, pa[i].altitude));
        QVERIFY(same(pb[i].doseRate, pa[i].doseRate));
        QCOMPARE(pb[i].time, pa[i].time);
        QCOMPARE(pb[i].cps, pa[i].cps);
        QCOMPARE(pb[i].satellites, pa[i].satellites);
        QCOMPARE(pb[i].hdop10, pa[i].hdop10);
    }
}

} // namespace

class TestArchiveTeam : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void harness();
    void pushTwiceAddsNothing();
    void sameDownloadFromTwoArchives();
    void pullGivesTheSameArchive();
    void refusedDatabasesLeaveTheArchive();

private:
    std::unique_ptr<PostgresCluster> m_cluster;
    QTemporaryDir m_dir;
    int m_databases = 0;

    QString database(bool postgis = true)
    {
        const QString name = QStringLiteral("team%1").arg(++m_databases);
        const QString connection = m_cluster->createDatabase(name, postgis);
        return connection.isEmpty() ? connection : name;
    }
    QString path(const QString& name) const { return m_dir.filePath(name + ".gpkg"); }
};

void TestArchiveTeam::initTestCase()
{
    m_cluster = std::make_unique<PostgresCluster>();
    QVERIFY2(m_cluster->ok(), qPrintable(m_cluster->error()));
    QVERIFY(m_dir.isValid());
}

void TestArchiveTeam::harness()
{
    const QString db = database();
    QVERIFY2(!db.isEmpty(), qPrintable(m_cluster->error()));
    GDALAllRegister();
    const char* const drivers[] = {"PostgreSQL", nullptr};
    GDALDataset* ds = static_cast<GDALDataset*>(
        GDALOpenEx(m_cluster->connection(db).toUtf8().constData(), GDAL_OF_VECTOR | GDAL_OF_UPDATE,
                   drivers, nullptr, nullptr));
    QVERIFY2(ds, CPLGetLastErrorMsg());
    OGRSpatialReference wgs84;
    wgs84.importFromEPSG(4326);
    OGRLayer* layer = ds->CreateLayer("probe", &wgs84, wkbPoint, nullptr);
    QVERIFY2(layer, CPLGetLastErrorMsg());
    OGRFeature* f = OGRFeature::CreateFeature(layer->GetLayerDefn());
    OGRPoint point(24.61, 57.41);
    f->SetGeometry(&point);
    QCOMPARE(layer->CreateFeature(f), OGRERR_NONE);
    OGRFeature::DestroyFeature(f);
    GDALClose(ds);
    QString out;
    QVERIFY(m_cluster->psql(db,
                            "SELECT ST_AsText(wkb_geometry) || ' ' || ST_SRID(wkb_geometry) "
                            "FROM probe",
                            &out));
    QCOMPARE(out, QStringLiteral("POINT(24.61 57.41) 4326"));

    // The login needs its password.
    CPLPushErrorHandler(CPLQuietErrorHandler);
    ds = static_cast<GDALDataset*>(
        GDALOpenEx(m_cluster->connection(db, "wrong").toUtf8().constData(), GDAL_OF_VECTOR, drivers,
                   nullptr, nullptr));
    CPLPopErrorHandler();
    QVERIFY(!ds);
}

void TestArchiveTeam::pushTwiceAddsNothing()
{
    const QString db = database();
    QVERIFY(!db.isEmpty());
    const QString file = path("push_twice");
    const std::vector<SurveyRecord> records = walk(30, 1);
    qint64 points = 0;
    for (const SurveyRecord& r : records)
        points += qint64(r.points.size());
    {
        QString error;
        auto archive = SurveyArchive::open(file, &error);
        QVERIFY2(archive, qPrintable(error));
        // The second download fetched the newest 10 again, and 5 more.
        const std::vector<SurveyRecord> older(records.begin(), records.begin() + 25);
        const std::vector<SurveyRecord> newer(records.begin() + 15, records.end());
        QVERIFY(!addDownload(*archive, older).isEmpty());
        QVERIFY(!addDownload(*archive, newer).isEmpty());
    }

    TeamResult result;
    QString error;
    QVERIFY2(pushArchive(file, m_cluster->connection(db), &result, &error), qPrintable(error));
    QCOMPARE(result.downloads, 2);
    QCOMPARE(result.alreadyThere, 0);
    QCOMPARE(result.records, qint64(records.size()));
    QCOMPARE(result.points, points);
    QCOMPARE(count(*m_cluster, db, "downloads"), 2);
    QCOMPARE(count(*m_cluster, db, "records"), qint64(records.size()));
    QCOMPARE(count(*m_cluster, db, "download_records"), 25 + 15);
    QCOMPARE(count(*m_cluster, db, "points"), points);
    QString out;
    QVERIFY(m_cluster->psql(db,
                            "SELECT COUNT(*) FROM points WHERE ST_SRID(geom) = 4326 AND "
                            "record_id IN (SELECT id FROM records)",
                            &out));
    QCOMPARE(out.toLongLong(), points);
    QVERIFY(
        m_cluster->psql(db, "SELECT indexdef FROM pg_indexes WHERE tablename = 'points'", &out));
    QVERIFY2(out.contains("USING gist (geom)"), qPrintable(out));

    QVERIFY2(pushArchive(file, m_cluster->connection(db), &result, &error), qPrintable(error));
    QCOMPARE(result.downloads, 0);
    QCOMPARE(result.alreadyThere, 2);
    QCOMPARE(result.records, 0);
    QCOMPARE(count(*m_cluster, db, "downloads"), 2);
    QCOMPARE(count(*m_cluster, db, "records"), qint64(records.size()));
    QCOMPARE(count(*m_cluster, db, "download_records"), 25 + 15);
    QCOMPARE(count(*m_cluster, db, "points"), points);
}

void TestArchiveTeam::sameDownloadFromTwoArchives()
{
    const QString db = database();
    QVERIFY(!db.isEmpty());
    const std::vector<SurveyRecord> more = walk(24, 2);
    const std::vector<SurveyRecord> records(more.begin(), more.begin() + 20);
    QString uuid, error;
    {
        auto a = SurveyArchive::open(path("first"), &error);
        auto b = SurveyArchive::open(path("second"), &error);
        QVERIFY2(a && b, qPrintable(error));
        uuid = addDownload(*a, records);
        QVERIFY(!uuid.isEmpty());
        // The second surveyor has the same download (pulled earlier), and a
        // later one of the same instrument.
        QCOMPARE(addDownload(*b, records, uuid), uuid);
        QVERIFY(!addDownload(*b, more).isEmpty());
    }
    TeamResult result;
    QVERIFY2(pushArchive(path("first"), m_cluster->connection(db), &result, &error),
             qPrintable(error));
    QCOMPARE(result.downloads, 1);
    QVERIFY2(pushArchive(path("second"), m_cluster->connection(db), &result, &error),
             qPrintable(error));
    QCOMPARE(result.downloads, 1);
    QCOMPARE(result.alreadyThere, 1);
    QCOMPARE(result.records, 4); // the 20 others were there
    QCOMPARE(count(*m_cluster, db, "downloads"), 2);
    QCOMPARE(count(*m_cluster, db, "records"), 24);
    QCOMPARE(count(*m_cluster, db, "download_records"), 20 + 24);

    // At the same moment: someone else's transaction holds the same uuid
    // while this push runs; once it commits, the push finds it there.
    const QString db2 = database();
    QVERIFY(!db2.isEmpty());
    QVERIFY2(pushArchive(path("first"), m_cluster->connection(db2), &result, &error),
             qPrintable(error));
    QVERIFY(m_cluster->psql(db2, "DELETE FROM points; DELETE FROM download_records; "
                                 "DELETE FROM records; DELETE FROM downloads"));
    const char* const drivers[] = {"PostgreSQL", nullptr};
    GDALDataset* other = static_cast<GDALDataset*>(
        GDALOpenEx(m_cluster->connection(db2).toUtf8().constData(), GDAL_OF_VECTOR | GDAL_OF_UPDATE,
                   drivers, nullptr, nullptr));
    QVERIFY(other);
    QCOMPARE(other->StartTransaction(), OGRERR_NONE);
    OGRLayer* sql = other->ExecuteSQL(
        ("INSERT INTO downloads (uuid) VALUES ('" + uuid + "')").toUtf8().constData(), nullptr,
        nullptr);
    if (sql)
        other->ReleaseResultSet(sql);
    QCOMPARE(CPLGetLastErrorType(), CE_None);
    bool pushed = false;
    std::thread push(
        [&] { pushed = pushArchive(path("second"), m_cluster->connection(db2), &result, &error); });
    // Until the push waits on the uuid.
    QString waiting;
    for (int i = 0; i < 600 && waiting != "1"; ++i) {
        QThread::msleep(50);
        m_cluster->psql(db2, "SELECT COUNT(*) FROM pg_locks WHERE NOT granted", &waiting);
    }
    QCOMPARE(waiting, QStringLiteral("1"));
    QCOMPARE(other->CommitTransaction(), OGRERR_NONE);
    GDALClose(other);
    push.join();
    QVERIFY2(pushed, qPrintable(error));
    QCOMPARE(result.alreadyThere, 1);
    QCOMPARE(result.downloads, 1);
    QCOMPARE(result.records, 24); // nothing of the first download came
    QCOMPARE(count(*m_cluster, db2, "downloads"), 2);
}

void TestArchiveTeam::pullGivesTheSameArchive()
{
    const QString db = database();
    QVERIFY(!db.isEmpty());
    const std::vector<SurveyRecord> records = walk(40, 3);
    QString error;
    QStringList uuids;
    {
        auto archive = SurveyArchive::open(path("source"), &error);
        QVERIFY2(archive, qPrintable(error));
        uuids << addDownload(*archive, {records.begin(), records.begin() + 30});
        uuids << addDownload(*archive, {records.begin() + 20, records.end()});
        // A track file's points, without an instrument's record layout.
        std::vector<SurveyPoint> track(records[0].points.begin(), records[0].points.end());
        track[1].doseRate = std::numeric_limits<float>::quiet_NaN();
        track[2].altitude = std::numeric_limits<float>::quiet_NaN();
        const qint64 file = archive->importPoints(m_dir.filePath("walk.csv"), "a,b,c\n", track);
        QVERIFY2(file > 0, qPrintable(archive->lastError()));
        uuids << archive->download(file)->info.uuid;
    }
    TeamResult result;
    QVERIFY2(pushArchive(path("source"), m_cluster->connection(db), &result, &error),
             qPrintable(error));
    QCOMPARE(result.downloads, 3);

    // Into an archive that does not exist yet.
    const QString copy = path("pulled");
    QVERIFY2(pullArchive(copy, m_cluster->connection(db), &result, &error), qPrintable(error));
    QCOMPARE(result.downloads, 3);
    QCOMPARE(result.records, 40 + 1);
    {
        auto a = SurveyArchive::open(path("source"), &error);
        auto b = SurveyArchive::open(copy, &error);
        QVERIFY2(a && b, qPrintable(error));
        QCOMPARE(b->downloads().size(), std::size_t(3));
        for (const QString& uuid : uuids) {
            compareDownload(*a, *b, uuid);
            if (QTest::currentTestFailed())
                return;
        }
        // Again: nothing new.
        QVERIFY2(pullArchive(*b, m_cluster->connection(db), &result, &error), qPrintable(error));
        QCOMPARE(result.downloads, 0);
        QCOMPARE(result.alreadyThere, 3);
        QCOMPARE(b->downloads().size(), std::size_t(3));
    }

    // Into an archive holding the first download: only the second comes,
    // its 20 records shared with the first linked, not stored twice.
    const QString partial = path("partial");
    {
        auto archive = SurveyArchive::open(partial, &error);
        QVERIFY2(archive, qPrintable(error));
        QCOMPARE(addDownload(*archive, {records.begin(), records.begin() + 30}, uuids[0]),
                 uuids[0]);
        QVERIFY2(pullArchive(*archive, m_cluster->connection(db), &result, &error),
                 qPrintable(error));
        QCOMPARE(result.downloads, 2);
        QCOMPARE(result.alreadyThere, 1);
        QCOMPARE(result.records, 10 + 1);
        auto source = SurveyArchive::open(path("source"), &error);
        QVERIFY(source);
        compareDownload(*source, *archive, uuids[1]);
        std::unique_ptr<OGRLayer, std::function<void(OGRLayer*)>> rows(
            archive->dataset()->ExecuteSQL("SELECT COUNT(*) FROM records", nullptr, nullptr),
            [&](OGRLayer* l) { archive->dataset()->ReleaseResultSet(l); });
        OGRFeature* f = rows->GetNextFeature();
        QCOMPARE(f->GetFieldAsInteger64(0), GIntBig(40 + 1));
        OGRFeature::DestroyFeature(f);
    }
}

void TestArchiveTeam::refusedDatabasesLeaveTheArchive()
{
    const QString file = path("kept");
    QString error;
    {
        auto archive = SurveyArchive::open(file, &error);
        QVERIFY2(archive, qPrintable(error));
        QVERIFY(!addDownload(*archive, walk(5, 4)).isEmpty());
    }
    const QByteArray before = fileHash(file);
    QVERIFY(!before.isEmpty());
    const QString db = database(), bare = database(false);
    QVERIFY(!db.isEmpty() && !bare.isEmpty());
    QString closed = m_cluster->connection(db);
    closed.replace(QStringLiteral("port=%1").arg(m_cluster->port()),
                   QStringLiteral("port=%1").arg(PostgresCluster::freePort()));

    struct Case
    {
        QString connection, message;
    };
    const Case cases[] = {
        {closed, "The team database cannot be reached: "},
        {m_cluster->connection(db, "not-the-password"), "The team database refused the login: "},
        {m_cluster->connection("nosuchdb"), "The team database cannot be reached: "},
        {m_cluster->connection(bare), "The team database has no PostGIS: "},
    };
    const QString missing = path("never");
    for (const Case& c : cases) {
        for (bool push : {true, false}) {
            TeamResult result;
            result.downloads = 99;
            error.clear();
            const bool ok = push ? pushArchive(file, c.connection, &result, &error)
                                 : pullArchive(file, c.connection, &result, &error);
            QVERIFY2(!ok, qPrintable(c.connection));
            QVERIFY2(error.startsWith(c.message), qPrintable(error));
            QVERIFY2(!error.contains('\n'), qPrintable(error));
            QCOMPARE(fileHash(file), before);
            QVERIFY(!pullArchive(missing, c.connection, &result, &error));
            QVERIFY(!QFile::exists(missing));
        }
    }
    // Nothing was made in the database without PostGIS.
    QCOMPARE(count(*m_cluster, bare, "information_schema.tables WHERE table_schema = 'public'"), 0);

    // A database of a newer layout is not written, nor read.
    TeamResult result;
    QVERIFY2(pushArchive(file, m_cluster->connection(db), &result, &error), qPrintable(error));
    QVERIFY(m_cluster->psql(db, "UPDATE orvisk_archive SET value = '2' "
                                "WHERE key = 'schema_version'"));
    QVERIFY(m_cluster->psql(db, "DELETE FROM points; DELETE FROM download_records; "
                                "DELETE FROM records; DELETE FROM downloads"));
    const QByteArray pushed = fileHash(file);
    QVERIFY(!pushArchive(file, m_cluster->connection(db), &result, &error));
    QVERIFY2(error.contains("newer"), qPrintable(error));
    QCOMPARE(count(*m_cluster, db, "downloads"), 0);
    QVERIFY(!pullArchive(file, m_cluster->connection(db), &result, &error));
    QVERIFY2(error.contains("newer"), qPrintable(error));
    QCOMPARE(fileHash(file), pushed);
}

QTEST_GUILESS_MAIN(TestArchiveTeam)
#include "test_archive_team.moc"
