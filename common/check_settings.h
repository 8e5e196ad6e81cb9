// The limits of the survey checks as the settings store keeps them (group
// "Checks"), shared by the window and the programs that write surveys.
#pragma once

#include <survey_checks.h>

// One limit as the settings store and the settings dialog know it.
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
    bool allows(double value) const
    {
        return value >= low && value <= high && (!whole || value == double(long(value)));
    }
};
extern const CheckLimitField checkLimitFields[5];

// The stored limits; a missing or damaged one takes its default.
CheckLimits loadCheckLimits();
void saveCheckLimits(const CheckLimits& limits);
bool sameCheckLimits(const CheckLimits& a, const CheckLimits& b);
