// How the window and the map write a survey point's values for a person.
#pragma once

#include <survey_point.h>

#include <QString>

namespace survey_text {

// "57.40912° N", "24.61670° E": five decimals are about a metre.
QString latitude(double degrees);
QString longitude(double degrees);
// "12.3 m"; "unknown" when the point has none.
QString altitude(const SurveyPoint& point);
// In the unit of the colour scale: "85.3 nSv/h"; "unknown" when the point has none.
QString doseRate(const SurveyPoint& point);
// "2024-05-01 11:03:12 UTC"; "unknown" for time 0.
QString time(const SurveyPoint& point);
// The time and the counting and fix values, one per line, for a tooltip.
QString details(const SurveyPoint& point);

} // namespace survey_text
