#include "survey_archive.h"

#include "gdal_rows.h"

#include <orvisk_identity.h>

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <QUuid>

#include <cpl_conv.h>
#include <cpl_error.h>
#include <gdal_priv.h>
#include <ogrsf_frmts.h>

#include <cmath>
#include <limits>
#include <map>
#include <tuple>

namespace {

using gdal::Feature;
using gdal::Rows;

// Seconds since 1970 UTC of a date-time field, or -1 when it is null.
qint64 timeOf(OGRFeature& feature, int field)
{
    return gdal::utcSeconds(feature, field).value_or(-1);
}

QByteArray quoted(const QString& text)
{
    return gdal::quoted(text.toUtf8());
}

QString gdalMessage()
{
    return gdal::lastMessage();
}

constexpr double kUnknown = std::numeric_limits<double>::quiet_NaN();

void setTime(OGRFeature& feature, int field, qint64 seconds)
{
    const time_t t = static_cast<time_t>(seconds);
    std::tm tm{};
    gmtime_r(&t, &tm);
    feature.SetField(field, tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min,
                     static_cast<float>(tm.tm_sec), 100);
}

void setTime(OGRFeature& feature, int field, const QDateTime& time)
{
    if (time.isValid())
        setTime(feature, field, time.toSecsSinceEpoch());
    else
        feature.SetFieldNull(field);
}

QDateTime dateTimeOf(OGRFeature& feature, int field)
{
    const qint64 t = timeOf(feature, field);
    return t < 0 ? QDateTime() : QDateTime::fromSecsSinceEpoch(t, Qt::UTC);
}

QString text(OGRFeature& feature, const char* field)
{
    return QString::fromUtf8(feature.GetFieldAsString(field));
}

std::vector<uint32_t> indicesOf(const QString& text)
{
    std::vector<uint32_t> out;
    for (const QString& part : text.split(QLatin1Char(' '), Qt::SkipEmptyParts))
        out.push_back(part.toUInt());
    return out;
}

QString indicesText(const std::vector<uint32_t>& indices)
{
    QStringList parts;
    parts.reserve(int(indices.size()));
    for (uint32_t i : indices)
        parts << QString::number(i);
    return parts.join(QLatin1Char(' '));
}

struct FieldSpec
{
    const char* name;
    OGRFieldType type;
};

const FieldSpec downloadFields[] = {
    {"uuid", OFTString},          {"family", OFTString},          {"serial", OFTString},
    {"versions", OFTBinary},      {"connection", OFTString},      {"downloaded", OFTDateTime},
    {"period_from", OFTDateTime}, {"listed", OFTInteger},         {"fetched", OFTInteger},
    {"missing", OFTInteger},      {"missing_indices", OFTString}, {"orvisk_version", OFTString},
    {"points", OFTInteger64},     {"first_time", OFTDateTime},    {"last_time", OFTDateTime},
    {"max_dose_rate", OFTReal},
};
const FieldSpec recordFields[] = {
    {"serial", OFTString}, {"record_index", OFTInteger64}, {"record_time", OFTDateTime},
    {"sha256", OFTString}, {"bytes", OFTBinary},
};
const FieldSpec linkFields[] = {
    {"download_id", OFTInteger64}, {"record_id", OFTInteger64}, {"position", OFTInteger}};
const FieldSpec pointFields[] = {
    {"record_id", OFTInteger64}, {"time", OFTDateTime}, {"altitude", OFTReal},
    {"dose_rate", OFTReal},      {"cps", OFTInteger},   {"satellites", OFTInteger},
    {"hdop", OFTReal},
};

template <std::size_t N> bool addFields(OGRLayer* layer, const FieldSpec (&fields)[N])
{
    for (const FieldSpec& spec : fields) {
        OGRFieldDefn field(spec.name, spec.type);
        if (layer->CreateField(&field) != OGRERR_NONE)
            return false;
    }
    return true;
}

const char* const kIndexes[] = {
    "CREATE UNIQUE INDEX downloads_uuid ON downloads(uuid)",
    "CREATE UNIQUE INDEX records_key ON records(serial, record_index, record_time, sha256)",
    "CREATE INDEX download_records_download ON download_records(download_id, position)",
    "CREATE INDEX download_records_record ON download_records(record_id)",
    "CREATE INDEX points_time ON points(time)",
    "CREATE INDEX points_record ON points(record_id)",
};

} // namespace

using RecordKey = std::tuple<uint32_t, qint64, QByteArray>; // index, time, SHA-256

// What the archive holds in memory while a download is written: its
// instrument's serial, the records of the batch under way that the archive
// has already, by their key, and the download's summary.
struct SurveyArchive::Writing
{
    qint64 download = 0;
    QByteArray serial;
    std::map<RecordKey, qint64> known;
    qint64 points = 0;
    qint64 first = -1, last = -1;
    double maxDoseRate = kUnknown;
};

QString SurveyArchive::defaultPath()
{
    const QByteArray fromEnvironment = qgetenv("ORVISK_ARCHIVE");
    if (!fromEnvironment.isEmpty())
        return QString::fromLocal8Bit(fromEnvironment);
    const QString fromSettings = QSettings().value(QStringLiteral("archive")).toString();
    if (!fromSettings.isEmpty())
        return fromSettings;
    return dataFolderPath();
}

QString SurveyArchive::dataFolderPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) +
           QStringLiteral("/archive.gpkg");
}

std::unique_ptr<SurveyArchive> SurveyArchive::open(const QString& path, QString* error)
{
    std::unique_ptr<SurveyArchive> archive(new SurveyArchive);
    archive->m_path = path;
    GDALAllRegister();
    CPLErrorReset();
    const QFileInfo info(path);
    const bool ok = info.exists() ? archive->openExisting() : archive->create();
    if (!ok) {
        if (error)
            *error = archive->m_error;
        return nullptr;
    }
    return archive;
}

SurveyArchive::~SurveyArchive()
{
    if (m_dataset)
        GDALClose(m_dataset);
}

bool SurveyArchive::fail(const QString& text)
{
    m_error = QStringLiteral("%1: %2").arg(m_path, text);
    return false;
}

bool SurveyArchive::exec(const QByteArray& sql)
{
    return gdal::exec(m_dataset, sql) || fail(gdalMessage());
}

// Waits a little for another program that is writing, and keeps writes
// durable without a sync per transaction: a crash loses at most the
// transaction under way, never what was committed before it.
bool SurveyArchive::tune()
{
    // A year's points make indexes of hundreds of megabytes: a larger page
    // cache keeps the paths a batch of inserts walks in memory.
    return exec("PRAGMA busy_timeout = 3000") && exec("PRAGMA journal_mode = WAL") &&
           exec("PRAGMA synchronous = NORMAL") && exec("PRAGMA cache_size = -65536");
}

bool SurveyArchive::create()
{
    const QString folder = QFileInfo(m_path).absolutePath();
    if (!QDir().mkpath(folder))
        return fail(QStringLiteral("the folder %1 cannot be made").arg(folder));
    GDALDriver* driver = GetGDALDriverManager()->GetDriverByName("GPKG");
    if (!driver)
        return fail(QStringLiteral("GDAL has no GeoPackage driver"));
    // Made under another name and renamed when whole, so that a failure
    // leaves no half-made archive that the next start would refuse.
    const QString making = m_path + QStringLiteral(".making.gpkg");
    // SQLite's journal files left by a removed archive would be taken for
    // the new one's.
    for (const QString& stale :
         {making, making + QStringLiteral("-wal"), making + QStringLiteral("-shm"),
          m_path + QStringLiteral("-wal"), m_path + QStringLiteral("-shm")})
        QFile::remove(stale);
    m_dataset = driver->Create(making.toUtf8().constData(), 0, 0, 0, GDT_Unknown, nullptr);
    if (!m_dataset)
        return fail(gdalMessage());
    const bool made = makeTables();
    GDALClose(m_dataset);
    m_dataset = nullptr;
    if (!made || !QFile::rename(making, m_path)) {
        QFile::remove(making);
        return made ? fail(QStringLiteral("cannot be written")) : false;
    }
    return openExisting();
}

bool SurveyArchive::makeTables()
{
    const char* const fid[] = {"FID=id", nullptr};
    OGRLayer* meta =
        m_dataset->CreateLayer("orvisk_archive", nullptr, wkbNone, const_cast<char**>(fid));
    OGRLayer* downloads =
        m_dataset->CreateLayer("downloads", nullptr, wkbNone, const_cast<char**>(fid));
    OGRLayer* records =
        m_dataset->CreateLayer("records", nullptr, wkbNone, const_cast<char**>(fid));
    OGRLayer* links =
        m_dataset->CreateLayer("download_records", nullptr, wkbNone, const_cast<char**>(fid));
    OGRSpatialReference wgs84;
    wgs84.SetWellKnownGeogCS("WGS84");
    wgs84.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    const char* const pointOptions[] = {"FID=id", "GEOMETRY_NAME=geom", "SPATIAL_INDEX=YES",
                                        nullptr};
    OGRLayer* points =
        m_dataset->CreateLayer("points", &wgs84, wkbPoint, const_cast<char**>(pointOptions));
    if (!meta || !downloads || !records || !links || !points)
        return fail(gdalMessage());
    OGRFieldDefn key("key", OFTString), value("value", OFTString);
    if (meta->CreateField(&key) != OGRERR_NONE || meta->CreateField(&value) != OGRERR_NONE ||
        !addFields(downloads, downloadFields) || !addFields(records, recordFields) ||
        !addFields(links, linkFields) || !addFields(points, pointFields))
        return fail(gdalMessage());
    for (const char* sql : kIndexes)
        if (!exec(sql))
            return false;
    return exec("INSERT INTO orvisk_archive(key, value) VALUES ('schema_version', '" +
                QByteArray::number(kSchemaVersion) + "'), ('created_by', 'Orvisk " +
                QByteArray(orviskVersion()) + "')");
}

bool SurveyArchive::openExisting()
{
    const QFileInfo info(m_path);
    if (info.isDir())
        return fail(QStringLiteral("is a folder, not an archive"));
    if (!info.isReadable())
        return fail(QStringLiteral("cannot be read"));
    if (!info.isWritable())
        return fail(QStringLiteral("cannot be written (read-only)"));
    const char* const drivers[] = {"GPKG", nullptr};
    CPLErrorReset();
    m_dataset = static_cast<GDALDataset*>(GDALOpenEx(
        m_path.toUtf8().constData(), GDAL_OF_VECTOR | GDAL_OF_UPDATE, drivers, nullptr, nullptr));
    if (!m_dataset)
        return fail(QStringLiteral("not an archive, or damaged: %1").arg(gdalMessage()));
    OGRLayer* meta = m_dataset->GetLayerByName("orvisk_archive");
    if (!meta)
        return fail(QStringLiteral("not an Orvisk archive"));
    int version = 0;
    meta->SetAttributeFilter("key = 'schema_version'");
    if (Feature f{meta->GetNextFeature()})
        version = f->GetFieldAsInteger("value");
    meta->SetAttributeFilter(nullptr);
    if (version > kSchemaVersion)
        return fail(QStringLiteral("was written by a newer Orvisk (archive version %1; this one "
                                   "reads up to %2) and is left as it is")
                        .arg(version)
                        .arg(kSchemaVersion));
    for (const char* table : {"downloads", "records", "download_records", "points"})
        if (!m_dataset->GetLayerByName(table))
            return fail(
                QStringLiteral("damaged: the table %1 is missing").arg(QLatin1String(table)));
    if (version < 1)
        return fail(QStringLiteral("not an Orvisk archive"));
    // A damaged file may open and still fail on its first read.
    if (!exec("SELECT COUNT(*) FROM downloads") || !tune())
        return fail(QStringLiteral("damaged or locked: %1").arg(m_error));
    m_downloads = m_dataset->GetLayerByName("downloads");
    m_records = m_dataset->GetLayerByName("records");
    m_links = m_dataset->GetLayerByName("download_records");
    m_points = m_dataset->GetLayerByName("points");
    return true;
}

bool SurveyArchive::begin()
{
    CPLErrorReset();
    if (m_dataset->StartTransaction() != OGRERR_NONE)
        return fail(QStringLiteral("cannot be written: %1").arg(gdalMessage()));
    return true;
}

bool SurveyArchive::commit()
{
    CPLErrorReset();
    if (m_dataset->CommitTransaction() != OGRERR_NONE || CPLGetLastErrorType() >= CE_Failure) {
        const QString message = gdalMessage();
        m_dataset->RollbackTransaction();
        return fail(QStringLiteral("cannot be written: %1").arg(message));
    }
    return true;
}

bool SurveyArchive::rollback(const QString& why)
{
    const QString message = why.isEmpty() ? gdalMessage() : why;
    m_dataset->RollbackTransaction();
    return fail(QStringLiteral("cannot be written: %1").arg(message));
}

qint64 SurveyArchive::beginDownload(DownloadInfo& info)
{
    if (info.uuid.isEmpty())
        info.uuid = QUuid::createUuid().toString(QUuid::WithoutBraces);
    if (info.orviskVersion.isEmpty())
        info.orviskVersion = QString::fromLatin1(orviskVersion());
    if (!info.downloaded.isValid())
        info.downloaded = QDateTime::currentDateTimeUtc();
    if (!begin())
        return 0;
    Feature row(OGRFeature::CreateFeature(m_downloads->GetLayerDefn()));
    fillDownload(*row, info);
    if (m_downloads->CreateFeature(row.get()) != OGRERR_NONE) {
        rollback();
        return 0;
    }
    if (!commit())
        return 0;
    m_writing = std::make_unique<Writing>();
    m_writing->download = row->GetFID();
    m_writing->serial = info.serial.toUtf8();
    return m_writing->download;
}

// The records of the batch that the archive holds already, in one query
// through the records' key index.
bool SurveyArchive::findKnown(const std::vector<Arrival>& arrivals)
{
    QByteArray indices;
    for (const Arrival& a : arrivals)
        indices += (indices.isEmpty() ? "" : ",") + QByteArray::number(a.record->index);
    m_writing->known.clear();
    Rows known(m_dataset, "SELECT id, record_index, record_time, sha256 FROM records "
                          "WHERE serial = " +
                              quoted(QString::fromUtf8(m_writing->serial)) +
                              " AND record_index IN (" + indices + ")");
    if (!known.ok())
        return fail(gdalMessage());
    // The table's key column comes back as each row's FID, not as a field.
    while (Feature f = known.next())
        m_writing->known.emplace(RecordKey(uint32_t(f->GetFieldAsInteger64("record_index")),
                                           timeOf(*f, f->GetFieldIndex("record_time")),
                                           QByteArray(f->GetFieldAsString("sha256"))),
                                 f->GetFID());
    return true;
}

void SurveyArchive::fillDownload(OGRFeature& row, const DownloadInfo& info)
{
    row.SetField("uuid", info.uuid.toUtf8().constData());
    row.SetField("family", info.family.toUtf8().constData());
    row.SetField("serial", info.serial.toUtf8().constData());
    if (info.versions.isEmpty())
        row.SetFieldNull(row.GetFieldIndex("versions"));
    else
        row.SetField(row.GetFieldIndex("versions"), info.versions.size(),
                     reinterpret_cast<const GByte*>(info.versions.constData()));
    row.SetField("connection", info.connection.toUtf8().constData());
    setTime(row, row.GetFieldIndex("downloaded"), info.downloaded);
    setTime(row, row.GetFieldIndex("period_from"), info.periodFrom);
    row.SetField("listed", info.listed);
    row.SetField("fetched", info.fetched);
    row.SetField("missing", info.missing);
    row.SetField("missing_indices", indicesText(info.missingIndices).toUtf8().constData());
    row.SetField("orvisk_version", info.orviskVersion.toUtf8().constData());
}

qint64 SurveyArchive::storeRecord(const Arrival& arrival, bool& added)
{
    const SurveyRecord& record = *arrival.record;
    const QByteArray bytes = QByteArray::fromRawData(record.bytes.data(), int(record.bytes.size()));
    const QByteArray sha = QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
    const RecordKey key(record.index, qint64(record.time), sha);
    if (const auto known = m_writing->known.find(key); known != m_writing->known.end()) {
        added = false;
        return known->second;
    }
    Feature row(OGRFeature::CreateFeature(m_records->GetLayerDefn()));
    row->SetField(0, m_writing->serial.constData());
    row->SetField(1, GIntBig(record.index));
    setTime(*row, 2, qint64(record.time));
    row->SetField(3, sha.constData());
    row->SetField(4, bytes.size(), reinterpret_cast<const GByte*>(bytes.constData()));
    if (m_records->CreateFeature(row.get()) != OGRERR_NONE)
        return 0;
    added = true;
    m_writing->known.emplace(key, row->GetFID()); // sent twice in one batch
    return row->GetFID();
}

bool SurveyArchive::addPoints(qint64 record, const std::vector<SurveyPoint>& points)
{
    Feature row(OGRFeature::CreateFeature(m_points->GetLayerDefn()));
    OGRPoint place;
    for (const SurveyPoint& p : points) {
        place.setX(p.longitude);
        place.setY(p.latitude);
        row->SetGeometry(&place);
        row->SetFID(OGRNullFID);
        row->SetField(0, GIntBig(record));
        setTime(*row, 1, qint64(p.time));
        if (p.hasAltitude())
            row->SetField(2, double(p.altitude));
        else
            row->SetFieldNull(2);
        if (p.hasDoseRate())
            row->SetField(3, double(p.doseRate));
        else
            row->SetFieldNull(3);
        row->SetField(4, int(p.cps));
        row->SetField(5, int(p.satellites));
        row->SetField(6, p.hdop10 / 10.0);
        if (m_points->CreateFeature(row.get()) != OGRERR_NONE)
            return false;
    }
    return true;
}

bool SurveyArchive::addRecords(qint64 download, const std::vector<Arrival>& arrivals)
{
    if (!m_writing || m_writing->download != download)
        return fail(QStringLiteral("the download %1 is not being written").arg(download));
    if (arrivals.empty())
        return true;
    const Writing& w = *m_writing;
    const auto summary = std::make_tuple(w.points, w.first, w.last, w.maxDoseRate);
    auto restore = [this, summary] {
        std::tie(m_writing->points, m_writing->first, m_writing->last, m_writing->maxDoseRate) =
            summary;
    };
    if (!begin())
        return false;
    if (!findKnown(arrivals)) {
        const QString message = m_error;
        m_dataset->RollbackTransaction();
        m_error = message;
        return false;
    }
    Feature link(OGRFeature::CreateFeature(m_links->GetLayerDefn()));
    for (const Arrival& arrival : arrivals) {
        bool added = false;
        const qint64 record = storeRecord(arrival, added);
        bool ok = record > 0;
        if (ok) {
            link->SetFID(OGRNullFID);
            link->SetField(0, GIntBig(download));
            link->SetField(1, GIntBig(record));
            link->SetField(2, arrival.position);
            ok = m_links->CreateFeature(link.get()) == OGRERR_NONE;
        }
        if (ok && added)
            ok = addPoints(record, arrival.record->points);
        if (!ok) {
            restore();
            return rollback();
        }
        summarise(arrival.record->points);
    }
    if (!updateSummary() || !commit()) {
        restore();
        return false;
    }
    return true;
}

void SurveyArchive::summarise(const std::vector<SurveyPoint>& points)
{
    Writing& w = *m_writing;
    for (const SurveyPoint& p : points) {
        ++w.points;
        w.first = w.first < 0 ? p.time : std::min<qint64>(w.first, p.time);
        w.last = std::max<qint64>(w.last, p.time);
        if (p.hasDoseRate() && !(double(p.doseRate) <= w.maxDoseRate))
            w.maxDoseRate = p.doseRate;
    }
}

bool SurveyArchive::updateSummary()
{
    Feature row(m_downloads->GetFeature(m_writing->download));
    if (!row)
        return rollback(QStringLiteral("the download's row is gone"));
    row->SetField("points", GIntBig(m_writing->points));
    if (m_writing->first >= 0) {
        setTime(*row, row->GetFieldIndex("first_time"), m_writing->first);
        setTime(*row, row->GetFieldIndex("last_time"), m_writing->last);
    }
    if (std::isnan(m_writing->maxDoseRate))
        row->SetFieldNull(row->GetFieldIndex("max_dose_rate"));
    else
        row->SetField("max_dose_rate", m_writing->maxDoseRate);
    if (m_downloads->SetFeature(row.get()) != OGRERR_NONE)
        return rollback();
    return true;
}

bool SurveyArchive::finishDownload(qint64 download, const DownloadInfo& info)
{
    Feature row(m_downloads->GetFeature(download));
    if (!row)
        return fail(QStringLiteral("no download %1").arg(download));
    if (!begin())
        return false;
    fillDownload(*row, info);
    if (m_downloads->SetFeature(row.get()) != OGRERR_NONE)
        return rollback();
    if (!commit())
        return false;
    if (m_writing && m_writing->download == download)
        m_writing.reset();
    return true;
}

ArchivedDownload SurveyArchive::downloadOf(OGRFeature& row)
{
    ArchivedDownload d;
    d.id = row.GetFID();
    DownloadInfo& i = d.info;
    i.uuid = text(row, "uuid");
    i.family = text(row, "family");
    i.serial = text(row, "serial");
    int size = 0;
    const GByte* versions = row.GetFieldAsBinary(row.GetFieldIndex("versions"), &size);
    i.versions = QByteArray(reinterpret_cast<const char*>(versions), size);
    i.connection = text(row, "connection");
    i.downloaded = dateTimeOf(row, row.GetFieldIndex("downloaded"));
    i.periodFrom = dateTimeOf(row, row.GetFieldIndex("period_from"));
    i.listed = row.GetFieldAsInteger("listed");
    i.fetched = row.GetFieldAsInteger("fetched");
    i.missing = row.GetFieldAsInteger("missing");
    i.missingIndices = indicesOf(text(row, "missing_indices"));
    i.orviskVersion = text(row, "orvisk_version");
    d.points = row.GetFieldAsInteger64("points");
    d.firstTime = dateTimeOf(row, row.GetFieldIndex("first_time"));
    d.lastTime = dateTimeOf(row, row.GetFieldIndex("last_time"));
    const int dose = row.GetFieldIndex("max_dose_rate");
    d.maxDoseRate = row.IsFieldSetAndNotNull(dose) ? row.GetFieldAsDouble(dose) : kUnknown;
    return d;
}

std::vector<ArchivedDownload> SurveyArchive::downloads()
{
    std::vector<ArchivedDownload> out;
    m_downloads->SetAttributeFilter(nullptr);
    m_downloads->ResetReading();
    while (Feature row{m_downloads->GetNextFeature()})
        out.push_back(downloadOf(*row));
    return out;
}

std::optional<ArchivedDownload> SurveyArchive::download(qint64 id)
{
    if (Feature row{m_downloads->GetFeature(id)})
        return downloadOf(*row);
    return std::nullopt;
}

std::optional<ArchivedDownload> SurveyArchive::downloadByUuid(const QString& uuid)
{
    m_downloads->SetAttributeFilter(("uuid = " + quoted(uuid)).constData());
    m_downloads->ResetReading();
    Feature row{m_downloads->GetNextFeature()};
    m_downloads->SetAttributeFilter(nullptr);
    if (row)
        return downloadOf(*row);
    return std::nullopt;
}

// The columns every point query selects, in this order.
constexpr char kPointColumns[] = "p.geom, p.time, p.altitude, p.dose_rate, p.cps, p.satellites, "
                                 "p.hdop";

bool SurveyArchive::readPoints(const QByteArray& sql, std::vector<SurveyPoint>& out)
{
    Rows query(m_dataset, sql);
    if (!query.ok())
        return fail(gdalMessage());
    while (Feature f = query.next()) {
        const auto* place = dynamic_cast<const OGRPoint*>(f->GetGeometryRef());
        if (!place)
            continue;
        SurveyPoint p;
        p.longitude = place->getX();
        p.latitude = place->getY();
        p.time = uint32_t(std::max<qint64>(timeOf(*f, 0), 0));
        if (f->IsFieldSetAndNotNull(1))
            p.altitude = float(f->GetFieldAsDouble(1));
        if (f->IsFieldSetAndNotNull(2))
            p.doseRate = float(f->GetFieldAsDouble(2));
        p.cps = uint16_t(f->GetFieldAsInteger(3));
        p.satellites = uint8_t(f->GetFieldAsInteger(4));
        p.hdop10 = uint8_t(std::lround(f->GetFieldAsDouble(5) * 10));
        out.push_back(p);
    }
    return true;
}

bool SurveyArchive::points(qint64 download, std::vector<SurveyPoint>& out)
{
    return readPoints(QByteArray("SELECT ") + kPointColumns +
                          " FROM download_records l JOIN points p ON p.record_id = l.record_id "
                          "WHERE l.download_id = " +
                          QByteArray::number(download) + " ORDER BY l.position, p.id",
                      out);
}

bool SurveyArchive::pointsWithin(double west, double south, double east, double north,
                                 const QDateTime& from, const QDateTime& to,
                                 std::vector<SurveyPoint>& out)
{
    const QByteArray box = QByteArray("ST_MaxX(p.geom) >= ") + QByteArray::number(west, 'g', 17) +
                           " AND ST_MinX(p.geom) <= " + QByteArray::number(east, 'g', 17) +
                           " AND ST_MaxY(p.geom) >= " + QByteArray::number(south, 'g', 17) +
                           " AND ST_MinY(p.geom) <= " + QByteArray::number(north, 'g', 17);
    if (from.isValid() && to.isValid()) {
        // A period of a survey's length is narrower than any box: its index
        // leads, and each of its points is tested against the box.
        auto text = [](const QDateTime& t) {
            return t.toUTC().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzzZ")).toLatin1();
        };
        return readPoints(QByteArray("SELECT ") + kPointColumns +
                              " FROM points p WHERE p.time >= '" + text(from) + "' AND p.time < '" +
                              text(to) + "' AND " + box + " ORDER BY p.time",
                          out);
    }
    return readPoints(QByteArray("SELECT ") + kPointColumns +
                          " FROM points p WHERE p.id IN (SELECT id FROM rtree_points_geom WHERE "
                          "maxx >= " +
                          QByteArray::number(west, 'g', 17) +
                          " AND minx <= " + QByteArray::number(east, 'g', 17) +
                          " AND maxy >= " + QByteArray::number(south, 'g', 17) + " AND miny <= " +
                          QByteArray::number(north, 'g', 17) + ") AND " + box + " ORDER BY p.time",
                      out);
}

bool SurveyArchive::records(qint64 download, std::vector<StoredRecord>& out)
{
    Rows query(m_dataset, "SELECT r.record_index, r.record_time, r.sha256, r.bytes FROM "
                          "download_records l JOIN records r ON r.id = l.record_id WHERE "
                          "l.download_id = " +
                              QByteArray::number(download) + " ORDER BY l.position");
    if (!query.ok())
        return fail(gdalMessage());
    while (Feature f = query.next()) {
        StoredRecord r;
        r.index = uint32_t(f->GetFieldAsInteger64(0));
        r.time = dateTimeOf(*f, 1);
        r.sha256 = f->GetFieldAsString(2);
        int size = 0;
        const GByte* bytes = f->GetFieldAsBinary(3, &size);
        r.bytes = QByteArray(reinterpret_cast<const char*>(bytes), size);
        out.push_back(std::move(r));
    }
    return true;
}

bool SurveyArchive::recordSpans(qint64 download, std::size_t offset, std::vector<RecordSpan>& out)
{
    // An imported file is kept as one record, but the instrument did not
    // record it so: it has no record periods to check its points against.
    if (const std::optional<ArchivedDownload> d = this->download(download);
        d && d->info.family == QLatin1String("file"))
        return true;
    Rows query(m_dataset, "SELECT r.record_time, (SELECT COUNT(*) FROM points p WHERE p.record_id "
                          "= l.record_id) FROM download_records l JOIN records r ON r.id = "
                          "l.record_id WHERE l.download_id = " +
                              QByteArray::number(download) + " ORDER BY l.position");
    if (!query.ok())
        return fail(gdalMessage());
    while (Feature f = query.next()) {
        RecordSpan span;
        span.time = uint32_t(std::max<qint64>(dateTimeOf(*f, 0).toSecsSinceEpoch(), 0));
        span.first = offset;
        span.count = std::size_t(f->GetFieldAsInteger64(1));
        offset += span.count;
        out.push_back(span);
    }
    return true;
}

bool SurveyArchive::remove(qint64 download)
{
    if (!this->download(download))
        return fail(QStringLiteral("no download %1").arg(download));
    const QByteArray id = QByteArray::number(download);
    // The records only this download links to go with it.
    const QByteArray own = "SELECT record_id FROM download_records WHERE download_id = " + id +
                           " AND record_id NOT IN (SELECT record_id FROM download_records "
                           "WHERE download_id <> " +
                           id + ")";
    if (!begin())
        return false;
    if (!exec("DELETE FROM points WHERE record_id IN (" + own + ")") ||
        !exec("DELETE FROM records WHERE id IN (" + own + ")") ||
        !exec("DELETE FROM download_records WHERE download_id = " + id) ||
        !exec("DELETE FROM downloads WHERE id = " + id)) {
        const QString message = m_error;
        m_dataset->RollbackTransaction();
        m_error = message;
        return false;
    }
    if (m_writing && m_writing->download == download)
        m_writing.reset();
    return commit();
}

qint64 SurveyArchive::importPoints(const QString& source, const QByteArray& fileBytes,
                                   const std::vector<SurveyPoint>& points)
{
    // The file is kept whole as the download's one record: the same file
    // imported again is found by it.
    SurveyRecord record;
    record.points = points;
    record.bytes.assign(fileBytes.begin(), fileBytes.end());
    record.time = points.empty() ? 0 : points.front().time;
    for (const SurveyPoint& p : points)
        record.time = std::min(record.time, p.time);
    const QByteArray sha = QCryptographicHash::hash(fileBytes, QCryptographicHash::Sha256).toHex();
    {
        Rows same(m_dataset,
                  "SELECT l.download_id FROM records r JOIN download_records l ON l.record_id = "
                  "r.id JOIN downloads d ON d.id = l.download_id WHERE d.family = 'file' AND "
                  "r.sha256 = " +
                      quoted(QString::fromLatin1(sha)));
        if (Feature f = same.next()) {
            m_error = QStringLiteral("%1 is in the archive already, as download %2")
                          .arg(source)
                          .arg(f->GetFieldAsInteger64(0));
            return -f->GetFieldAsInteger64(0);
        }
    }
    DownloadInfo info;
    info.family = QStringLiteral("file");
    info.connection = QFileInfo(source).absoluteFilePath();
    info.listed = info.fetched = 1;
    const qint64 id = beginDownload(info);
    if (id == 0)
        return 0;
    if (!addRecords(id, {Arrival{0, &record}}) || !finishDownload(id, info)) {
        const QString message = m_error;
        remove(id);
        m_error = message;
        return 0;
    }
    return id;
}
