// Interpolating 100 000 survey points onto a 1000 x 1000 grid: Orvisk's grid
// step against Debian's gdal_grid program run with the same algorithm and
// parameters on the same points (a CSV with a VRT beside it), timed as a
// process run. The two grids must agree cell for cell.
//
// Prints "interpolate: ratio <x>", Orvisk's time over gdal_grid's (the
// median over five pairs of runs taken in turn, so that the load of a shared
// machine falls on both alike), and on '#' lines the times, the processor
// time of each (both use every core alike), and those
// of the whole raster of the same points: projected, gridded, masked and
// written as a Cloud Optimized GeoTIFF.
#include <survey_raster.h>

#include <gdal_priv.h>
#include <ogr_spatialref.h>

#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <random>

#include <sys/resource.h>

namespace {

using Clock = std::chrono::steady_clock;

const int kPoints = 100000, kSide = 1000, kRuns = 5;
const double kCell = 2, kWest = 500000, kNorth = 6362000; // UTM zone 35 north

double seconds(Clock::time_point from)
{
    return std::chrono::duration<double>(Clock::now() - from).count();
}

// Processor seconds of this process, or of its children that ended.
double processor(int who)
{
    rusage u{};
    getrusage(who, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// A surveyor walking lanes across the square at 1.25 m a step, with the
// receiver's wander, over a field of a few warm spots (nSv/h).
void walk(std::vector<double>& x, std::vector<double>& y, std::vector<double>& z)
{
    std::mt19937 rng(11);
    std::normal_distribution<double> noise(0, 1);
    const double side = kSide * kCell, inside = side - 60, step = 1.25;
    const double perLane = inside / step;
    const double lanes = std::ceil(kPoints / perLane), spacing = inside / (lanes - 1);
    for (int i = 0; i < kPoints; ++i) {
        const int lane = int(i / perLane);
        const double along = (i - lane * perLane) * step;
        const double px = 30 + (lane % 2 ? inside - along : along) + 0.8 * noise(rng);
        const double py = 30 + lane * spacing + 0.8 * noise(rng);
        double rate = 80 + 4 * noise(rng);
        for (const auto& [cx, cy, peak] :
             {std::tuple{500.0, 700.0, 400.0}, std::tuple{1400.0, 1200.0, 150.0},
              std::tuple{900.0, 1700.0, 900.0}})
            rate += peak * std::exp(-(std::pow(px - cx, 2) + std::pow(py - cy, 2)) / (2 * 60 * 60));
        x.push_back(kWest + px), y.push_back(kNorth - side + py), z.push_back(rate);
    }
}

bool writePoints(const QTemporaryDir& dir, const std::vector<double>& x,
                 const std::vector<double>& y, const std::vector<double>& z)
{
    std::FILE* csv = std::fopen(dir.filePath("points.csv").toLocal8Bit().constData(), "w");
    if (!csv)
        return false;
    std::fputs("x,y,z\n", csv);
    for (std::size_t i = 0; i < x.size(); ++i)
        std::fprintf(csv, "%.17g,%.17g,%.17g\n", x[i], y[i], z[i]);
    std::FILE* vrt = std::fopen(dir.filePath("points.vrt").toLocal8Bit().constData(), "w");
    if (!vrt)
        return std::fclose(csv), false;
    std::fputs("<OGRVRTDataSource><OGRVRTLayer name=\"points\">"
               "<SrcDataSource relativeToVRT=\"1\">points.csv</SrcDataSource>"
               "<GeometryType>wkbPoint25D</GeometryType>"
               "<GeometryField encoding=\"PointFromColumns\" x=\"x\" y=\"y\" z=\"z\"/>"
               "</OGRVRTLayer></OGRVRTDataSource>\n",
               vrt);
    return std::fclose(vrt) == 0 && std::fclose(csv) == 0;
}

// gdal_grid's grid, or an empty one when it failed.
std::vector<float> readGrid(const QString& path)
{
    std::vector<float> values(std::size_t(kSide) * kSide);
    std::unique_ptr<GDALDataset> ds(GDALDataset::Open(path.toLocal8Bit().constData()));
    if (!ds || ds->GetRasterXSize() != kSide || ds->GetRasterYSize() != kSide ||
        ds->GetRasterBand(1)->RasterIO(GF_Read, 0, 0, kSide, kSide, values.data(), kSide, kSide,
                                       GDT_Float32, 0, 0, nullptr) != CE_None)
        return {};
    return values;
}

} // namespace

int main()
{
    GDALAllRegister();
    std::vector<double> x, y, z;
    walk(x, y, z);
    QTemporaryDir dir;
    const QString gdalGrid = QStandardPaths::findExecutable(QStringLiteral("gdal_grid"));
    if (gdalGrid.isEmpty() || !writePoints(dir, x, y, z)) {
        std::fprintf(stderr, "interpolate: gdal_grid (gdal-bin) or a temporary folder missing\n");
        return 1;
    }
    RasterOptions options; // the defaults: power 2, radius 30 m, 12 points at most
    const RasterFrame frame{kWest, kNorth, kCell, kSide, kSide};
    const QString algorithm = QStringLiteral("invdistnn:power=%1:smoothing=%2:radius=%3:"
                                             "max_points=%4:min_points=%5:nodata=%6")
                                  .arg(options.power)
                                  .arg(options.smoothing)
                                  .arg(options.radius)
                                  .arg(options.maxPoints)
                                  .arg(options.minPoints)
                                  .arg(options.nodata);
    const QString out = dir.filePath(QStringLiteral("gdal_grid.tif"));
    const QStringList args = {"-q",
                              "-a",
                              algorithm,
                              "-txe",
                              QString::number(kWest, 'f', 3),
                              QString::number(kWest + kSide * kCell, 'f', 3),
                              "-tye",
                              QString::number(kNorth, 'f', 3),
                              QString::number(kNorth - kSide * kCell, 'f', 3),
                              "-outsize",
                              QString::number(kSide),
                              QString::number(kSide),
                              "-ot",
                              "Float32",
                              "-of",
                              "GTiff",
                              "-l",
                              "points",
                              dir.filePath(QStringLiteral("points.vrt")),
                              out};

    std::vector<float> ours(std::size_t(kSide) * kSide);
    std::vector<double> oursTimes, theirsTimes, oursCpu, theirsCpu, ratios;
    // Each side first every other time.
    const auto runOurs = [&] {
        const double cpu = processor(RUSAGE_SELF);
        const Clock::time_point t0 = Clock::now();
        const bool ok = gridInverseDistance(x, y, z, frame, options, ours.data());
        oursTimes.push_back(seconds(t0));
        oursCpu.push_back(processor(RUSAGE_SELF) - cpu);
        return ok;
    };
    const auto runTheirs = [&] {
        const double cpu = processor(RUSAGE_CHILDREN);
        const Clock::time_point t0 = Clock::now();
        QProcess p;
        p.start(gdalGrid, args);
        const bool ok =
            p.waitForFinished(-1) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
        theirsTimes.push_back(seconds(t0));
        theirsCpu.push_back(processor(RUSAGE_CHILDREN) - cpu);
        return ok;
    };
    for (int run = 0; run < kRuns; ++run) {
        if (!(run % 2 ? runTheirs() && runOurs() : runOurs() && runTheirs()))
            return std::fprintf(stderr, "interpolate: a grid failed\n"), 1;
        ratios.push_back(oursTimes.back() / theirsTimes.back());
    }
    const std::vector<float> theirs = readGrid(out);
    std::size_t differ = 0, valued = 0;
    for (std::size_t i = 0; i < ours.size() && !theirs.empty(); ++i) {
        valued += ours[i] != float(options.nodata);
        differ += std::fabs(ours[i] - theirs[i]) > 1e-4f * std::fabs(theirs[i]);
    }
    if (theirs.empty() || differ > 0)
        return std::fprintf(stderr, "interpolate: %zu of %zu cells differ from gdal_grid's\n",
                            differ, ours.size()),
               1;

    // The whole raster of the same walk, for scale: the grid, the mask and the file.
    OGRSpatialReference utm, wgs84;
    utm.importFromEPSG(32635);
    utm.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    wgs84.SetWellKnownGeogCS("WGS84");
    wgs84.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    std::unique_ptr<OGRCoordinateTransformation> t(OGRCreateCoordinateTransformation(&utm, &wgs84));
    std::vector<double> lon = x, lat = y;
    t->Transform(lon.size(), lon.data(), lat.data());
    std::vector<SurveyPoint> points(x.size());
    for (std::size_t i = 0; i < points.size(); ++i)
        points[i].longitude = lon[i], points[i].latitude = lat[i],
        points[i].doseRate = float(z[i] / 1000);
    options.projection = QStringLiteral("EPSG:32635");
    options.cellSize = kCell;
    QString error;
    Clock::time_point t0 = Clock::now();
    const std::optional<DoseRaster> raster = makeDoseRaster(points, {}, options, &error);
    const double made = seconds(t0);
    t0 = Clock::now();
    if (!raster ||
        !writeDoseRaster(*raster, options, dir.filePath(QStringLiteral("ours.tif")), &error))
        return std::fprintf(stderr, "interpolate: %s\n", error.toLocal8Bit().constData()), 1;
    const double written = seconds(t0);

    const double a = median(oursTimes), b = median(theirsTimes);
    const double ratio = median(ratios);
    std::printf("# %d points, %d x %d cells of %g m, radius %g m, at most %d points: %zu cells "
                "with a value, the same as gdal_grid's\n",
                kPoints, kSide, kSide, kCell, options.radius, options.maxPoints, valued);
    std::printf("# grid step %.3f s, gdal_grid %.3f s (medians of %zu); processor %.3f s and "
                "%.3f s\n",
                a, b, oursTimes.size(), median(oursCpu), median(theirsCpu));
    std::printf("# the whole raster: projected, gridded and masked %.3f s, written as a Cloud "
                "Optimized GeoTIFF %.3f s\n",
                made, written);
    std::printf("interpolate: ratio %.2f\n", ratio);
    return 0;
}
