#include "survey_record.h"

#include <m30_comm.h>
#include <mxx_bytes.h>

#include <cmath>

namespace {

// The bytes a record needs for its header and `count` points: the last entry
// of a full record has room for 28 of its 32 bytes, all that is read of it.
constexpr int kPointBytesRead = 28;
int recordBytesNeeded(uint32_t count)
{
    return count == 0
               ? M30_SURVEY_POINT_COUNT + 4
               : M30_SURVEY_POINTS + M30_SURVEY_POINT_SIZE * int(count - 1) + kPointBytesRead;
}
static_assert(M30_SURVEY_POINTS + M30_SURVEY_POINT_SIZE * (M30_SURVEY_MAX_POINTS - 1) +
                      kPointBytesRead ==
                  M30_SURVEY_RECORD_SIZE,
              "a full record ends with the bytes read of its last point");

} // namespace

std::optional<SurveyRecord> decodeSurveyRecord(const char* bytes, int size, uint32_t index)
{
    if (size < recordBytesNeeded(0))
        return std::nullopt;
    const uint32_t count = MXX_get_u32(bytes + M30_SURVEY_POINT_COUNT);
    if (count > M30_SURVEY_MAX_POINTS || size < recordBytesNeeded(count))
        return std::nullopt;
    SurveyRecord r;
    r.index = index;
    r.time = MXX_get_u32(bytes + M30_SURVEY_TIME);
    r.bytes.assign(bytes, bytes + size);
    for (uint32_t j = 0; j < count; ++j) {
        const char* p = bytes + M30_SURVEY_POINTS + M30_SURVEY_POINT_SIZE * j;
        if (MXX_get_u32(p) == 0)
            continue;
        SurveyPoint point;
        point.latitude = MXX_get_f32(p + 4);
        point.longitude = MXX_get_f32(p + 8);
        if (!SurveyPoint::isPosition(point.latitude, point.longitude)) {
            ++r.impossible;
            continue;
        }
        const float altitude = MXX_get_f32(p + 12), doseRate = MXX_get_f32(p + 16);
        if (std::isfinite(altitude))
            point.altitude = altitude;
        if (SurveyPoint::isDoseRate(doseRate))
            point.doseRate = doseRate;
        point.time = MXX_get_u32(p + 20);
        point.cps = MXX_get_u16(p + 24);
        point.satellites = static_cast<uint8_t>(p[26]);
        point.hdop10 = static_cast<uint8_t>(p[27]);
        r.points.push_back(point);
    }
    return r;
}
