#include "survey_raster.h"

#include "gdal_rows.h"

#include <orvisk_identity.h>
#include <whole_file.h>

#include <cpl_conv.h>
#include <cpl_error.h>
#include <cpl_vsi.h>
#include <gdal_alg.h>
#include <gdal_priv.h>
#include <ogr_spatialref.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>
#include <memory>
#include <numeric>

namespace {

constexpr double kMaxDistance = 100000;          // metres: a radius, mask, margin or cell
constexpr double kMinCell = 0.01;                // metres, asked for
constexpr double kMinAutoCell = 1;               // metres: below a GPS position's spread
constexpr int kMaxSide = 20000;                  // cells
constexpr qint64 kMaxCells = 25LL * 1000 * 1000; // 100 MB of values
constexpr double kGridShare = 0.9;               // of the progress: the rest is the file

template <typename T> T fail(QString* error, const QString& text, T result)
{
    if (error)
        *error = text;
    return result;
}

QString number(double v)
{
    return QString::number(v, 'g', 15);
}

// The target projection from a definition: no file or network is read for
// it. Null with the reason when it is unknown or not projected.
std::unique_ptr<OGRSpatialReference> projectionOf(const QString& definition, QString* error)
{
    gdal::Quiet quiet;
    auto srs = std::make_unique<OGRSpatialReference>();
    const QByteArray text = definition.trimmed().toUtf8();
    if (text.isEmpty() ||
        srs->SetFromUserInput(text.constData(),
                              OGRSpatialReference::SET_FROM_USER_INPUT_LIMITATIONS_get()) !=
            OGRERR_NONE) {
        const QString why = QString::fromUtf8(CPLGetLastErrorMsg()).simplified();
        fail(error,
             QStringLiteral("unknown projection \"%1\"%2")
                 .arg(definition.trimmed(), why.isEmpty() ? QString() : ": " + why),
             false);
        return nullptr;
    }
    if (!srs->IsProjected()) {
        fail(error,
             QStringLiteral("\"%1\" is not a projection in metres on a plane: cells need one")
                 .arg(definition.trimmed()),
             false);
        return nullptr;
    }
    srs->SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER); // easting first
    return srs;
}

// The UTM zone of a place, or UPS near the poles, as an EPSG code.
int utmZoneCode(double longitude, double latitude)
{
    if (latitude > 84)
        return 32661;
    if (latitude < -80)
        return 32761;
    const int zone = std::clamp(int(std::floor((longitude + 180) / 6)) + 1, 1, 60);
    return (latitude >= 0 ? 32600 : 32700) + zone;
}

// The middle of the points' longitudes and latitudes; a walk across the
// antimeridian is taken as the short way round.
std::pair<double, double> centreOf(const std::vector<double>& lon, const std::vector<double>& lat)
{
    const auto [south, north] = std::minmax_element(lat.begin(), lat.end());
    double west = 180, east = -180, westShifted = 360, eastShifted = 0;
    for (double l : lon) {
        west = std::min(west, l), east = std::max(east, l);
        const double s = l < 0 ? l + 360 : l;
        westShifted = std::min(westShifted, s), eastShifted = std::max(eastShifted, s);
    }
    double middle = (west + east) / 2;
    if (eastShifted - westShifted < east - west) {
        middle = (westShifted + eastShifted) / 2;
        if (middle > 180)
            middle -= 360;
    }
    return {middle, (*south + *north) / 2};
}

// The smallest of 1, 2 and 5 times a power of ten at least `v`.
double roundedUp(double v)
{
    const double decade = std::pow(10.0, std::floor(std::log10(v)));
    for (double step : {1.0, 2.0, 5.0, 10.0})
        if (step * decade >= v * (1 - 1e-12))
            return step * decade;
    return 10 * decade;
}

// A share of the progress, and whether it was cancelled: GDAL's drivers do
// not all say so in their error.
struct Progress
{
    const RasterProgress* report;
    double from, share;
    bool cancelled = false;
};

int CPL_STDCALL gdalProgress(double done, const char*, void* arg)
{
    Progress* p = static_cast<Progress*>(arg);
    p->cancelled = !(*p->report)(p->from + p->share * std::clamp(done, 0.0, 1.0));
    return p->cancelled ? FALSE : TRUE;
}

// Every cell whose centre is farther than `distance` from all points gets
// nodata. Row by row, each point near the row covers one run of columns;
// the runs are summed through a difference array, so the cost is the points'
// runs plus the cells, whatever the distance.
void maskFarCells(const std::vector<double>& x, const std::vector<double>& y,
                  const RasterFrame& frame, double distance, float nodata, float* values)
{
    std::vector<std::size_t> order(x.size());
    std::iota(order.begin(), order.end(), std::size_t(0));
    std::sort(order.begin(), order.end(),
              [&y](std::size_t a, std::size_t b) { return y[a] > y[b]; });
    std::vector<int> cover(std::size_t(frame.columns) + 1);
    const double squared = distance * distance;
    std::size_t first = 0;
    for (int r = 0; r < frame.rows; ++r) {
        const double cy = frame.north - (r + 0.5) * frame.cell;
        while (first < order.size() && y[order[first]] > cy + distance)
            ++first;
        std::fill(cover.begin(), cover.end(), 0);
        bool any = false;
        for (std::size_t k = first; k < order.size() && y[order[k]] >= cy - distance; ++k) {
            const std::size_t i = order[k];
            const double dy = y[i] - cy;
            const double half = std::sqrt(std::max(0.0, squared - dy * dy));
            // The columns whose centres lie within x +- half.
            const double a =
                std::max(std::ceil((x[i] - half - frame.west) / frame.cell - 0.5), 0.0);
            const double b = std::min(std::floor((x[i] + half - frame.west) / frame.cell - 0.5),
                                      double(frame.columns - 1));
            if (a > b)
                continue;
            ++cover[std::size_t(a)];
            --cover[std::size_t(b) + 1];
            any = true;
        }
        float* row = values + std::size_t(r) * std::size_t(frame.columns);
        if (!any) {
            std::fill(row, row + frame.columns, nodata);
            continue;
        }
        int covered = 0;
        for (int c = 0; c < frame.columns; ++c) {
            covered += cover[std::size_t(c)];
            if (covered == 0)
                row[c] = nodata;
        }
    }
}

} // namespace

QString rasterOptionsProblem(const RasterOptions& o)
{
    auto within = [](double v, double low, double high) {
        return std::isfinite(v) && v >= low && v <= high;
    };
    if (!within(o.power, 0, 10) || o.power == 0)
        return QStringLiteral("power %1: it must be above 0 and at most 10").arg(number(o.power));
    if (!within(o.radius, 0, kMaxDistance) || o.radius == 0)
        return QStringLiteral("radius %1 m: it must be above 0 and at most 100000 m")
            .arg(number(o.radius));
    if (!within(o.smoothing, 0, o.radius))
        return QStringLiteral("smoothing %1 m: it must be from 0 to the radius (%2 m)")
            .arg(number(o.smoothing), number(o.radius));
    if (o.maxPoints < 1 || o.maxPoints > 1000)
        return QStringLiteral("at most %1 points: it must be from 1 to 1000").arg(o.maxPoints);
    if (o.minPoints < 1 || o.minPoints > o.maxPoints)
        return QStringLiteral("at least %1 points: it must be from 1 to the most points (%2)")
            .arg(o.minPoints)
            .arg(o.maxPoints);
    if (!within(o.mask, 0, kMaxDistance) || o.mask == 0)
        return QStringLiteral("mask %1 m: it must be above 0 and at most 100000 m")
            .arg(number(o.mask));
    if (std::isnan(o.margin) || o.margin > kMaxDistance)
        return QStringLiteral("margin %1 m: it must be at most 100000 m").arg(number(o.margin));
    if (o.cellSize != 0 && !within(o.cellSize, kMinCell, kMaxDistance))
        return QStringLiteral("cell %1 m: it must be from 0.01 to 100000 m")
            .arg(number(o.cellSize));
    if (!std::isfinite(o.nodata) || o.nodata > 0)
        return QStringLiteral("nodata %1: it must be a number not above 0, never a dose rate")
            .arg(number(o.nodata));
    QString error;
    if (!o.projection.trimmed().isEmpty() && !projectionOf(o.projection, &error))
        return error;
    return {};
}

bool gridInverseDistance(const std::vector<double>& x, const std::vector<double>& y,
                         const std::vector<double>& z, const RasterFrame& frame,
                         const RasterOptions& options, float* out, const RasterProgress& progress)
{
    GDALGridInverseDistanceToAPowerNearestNeighborOptions o{};
    o.nSizeOfStructure = sizeof o;
    o.dfPower = options.power;
    o.dfRadius = options.radius;
    o.dfSmoothing = options.smoothing;
    o.nMaxPoints = GUInt32(options.maxPoints);
    o.nMinPoints = GUInt32(options.minPoints);
    o.dfNoDataValue = options.nodata;
    Progress scaled{&progress, 0, 1};
    // GDAL fills its rows from the first y given: the north, for a north-up
    // raster.
    return GDALGridCreate(
               GGA_InverseDistanceToAPowerNearestNeighbor, &o, GUInt32(x.size()), x.data(),
               y.data(), z.data(), frame.west, frame.west + frame.columns * frame.cell, frame.north,
               frame.north - frame.rows * frame.cell, GUInt32(frame.columns), GUInt32(frame.rows),
               GDT_Float32, out, progress ? gdalProgress : nullptr, &scaled) == CE_None;
}

std::optional<DoseRaster> makeDoseRaster(const std::vector<SurveyPoint>& points,
                                         const std::vector<uint16_t>& flags,
                                         const RasterOptions& options, QString* error,
                                         const RasterProgress& progress)
{
    if (const QString problem = rasterOptionsProblem(options); !problem.isEmpty())
        return fail(error, problem, std::nullopt);
    if (!flags.empty() && flags.size() != points.size())
        return fail(error, QStringLiteral("the flags do not match the points"), std::nullopt);

    std::vector<double> x, y, z;
    for (std::size_t i = 0; i < points.size(); ++i) {
        const SurveyPoint& p = points[i];
        if ((flags.empty() || flags[i] == 0) && p.hasDoseRate() &&
            SurveyPoint::isPosition(p.latitude, p.longitude)) {
            x.push_back(p.longitude);
            y.push_back(p.latitude);
            z.push_back(double(p.doseRate) * 1000); // nSv/h
        }
    }
    auto tooFew = [&](std::size_t n) {
        return fail(
            error,
            QStringLiteral("too few good points with a dose rate (%1): at least three are needed")
                .arg(n),
            std::nullopt);
    };
    if (x.size() < 3)
        return tooFew(x.size());

    DoseRaster raster;
    std::unique_ptr<OGRSpatialReference> target;
    if (options.projection.trimmed().isEmpty()) {
        const auto [lon, lat] = centreOf(x, y);
        target = projectionOf(QStringLiteral("EPSG:%1").arg(utmZoneCode(lon, lat)), error);
    } else {
        target = projectionOf(options.projection, error);
    }
    if (!target)
        return std::nullopt;
    {
        gdal::Quiet quiet;
        OGRSpatialReference wgs84;
        wgs84.SetWellKnownGeogCS("WGS84");
        wgs84.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
        std::unique_ptr<OGRCoordinateTransformation> transform(
            OGRCreateCoordinateTransformation(&wgs84, target.get()));
        if (!transform)
            return fail(error,
                        QStringLiteral("WGS 84 cannot be projected to %1: %2")
                            .arg(QString::fromUtf8(target->GetName()), gdal::lastMessage()),
                        std::nullopt);
        std::vector<int> placed(x.size(), FALSE);
        transform->Transform(x.size(), x.data(), y.data(), nullptr, placed.data());
        // A point the projection cannot place is left out, as one without a fix.
        std::size_t kept = 0;
        for (std::size_t i = 0; i < x.size(); ++i)
            if (placed[i] && std::isfinite(x[i]) && std::isfinite(y[i])) {
                x[kept] = x[i], y[kept] = y[i], z[kept] = z[i];
                ++kept;
            }
        x.resize(kept), y.resize(kept), z.resize(kept);
        if (kept < 3)
            return tooFew(kept);
        char* wkt = nullptr;
        target->exportToWkt(&wkt);
        raster.wkt = wkt;
        CPLFree(wkt);
    }
    raster.projectionName = QString::fromUtf8(target->GetName());
    if (const char* name = target->GetAuthorityName(nullptr))
        if (const char* code = target->GetAuthorityCode(nullptr))
            raster.authority =
                QStringLiteral("%1:%2").arg(QLatin1String(name), QLatin1String(code));
    raster.metresPerUnit = target->GetLinearUnits();
    if (!(raster.metresPerUnit > 0) || !std::isfinite(raster.metresPerUnit))
        raster.metresPerUnit = 1;

    // Distances in the projection's units from here on.
    RasterOptions units = options;
    const double perUnit = raster.metresPerUnit;
    units.radius /= perUnit, units.smoothing /= perUnit, units.mask /= perUnit;
    const double margin = (options.margin < 0 ? options.mask : options.margin) / perUnit;

    const auto [west, east] = std::minmax_element(x.begin(), x.end());
    const auto [south, north] = std::minmax_element(y.begin(), y.end());
    const double width = *east - *west + 2 * margin, height = *north - *south + 2 * margin;
    double cellMetres = options.cellSize;
    if (cellMetres == 0) {
        // A cell no wider than the mask keeps a walk's trace in one piece.
        const double w = width * perUnit, h = height * perUnit;
        cellMetres = std::min(roundedUp(std::max(std::max(w, h) / 1000, kMinAutoCell)),
                              std::max(options.mask, kMinAutoCell));
        // A very long walk: larger cells, with room for the snapping below.
        while ((w / cellMetres + 2) * (h / cellMetres + 2) > double(kMaxCells) ||
               std::max(w, h) / cellMetres + 2 > kMaxSide)
            cellMetres = roundedUp(cellMetres * 1.01);
    }
    const double cell = cellMetres / perUnit;
    // On multiples of the cell, so that rasters of one area line up.
    RasterFrame& f = raster.frame;
    f.cell = cell;
    f.west = std::floor((*west - margin) / cell) * cell;
    f.north = std::ceil((*north + margin) / cell) * cell;
    const double columns = std::ceil((*east + margin - f.west) / cell);
    const double rows = std::ceil((f.north - (*south - margin)) / cell);
    if (!(columns <= kMaxSide && rows <= kMaxSide && columns * rows <= double(kMaxCells)))
        return fail(error,
                    QStringLiteral("cells of %1 m make a grid of %2 x %3: at most %4 on a side "
                                   "and %5 in all; choose larger cells")
                        .arg(number(cell * perUnit), number(columns), number(rows))
                        .arg(kMaxSide)
                        .arg(kMaxCells),
                    std::nullopt);
    f.columns = std::max(1, int(columns));
    f.rows = std::max(1, int(rows));

    raster.values.resize(std::size_t(f.columns) * std::size_t(f.rows));
    raster.nodata = options.nodata;
    raster.points = x.size();
    bool cancelled = false;
    RasterProgress grid;
    if (progress)
        grid = [&](double done) {
            cancelled = !progress(done * kGridShare);
            return !cancelled;
        };
    {
        gdal::Quiet quiet;
        if (!gridInverseDistance(x, y, z, f, units, raster.values.data(), grid))
            return fail(
                error,
                cancelled ? QStringLiteral("cancelled")
                          : QStringLiteral("the interpolation failed: %1").arg(gdal::lastMessage()),
                std::nullopt);
    }
    const float nodata = float(options.nodata);
    maskFarCells(x, y, f, units.mask, nodata, raster.values.data());

    double low = INFINITY, high = -INFINITY, sum = 0;
    for (float v : raster.values)
        if (v != nodata) {
            low = std::min(low, double(v)), high = std::max(high, double(v));
            sum += v;
            ++raster.cells;
        }
    if (raster.cells > 0)
        raster.minimum = low, raster.maximum = high, raster.mean = sum / double(raster.cells);
    return raster;
}

bool writeDoseRaster(const DoseRaster& raster, const RasterOptions& options, const QString& path,
                     QString* error, const RasterProgress& progress)
{
    if (const QString problem = outputPathProblem(path); !problem.isEmpty())
        return fail(error, problem, false);
    const RasterFrame& f = raster.frame;
    if (f.columns < 1 || f.rows < 1 ||
        raster.values.size() != std::size_t(f.columns) * std::size_t(f.rows))
        return fail(error, QStringLiteral("%1: the raster is empty").arg(path), false);
    GDALAllRegister();
    gdal::Quiet quiet;
    GDALDriver* memory = GetGDALDriverManager()->GetDriverByName("MEM");
    GDALDriver* cog = GetGDALDriverManager()->GetDriverByName("COG");
    if (!memory || !cog)
        return fail(error, QStringLiteral("GDAL has no %1 driver").arg(memory ? "COG" : "MEM"),
                    false);
    gdal::Dataset grid(memory->Create("", f.columns, f.rows, 1, GDT_Float32, nullptr));
    if (!grid)
        return fail(error, QStringLiteral("%1: %2").arg(path, gdal::lastMessage()), false);
    double transform[6] = {f.west, f.cell, 0, f.north, 0, -f.cell};
    OGRSpatialReference srs;
    if (srs.importFromWkt(raster.wkt.constData()) != OGRERR_NONE ||
        grid->SetGeoTransform(transform) != CE_None || grid->SetSpatialRef(&srs) != CE_None)
        return fail(error, QStringLiteral("%1: %2").arg(path, gdal::lastMessage()), false);

    const double perUnit = raster.metresPerUnit;
    const std::pair<const char*, QString> items[] = {
        {"UNIT", QStringLiteral("nSv/h")},
        {"METHOD", QStringLiteral("inverse distance to a power, nearest points within a radius "
                                  "(GDAL grid invdistnn)")},
        {"POWER", number(options.power)},
        {"SMOOTHING_M", number(options.smoothing)},
        {"RADIUS_M", number(options.radius)},
        {"MAX_POINTS", QString::number(options.maxPoints)},
        {"MIN_POINTS", QString::number(options.minPoints)},
        {"MASK_M", number(options.mask)},
        {"MARGIN_M", number(options.margin < 0 ? options.mask : options.margin)},
        {"CELL_M", number(f.cell * perUnit)},
        {"NODATA", number(raster.nodata)},
        {"POINT_COUNT", QString::number(raster.points)},
        {"TIFFTAG_SOFTWARE", QStringLiteral("Orvisk ") + QLatin1String(orviskVersion())},
    };
    for (const auto& [key, value] : items)
        grid->SetMetadataItem(key, value.toUtf8().constData());
    for (const ProvenanceField& field : provenanceFields(options.provenance))
        grid->SetMetadataItem(field.key.toUpper().toUtf8().constData(),
                              field.value.toUtf8().constData());
    GDALRasterBand* band = grid->GetRasterBand(1);
    band->SetDescription("dose rate");
    band->SetUnitType("nSv/h");
    band->SetNoDataValue(raster.nodata);
    if (raster.cells > 0) {
        band->SetMetadataItem("STATISTICS_MINIMUM", number(raster.minimum).toUtf8().constData());
        band->SetMetadataItem("STATISTICS_MAXIMUM", number(raster.maximum).toUtf8().constData());
        band->SetMetadataItem("STATISTICS_MEAN", number(raster.mean).toUtf8().constData());
    }
    if (band->RasterIO(GF_Write, 0, 0, f.columns, f.rows, const_cast<float*>(raster.values.data()),
                       f.columns, f.rows, GDT_Float32, 0, 0, nullptr) != CE_None)
        return fail(error, QStringLiteral("%1: %2").arg(path, gdal::lastMessage()), false);

    // The whole file in memory first: what reaches the disk goes through one
    // checked write, renamed over the target only when complete.
    gdal::MemoryFile file("tif");
    const char* const cogOptions[] = {"COMPRESS=DEFLATE", "PREDICTOR=YES", "RESAMPLING=AVERAGE",
                                      "NUM_THREADS=ALL_CPUS", nullptr};
    Progress scaled{&progress, kGridShare, 1 - kGridShare};
    CPLErrorReset();
    gdal::Dataset written(cog->CreateCopy(file.name(), grid.get(), FALSE,
                                          const_cast<char**>(cogOptions),
                                          progress ? gdalProgress : nullptr, &scaled));
    const bool made = written && !gdal::failed();
    written.reset();
    if (!made || gdal::failed())
        return fail(error,
                    scaled.cancelled ? QStringLiteral("cancelled")
                                     : QStringLiteral("%1: %2").arg(path, gdal::lastMessage()),
                    false);
    const QByteArray bytes = file.take();
    if (bytes.isEmpty())
        return fail(error, QStringLiteral("%1: GDAL wrote nothing").arg(path), false);
    return writeFileWhole(path, bytes, error);
}

bool interpolateSurvey(const std::vector<SurveyPoint>& points, const std::vector<uint16_t>& flags,
                       const RasterOptions& options, const QString& path, QString* error,
                       DoseRaster* made, const RasterProgress& progress)
{
    if (const QString problem = outputPathProblem(path); !problem.isEmpty())
        return fail(error, problem, false);
    std::optional<DoseRaster> raster = makeDoseRaster(points, flags, options, error, progress);
    if (!raster || !writeDoseRaster(*raster, options, path, error, progress))
        return false;
    if (made)
        *made = std::move(*raster);
    return true;
}
