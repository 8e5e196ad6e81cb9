#include "geodesic_line.h"

#include <geodesic.h>

#include <cmath>

namespace geodesic {

namespace {

const geod_geodesic& wgs84()
{
    static const geod_geodesic ellipsoid = [] {
        geod_geodesic g;
        geod_init(&g, 6378137.0, 1 / 298.257223563);
        return g;
    }();
    return ellipsoid;
}

} // namespace

Line inverse(double latitude1, double longitude1, double latitude2, double longitude2)
{
    double metres = 0, azimuth1 = 0, azimuth2 = 0;
    geod_inverse(&wgs84(), latitude1, longitude1, latitude2, longitude2, &metres, &azimuth1,
                 &azimuth2);
    double azimuth = std::fmod(azimuth1, 360.0); // PROJ gives (-180, 180]
    if (azimuth < 0)
        azimuth += 360.0;
    return {metres, azimuth};
}

QString distanceText(double metres)
{
    if (metres < 999.95) // would otherwise read "1000.0 m"
        return QString::asprintf("%.1f m", metres);
    return QString::asprintf("%.3f km", metres / 1000.0);
}

QString azimuthText(double degrees)
{
    if (degrees >= 359.95) // would otherwise read "360.0"
        degrees = 0;
    return QString::asprintf("%.1f", degrees) + QChar(0x00B0);
}

} // namespace geodesic
