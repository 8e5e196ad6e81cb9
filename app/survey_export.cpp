#include "survey_export.h"

#include "gdal_rows.h"

#include <whole_file.h>

#include <QFile>
#include <QFileInfo>

#include <cpl_conv.h>
#include <cpl_error.h>
#include <gdal_priv.h>
#include <ogrsf_frmts.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>

namespace {

struct Format
{
    const char* suffix;
    const char* driver;
    const char* label;
    const char* altitudeField; // GPX has its own name for it
    bool textTime;             // CSV: ISO 8601 text, which every reader takes
    bool longitudeBelow180;    // GPX: longitude 180 must be written as -180
    const char* const* datasetOptions;
    const char* const* layerOptions;
};

const char* const gpxOptions[] = {"GPX_USE_EXTENSIONS=YES", nullptr};
// No R-tree: SQLite builds one at four times the cost of the rest of the
// export, and a GIS reads a survey's points well without it.
const char* const gpkgOptions[] = {"SPATIAL_INDEX=NO", nullptr};
// Coordinates as every other number, to 17 figures: the default 15 decimals
// lose digits of a position near 0 degrees.
const char* const geojsonOptions[] = {"SIGNIFICANT_FIGURES=17", nullptr};
const char* const csvOptions[] = {"GEOMETRY=AS_XY", "STRING_QUOTING=IF_NEEDED", nullptr};

const Format formats[] = {
    {"gpkg", "GPKG", "GeoPackage", "altitude", false, false, nullptr, gpkgOptions},
    {"geojson", "GeoJSON", "GeoJSON", "altitude", false, false, nullptr, geojsonOptions},
    {"json", "GeoJSON", "GeoJSON", "altitude", false, false, nullptr, geojsonOptions},
    {"gpx", "GPX", "GPX", "ele", false, true, gpxOptions, nullptr},
    {"kml", "KML", "KML", "altitude", true, false, nullptr, nullptr},
    {"csv", "CSV", "CSV", "altitude", true, false, nullptr, csvOptions},
};

const Format* formatOf(const QString& suffix)
{
    for (const Format& f : formats)
        if (suffix.compare(QLatin1String(f.suffix), Qt::CaseInsensitive) == 0)
            return &f;
    return nullptr;
}

QString lastGdalError(const QString& what)
{
    const char* text = CPLGetLastErrorMsg();
    return text && *text ? what + QStringLiteral(": ") + QString::fromUtf8(text) : what;
}

// Where the layer keeps each value. GPX and KML layers come with fields of
// their own, so the indices are looked up by name after the fields are made.
struct Fields
{
    int time = -1, altitude = -1, doseRate = -1, cps = -1;
    int name = -1;  // KML's placemark name: the time, for Google Earth's list
    int flags = -1; // the names of the checks a point failed, when asked for
};

bool createFields(OGRLayer* layer, const Format& format, Fields& fields, bool withFlags)
{
    OGRFieldDefn time("time", format.textTime ? OFTString : OFTDateTime);
    OGRFieldDefn altitude(format.altitudeField, OFTReal);
    OGRFieldDefn doseRate("dose_rate", OFTReal);
    OGRFieldDefn cps("cps", OFTInteger);
    for (OGRFieldDefn* f : {&time, &altitude, &doseRate, &cps})
        if (layer->CreateField(f) != OGRERR_NONE)
            return false;
    OGRFeatureDefn* defn = layer->GetLayerDefn();
    fields.time = defn->GetFieldIndex("time");
    fields.altitude = defn->GetFieldIndex(format.altitudeField);
    fields.doseRate = defn->GetFieldIndex("dose_rate");
    fields.cps = defn->GetFieldIndex("cps");
    fields.name = defn->GetFieldIndex("Name");
    if (withFlags) {
        OGRFieldDefn flags("flags", OFTString);
        if (layer->CreateField(&flags) != OGRERR_NONE)
            return false;
        fields.flags = defn->GetFieldIndex("flags");
        if (fields.flags < 0)
            return false;
    }
    return fields.time >= 0 && fields.altitude >= 0 && fields.doseRate >= 0 && fields.cps >= 0;
}

void setReal(OGRFeature& feature, int field, float value, bool known)
{
    if (known)
        feature.SetField(field, double(value));
    else
        feature.SetFieldNull(field);
}

void fillFeature(OGRFeature& feature, OGRPoint& point, const Fields& fields, const SurveyPoint& p,
                 const Format& format)
{
    const bool textTime = format.textTime;
    point.setX(format.longitudeBelow180 && p.longitude == 180 ? -180.0 : p.longitude);
    point.setY(p.latitude);
    feature.SetGeometry(&point);
    const time_t t = static_cast<time_t>(p.time);
    std::tm tm{};
    gmtime_r(&t, &tm);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &tm);
    if (textTime)
        feature.SetField(fields.time, text);
    else
        feature.SetField(fields.time, tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour,
                         tm.tm_min, static_cast<float>(tm.tm_sec), 100);
    if (fields.name >= 0)
        feature.SetField(fields.name, text);
    setReal(feature, fields.altitude, p.altitude, p.hasAltitude());
    setReal(feature, fields.doseRate, p.doseRate, p.hasDoseRate());
    feature.SetField(fields.cps, int(p.cps));
}

} // namespace

QString surveyExportFilter()
{
    return QStringLiteral("GeoPackage (*.gpkg);;GeoJSON (*.geojson *.json);;GPX (*.gpx);;"
                          "KML (*.kml);;CSV (*.csv)");
}

QStringList surveyExportSuffixes()
{
    return {QStringLiteral("gpkg"), QStringLiteral("geojson"), QStringLiteral("gpx"),
            QStringLiteral("kml"), QStringLiteral("csv")};
}

namespace {

// GDAL writes the file into memory, so that every byte that reaches the disk
// goes through one checked, whole-or-nothing write: its drivers do not all
// report a failed write.
class MemoryFile
{
public:
    explicit MemoryFile(const char* suffix)
    {
        static std::atomic<int> serial{0};
        m_folder = QByteArray("/vsimem/orvisk-export-") + QByteArray::number(++serial);
        m_name = m_folder + "/survey." + suffix;
        VSIMkdir(m_folder.constData(), 0755); // the CSV driver looks for the folder
    }
    ~MemoryFile() { VSIRmdirRecursive(m_folder.constData()); }
    const char* name() const { return m_name.constData(); }

    // The bytes written, taken out of GDAL's keeping; valid while this lives.
    QByteArray take()
    {
        vsi_l_offset size = 0;
        m_data.reset(VSIGetMemFileBuffer(m_name.constData(), &size, TRUE));
        return m_data ? QByteArray::fromRawData(reinterpret_cast<const char*>(m_data.get()),
                                                static_cast<int>(size))
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

bool writeStdout(const QByteArray& bytes, QString* error)
{
    if (std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stdout) ==
            static_cast<size_t>(bytes.size()) &&
        std::fflush(stdout) == 0 && !std::ferror(stdout))
        return true;
    if (error)
        *error = QStringLiteral("standard output: %1").arg(QString::fromLocal8Bit(strerror(errno)));
    return false;
}

} // namespace

bool surveyExportKnows(const QString& path)
{
    return path == QLatin1String("-") || formatOf(QFileInfo(path).suffix()) != nullptr;
}

bool exportSurvey(const QString& path, const std::vector<SurveyPoint>& points, QString* error,
                  const std::vector<uint16_t>* flags)
{
    Q_ASSERT(!flags || flags->size() == points.size());
    auto fail = [error](const QString& text) {
        if (error)
            *error = text;
        return false;
    };
    const bool toStdout = path == QLatin1String("-");
    const Format* format = formatOf(toStdout ? QStringLiteral("csv") : QFileInfo(path).suffix());
    if (!format)
        return fail(QStringLiteral("%1: not a known survey format (.gpkg, .geojson, .gpx, .kml, "
                                   ".csv)")
                        .arg(path));
    if (!toStdout)
        if (const QString problem = outputPathProblem(path); !problem.isEmpty())
            return fail(problem);
    GDALAllRegister();
    CPLErrorReset();
    GDALDriver* driver = GetGDALDriverManager()->GetDriverByName(format->driver);
    if (!driver)
        return fail(QStringLiteral("GDAL has no %1 driver").arg(QLatin1String(format->driver)));
    MemoryFile file(format->suffix);
    gdal::Dataset dataset(driver->Create(file.name(), 0, 0, 0, GDT_Unknown,
                                         const_cast<char**>(format->datasetOptions)));
    if (!dataset)
        return fail(lastGdalError(QStringLiteral("%1: cannot be created").arg(path)));

    OGRSpatialReference wgs84;
    wgs84.SetWellKnownGeogCS("WGS84");
    wgs84.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER); // longitude first
    OGRLayer* layer =
        dataset->CreateLayer("survey", &wgs84, wkbPoint, const_cast<char**>(format->layerOptions));
    Fields fields;
    if (!layer || !createFields(layer, *format, fields, flags != nullptr))
        return fail(lastGdalError(QStringLiteral("%1: the point layer cannot be made").arg(path)));

    // One transaction: GeoPackage writes a row at a time otherwise.
    const bool transaction = dataset->StartTransaction() == OGRERR_NONE;
    OGRFeature feature(layer->GetLayerDefn());
    OGRPoint point;
    for (std::size_t i = 0; i < points.size(); ++i) {
        fillFeature(feature, point, fields, points[i], *format);
        if (flags)
            feature.SetField(fields.flags, flagNames((*flags)[i]).c_str());
        feature.SetFID(OGRNullFID);
        if (layer->CreateFeature(&feature) != OGRERR_NONE) {
            if (transaction)
                dataset->RollbackTransaction();
            return fail(lastGdalError(QStringLiteral("%1: a point cannot be written").arg(path)));
        }
    }
    if (transaction && dataset->CommitTransaction() != OGRERR_NONE)
        return fail(lastGdalError(QStringLiteral("%1: cannot be written").arg(path)));
    CPLErrorReset();
    dataset.reset(); // closing writes what the drivers hold back
    if (CPLGetLastErrorType() >= CE_Failure)
        return fail(lastGdalError(QStringLiteral("%1: cannot be written").arg(path)));
    const QByteArray bytes = file.take();
    return toStdout ? writeStdout(bytes, error) : writeFileWhole(path, bytes, error);
}
