// Distances and azimuths on the WGS84 ellipsoid, and their texts in the window.
#pragma once

#include <QString>

namespace geodesic {

struct Line
{
    double metres = 0;
    double azimuth =
        0; // forward azimuth at the first point, degrees clockwise from north, [0, 360)
};

// The shortest line from the first to the second point (degrees).
Line inverse(double latitude1, double longitude1, double latitude2, double longitude2);

// "532.7 m" below one kilometre, "12.345 km" from there on.
QString distanceText(double metres);
// "123.4°".
QString azimuthText(double degrees);

} // namespace geodesic
