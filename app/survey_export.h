// Writes survey points as one point layer in WGS 84 through GDAL/OGR, for a
// GIS to open as it stands. The format follows the file's suffix:
// .gpkg GeoPackage (without a spatial index), .geojson or .json GeoJSON, .gpx
// GPX, .kml KML, .csv CSV.
//
// Every point carries its time (UTC), altitude (m), dose rate (uSv/h) and
// counts per second; unknown values are left empty. With the points' flags,
// a text field "flags" names the checks each point failed (empty: none). GPX names the altitude
// "ele", gives satellites and HDOP in its own "sat" and "hdop" and keeps the dose rate,
// counts and flags in its extensions; CSV gives the position as columns X (longitude) and Y
// (latitude).
//
// Each file says where its points came from and what its fields' units are,
// in its format's own place: the GeoPackage's metadata tables, GeoJSON's
// top-level members, GPX's metadata, KML's document ExtendedData, and for CSV
// a side file NAME.csv.txt. The GeoPackage carries the map's dose-rate steps
// as its layer's default style (QML and SLD, as QGIS keeps them); KML has a
// style per step, and each placemark names and describes its values.
#pragma once

#include <dose_steps.h>
#include <survey_checks.h>
#include <survey_point.h>

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

struct DownloadInfo;
class SurveyArchive;

// Where a survey's points came from.
struct SurveyProvenance
{
    QString family; // of the instrument: "M30"
    QString serial;
    QByteArray report;     // what the instrument reported about itself, as sent
    QDateTime downloaded;  // UTC
    QDateTime periodFrom;  // asked for; invalid: every record the instrument held
    QDateTime periodTo;    // the period's end: the download's time
    QString recordsSha256; // hex; the raw records in the download's order as one stream
    QString source;        // the connection, or the archive and its download, or a file
};

// A download's provenance as far as its row tells: everything but the
// records' hash, and the connection as its source.
SurveyProvenance provenanceOf(const DownloadInfo& info);

// An archived download's provenance, with the hash of its records as
// stored and the archive as its source; none with the reason.
std::optional<SurveyProvenance> archivedProvenance(SurveyArchive& archive, qint64 id,
                                                   QString* error);

// The provenance as named fields (instrument_family, instrument_serial,
// instrument_report and _hex, downloaded, period_from, period_to,
// records_sha256, source), then orvisk_version, which every file carries.
struct ProvenanceField
{
    QString key, value;
};
std::vector<ProvenanceField> provenanceFields(const std::optional<SurveyProvenance>& provenance);

struct SurveyExportOptions
{
    const std::vector<uint16_t>* flags = nullptr; // one per point: a "flags" field
    std::optional<SurveyProvenance> provenance;   // none: only Orvisk's version and the units
    std::vector<DoseStep> doseSteps;              // empty: loadDoseSteps()
};

// The chooser filter naming every format, the first being GeoPackage.
QString surveyExportFilter();
// The formats' suffixes, in the filter's order.
QStringList surveyExportSuffixes();

// True when the path's suffix names a format ("-" is CSV on standard output).
bool surveyExportKnows(const QString& path);

// The file beside an export that holds its provenance (CSV: NAME.csv.txt),
// or an empty text for a format that holds its own.
QString surveyExportSideFile(const QString& path);

// False with a message in `error` for an unknown suffix or a failed write.
// The file is written whole or not at all: a file of that name is replaced
// only by a complete export, a folder never. A side file is written the same
// way after it; when it fails, the message says the export itself is
// written. "-" writes CSV to standard output, without provenance.
bool exportSurvey(const QString& path, const std::vector<SurveyPoint>& points,
                  const SurveyExportOptions& options, QString* error);
inline bool exportSurvey(const QString& path, const std::vector<SurveyPoint>& points,
                         QString* error, const std::vector<uint16_t>* flags = nullptr)
{
    SurveyExportOptions options;
    options.flags = flags;
    return exportSurvey(path, points, options, error);
}
