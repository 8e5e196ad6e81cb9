// Survey points read from a GIS file through GDAL/OGR: Orvisk's own exports
// (GeoPackage, GeoJSON, GPX, KML, CSV) come back as they were written, other
// files with what their first point layer carries.
//
// Other files: positions are reprojected to WGS 84; the dose rate is taken
// from a field named like dose_rate, doserate, dose or a unit (uSv/h, nSv/h,
// mSv/h; case, spaces, underscores and hyphens ignored) and converted to
// uSv/h from the unit in its name; the time from a date field named time,
// timestamp, datetime or date (or ISO text there, UTC unless it says
// otherwise); the altitude from altitude, ele, elevation or alt, else the
// point's Z; the counts from cps. What a file does not carry stays unknown
// (or 0).
#pragma once

#include <survey_point.h>

#include <QString>

#include <optional>
#include <vector>

struct SurveyFile
{
    std::vector<SurveyPoint> points;
    QString doseRateField;     // the field the dose rate came from; empty when none was found
    bool orviskExport = false; // the layer has the fields Orvisk's export writes
    int skipped = 0; // features without a usable point position (off the earth, no geometry)
};

// None, with the file's name and the reason in `error`, for a file GDAL
// cannot open, a file without a point layer, or a point layer without points.
std::optional<SurveyFile> readSurveyFile(const QString& path, QString* error);

// The chooser filter for opening a survey, every format first.
QString surveyOpenFilter();
