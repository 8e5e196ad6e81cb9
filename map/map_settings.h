// What the settings dialog edits beside the track radius: the map folder,
// the five-step dose-rate colour scale and the limits of the survey checks,
// kept in the settings store.
#pragma once

#include <survey_checks.h>

#include <QColor>
#include <QList>
#include <QString>

// One limit of the survey checks as the settings store and the dialog know it.
struct CheckLimitField
{
    const char* key;   // in group "Checks"; the dialog's edit is "edit_" + key
    const char* label; // in the dialog
    double low, high;  // what may be set
    bool whole;        // a count of seconds or satellites
    double CheckLimits::*real = nullptr;
    int CheckLimits::*count = nullptr;

    double get(const CheckLimits& limits) const
    {
        return real ? limits.*real : double(limits.*count);
    }
    void set(CheckLimits& limits, double value) const
    {
        if (real)
            limits.*real = value;
        else
            limits.*count = int(value);
    }
};
extern const CheckLimitField checkLimitFields[5];

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
