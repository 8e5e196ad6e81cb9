#include "map_settings.h"

#include <QSettings>
#include <QStringList>

#include <cmath>

namespace {

constexpr int steps = 5;
const QString folderKey = QStringLiteral("MapFolder");
const QString thresholdsKey = QStringLiteral("Thresholds");
const QString colorsKey = QStringLiteral("Colors");

} // namespace

QString MapSettings::defaultFolder()
{
    return QStringLiteral("./maps/Korvenix/");
}

QList<float> MapSettings::defaultThresholds()
{
    return {100, 200, 300, 400, 500};
}

QList<QColor> MapSettings::defaultColors()
{
    return {QColor(255, 100, 0, 255), QColor(30, 225, 0, 255), QColor(50, 20, 255, 255),
            QColor(70, 180, 90, 255), QColor(90, 160, 200, 255)};
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
