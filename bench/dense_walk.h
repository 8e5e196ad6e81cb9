// The dense survey the map benchmarks draw: 600 000 points on transects 5
// pixels apart over the whole image, walked one pixel a point with some GPS
// jitter, as latitude (x) and longitude (y) in degrees.
#pragma once

#include "orvisk.h"

#include <QPointF>
#include <QSize>

#include <vector>

constexpr int kDenseWalkPoints = 600000;

inline std::vector<QPointF> denseWalk(const TOrvisk& map, QSize image)
{
    std::vector<QPointF> positions;
    positions.reserve(kDenseWalkPoints);
    unsigned seed = 12345;
    auto jitter = [&seed] {
        seed = seed * 1103515245u + 12345u;
        return ((seed >> 16) % 1000) / 1000.0 - 0.5;
    };
    for (int i = 0; i < kDenseWalkPoints; ++i) {
        const int line = (i / image.width()) % (image.height() / 5);
        const int step = i % image.width();
        const double x = line % 2 ? image.width() - 1 - step : step;
        const double y = line * 5.0;
        positions.push_back(*map.sceneToGeo(QPointF(x + jitter(), y + 2 * jitter())));
    }
    return positions;
}
