// A dose-rate raster interpolated from a survey's good points: inverse
// distance to a power over the nearest points within a radius (GDAL's grid,
// "invdistnn"), in a projection in metres, with every cell farther than the
// mask distance from the walk left without a value, so that nothing is
// invented far from where the surveyor went. Values are nSv/h, as the
// window's colours. The file is a Cloud Optimized GeoTIFF (Float32, DEFLATE,
// overviews by average) written whole or not at all.
//
// The file's metadata: UNIT (nSv/h), METHOD, POWER, SMOOTHING_M, RADIUS_M,
// MAX_POINTS, MIN_POINTS, MASK_M, MARGIN_M, CELL_M, NODATA, POINT_COUNT, the
// provenance's fields in capitals (INSTRUMENT_FAMILY, ..., RECORDS_SHA256) and
// ORVISK_VERSION; the band's unit is nSv/h and it carries STATISTICS_MINIMUM,
// _MAXIMUM and _MEAN of the cells with a value.
#pragma once

#include "survey_export.h"

#include <survey_point.h>

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <optional>
#include <vector>

// Distances are metres on the projection's plane (converted for a
// projection in other units). The ranges are those rasterOptionsProblem()
// accepts.
struct RasterOptions
{
    // A PROJ definition, WKT or "EPSG:32635"; empty: the UTM zone of the
    // points' centre (UPS beyond 84 N and 80 S).
    QString projection;
    // 0: about 1000 cells on the long side, in steps of 1, 2 and 5, at least
    // 1 m and at most the mask distance; else 0.01 .. 100 000.
    double cellSize = 0;
    double power = 2;     // weights 1 / distance^power; above 0, at most 10
    double smoothing = 0; // distance = sqrt(d^2 + smoothing^2); 0 .. radius
    double radius = 30;   // only points this near a cell count; above 0, at most 100 000
    int maxPoints = 12;   // the nearest this many within the radius; 1 .. 1000
    int minPoints = 1;    // fewer within the radius: no value; 1 .. maxPoints
    // A cell whose centre is farther than this from every good point has no
    // value; above 0, at most 100 000. A mask beyond the radius changes
    // nothing: a cell without a point within the radius has no value anyway.
    double mask = 20;
    double margin = -1;    // around the points' extent; below 0: the mask distance
    double nodata = -9999; // a cell without a value; finite, not above 0
    // Where the points came from, for the metadata; none: Orvisk's version only.
    std::optional<SurveyProvenance> provenance;
};

// The grid: `columns` x `rows` square cells of `cell` projection units, the
// first row northmost; (west, north) is the upper-left corner.
struct RasterFrame
{
    double west = 0, north = 0, cell = 1;
    int columns = 0, rows = 0;
};

// A raster ready to be written or drawn.
struct DoseRaster
{
    QByteArray wkt;         // the projection
    QString projectionName; // "WGS 84 / UTM zone 35N"
    QString authority;      // "EPSG:32635"; empty when it has no code
    double metresPerUnit = 1;
    RasterFrame frame;
    std::vector<float> values; // nSv/h, row by row; nodata where unknown
    double nodata = -9999;
    std::size_t points = 0; // the good points with a dose rate used
    std::size_t cells = 0;  // the cells with a value
    double minimum = std::numeric_limits<double>::quiet_NaN(); // over those cells
    double maximum = std::numeric_limits<double>::quiet_NaN();
    double mean = std::numeric_limits<double>::quiet_NaN();
};

// From 0 to 1; returning false cancels. Called on the calling thread.
using RasterProgress = std::function<bool(double)>;

// Why the options cannot be used, in one line; empty when they can: a value
// out of its range, or a projection that is unknown or not projected.
QString rasterOptionsProblem(const RasterOptions& options);

// The raster of the points with flag 0 (every point when `flags` is empty)
// that have a position and a dose rate. None with a message for bad
// options, fewer than three such points, a grid too large, or a cancel.
std::optional<DoseRaster> makeDoseRaster(const std::vector<SurveyPoint>& points,
                                         const std::vector<uint16_t>& flags,
                                         const RasterOptions& options, QString* error,
                                         const RasterProgress& progress = {});

// Writes the raster as a Cloud Optimized GeoTIFF at `path`, whole or not at
// all: an earlier file stays as it was on any failure. `options` are those
// it was made with, for the metadata.
bool writeDoseRaster(const DoseRaster& raster, const RasterOptions& options, const QString& path,
                     QString* error, const RasterProgress& progress = {});

// Both: no work is done when the path cannot take a file.
bool interpolateSurvey(const std::vector<SurveyPoint>& points, const std::vector<uint16_t>& flags,
                       const RasterOptions& options, const QString& path, QString* error,
                       DoseRaster* made = nullptr, const RasterProgress& progress = {});

// The interpolation alone, on points already in the projection (x, y) with
// their values (z), distances in `options` in projection units: the values
// at the cells' centres into `out` (columns * rows), nodata where fewer
// than minPoints lie within the radius. False when cancelled.
bool gridInverseDistance(const std::vector<double>& x, const std::vector<double>& y,
                         const std::vector<double>& z, const RasterFrame& frame,
                         const RasterOptions& options, float* out,
                         const RasterProgress& progress = {});
