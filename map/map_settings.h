// What the settings dialog edits beside the track radius: the map folder,
// the five-step dose-rate colour scale and the limits of the survey checks,
// kept in the settings store.
#pragma once

#include <check_settings.h>

#include <QColor>
#include <QList>
#include <QString>

struct MapSettings
{
    QString folder;
    QList<float> thresholds;
    QList<QColor> colors;
    CheckLimits checks;

    static QString defaultFolder();
    static QList<float> defaultThresholds();
    static QList<QColor> defaultColors();

    // Stored values, or the defaults for any that are missing or damaged.
    static MapSettings load();
    void save() const;
};
