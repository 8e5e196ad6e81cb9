// A push of a 600 000-point download (10 000 records of 60 points) from the
// archive to a new team database, against ogr2ogr copying the same points
// layer from the archive into a database of the same kind.
//
// Prints "postgis push: ratio <x>", the push's time over ogr2ogr's, the
// median of runs taken in turn.
#include "bench_socket.h"
#include "postgres_cluster.h"

#include <archive_team.h>
#include <survey_archive.h>

#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>
#include <random>

namespace {

using namespace bench;

const int kRecords = 10000;
const int kPointsPerRecord = 60;
const int kRuns = 3;

bool makeArchive(const QString& path)
{
    QString error;
    auto archive = SurveyArchive::open(path, &error);
    if (!archive) {
        std::fprintf(stderr, "postgis push: %s\n", error.toLocal8Bit().constData());
        return false;
    }
    DownloadInfo info;
    info.family = QStringLiteral("M30");
    info.serial = QStringLiteral("M30-0042");
    info.connection = QStringLiteral("tcp 127.0.0.1:7000");
    info.listed = info.fetched = kRecords;
    const qint64 id = archive->beginDownload(info);
    if (id == 0)
        return false;
    std::mt19937 rng(11);
    std::normal_distribution<float> noise(0, 1);
    std::vector<SurveyRecord> records(kRecords);
    std::vector<SurveyArchive::Arrival> arrivals;
    for (int r = 0; r < kRecords; ++r) {
        SurveyRecord& record = records[size_t(r)];
        record.index = uint32_t(r + 1);
        record.time = 1700000000u + uint32_t(r * kPointsPerRecord);
        record.bytes.resize(3436);
        for (char& b : record.bytes)
            b = char(rng());
        for (int i = 0; i < kPointsPerRecord; ++i) {
            SurveyPoint p;
            const int n = r * kPointsPerRecord + i;
            p.latitude = 57.40 + 0.02 * double(n % 1000) / 1000;
            p.longitude = 24.60 + 0.03 * double(n / 1000) / 600;
            p.altitude = 12 + noise(rng);
            p.doseRate = 0.1f + 0.01f * noise(rng);
            p.time = record.time + uint32_t(i);
            p.cps = uint16_t(300 + n % 100);
            p.satellites = 9;
            p.hdop10 = 12;
            record.points.push_back(p);
        }
        arrivals.push_back({kRecords - 1 - r, &record});
    }
    if (!archive->addRecords(id, arrivals) || !archive->finishDownload(id, info)) {
        std::fprintf(stderr, "postgis push: %s\n", archive->lastError().toLocal8Bit().constData());
        return false;
    }
    return true;
}

bool ogr2ogr(const QString& connection, const QString& archive)
{
    QProcess process;
    process.start(QStringLiteral("ogr2ogr"), {QStringLiteral("-f"), QStringLiteral("PostgreSQL"),
                                              connection, archive, QStringLiteral("points")});
    if (!process.waitForStarted() || !process.waitForFinished(600000) ||
        process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        std::fprintf(stderr, "postgis push: ogr2ogr failed (gdal-bin installed?): %s %s\n",
                     process.errorString().toLocal8Bit().constData(),
                     process.readAllStandardError().constData());
        return false;
    }
    return true;
}

} // namespace

int main()
{
    PostgresCluster cluster;
    if (!cluster.ok()) {
        std::fprintf(stderr, "postgis push: %s\n", cluster.error().toLocal8Bit().constData());
        return 1;
    }
    QTemporaryDir dir;
    const QString archive = dir.filePath(QStringLiteral("archive.gpkg"));
    if (!makeArchive(archive))
        return 1;

    std::vector<double> ratios;
    double tp = 0, to = 0;
    for (int run = 0; run < kRuns; ++run) {
        const QString pushed = cluster.createDatabase(QStringLiteral("push%1").arg(run));
        const QString copied = cluster.createDatabase(QStringLiteral("ogr%1").arg(run));
        if (pushed.isEmpty() || copied.isEmpty()) {
            std::fprintf(stderr, "postgis push: %s\n", cluster.error().toLocal8Bit().constData());
            return 1;
        }
        TeamResult result;
        QString error;
        auto t0 = Clock::now();
        if (!pushArchive(archive, pushed, &result, &error) ||
            result.points != qint64(kRecords) * kPointsPerRecord) {
            std::fprintf(stderr, "postgis push: %s (%lld points)\n",
                         error.toLocal8Bit().constData(), static_cast<long long>(result.points));
            return 1;
        }
        const double p = std::chrono::duration<double>(Clock::now() - t0).count();
        t0 = Clock::now();
        if (!ogr2ogr(copied, archive))
            return 1;
        const double o = std::chrono::duration<double>(Clock::now() - t0).count();
        ratios.push_back(p / o);
        tp += p;
        to += o;
    }
    std::printf("postgis push: ratio %.2f\n", median(ratios));
    std::printf("# postgis push: %d points in %d records, push %.2f s, ogr2ogr points %.2f s "
                "per run\n",
                kRecords * kPointsPerRecord, kRecords, tp / kRuns, to / kRuns);
    return 0;
}
