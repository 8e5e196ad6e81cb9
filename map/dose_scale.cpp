#include "dose_scale.h"

#include "map_settings.h"
#include <survey_point.h>

#include <algorithm>
#include <cmath>

namespace {

QString number(float value)
{
    return QString::number(double(value), 'g', 6);
}

} // namespace

DoseScale::DoseScale() : DoseScale(MapSettings::defaultThresholds(), MapSettings::defaultColors())
{
}

DoseScale::DoseScale(const QList<float>& thresholds, const QList<QColor>& colours)
{
    const int count = std::min(thresholds.size(), colours.size());
    for (int n = 0; n < count; ++n)
        if (std::isfinite(thresholds[n]))
            scaleSteps.append({thresholds[n], colours[n]});
    std::stable_sort(scaleSteps.begin(), scaleSteps.end(),
                     [](const Step& a, const Step& b) { return a.threshold < b.threshold; });
    // The instrument's rate of 0.2505 uSv/h must reach a threshold typed as
    // 250.5 nSv/h: one correctly rounded division gives the same float.
    for (const Step& step : scaleSteps)
        limits.append(step.threshold / 1000.0f);
}

int DoseScale::stepOf(float microSievertPerHour) const
{
    if (!SurveyPoint::isDoseRate(microSievertPerHour))
        return -1;
    const auto reached = std::upper_bound(limits.begin(), limits.end(), microSievertPerHour);
    return int(reached - limits.begin());
}

QColor DoseScale::colourOf(float microSievertPerHour) const
{
    const int step = stepOf(microSievertPerHour);
    if (step < 0)
        return unknownColour();
    if (step == 0)
        return backgroundColour();
    return scaleSteps[step - 1].colour;
}

QVector<DoseScale::LegendRow> DoseScale::legend() const
{
    QVector<LegendRow> rows;
    const QChar dash(0x2013), atLeast(0x2265);
    for (int n = scaleSteps.size() - 1; n >= 0; --n) {
        const QString from = number(scaleSteps[n].threshold);
        const QString range = n + 1 < scaleSteps.size()
                                  ? from + QStringLiteral(" ") + dash + QStringLiteral(" ") +
                                        number(scaleSteps[n + 1].threshold)
                                  : atLeast + QStringLiteral(" ") + from;
        rows.append({scaleSteps[n].colour, range});
    }
    if (!scaleSteps.isEmpty())
        rows.append(
            {backgroundColour(), QStringLiteral("< ") + number(scaleSteps.first().threshold)});
    else
        rows.append({backgroundColour(), QStringLiteral("any")});
    rows.append({unknownColour(), QStringLiteral("unknown")});
    return rows;
}

bool DoseScale::operator==(const DoseScale& other) const
{
    if (scaleSteps.size() != other.scaleSteps.size())
        return false;
    for (int n = 0; n < scaleSteps.size(); ++n)
        if (scaleSteps[n].threshold != other.scaleSteps[n].threshold ||
            scaleSteps[n].colour != other.scaleSteps[n].colour)
            return false;
    return true;
}
