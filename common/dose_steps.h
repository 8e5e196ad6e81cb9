// The five dose-rate steps of the map's colour scale as the settings store
// keeps them ("Thresholds" in nSv/h as text, "Colors" as colour names), for
// the programs that draw or style a survey without a window.
#pragma once

#include <QString>

#include <cstdint>
#include <vector>

struct DoseStep
{
    float threshold; // nSv/h
    uint32_t argb;   // 0xAARRGGBB
};

constexpr int kDoseStepCount = 5;

// The steps a first start has.
std::vector<DoseStep> defaultDoseSteps();

// The stored steps in rising order of their thresholds, as the map takes
// them. Thresholds and colours each fall back to the defaults as a whole
// when a list is missing, not five entries long, or has a bad entry.
std::vector<DoseStep> loadDoseSteps();

// A colour written "#RGB", "#RRGGBB" or "#AARRGGBB" (as the settings store
// writes it); false for anything else.
bool parseDoseColour(const QString& name, uint32_t* argb);
