// A survey's map report as a one-page PDF, to hand over or print: the map of
// what the window shows (the base map, the track in its dose-rate colours,
// an interpolated raster under it if shown) drawn at print resolution inside
// a frame of map coordinates, with a scale bar and a north arrow true at the
// map's centre; beside it the legend with its unit, the statistics and the
// checks' counts; the title, the instrument and the period above; Orvisk's
// version and the report's date below. Every text is text in the PDF, and
// the document's properties carry the survey's provenance.
#pragma once

#include "survey_export.h"

#include <survey_checks.h>
#include <survey_point.h>
#include <survey_stats.h>

#include <QPageLayout>
#include <QPageSize>
#include <QRectF>
#include <QSize>
#include <QString>

#include <optional>
#include <vector>

class TOrvisk;

// What the report says of the survey besides its map.
struct ReportFacts
{
    QString title;
    QString filter; // what of the survey is shown, in words; empty: all of it
    const std::vector<SurveyPoint>* survey = nullptr; // the points `stats` indexes
    SurveyStats stats;                                // of the points shown
    bool recordsKnown = false;
    std::vector<std::size_t> flagCounts; // by check bit, of the points shown; empty: not checked
    CheckLimits limits;
    std::optional<SurveyProvenance> provenance;
};

// The facts of the points shown (`shown` empty: all): their statistics and
// the checks' counts. `recordOf` as surveyStats takes it.
ReportFacts reportFacts(const std::vector<SurveyPoint>& points, const std::vector<uint16_t>& flags,
                        const std::vector<char>& shown, const std::vector<int>& recordOf,
                        const CheckLimits& limits);

// How many of the points shown (`shown` empty: all) each check flagged, by
// bit; empty without flags.
std::vector<std::size_t> shownFlagCounts(const std::vector<uint16_t>& flags,
                                         const std::vector<char>& shown);

// "M30 serial 01234", "M30", or empty.
QString instrumentText(const std::optional<SurveyProvenance>& provenance);
// A title to start from: "Dose-rate survey, M30 serial 01234, 2026-05-01".
QString defaultReportTitle(const ReportFacts& facts);

struct ReportOptions
{
    QPageSize::PageSizeId page = QPageSize::A4;
    QPageLayout::Orientation orientation = QPageLayout::Landscape;
    int dpi = 300; // of the map's image
};

// Where the map landed, for whoever checks the page.
struct ReportPlacement
{
    QSizeF page;     // points (1/72 inch)
    QRectF map;      // the map's frame on the page, points from the top left
    QRectF scene;    // the part of the map's scene inside it
    QSize mapPixels; // the map image's size
};

// The page size's name in settings and on the command line ("A4", "Letter"),
// and back (none for an unknown name).
QString pageName(QPageSize::PageSizeId page);
std::optional<QPageSize::PageSizeId> pageNamed(const QString& name);

// Writes the report of what `map` shows, whole or not at all: a file of that
// name stays as it was on a failure, explained in `error`.
bool writeSurveyReport(const QString& path, TOrvisk& map, const ReportFacts& facts,
                       const ReportOptions& options, QString* error,
                       ReportPlacement* placement = nullptr);
