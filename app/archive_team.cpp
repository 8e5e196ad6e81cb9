#include "archive_team.h"

#include "gdal_rows.h"

#include "survey_archive.h"

#include <QDateTime>
#include <QFileInfo>
#include <QSet>

#include <cpl_conv.h>
#include <cpl_error.h>
#include <gdal_priv.h>
#include <ogrsf_frmts.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <map>
#include <memory>
#include <tuple>
#include <unordered_map>
#include <vector>

namespace {

using gdal::Dataset;
using gdal::exec;
using gdal::failed;
using gdal::Feature;
using gdal::quoted;
using Query = gdal::Rows;

QString gdalMessage()
{
    return gdal::lastMessage();
}

// Seconds since 1970 UTC of a date-time field; a value the key can hold
// when it is null.
qint64 timeOf(OGRFeature& f, int field)
{
    return gdal::utcSeconds(f, field).value_or(std::numeric_limits<qint64>::min());
}

// SQL literals of a feature's fields, for PostgreSQL.
QByteArray timestamp(OGRFeature& f, int field)
{
    int year, month, day, hour, minute, tz;
    float second;
    if (field < 0 || !f.IsFieldSetAndNotNull(field) ||
        !f.GetFieldAsDateTime(field, &year, &month, &day, &hour, &minute, &second, &tz))
        return "NULL";
    const int offset = tz > 1 ? (tz - 100) * 15 : 0; // minutes east; unknown as UTC
    char text[64];
    std::snprintf(text, sizeof text, "'%04d-%02d-%02d %02d:%02d:%09.6f%c%02d:%02d'", year, month,
                  day, hour, minute, double(second), offset < 0 ? '-' : '+', std::abs(offset) / 60,
                  std::abs(offset) % 60);
    return text;
}

QByteArray bytea(OGRFeature& f, int field)
{
    if (field < 0 || !f.IsFieldSetAndNotNull(field))
        return "NULL";
    int size = 0;
    const GByte* data = f.GetFieldAsBinary(field, &size);
    return "'\\x" + QByteArray::fromRawData(reinterpret_cast<const char*>(data), size).toHex() +
           "'";
}

// A record's identity on both sides.
using Key = std::tuple<QByteArray, qint64, qint64, QByteArray>; // serial, index, time, sha256

// The id of a row: the column when the result has it as a field, else the
// feature's id (both drivers take a table's key for the feature id).
qint64 idOf(OGRFeature& f, int field)
{
    return field >= 0 ? f.GetFieldAsInteger64(field) : f.GetFID();
}

// Source field i goes to the returned [i] of the destination, -1 for none.
std::vector<int> fieldMap(OGRFeatureDefn* from, OGRFeatureDefn* to)
{
    std::vector<int> map(size_t(from->GetFieldCount()), -1);
    for (int i = 0; i < from->GetFieldCount(); ++i)
        map[size_t(i)] = to->GetFieldIndex(from->GetFieldDefn(i)->GetNameRef());
    return map;
}

constexpr int kSchemaVersion = SurveyArchive::kSchemaVersion;

// The archive's tables as PostgreSQL holds them. No foreign keys: the rows
// of a download arrive together, in one transaction, and a check per point
// would double the cost of a push.
const char* const kTables =
    "CREATE TABLE IF NOT EXISTS orvisk_archive (id serial PRIMARY KEY, key text UNIQUE, "
    "value text);"
    "CREATE TABLE IF NOT EXISTS downloads (id bigserial PRIMARY KEY, uuid text NOT NULL "
    "CONSTRAINT downloads_uuid UNIQUE, family text, serial text, versions bytea, connection "
    "text, downloaded timestamptz, period_from timestamptz, listed integer, fetched integer, "
    "missing integer, missing_indices text, orvisk_version text, points bigint, first_time "
    "timestamptz, last_time timestamptz, max_dose_rate double precision);"
    "CREATE TABLE IF NOT EXISTS records (id bigserial PRIMARY KEY, serial text, record_index "
    "bigint, record_time timestamptz, sha256 text, bytes bytea, CONSTRAINT records_key UNIQUE "
    "(serial, record_index, record_time, sha256));"
    "CREATE TABLE IF NOT EXISTS download_records (id bigserial PRIMARY KEY, download_id "
    "bigint, record_id bigint, position integer);"
    "CREATE INDEX IF NOT EXISTS download_records_download ON download_records (download_id, "
    "position);"
    "CREATE INDEX IF NOT EXISTS download_records_record ON download_records (record_id);"
    "CREATE TABLE IF NOT EXISTS points (id bigserial PRIMARY KEY, geom geometry(Point, 4326), "
    "record_id bigint, time timestamptz, altitude double precision, dose_rate double "
    "precision, cps integer, satellites integer, hdop double precision);"
    "CREATE INDEX IF NOT EXISTS points_geom ON points USING GIST (geom);"
    "CREATE INDEX IF NOT EXISTS points_record ON points (record_id);"
    "CREATE INDEX IF NOT EXISTS points_time ON points (time);";

// Keys of libpq's "key=value" connection string.
QString connectionValue(const QString& connection, const QString& key)
{
    const QStringList parts = connection.mid(connection.indexOf(QLatin1Char(':')) + 1)
                                  .split(QLatin1Char(' '), Qt::SkipEmptyParts);
    for (const QString& part : parts)
        if (part.startsWith(key + QLatin1Char('=')))
            return part.mid(key.size() + 1).remove(QLatin1Char('\''));
    return {};
}

// Under ORVISK_LOOPBACK_ONLY=1 (the tests) nothing but this machine is
// reached, the same as for the instruments.
bool loopbackRefused(const QString& connection, QString* host)
{
    if (qgetenv("ORVISK_LOOPBACK_ONLY") != "1")
        return false;
    for (const QString& key : {QStringLiteral("host"), QStringLiteral("hostaddr")}) {
        for (const QString& value :
             connectionValue(connection, key).split(QLatin1Char(','), Qt::SkipEmptyParts)) {
            if (value.startsWith(QLatin1Char('/')) || value == QLatin1String("localhost") ||
                value.startsWith(QLatin1String("127.")) || value == QLatin1String("::1"))
                continue;
            *host = value;
            return true;
        }
    }
    return false;
}

// Why libpq did not connect, in the surveyor's terms.
QString connectFailure(const QString& message)
{
    static const char* const login[] = {"password authentication failed",
                                        "authentication failed",
                                        "no password supplied",
                                        "no pg_hba.conf entry",
                                        "role \"",
                                        "permission denied"};
    for (const char* words : login)
        if (message.contains(QLatin1String(words), Qt::CaseInsensitive))
            return QStringLiteral("The team database refused the login: %1").arg(message);
    return QStringLiteral("The team database cannot be reached: %1").arg(message);
}

// The team database, checked before anything is copied.
class Team
{
public:
    // False with one message in `error` (which may be null).
    bool open(const QString& connection, bool create, QString* error)
    {
        QString ignored;
        if (!error)
            error = &ignored;
        QString text = connection.trimmed();
        if (!text.startsWith(QLatin1String("PG:"), Qt::CaseInsensitive))
            text.prepend(QStringLiteral("PG:"));
        // A host that never answers would hold the surveyor for minutes.
        if (!text.contains(QLatin1String("connect_timeout=")))
            text += QStringLiteral(" connect_timeout=10");
        QString host;
        if (loopbackRefused(text, &host)) {
            *error = QStringLiteral("The team database cannot be reached: %1 is not this machine, "
                                    "and only loopback is allowed (ORVISK_LOOPBACK_ONLY=1)")
                         .arg(host);
            return false;
        }
        GDALAllRegister();
        CPLErrorReset();
        const char* const drivers[] = {"PostgreSQL", nullptr};
        m_dataset.reset(static_cast<GDALDataset*>(GDALOpenEx(text.toUtf8().constData(),
                                                             GDAL_OF_VECTOR | GDAL_OF_UPDATE,
                                                             drivers, nullptr, nullptr)));
        if (!m_dataset) {
            QString message = gdalMessage();
            message.remove(QLatin1String("PQconnectdb failed."));
            *error = connectFailure(message.simplified());
            return false;
        }
        // Times travel as UTC whatever the server's zone.
        if (!exec(m_dataset.get(), "SET TIME ZONE 'UTC'"))
            return fail(error, QStringLiteral("The team database cannot be used: %1"));
        {
            Query postgis(m_dataset.get(),
                          "SELECT COUNT(*) FROM pg_extension WHERE extname = 'postgis'");
            Feature f = postgis.next();
            if (!postgis.ok() || !f)
                return fail(error, QStringLiteral("The team database cannot be used: %1"));
            if (f->GetFieldAsInteger64(0) == 0) {
                *error = QStringLiteral("The team database has no PostGIS: its administrator "
                                        "adds it with CREATE EXTENSION postgis");
                return false;
            }
        }
        if (create && !makeTables(error))
            return false;
        return checkVersion(error);
    }

    GDALDataset* dataset() const { return m_dataset.get(); }
    bool hasTables() const { return m_hasTables; }

private:
    bool fail(QString* error, const QString& format)
    {
        *error = format.arg(gdalMessage());
        return false;
    }

    bool tableExists(const char* table)
    {
        Query q(m_dataset.get(), QByteArray("SELECT COUNT(*) FROM information_schema.tables "
                                            "WHERE table_schema = current_schema() AND "
                                            "table_name = ") +
                                     quoted(table));
        Feature f = q.next();
        return q.ok() && f && f->GetFieldAsInteger64(0) > 0;
    }

    // Two surveyors pushing to a new database at once: the lock makes the
    // second wait and then find the tables made.
    bool makeTables(QString* error)
    {
        if (tableExists("orvisk_archive"))
            return true;
        GDALDataset* d = m_dataset.get();
        CPLErrorReset();
        if (d->StartTransaction() != OGRERR_NONE)
            return fail(error, QStringLiteral("The team database cannot be written: %1"));
        const bool made =
            exec(d, "SELECT pg_advisory_xact_lock(7402158)") && exec(d, kTables) &&
            exec(d, "INSERT INTO orvisk_archive (key, value) VALUES ('schema_version', '" +
                        QByteArray::number(kSchemaVersion) + "') ON CONFLICT (key) DO NOTHING");
        if (!made) {
            const QString message = gdalMessage();
            d->RollbackTransaction();
            *error = QStringLiteral("The team database cannot be written: %1").arg(message);
            return false;
        }
        if (d->CommitTransaction() != OGRERR_NONE || failed())
            return fail(error, QStringLiteral("The team database cannot be written: %1"));
        return true;
    }

    bool checkVersion(QString* error)
    {
        m_hasTables = tableExists("orvisk_archive");
        if (!m_hasTables)
            return true;
        Query q(m_dataset.get(), "SELECT value FROM orvisk_archive WHERE key = 'schema_version'");
        Feature f = q.next();
        if (!q.ok())
            return fail(error, QStringLiteral("The team database cannot be read: %1"));
        const int version = f ? f->GetFieldAsInteger(0) : 0;
        if (version > kSchemaVersion) {
            *error = QStringLiteral("The team database was written by a newer Orvisk (layout "
                                    "version %1; this one knows up to %2) and is left as it is")
                         .arg(version)
                         .arg(kSchemaVersion);
            return false;
        }
        if (version < 1) {
            *error = QStringLiteral("The team database has an orvisk_archive table without a "
                                    "layout version: not an Orvisk archive");
            return false;
        }
        for (const char* table : {"downloads", "records", "download_records", "points"})
            if (!tableExists(table)) {
                *error = QStringLiteral("The team database is damaged: the table %1 is missing")
                             .arg(QLatin1String(table));
                return false;
            }
        return true;
    }

    Dataset m_dataset;
    bool m_hasTables = false;
};

// One side of a copy: its dataset, and whether it is the team database
// (where rows go in with COPY and another surveyor may write at once).
struct Side
{
    GDALDataset* dataset = nullptr;
    bool team = false;
};

enum class Outcome { Copied, AlreadyThere, Retry, Failed };

class Copier
{
public:
    Copier(Side from, Side to) : m_from(from), m_to(to) {}

    // The uuids of `from`'s downloads that `to` lacks, with their ids,
    // oldest first; the others are counted as there already.
    bool missing(std::vector<std::pair<qint64, QByteArray>>& out, TeamResult& result,
                 QString* error)
    {
        QSet<QByteArray> there;
        {
            Query q(m_to.dataset, "SELECT uuid FROM downloads");
            if (!q.ok())
                return fail(error, m_to);
            while (Feature f = q.next())
                there.insert(f->GetFieldAsString(0));
        }
        Query q(m_from.dataset, "SELECT id AS download_id, uuid FROM downloads ORDER BY id");
        if (!q.ok())
            return fail(error, m_from);
        const int id = q.field("download_id"), uuidField = q.field("uuid");
        while (Feature f = q.next()) {
            const QByteArray uuid = f->GetFieldAsString(uuidField);
            if (there.contains(uuid))
                ++result.alreadyThere;
            else
                out.emplace_back(idOf(*f, id), uuid);
        }
        return true;
    }

    // One download, in one transaction on `to`.
    Outcome copy(qint64 download, TeamResult& result, QString* error)
    {
        m_records = 0;
        m_points = 0;
        CPLErrorReset();
        if (m_to.dataset->StartTransaction() != OGRERR_NONE) {
            fail(error, m_to);
            return Outcome::Failed;
        }
        const Outcome outcome = copyRows(download, error);
        if (outcome != Outcome::Copied) {
            m_to.dataset->RollbackTransaction();
            return outcome;
        }
        CPLErrorReset();
        if (m_to.dataset->CommitTransaction() != OGRERR_NONE || failed()) {
            const Outcome why = classify(error);
            m_to.dataset->RollbackTransaction();
            return why;
        }
        ++result.downloads;
        result.records += m_records;
        result.points += m_points;
        return Outcome::Copied;
    }

private:
    bool fail(QString* error, const Side& side)
    {
        *error = side.team ? QStringLiteral("The team database failed: %1").arg(gdalMessage())
                           : QStringLiteral("The archive failed: %1").arg(gdalMessage());
        return false;
    }

    // What the last failure on `to` means: a download someone else pushed
    // first, a record someone else added while this ran, or a fault.
    Outcome classify(QString* error)
    {
        const QString message = gdalMessage();
        if (message.contains(QLatin1String("downloads_uuid")) ||
            (!m_to.team && message.contains(QLatin1String("downloads.uuid"))))
            return Outcome::AlreadyThere;
        if (m_to.team && (message.contains(QLatin1String("duplicate key")) ||
                          message.contains(QLatin1String("deadlock detected")))) {
            *error = message;
            return Outcome::Retry;
        }
        fail(error, m_to);
        return Outcome::Failed;
    }

    // COPY for the bulk rows on the team database; the download's row by
    // INSERT, which gives its id and meets a uuid pushed by someone else at
    // once.
    static void useCopy(bool copy)
    {
        CPLSetThreadLocalConfigOption("PG_USE_COPY", copy ? "YES" : "NO");
    }

    OGRLayer* target(const char* name)
    {
        OGRLayer* layer = m_to.dataset->GetLayerByName(name);
        if (!layer)
            CPLError(CE_Failure, CPLE_AppDefined, "no table %s", name);
        return layer;
    }

    // The ids on `to` of the records of `serial` with an index in the range.
    bool known(const QByteArray& serial, qint64 low, qint64 high, std::map<Key, qint64>& out)
    {
        Query q(m_to.dataset, "SELECT id AS record_id, record_index, record_time, sha256 FROM "
                              "records WHERE serial = " +
                                  quoted(serial) + " AND record_index BETWEEN " +
                                  QByteArray::number(low) + " AND " + QByteArray::number(high));
        if (!q.ok())
            return false;
        const int id = q.field("record_id"), index = q.field("record_index"),
                  time = q.field("record_time"), sha = q.field("sha256");
        while (Feature f = q.next())
            out[Key(serial, f->GetFieldAsInteger64(index), timeOf(*f, time),
                    f->GetFieldAsString(sha))] = idOf(*f, id);
        return true;
    }

    Outcome copyRows(qint64 download, QString* error)
    {
        const QByteArray id = QByteArray::number(download);
        auto broken = [&]() {
            return failed() ? classify(error) : (fail(error, m_to), Outcome::Failed);
        };
        auto sourceBroken = [&]() {
            fail(error, m_from);
            return Outcome::Failed;
        };

        // The download's row.
        OGRLayer* downloads = target("downloads");
        OGRLayer* records = target("records");
        OGRLayer* links = target("download_records");
        OGRLayer* points = target("points");
        if (!downloads || !records || !links || !points)
            return broken();
        qint64 to = 0;
        {
            Query q(m_from.dataset, "SELECT * FROM downloads WHERE id = " + id);
            Feature f = q.next();
            if (!q.ok() || !f)
                return sourceBroken();
            Feature row(OGRFeature::CreateFeature(downloads->GetLayerDefn()));
            const std::vector<int> map = fieldMap(f->GetDefnRef(), downloads->GetLayerDefn());
            row->SetFrom(f.get(), map.data(), TRUE);
            row->SetFID(OGRNullFID);
            useCopy(false);
            CPLErrorReset();
            if (downloads->CreateFeature(row.get()) != OGRERR_NONE || failed())
                return broken();
            to = row->GetFID();
        }
        if (to <= 0)
            return broken();

        // Its records: those `to` has by their key are linked to, the
        // others copied. Then the ids the copied ones got there.
        std::unordered_map<qint64, qint64> ids;    // from -> to, of every record
        std::vector<qint64> added;                 // from, of the records copied
        std::vector<std::pair<qint64, int>> order; // from, position
        std::map<Key, qint64> copied;              // key -> from
        const QByteArray recordsOf = "SELECT r.id AS record_id, r.serial, r.record_index, "
                                     "r.record_time, r.sha256, r.bytes, l.position FROM "
                                     "download_records l JOIN records r ON r.id = l.record_id "
                                     "WHERE l.download_id = " +
                                     id + " ORDER BY l.position";
        std::map<QByteArray, std::pair<qint64, qint64>> ranges; // serial -> indices
        {
            Query q(m_from.dataset, "SELECT r.serial, MIN(r.record_index), MAX(r.record_index) "
                                    "FROM download_records l JOIN records r ON r.id = "
                                    "l.record_id WHERE l.download_id = " +
                                        id + " GROUP BY r.serial");
            if (!q.ok())
                return sourceBroken();
            while (Feature f = q.next())
                ranges[f->GetFieldAsString(0)] = {f->GetFieldAsInteger64(1),
                                                  f->GetFieldAsInteger64(2)};
        }
        std::map<Key, qint64> there;
        for (const auto& [serial, range] : ranges)
            if (!known(serial, range.first, range.second, there))
                return broken();
        {
            Query q(m_from.dataset, recordsOf);
            if (!q.ok())
                return sourceBroken();
            const int rid = q.field("record_id"), serial = q.field("serial"),
                      index = q.field("record_index"), time = q.field("record_time"),
                      sha = q.field("sha256"), position = q.field("position");
            const int bytes = q.field("bytes");
            OGRFeatureDefn* defn = records->GetLayerDefn();
            Feature row(OGRFeature::CreateFeature(defn));
            std::vector<int> map;
            QByteArray values;
            auto flush = [&]() {
                if (values.isEmpty())
                    return true;
                const bool ok = exec(m_to.dataset, "INSERT INTO records (serial, record_index, "
                                                   "record_time, sha256, bytes) VALUES " +
                                                       values);
                values.clear();
                return ok;
            };
            while (Feature f = q.next()) {
                const qint64 from = idOf(*f, rid);
                order.emplace_back(from, f->GetFieldAsInteger(position));
                const Key key(f->GetFieldAsString(serial), f->GetFieldAsInteger64(index),
                              timeOf(*f, time), f->GetFieldAsString(sha));
                if (const auto found = there.find(key); found != there.end()) {
                    ids[from] = found->second;
                    continue;
                }
                if (!copied.emplace(key, from).second) // listed twice: copied once
                    continue;
                added.push_back(from);
                if (m_to.team) {
                    // GDAL's COPY writes a byte as up to five characters;
                    // hex in batched INSERTs is a third of that.
                    values += QByteArray(values.isEmpty() ? "(" : ",(") +
                              quoted(f->GetFieldAsString(serial)) + "," +
                              QByteArray::number(f->GetFieldAsInteger64(index)) + "," +
                              timestamp(*f, time) + "," + quoted(f->GetFieldAsString(sha)) + "," +
                              bytea(*f, bytes) + ")";
                    if (values.size() > (1 << 20) && !flush())
                        return broken();
                    continue;
                }
                if (map.empty())
                    map = fieldMap(f->GetDefnRef(), defn);
                row->SetFrom(f.get(), map.data(), TRUE);
                row->SetFID(OGRNullFID);
                if (records->CreateFeature(row.get()) != OGRERR_NONE)
                    return broken();
                ids[from] = row->GetFID();
            }
            if (failed())
                return sourceBroken();
            if (!flush())
                return broken();
        }
        if (m_to.team && !copied.empty()) {
            // The ids they got there, by their keys, which are unique.
            there.clear();
            for (const auto& [serial, range] : ranges)
                if (!known(serial, range.first, range.second, there))
                    return broken();
            for (const auto& [key, from] : copied) {
                const auto found = there.find(key);
                if (found == there.end()) {
                    *error = QStringLiteral("The team database lost a record while it was "
                                            "written");
                    return Outcome::Failed;
                }
                ids[from] = found->second;
            }
        }
        // The points of the records copied, in their order.
        if (!added.empty()) {
            std::unordered_map<qint64, qint64> owners; // from -> to, of the records copied
            for (qint64 from : added)
                owners[from] = ids.at(from);
            Query q(m_from.dataset, "SELECT * FROM points WHERE record_id IN (SELECT record_id "
                                    "FROM download_records WHERE download_id = " +
                                        id + ") ORDER BY id");
            if (!q.ok())
                return sourceBroken();
            OGRFeatureDefn* defn = points->GetLayerDefn();
            const int record = q.field("record_id");
            const int recordTo = defn->GetFieldIndex("record_id");
            Feature row(OGRFeature::CreateFeature(defn));
            std::vector<int> map;
            useCopy(true);
            while (Feature f = q.next()) {
                const auto found = owners.find(f->GetFieldAsInteger64(record));
                if (found == owners.end())
                    continue;
                if (map.empty())
                    map = fieldMap(f->GetDefnRef(), defn);
                row->SetFrom(f.get(), map.data(), TRUE);
                row->SetFID(OGRNullFID);
                row->SetField(recordTo, GIntBig(found->second));
                if (points->CreateFeature(row.get()) != OGRERR_NONE)
                    return broken();
                ++m_points;
            }
            if (failed())
                return sourceBroken();
        }

        // The links, positions as they were.
        {
            OGRFeatureDefn* defn = links->GetLayerDefn();
            const int downloadField = defn->GetFieldIndex("download_id");
            const int recordField = defn->GetFieldIndex("record_id");
            const int positionField = defn->GetFieldIndex("position");
            Feature row(OGRFeature::CreateFeature(defn));
            useCopy(true);
            for (const auto& [from, position] : order) {
                row->SetFID(OGRNullFID);
                row->SetField(downloadField, GIntBig(to));
                row->SetField(recordField, GIntBig(ids.at(from)));
                row->SetField(positionField, position);
                if (links->CreateFeature(row.get()) != OGRERR_NONE)
                    return broken();
            }
        }
        CPLErrorReset();
        if (m_to.team)
            for (OGRLayer* layer : {records, points, links})
                if (layer->SyncToDisk() != OGRERR_NONE || failed())
                    return broken();
        m_records = qint64(added.size());
        return Outcome::Copied;
    }

    Side m_from, m_to;
    qint64 m_records = 0, m_points = 0;
};

bool copyAll(Side from, Side to, TeamResult* result, QString* error)
{
    TeamResult counts;
    QString message;
    Copier copier(from, to);
    std::vector<std::pair<qint64, QByteArray>> missing;
    bool ok = copier.missing(missing, counts, &message);
    for (size_t i = 0; ok && i < missing.size(); ++i) {
        // Someone else adding the same records at the same moment: their
        // rows are there on the next try.
        Outcome outcome = Outcome::Retry;
        for (int attempt = 0; outcome == Outcome::Retry && attempt < 5; ++attempt)
            outcome = copier.copy(missing[i].first, counts, &message);
        if (outcome == Outcome::AlreadyThere)
            ++counts.alreadyThere;
        else if (outcome != Outcome::Copied) {
            if (outcome == Outcome::Retry)
                message = QStringLiteral("The team database kept refusing the download %1: %2")
                              .arg(QString::fromUtf8(missing[i].second), message);
            ok = false;
        }
    }
    CPLSetThreadLocalConfigOption("PG_USE_COPY", nullptr);
    if (result)
        *result = counts;
    if (!ok && error)
        *error = message;
    return ok;
}

} // namespace

bool pushArchive(SurveyArchive& archive, const QString& connection, TeamResult* result,
                 QString* error)
{
    const gdal::Quiet quiet;
    Team team;
    if (!team.open(connection, true, error))
        return false;
    return copyAll({archive.dataset(), false}, {team.dataset(), true}, result, error);
}

bool pullArchive(SurveyArchive& archive, const QString& connection, TeamResult* result,
                 QString* error)
{
    const gdal::Quiet quiet;
    Team team;
    if (!team.open(connection, false, error))
        return false;
    if (!team.hasTables()) { // nobody pushed yet
        if (result)
            *result = TeamResult();
        return true;
    }
    return copyAll({team.dataset(), true}, {archive.dataset(), false}, result, error);
}

namespace {

// The database is asked first: the archive is not opened, or made, for one
// that fails.
template <typename Copy>
bool copyWithFile(const QString& archivePath, const QString& connection, bool push, Copy copy,
                  QString* error)
{
    const gdal::Quiet quiet;
    if (!Team().open(connection, false, error))
        return false;
    if (push && !QFileInfo::exists(archivePath)) {
        if (error)
            *error = QStringLiteral("There is no archive at %1").arg(archivePath);
        return false;
    }
    const std::unique_ptr<SurveyArchive> archive = SurveyArchive::open(archivePath, error);
    return archive && copy(*archive);
}

} // namespace

bool pushArchive(const QString& archivePath, const QString& connection, TeamResult* result,
                 QString* error)
{
    return copyWithFile(
        archivePath, connection, true,
        [&](SurveyArchive& archive) { return pushArchive(archive, connection, result, error); },
        error);
}

bool pullArchive(const QString& archivePath, const QString& connection, TeamResult* result,
                 QString* error)
{
    return copyWithFile(
        archivePath, connection, false,
        [&](SurveyArchive& archive) { return pullArchive(archive, connection, result, error); },
        error);
}
