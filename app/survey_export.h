// Writes survey points as one point layer in WGS 84 through GDAL/OGR, for a
// GIS to open as it stands. The format follows the file's suffix:
// .gpkg GeoPackage (without a spatial index), .geojson or .json GeoJSON, .gpx
// GPX, .kml KML, .csv CSV.
//
// Every point carries its time (UTC), altitude (m), dose rate (uSv/h) and
// counts per second; unknown values are left empty. With the points' flags,
// a text field "flags" names the checks each point failed (empty: none). GPX names the altitude
// "ele" and keeps the dose rate and counts in its extensions; CSV gives the
// position as columns X (longitude) and Y (latitude).
#pragma once

#include <survey_checks.h>
#include <survey_point.h>

#include <QString>
#include <QStringList>

#include <vector>

// The chooser filter naming every format, the first being GeoPackage.
QString surveyExportFilter();
// The formats' suffixes, in the filter's order.
QStringList surveyExportSuffixes();

// True when the path's suffix names a format ("-" is CSV on standard output).
bool surveyExportKnows(const QString& path);

// False with a message in `error` for an unknown suffix or a failed write.
// The file is written whole or not at all: a file of that name is replaced
// only by a complete export, a folder never. "-" writes CSV to standard
// output.
bool exportSurvey(const QString& path, const std::vector<SurveyPoint>& points, QString* error,
                  const std::vector<uint16_t>* flags = nullptr);
