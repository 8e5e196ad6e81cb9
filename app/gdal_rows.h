// What the archive, the team database, the export and the file reader share
// of GDAL: owned features and datasets, SQL run with its result released,
// the last error as one line, and date-time fields as seconds since 1970 UTC.
#pragma once

#include <QByteArray>
#include <QDate>
#include <QString>

#include <cpl_error.h>
#include <cpl_vsi.h>
#include <gdal_priv.h>
#include <ogrsf_frmts.h>

#include <atomic>
#include <cmath>
#include <limits>
#include <memory>
#include <optional>

namespace gdal {

// GDAL's messages go to the surveyor in one line, not to the console.
struct Quiet
{
    Quiet()
    {
        CPLPushErrorHandler(CPLQuietErrorHandler);
        CPLErrorReset();
    }
    ~Quiet() { CPLPopErrorHandler(); }
    Quiet(const Quiet&) = delete;
    Quiet& operator=(const Quiet&) = delete;
};

// A file in GDAL's memory, gone with this: GDAL writes into it, so that every
// byte that reaches the disk goes through one checked, whole-or-nothing
// write (its drivers do not all report a failed write).
class MemoryFile
{
public:
    explicit MemoryFile(const char* suffix)
    {
        static std::atomic<int> serial{0};
        m_folder = QByteArray("/vsimem/orvisk-") + QByteArray::number(++serial);
        m_name = m_folder + "/survey." + suffix;
        VSIMkdir(m_folder.constData(), 0755); // the CSV driver looks for the folder
    }
    ~MemoryFile() { VSIRmdirRecursive(m_folder.constData()); }
    MemoryFile(const MemoryFile&) = delete;
    MemoryFile& operator=(const MemoryFile&) = delete;
    const char* name() const { return m_name.constData(); }

    // The bytes written, taken out of GDAL's keeping; valid while this lives.
    QByteArray take()
    {
        vsi_l_offset size = 0;
        m_data.reset(VSIGetMemFileBuffer(m_name.constData(), &size, TRUE));
        return m_data && size <= vsi_l_offset(std::numeric_limits<int>::max())
                   ? QByteArray::fromRawData(reinterpret_cast<const char*>(m_data.get()), int(size))
                   : QByteArray();
    }

private:
    struct Free
    {
        void operator()(GByte* p) const { CPLFree(p); }
    };
    QByteArray m_folder, m_name;
    std::unique_ptr<GByte, Free> m_data;
};

struct FeatureFree
{
    void operator()(OGRFeature* f) const { OGRFeature::DestroyFeature(f); }
};
using Feature = std::unique_ptr<OGRFeature, FeatureFree>;

struct DatasetClose
{
    void operator()(GDALDataset* d) const { GDALClose(d); }
};
using Dataset = std::unique_ptr<GDALDataset, DatasetClose>;

// GDAL passes a database's lines on; the surveyor gets one.
inline QString lastMessage()
{
    const QString message = QString::fromUtf8(CPLGetLastErrorMsg()).simplified();
    return message.isEmpty() ? QStringLiteral("unknown error") : message;
}

inline bool failed()
{
    return CPLGetLastErrorType() >= CE_Failure;
}

// The rows of a statement, released to their dataset at the end.
class Rows
{
public:
    Rows(GDALDataset* dataset, const QByteArray& sql) : m_dataset(dataset)
    {
        CPLErrorReset();
        m_layer = dataset->ExecuteSQL(sql.constData(), nullptr, nullptr);
        m_ok = m_layer && !failed();
    }
    ~Rows()
    {
        if (m_layer)
            m_dataset->ReleaseResultSet(m_layer);
    }
    Rows(const Rows&) = delete;
    Rows& operator=(const Rows&) = delete;
    bool ok() const { return m_ok; }
    OGRLayer* layer() const { return m_layer; }
    int field(const char* name) const
    {
        return m_layer ? m_layer->GetLayerDefn()->GetFieldIndex(name) : -1;
    }
    Feature next() { return Feature(m_layer ? m_layer->GetNextFeature() : nullptr); }

private:
    GDALDataset* m_dataset;
    OGRLayer* m_layer = nullptr;
    bool m_ok = false;
};

// A statement without rows; false when GDAL reported a failure.
inline bool exec(GDALDataset* dataset, const QByteArray& sql)
{
    CPLErrorReset();
    if (OGRLayer* result = dataset->ExecuteSQL(sql.constData(), nullptr, nullptr))
        dataset->ReleaseResultSet(result);
    return !failed();
}

// A text as an SQL literal.
inline QByteArray quoted(const QByteArray& text)
{
    QByteArray out = text;
    out.replace('\'', "''");
    return '\'' + out + '\'';
}

// Days from 1970-01-01 of a proleptic Gregorian date, without the time-zone
// machinery of QDateTime: a survey's times are UTC, and there are many.
inline qint64 daysFromCivil(int year, unsigned month, unsigned day)
{
    year -= month <= 2;
    const qint64 era = (year >= 0 ? year : year - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(year - era * 400);
    const unsigned doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<qint64>(doe) - 719468;
}

// Seconds since 1970 UTC of a date-time field, in its own zone (none taken
// as UTC); none when the field is null or not a date.
inline std::optional<qint64> utcSeconds(OGRFeature& f, int field)
{
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, tz = 0;
    float second = 0;
    if (field < 0 || !f.IsFieldSetAndNotNull(field) ||
        !f.GetFieldAsDateTime(field, &year, &month, &day, &hour, &minute, &second, &tz))
        return std::nullopt;
    if (!QDate::isValid(year, month, day) || !std::isfinite(second))
        return std::nullopt;
    qint64 t = daysFromCivil(year, unsigned(month), unsigned(day)) * 86400 + hour * 3600 +
               minute * 60 + qint64(std::floor(second));
    if (tz > 1 && tz != 100) // 100 is UTC, each step from it a quarter of an hour
        t -= qint64(tz - 100) * 15 * 60;
    return t;
}

} // namespace gdal
