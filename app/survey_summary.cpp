#include "survey_summary.h"

#include <geodesic_line.h>
#include <survey_text.h>

#include <cmath>

namespace survey_summary {

const Row kStatRows[kStatRowCount] = {
    {"points", "Points:"}, {"records", "Records:"},   {"start", "Start:"},
    {"end", "End:"},       {"duration", "Duration:"}, {"distance", "Distance:"},
    {"area", "Area:"},     {"minimum", "Minimum:"},   {"mean", "Mean:"},
    {"median", "Median:"}, {"maximum", "Maximum:"},   {"maximumAt", "Maximum at:"},
};

QString checkLabel(int bit, const CheckLimits& limits)
{
    switch (1u << bit) {
    case kFlagNoFix:
        return QStringLiteral("No fix or at 0,0");
    case kFlagHdop:
        return std::isfinite(limits.maxHdop) ? QStringLiteral("HDOP above %1").arg(limits.maxHdop)
                                             : QStringLiteral("HDOP: not in the data");
    case kFlagSatellites:
        return limits.minSatellites > 0
                   ? QStringLiteral("Fewer than %1 satellites").arg(limits.minSatellites)
                   : QStringLiteral("Satellites: not in the data");
    case kFlagTime:
        return QStringLiteral("Time out of order");
    case kFlagSpeed:
        return QStringLiteral("Faster than %1 m/s").arg(limits.maxSpeed);
    case kFlagDoseRate:
        return QStringLiteral("No dose rate");
    default:
        return QStringLiteral("First %1 s after switching on").arg(limits.warmUpSeconds);
    }
}

QString durationText(uint32_t seconds)
{
    const uint32_t hours = seconds / 3600, minutes = seconds / 60 % 60;
    if (hours >= 48)
        return QStringLiteral("%1 d %2 h").arg(hours / 24).arg(hours % 24);
    if (hours > 0)
        return QStringLiteral("%1 h %2 min").arg(hours).arg(minutes);
    return QStringLiteral("%1 min %2 s").arg(minutes).arg(seconds % 60);
}

QString areaText(double squareMetres)
{
    if (squareMetres >= 1e6)
        return QString::number(squareMetres / 1e6, 'f', 3) + QStringLiteral(" km²");
    if (squareMetres >= 1e4)
        return QString::number(squareMetres / 1e4, 'f', 2) + QStringLiteral(" ha");
    return QString::number(squareMetres, 'f', 0) + QStringLiteral(" m²");
}

QString placeText(const SurveyPoint& point)
{
    return survey_text::latitude(point.latitude) + QLatin1Char(' ') +
           survey_text::longitude(point.longitude);
}

QString timeText(uint32_t seconds)
{
    SurveyPoint point;
    point.time = seconds;
    return survey_text::time(point);
}

QString doseText(float microSievertPerHour)
{
    SurveyPoint point;
    point.doseRate = microSievertPerHour;
    return survey_text::doseRate(point);
}

std::vector<QString> statisticsValues(const SurveyStats& s, const std::vector<SurveyPoint>& survey,
                                      bool recordsKnown)
{
    std::vector<QString> values(kStatRowCount);
    values[kPoints] =
        QStringLiteral("%1 (%2 good, %3 flagged)").arg(s.points).arg(s.good).arg(s.flagged);
    values[kRecords] = recordsKnown ? QString::number(s.records) : QStringLiteral("unknown");
    if (s.good == 0)
        return values;
    values[kStart] = timeText(s.start);
    values[kEnd] = timeText(s.end);
    values[kDuration] = durationText(s.end - s.start);
    values[kDistance] = geodesic::distanceText(s.metres);
    values[kArea] = areaText(s.squareMetres);
    values[kMinimum] = doseText(s.minDoseRate);
    values[kMean] = doseText(s.meanDoseRate);
    values[kMedian] = doseText(s.medianDoseRate);
    values[kMaximum] = doseText(s.maxDoseRate);
    if (s.maxIndex >= 0 && std::size_t(s.maxIndex) < survey.size()) {
        const SurveyPoint& top = survey[std::size_t(s.maxIndex)];
        values[kMaximumAt] = placeText(top) + QLatin1Char('\n') + survey_text::time(top);
    }
    return values;
}

} // namespace survey_summary
