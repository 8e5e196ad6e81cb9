// What a surveyor reads off the points in view: how many, when, how far
// walked, how much ground covered, the dose rates, and the hot places.
// Only good points (no flag) count towards the figures.
#pragma once

#include "survey_point.h"

#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

struct SurveyStats
{
    std::size_t points = 0;      // shown, good and flagged
    std::size_t good = 0;        // of them without a flag
    std::size_t flagged = 0;     // of them with a flag
    std::size_t records = 0;     // distinct records the shown points come from; 0 when unknown
    uint32_t start = 0, end = 0; // first and last time of the good points; 0 when none
    // Walked: geodesic, between consecutive good points in recording order,
    // not across a gap long enough to mean the instrument was off.
    double metres = 0;
    // Covered: the geodesic area of the good points' convex hull (0 for
    // fewer than 3 points or all on a line).
    double squareMetres = 0;
    // Microsievert per hour, over the good points with a dose rate; NaN when none.
    // The median of an even count is the mean of the middle two.
    float minDoseRate = std::numeric_limits<float>::quiet_NaN();
    float meanDoseRate = std::numeric_limits<float>::quiet_NaN();
    float medianDoseRate = std::numeric_limits<float>::quiet_NaN();
    float maxDoseRate = std::numeric_limits<float>::quiet_NaN();
    // The survey index of the good point with the maximum rate, the first
    // recorded of several; -1 when none.
    std::ptrdiff_t maxIndex = -1;
};

// A hot place: its hottest good point, and how many good points lie within
// the radius of it (the hottest one included).
struct HotPlace
{
    std::size_t index = 0; // survey index of the hottest point
    float doseRate = 0;    // microsievert per hour
    std::size_t points = 0;
};

// The figures of the shown points. `flags` holds one entry per point (see
// checkSurvey); `shown` is empty (all shown) or one byte per point, non-zero
// when shown; `recordOf` is empty (records unknown) or the record number of
// each point, negative for none. `order` holds survey indices in recording
// order (see recordingOrder); the walked distance follows it, skipping the
// points not shown or flagged. A gap of `offGapSeconds` or more between two
// good points means the instrument was off: no walk across it.
SurveyStats surveyStats(const std::vector<SurveyPoint>& points, const std::vector<uint16_t>& flags,
                        const std::vector<std::size_t>& order, const std::vector<char>& shown,
                        const std::vector<int>& recordOf, int offGapSeconds);

// The survey's indices in recording order: stably sorted by time.
std::vector<std::size_t> recordingOrder(const std::vector<SurveyPoint>& points);

// The `count` hottest places among the good shown points with a dose rate,
// hottest first. The hottest point starts a place; each next place starts at
// the hottest point not within `radiusMetres` of an earlier place's start.
// Every such point within the radius of a place's start counts there (at
// the nearest start if several), cooler than later starts or not. Meant
// for a short list: the work grows with the points times `count`.
std::vector<HotPlace> hottestPlaces(const std::vector<SurveyPoint>& points,
                                    const std::vector<uint16_t>& flags,
                                    const std::vector<char>& shown, std::size_t count,
                                    double radiusMetres);
