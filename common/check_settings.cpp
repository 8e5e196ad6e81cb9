#include "check_settings.h"

#include <QSettings>

#include <algorithm>
#include <iterator>

namespace {

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

CheckLimits loadCheckLimits()
{
    CheckLimits limits;
    QSettings settings;
    settings.beginGroup(checksGroup);
    for (const CheckLimitField& field : checkLimitFields) {
        bool ok = false;
        const double value = settings.value(QLatin1String(field.key)).toDouble(&ok);
        if (ok && field.allows(value))
            field.set(limits, value);
    }
    return limits;
}

void saveCheckLimits(const CheckLimits& limits)
{
    QSettings settings;
    settings.beginGroup(checksGroup);
    for (const CheckLimitField& field : checkLimitFields)
        settings.setValue(QLatin1String(field.key), field.get(limits));
}

bool sameCheckLimits(const CheckLimits& a, const CheckLimits& b)
{
    return std::all_of(std::begin(checkLimitFields), std::end(checkLimitFields),
                       [&](const CheckLimitField& field) { return field.get(a) == field.get(b); });
}
