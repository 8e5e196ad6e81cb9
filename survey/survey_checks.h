// The checks a surveyor runs before trusting a survey: each point gets the
// flags of the checks it fails. Flagged points are kept; they are only left
// out of what is computed from the good ones.
#pragma once

#include "survey_point.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

enum SurveyFlag : uint16_t {
    kFlagNoFix = 1u << 0,      // position at 0,0: a receiver without a fix
    kFlagHdop = 1u << 1,       // HDOP above the limit
    kFlagSatellites = 1u << 2, // fewer satellites than the limit
    kFlagTime = 1u << 3,       // outside its record's period, backwards or repeated
    kFlagSpeed = 1u << 4,      // reached faster than a surveyor moves
    kFlagDoseRate = 1u << 5,   // no dose rate: not a number or not above 0
    kFlagWarmUp = 1u << 6,     // the first seconds after the instrument was switched on
};
constexpr int kSurveyFlagCount = 7;
// Each flag's name in files, by bit number.
extern const char* const kSurveyFlagNames[kSurveyFlagCount];

// The thresholds, with defaults for a surveyor on foot.
struct CheckLimits
{
    double maxHdop = 4.0;
    int minSatellites = 4;
    double maxSpeed = 5.0;   // metres per second: 5 on foot, 40 driving
    int warmUpSeconds = 30;  // flagged after the instrument comes on
    int offGapSeconds = 300; // a gap this long in the times: it was switched off
    int recordSeconds = 120; // a record's points lie within this after its time
};

// Where a record's points lie in the survey, and its time; records in the
// order the survey holds them (a download's: newest first).
struct RecordSpan
{
    std::size_t first = 0, count = 0;
    uint32_t time = 0; // seconds since 1970 UTC
};

// The flags of every point, in the survey's order. The time, speed and
// warm-up checks follow the order the instrument recorded in: the records
// oldest first, each record's points in order. Without records (a file) the
// points in time order are that order (a repeated time is still flagged)
// and no record period is checked; so it is when the records do not hold
// every point.
std::vector<uint16_t> checkSurvey(const std::vector<SurveyPoint>& points,
                                  const std::vector<RecordSpan>& records,
                                  const CheckLimits& limits = {});

// The limits for these points: without any satellite count or HDOP (a file
// that has none) those checks are off, or they would flag every point.
CheckLimits limitsForData(const std::vector<SurveyPoint>& points, CheckLimits limits);

// The record (its index in `records`) of each of `count` points, -1 for a
// point no record holds; empty when there are no records (unknown).
std::vector<int> recordOfPoints(const std::vector<RecordSpan>& records, std::size_t count);

// How many points each check flagged, by the flag's bit number.
std::vector<std::size_t> countFlags(const std::vector<uint16_t>& flags);

// The names of a point's flags, separated by spaces; empty for a good point.
std::string flagNames(uint16_t flags);
