#include "dose_steps.h"

#include <QSettings>
#include <QStringList>

#include <algorithm>
#include <cmath>

std::vector<DoseStep> defaultDoseSteps()
{
    return {{100, 0xffff6400},
            {200, 0xff1ee100},
            {300, 0xff3214ff},
            {400, 0xff46b45a},
            {500, 0xff5aa0c8}};
}

bool parseDoseColour(const QString& name, uint32_t* argb)
{
    const int digits = name.size() - 1;
    if (!name.startsWith(QLatin1Char('#')) || (digits != 3 && digits != 6 && digits != 8))
        return false;
    uint32_t value = 0;
    for (int i = 1; i <= digits; ++i) {
        const int digit = QStringLiteral("0123456789abcdef").indexOf(name[i].toLower());
        if (digit < 0)
            return false;
        value = value << 4 | uint32_t(digit);
    }
    if (digits == 3) {
        // Each digit stands for two alike: #f60 is #ff6600.
        const uint32_t r = (value >> 8) & 0xf, g = (value >> 4) & 0xf, b = value & 0xf;
        *argb = 0xff000000u | (r * 0x11) << 16 | (g * 0x11) << 8 | b * 0x11;
    } else {
        *argb = digits == 6 ? 0xff000000u | value : value;
    }
    return true;
}

std::vector<DoseStep> loadDoseSteps()
{
    std::vector<DoseStep> steps = defaultDoseSteps();
    QSettings settings;
    const QStringList thresholdTexts = settings.value(QStringLiteral("Thresholds")).toStringList();
    std::vector<float> thresholds;
    for (const QString& text : thresholdTexts) {
        bool ok = false;
        const float value = text.toFloat(&ok);
        if (ok && std::isfinite(value))
            thresholds.push_back(value);
    }
    if (thresholds.size() == kDoseStepCount && thresholdTexts.size() == kDoseStepCount)
        for (int n = 0; n < kDoseStepCount; ++n)
            steps[n].threshold = thresholds[n];

    const QStringList colorNames = settings.value(QStringLiteral("Colors")).toStringList();
    std::vector<uint32_t> colors;
    for (const QString& name : colorNames)
        if (uint32_t argb = 0; parseDoseColour(name, &argb))
            colors.push_back(argb);
    if (colors.size() == kDoseStepCount && colorNames.size() == kDoseStepCount)
        for (int n = 0; n < kDoseStepCount; ++n)
            steps[n].argb = colors[n];

    std::stable_sort(steps.begin(), steps.end(), [](const DoseStep& a, const DoseStep& b) {
        return a.threshold < b.threshold;
    });
    return steps;
}
