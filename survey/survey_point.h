// One survey point as Orvisk reads it from a record: the position and what
// the instrument measured there. Floating values that are unknown (not a
// finite number in the record, or a dose rate not above 0) are NaN.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>

struct SurveyPoint
{
    double latitude = 0;  // degrees, WGS 84
    double longitude = 0; // degrees, WGS 84
    float altitude = std::numeric_limits<float>::quiet_NaN();  // metres
    float doseRate = std::numeric_limits<float>::quiet_NaN();  // microsievert per hour
    uint32_t time = 0;      // seconds since 1970 UTC
    uint16_t cps = 0;       // gamma counts per second
    uint8_t satellites = 0; // in the fix
    uint8_t hdop10 = 0;     // horizontal dilution of precision, tenths

    bool hasAltitude() const { return std::isfinite(altitude); }
    bool hasDoseRate() const { return isDoseRate(doseRate); }

    // What an instrument writes for a point without a rate is not finite or not above 0.
    static bool isDoseRate(float microSievertPerHour)
    {
        return std::isfinite(microSievertPerHour) && microSievertPerHour > 0;
    }

    // A place on the earth: finite, latitude -90..90, longitude -180..180.
    static bool isPosition(double latitude, double longitude)
    {
        return std::isfinite(latitude) && std::isfinite(longitude) && std::fabs(latitude) <= 90 &&
               std::fabs(longitude) <= 180;
    }
};
