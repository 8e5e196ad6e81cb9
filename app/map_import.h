// Prepares a map folder from any raster GDAL reads: a north-up GeoTIFF with
// overviews (Cloud Optimized, tiled) as map.tif, reprojected when asked, and
// the classic map.png, map.pgw and map.ppr in its "classic" folder for older
// installations (at most kClassicPixels on the long side).
#pragma once

#include <QString>

#include <functional>

struct MapImportOptions
{
    QString projection;  // "EPSG:32634", a PROJ or WKT definition; empty: the raster's own
    bool classic = true; // also the three classic files
};

constexpr int kClassicPixels = 8000;

// What is being done, for a progress line.
using MapImportProgress = std::function<void(const QString& stage)>;

// False with the reason: the input cannot be read, has no georeferencing or
// projection, the projection asked for is unknown, the folder holds a
// classic map already or cannot be written. Nothing is left half written:
// each file appears whole or not at all.
bool importMap(const QString& input, const QString& folder, const MapImportOptions& options,
               QString* error, const MapImportProgress& progress = {});
