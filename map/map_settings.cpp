#include "map_settings.h"

#include <QSettings>
#include <QStringList>

#include <cmath>

namespace {

constexpr int steps = 5;
const QString folderKey = QStringLiteral("MapFolder");
const QString thresholdsKey = QStringLiteral("Thresholds");
const QString colorsKey = QStringLiteral("Colors");

const QString checksGroup = QStringLiteral("Checks");

} // namespace

const CheckLimitField checkLimitFields[5] = {
    {"maxHdop", "HDOP at most", 0.1, 99.9, false, &CheckLimits::maxHdop, nullptr},
    {"minSatellites", "Satellites at least", 0, 32, true, nullptr, &CheckLimits::minSatellites},
    {"maxSpeed", "Speed at most, m/s", 0.1, 1000, false, &CheckLimits::maxSpeed, nullptr},
    {"warmUpSeconds", "Warm-up, s", 0, 3600, true, nullptr, &CheckLimits::warmUpSeconds},
    {"offGapSeconds", "Switched off after, s", 1, 604800, true, nullptr,
     &CheckLimits::offGapSeconds},
};

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

    // Each limit on its own: a damaged one takes its default.
    settings.beginGroup(checksGroup);
    for (const CheckLimitField& field : checkLimitFields) {
        bool ok = false;
        const double value = settings.value(QLatin1String(field.key)).toDouble(&ok);
        if (ok && value >= field.low && value <= field.high &&
            (!field.whole || value == std::floor(value)))
            field.set(result.checks, value);
    }
    settings.endGroup();
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
    settings.beginGroup(checksGroup);
    for (const CheckLimitField& field : checkLimitFields)
        settings.setValue(QLatin1String(field.key), field.get(checks));
    settings.endGroup();
}
