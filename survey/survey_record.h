// A survey record as Orvisk reads it from the bytes an M30 instrument sends.
#pragma once

#include "survey_point.h"

#include <cstdint>
#include <optional>
#include <vector>

struct SurveyRecord
{
    uint32_t index = 0;
    uint32_t time = 0;               // seconds since 1970 UTC
    std::vector<SurveyPoint> points; // the flagged ones with a position, in record order
    int impossible = 0;              // flagged, but not a place on the earth: left out
    std::vector<char> bytes;         // as the instrument sent it, for the archive
};

// Reads a record of `size` bytes (3436 as the instrument sends it): its time
// and the points whose flag is set and whose position is a place on the
// earth. None when the record claims more points than its 60 entries or is
// shorter than its header and points need. Point entry layout (32 bytes,
// little-endian): u32 flag, f32 latitude, f32 longitude, f32 altitude in
// metres at +12, f32 dose rate in microsievert per hour at +16, u32 time at
// +20, u16 counts per second at +24, u8 satellites at +26, u8 HDOP in tenths
// at +27 (the last entry has room for these 28 bytes only).
std::optional<SurveyRecord> decodeSurveyRecord(const char* bytes, int size, uint32_t index);
