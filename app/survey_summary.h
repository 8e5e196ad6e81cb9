// The words in which Orvisk speaks of a reviewed survey, the same in the
// Review panel and in a report: the checks and the statistics.
#pragma once

#include <survey_checks.h>
#include <survey_point.h>
#include <survey_stats.h>

#include <QString>

#include <vector>

namespace survey_summary {

// A check by its bit number, with its limit: "HDOP above 4".
QString checkLabel(int bit, const CheckLimits& limits);

QString durationText(uint32_t seconds);
QString areaText(double squareMetres);
QString placeText(const SurveyPoint& point);
// "2024-05-01 11:03:12 UTC" and "85.3 nSv/h", as the map writes a point's.
QString timeText(uint32_t seconds);
QString doseText(float microSievertPerHour);

// The statistics' rows: a key (for object names), a label and its value.
struct Row
{
    const char* key;
    const char* label;
};
enum StatRow {
    kPoints,
    kRecords,
    kStart,
    kEnd,
    kDuration,
    kDistance,
    kArea,
    kMinimum,
    kMean,
    kMedian,
    kMaximum,
    kMaximumAt,
    kStatRowCount
};
extern const Row kStatRows[kStatRowCount];

// The value of each row, in kStatRows' order; empty where nothing is known.
// `survey` holds the points `stats` indexes; `recordsKnown` false says
// "unknown" for the records.
std::vector<QString> statisticsValues(const SurveyStats& stats,
                                      const std::vector<SurveyPoint>& survey, bool recordsKnown);

} // namespace survey_summary
