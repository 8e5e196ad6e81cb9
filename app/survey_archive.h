// The archive: every survey download kept in one GeoPackage, written through
// GDAL as it arrives, so that a crash or a lost link keeps what was fetched.
//
// Layout (the team database has the same tables):
//   orvisk_archive   key, value: "schema_version" and the writer's version
//   downloads        one row per download: uuid (the download's identity
//                    wherever it is copied), family, serial, versions (the
//                    instrument's own versions record, raw), connection,
//                    downloaded (UTC), period_from (null: every record),
//                    listed, fetched, missing, missing_indices (space
//                    separated), orvisk_version, and the summary kept up to
//                    date as records arrive: points, first_time, last_time,
//                    max_dose_rate
//   records          every record as the instrument sent it: serial,
//                    record_index, record_time, sha256 (hex), bytes; unique
//                    on (serial, record_index, record_time, sha256)
//   download_records download_id, record_id, position (0 = newest)
//   points           point layer in WGS 84: record_id, time, altitude,
//                    dose_rate (uSv/h), cps, satellites, hdop; spatial index,
//                    indexes on time and record_id
// A record downloaded twice is stored once, with its points; both downloads
// link to it.
#pragma once

#include <survey_checks.h>
#include <survey_point.h>
#include <survey_record.h>

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

class GDALDataset;
class OGRFeature;
class OGRLayer;

// What is known of a download when it starts; the counts follow.
struct DownloadInfo
{
    QString uuid; // made when empty
    QString family;
    QString serial;
    QByteArray versions; // what the instrument reported about itself
    QString connection;
    QDateTime downloaded; // UTC
    QDateTime periodFrom; // invalid: every record
    int listed = 0, fetched = 0, missing = 0;
    std::vector<uint32_t> missingIndices;
    QString orviskVersion;
};

// A download as the archive lists it.
struct ArchivedDownload
{
    qint64 id = 0;
    DownloadInfo info;
    qint64 points = 0;
    QDateTime firstTime, lastTime; // of its points; invalid without points
    double maxDoseRate = 0;        // uSv/h; NaN without a known rate
};

class SurveyArchive
{
public:
    static constexpr int kSchemaVersion = 1;

    // The archive's file: ORVISK_ARCHIVE, else the "archive" setting, else
    // "archive.gpkg" in the user's data folder.
    static QString defaultPath();
    // archive.gpkg in the user's data folder.
    static QString dataFolderPath();

    // Opens the archive, creating it (and its folder) when missing. None
    // with a message for a file that is not an archive, is damaged, locked,
    // unwritable or of a newer schema (never rewritten).
    static std::unique_ptr<SurveyArchive> open(const QString& path, QString* error);
    ~SurveyArchive();
    SurveyArchive(const SurveyArchive&) = delete;
    SurveyArchive& operator=(const SurveyArchive&) = delete;

    const QString& path() const { return m_path; }
    const QString& lastError() const { return m_error; }

    // A download's row; its id, or 0 with lastError().
    qint64 beginDownload(DownloadInfo& info);
    // Records as they arrive, in one transaction: the bytes as sent, and the
    // points decoded from them. `position` counts from the newest record.
    struct Arrival
    {
        int position = 0;
        const SurveyRecord* record = nullptr;
    };
    bool addRecords(qint64 download, const std::vector<Arrival>& records);
    // The counts once the download has ended.
    bool finishDownload(qint64 download, const DownloadInfo& info);

    std::vector<ArchivedDownload> downloads();
    std::optional<ArchivedDownload> download(qint64 id);
    std::optional<ArchivedDownload> downloadByUuid(const QString& uuid);
    // The points of a download as it was drawn: newest record first, each
    // record's points in its order.
    bool points(qint64 download, std::vector<SurveyPoint>& out);
    // Every archived point inside a box of longitudes and latitudes and,
    // when `from` and `to` are valid, in [from, to), oldest first: through
    // the index on time, or the spatial index without a period.
    bool pointsWithin(double west, double south, double east, double north, const QDateTime& from,
                      const QDateTime& to, std::vector<SurveyPoint>& out);
    // A download's records, newest first: index, time and bytes as sent.
    struct StoredRecord
    {
        uint32_t index = 0;
        QDateTime time;
        QByteArray sha256, bytes;
    };
    bool records(qint64 download, std::vector<StoredRecord>& out);
    // Where each record's points lie among points() of the download, with
    // the record's time, appended to `out` with `first` counted from `offset`.
    // An imported file has none: its one record is not the instrument's.
    bool recordSpans(qint64 download, std::size_t offset, std::vector<RecordSpan>& out);
    // Removes the download; its records and points go when no other
    // download links to them.
    bool remove(qint64 download);

    // A file's points as a download of its own (family "file", connection
    // the file's path, the file's bytes its one record); its id, or 0 with
    // lastError(). A file imported before gives minus its download's id.
    qint64 importPoints(const QString& source, const QByteArray& fileBytes,
                        const std::vector<SurveyPoint>& points);

    GDALDataset* dataset() const { return m_dataset; }

private:
    struct Writing;
    SurveyArchive() = default;
    bool create();
    bool makeTables();
    bool openExisting();
    bool tune();
    bool exec(const QByteArray& sql);
    bool fail(const QString& text);
    bool begin();
    bool commit();
    bool rollback(const QString& why = {});
    static void fillDownload(OGRFeature& row, const DownloadInfo& info);
    static ArchivedDownload downloadOf(OGRFeature& row);
    bool findKnown(const std::vector<Arrival>& arrivals);
    bool readPoints(const QByteArray& sql, std::vector<SurveyPoint>& out);
    qint64 storeRecord(const Arrival& arrival, bool& added);
    bool addPoints(qint64 record, const std::vector<SurveyPoint>& points);
    void summarise(const std::vector<SurveyPoint>& points);
    bool updateSummary();

    QString m_path, m_error;
    GDALDataset* m_dataset = nullptr;
    OGRLayer *m_downloads = nullptr, *m_records = nullptr, *m_links = nullptr, *m_points = nullptr;
    std::unique_ptr<Writing> m_writing; // the download being written
};
