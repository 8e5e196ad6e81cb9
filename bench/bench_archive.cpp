// The archive against GDAL doing the same work bare.
//
// Prints:
//   "archive write: ratio <x>": archiving a 600 000-point download (10 000
//     records of 60 points, committed in batches as the window does) against
//     exporting the same points to a GeoPackage;
//   "archive open: ratio <x>": opening that download from an archive of ten
//     million points (a year of daily surveys) onto the map, first frame
//     drawn, against reading the same rows through GDAL in a bare loop;
//   "archive window: ratio <x>": the points of one day inside a 1 km box,
//     found through the indexes, against a scan of the whole layer.
// The year's archive is made once and kept in the build folder
// (ORVISK_BENCH_ARCHIVE names another place). Lines marked '#' give the times.
#include "orvisk.h"
#include "survey_archive.h"
#include "survey_export.h"

#include <gdal_priv.h>
#include <ogrsf_frmts.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kPointsPerRecord = 60;
constexpr int kBigRecords = 10000; // 600 000 points
constexpr int kDays = 365;
constexpr qint64 kYearPoints = 10'000'000;
constexpr int kBatch = 50;                  // records a window batch commits at once
constexpr uint32_t kYearStart = 1767225600; // 2026-01-01 UTC

double seconds(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// A day's walk: transects over a 2 km square near the sample map's land, a
// point a second, one record a minute.
std::vector<SurveyRecord> walk(int day, int records, uint32_t firstIndex)
{
    std::vector<SurveyRecord> out(std::size_t(records), SurveyRecord{});
    const double south = 57.40 + 0.002 * (day % 20), west = 24.60 + 0.003 * (day % 17);
    uint32_t seed = 7u + uint32_t(day);
    for (int r = 0; r < records; ++r) {
        SurveyRecord& record = out[std::size_t(r)];
        record.index = firstIndex + uint32_t(r);
        record.time = kYearStart + uint32_t(day) * 86400 + 8 * 3600 + uint32_t(r) * 60;
        record.points.resize(kPointsPerRecord);
        for (int p = 0; p < kPointsPerRecord; ++p) {
            const int step = r * kPointsPerRecord + p;
            seed = seed * 1103515245u + 12345u;
            SurveyPoint& point = record.points[std::size_t(p)];
            const int line = (step / 400) % 100;
            const int along = line % 2 ? 399 - step % 400 : step % 400;
            point.latitude = south + line * 0.00018;
            point.longitude = west + along * 0.00009 + ((seed >> 16) % 100) * 1e-7;
            point.altitude = 20.0f + float(seed % 50) / 10.0f;
            point.doseRate = 0.08f + float((seed >> 8) % 1000) / 10000.0f;
            point.time = record.time + uint32_t(p);
            point.cps = uint16_t(200 + seed % 100);
            point.satellites = uint8_t(6 + seed % 6);
            point.hdop10 = uint8_t(8 + seed % 20);
        }
        record.bytes.assign(3436, char(0));
        std::memcpy(record.bytes.data(), &record.index, sizeof record.index);
        std::memcpy(record.bytes.data() + 4, &record.time, sizeof record.time);
        std::memcpy(record.bytes.data() + 8, &day, sizeof day);
    }
    return out;
}

qint64 archiveWalk(SurveyArchive& archive, const std::vector<SurveyRecord>& records,
                   const QString& serial)
{
    DownloadInfo info;
    info.family = QStringLiteral("M30");
    info.serial = serial;
    info.listed = info.fetched = int(records.size());
    const qint64 id = archive.beginDownload(info);
    std::vector<SurveyArchive::Arrival> batch;
    for (std::size_t i = 0; i < records.size(); ++i) {
        batch.push_back({int(i), &records[i]});
        if (batch.size() == kBatch || i + 1 == records.size()) {
            if (!archive.addRecords(id, batch)) {
                std::fprintf(stderr, "archive: %s\n", qPrintable(archive.lastError()));
                return 0;
            }
            batch.clear();
        }
    }
    archive.finishDownload(id, info);
    return id;
}

std::vector<SurveyPoint> pointsOf(const std::vector<SurveyRecord>& records)
{
    std::vector<SurveyPoint> out;
    for (const SurveyRecord& r : records)
        out.insert(out.end(), r.points.begin(), r.points.end());
    return out;
}

// The year: the big download on day 200, the other days' surveys around it.
bool makeYear(const QString& path, qint64& bigId)
{
    for (const char* suffix : {"", "-wal", "-shm"})
        QFile::remove(path + QLatin1String(suffix));
    QString error;
    auto archive = SurveyArchive::open(path, &error);
    if (!archive) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return false;
    }
    const int perDay = int((kYearPoints - qint64(kBigRecords) * kPointsPerRecord) / (kDays - 1) /
                           kPointsPerRecord);
    uint32_t index = 1;
    for (int day = 0; day < kDays; ++day) {
        const int records = day == 200 ? kBigRecords : perDay;
        const std::vector<SurveyRecord> w = walk(day, records, index);
        index += uint32_t(records);
        const qint64 id = archiveWalk(*archive, w, QStringLiteral("C3000001"));
        if (id == 0)
            return false;
        if (day == 200)
            bigId = id;
    }
    return true;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
    QApplication app(argc, argv);
    GDALAllRegister();
    QTemporaryDir work;

    // Write: the same points archived and exported.
    const std::vector<SurveyRecord> big = walk(200, kBigRecords, 1);
    const std::vector<SurveyPoint> bigPoints = pointsOf(big);
    std::vector<double> writes, exports;
    for (int run = 0; run < 3; ++run) {
        const QString archivePath = work.filePath(QStringLiteral("write%1.gpkg").arg(run));
        auto start = Clock::now();
        {
            QString error;
            auto archive = SurveyArchive::open(archivePath, &error);
            if (!archive || archiveWalk(*archive, big, QStringLiteral("C3000001")) == 0) {
                std::fprintf(stderr, "archive write failed: %s\n", qPrintable(error));
                return 1;
            }
        }
        writes.push_back(seconds(start));
        const QString exportPath = work.filePath(QStringLiteral("export%1.gpkg").arg(run));
        start = Clock::now();
        QString error;
        if (!exportSurvey(exportPath, bigPoints, &error)) {
            std::fprintf(stderr, "export failed: %s\n", qPrintable(error));
            return 1;
        }
        exports.push_back(seconds(start));
        QFile::remove(archivePath);
        QFile::remove(exportPath);
    }
    std::printf("archive write: ratio %.2f\n", median(writes) / median(exports));
    std::printf("# archive write: %zu points, archived %.2f s, exported %.2f s (medians of 3)\n",
                bigPoints.size(), median(writes), median(exports));
    std::fflush(stdout);

    // The year's archive, made once.
    const QString yearPath =
        qEnvironmentVariableIsEmpty("ORVISK_BENCH_ARCHIVE")
            ? QDir::current().filePath(QStringLiteral("bench_archive_year.gpkg"))
            : qEnvironmentVariable("ORVISK_BENCH_ARCHIVE");
    qint64 bigId = 0;
    {
        QString error;
        auto archive = QFile::exists(yearPath) ? SurveyArchive::open(yearPath, &error) : nullptr;
        if (archive)
            for (const ArchivedDownload& d : archive->downloads())
                if (d.points == qint64(bigPoints.size()))
                    bigId = d.id;
    }
    if (bigId == 0) {
        const auto start = Clock::now();
        if (!makeYear(yearPath, bigId))
            return 1;
        std::printf("# made the year's archive (%s) in %.0f s\n", qPrintable(yearPath),
                    seconds(start));
    }

    // Open: onto the map, first frame drawn, against a bare GDAL read.
    std::vector<double> opens, bares;
    for (int run = 0; run < 3; ++run) {
        TOrvisk view;
        view.loadMapFolder(QStringLiteral(ORVISK_SOURCE_DIR "/maps/Korvenix/"));
        view.resize(1200, 800);
        view.show();
        app.processEvents();
        auto start = Clock::now();
        {
            QString error;
            auto archive = SurveyArchive::open(yearPath, &error);
            std::vector<SurveyPoint> points;
            if (!archive || !archive->points(bigId, points) || points.size() != bigPoints.size()) {
                std::fprintf(stderr, "archive open failed\n");
                return 1;
            }
            view.addTrackPoints(points);
            view.createScene(2);
            view.fitTrack();
            QImage frame(view.viewport()->size(), QImage::Format_ARGB32_Premultiplied);
            view.viewport()->render(&frame);
        }
        opens.push_back(seconds(start));

        start = Clock::now();
        {
            std::unique_ptr<GDALDataset> ds(static_cast<GDALDataset*>(GDALOpenEx(
                yearPath.toUtf8().constData(), GDAL_OF_VECTOR, nullptr, nullptr, nullptr)));
            const QByteArray sql =
                "SELECT p.geom, p.time, p.altitude, p.dose_rate, p.cps, p.satellites, p.hdop "
                "FROM download_records l JOIN points p ON p.record_id = l.record_id "
                "WHERE l.download_id = " +
                QByteArray::number(bigId) + " ORDER BY l.position, p.id";
            OGRLayer* rows = ds->ExecuteSQL(sql.constData(), nullptr, nullptr);
            double sink = 0;
            int year, month, dayOfMonth, hour, minute, tz;
            float second;
            for (auto& f : *rows) {
                const auto* p = f->GetGeometryRef()->toPoint();
                f->GetFieldAsDateTime(0, &year, &month, &dayOfMonth, &hour, &minute, &second, &tz);
                sink += p->getX() + p->getY() + f->GetFieldAsDouble(1) + f->GetFieldAsDouble(2) +
                        f->GetFieldAsInteger(3) + f->GetFieldAsInteger(4) + f->GetFieldAsDouble(5) +
                        second;
            }
            ds->ReleaseResultSet(rows);
            if (sink == 0)
                std::fprintf(stderr, "#\n");
        }
        bares.push_back(seconds(start));
    }
    std::printf("archive open: ratio %.2f\n", median(opens) / median(bares));
    std::printf("# archive open: %zu points, onto the map and drawn %.2f s, bare GDAL read "
                "%.2f s (medians of 3)\n",
                bigPoints.size(), median(opens), median(bares));
    std::fflush(stdout);

    // Window: one day, a 1 km box, through the indexes against a full scan.
    {
        std::unique_ptr<GDALDataset> ds(static_cast<GDALDataset*>(
            GDALOpenEx(yearPath.toUtf8().constData(), GDAL_OF_VECTOR, nullptr, nullptr, nullptr)));
        const int day = 100;
        const double south = 57.40 + 0.002 * (day % 20), west = 24.60 + 0.003 * (day % 17);
        const double boxLat = 0.009, boxLon = 0.0167; // about 1 km either way there
        const QDateTime from = QDateTime::fromSecsSinceEpoch(kYearStart + day * 86400, Qt::UTC);
        std::vector<double> indexed, scanned;
        qint64 foundIndexed = 0, foundScanned = 0;
        QString error;
        auto archive = SurveyArchive::open(yearPath, &error);
        for (int run = 0; run < 5; ++run) {
            std::vector<SurveyPoint> found;
            auto start = Clock::now();
            archive->pointsWithin(west, south, west + boxLon, south + boxLat, from, from.addDays(1),
                                  found);
            indexed.push_back(seconds(start));
            foundIndexed = qint64(found.size());
        }
        OGRLayer* points = ds->GetLayerByName("points");
        const qint64 t0 = kYearStart + day * 86400, t1 = t0 + 86400;
        for (int run = 0; run < 1; ++run) {
            auto start = Clock::now();
            foundScanned = 0;
            points->ResetReading();
            int y, mo, d, h, mi, tz;
            float s;
            for (auto& f : *points) {
                const auto* p = f->GetGeometryRef()->toPoint();
                if (p->getX() < west || p->getX() > west + boxLon || p->getY() < south ||
                    p->getY() > south + boxLat)
                    continue;
                f->GetFieldAsDateTime(1, &y, &mo, &d, &h, &mi, &s, &tz);
                const qint64 t =
                    QDateTime(QDate(y, mo, d), QTime(h, mi, int(s)), Qt::UTC).toSecsSinceEpoch();
                foundScanned += t >= t0 && t < t1;
            }
            scanned.push_back(seconds(start));
        }
        if (foundIndexed != foundScanned)
            std::fprintf(stderr,
                         "archive window: %lld points through the indexes, %lld by the "
                         "scan\n",
                         static_cast<long long>(foundIndexed),
                         static_cast<long long>(foundScanned));
        std::printf("archive window: ratio %.4f\n", median(indexed) / median(scanned));
        std::printf("# archive window: %lld points of one day in a 1 km box: indexes %.1f ms "
                    "(median of 5), scan of the layer %.1f s\n",
                    static_cast<long long>(foundIndexed), median(indexed) * 1e3, median(scanned));
    }
    return 0;
}
