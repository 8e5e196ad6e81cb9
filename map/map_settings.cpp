#include "map_settings.h"

#include <dose_steps.h>
#include <resource_folder.h>

#include <QSettings>
#include <QStringList>

#include <cmath>

namespace {

constexpr int steps = kDoseStepCount;
const QString folderKey = QStringLiteral("MapFolder");
const QString thresholdsKey = QStringLiteral("Thresholds");
const QString colorsKey = QStringLiteral("Colors");

} // namespace

QString MapSettings::defaultFolder()
{
    return orviskResourceFolder() + QStringLiteral("maps/Korvenix/");
}

QList<float> MapSettings::defaultThresholds()
{
    QList<float> thresholds;
    for (const DoseStep& step : defaultDoseSteps())
        thresholds.append(step.threshold);
    return thresholds;
}

QList<QColor> MapSettings::defaultColors()
{
    QList<QColor> colors;
    for (const DoseStep& step : defaultDoseSteps())
        colors.append(QColor::fromRgba(step.argb));
    return colors;
}

MapSettings MapSettings::load()
{
    QSettings settings;
    MapSettings result{defaultFolder(), defaultThresholds(), defaultColors(), CheckLimits()};

    const QString folder = settings.value(folderKey).toString();
    if (!folder.isEmpty())
        result.folder = folder;

    // Stored as readable text; a list with a bad entry falls back as a whole.
    const QStringList thresholdTexts = settings.value(thresholdsKey).toStringList();
    QList<float> thresholds;
    for (const QString& text : thresholdTexts) {
        bool ok = false;
        const float value = text.toFloat(&ok);
        if (ok && std::isfinite(value))
            thresholds.append(value);
    }
    if (thresholds.size() == steps && thresholdTexts.size() == steps)
        result.thresholds = thresholds;

    const QStringList colorNames = settings.value(colorsKey).toStringList();
    QList<QColor> colors;
    for (const QString& name : colorNames)
        if (QColor color(name); color.isValid())
            colors.append(color);
    if (colors.size() == steps && colorNames.size() == steps)
        result.colors = colors;

    result.checks = loadCheckLimits();
    return result;
}

void MapSettings::save() const
{
    QSettings settings;
    settings.setValue(folderKey, folder);
    QStringList thresholdTexts;
    for (float value : thresholds)
        thresholdTexts << QString::number(double(value), 'g', 9);
    settings.setValue(thresholdsKey, thresholdTexts);
    QStringList colorNames;
    for (const QColor& color : colors)
        colorNames << color.name(QColor::HexArgb);
    settings.setValue(colorsKey, colorNames);
    saveCheckLimits(checks);
}
