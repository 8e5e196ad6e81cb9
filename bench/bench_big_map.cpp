// Opening and panning a 40 000 x 40 000 GeoTIFF map with overviews (made
// here: a grey aerial-like texture, tiled and compressed), against the same
// on the sample map (a 3250 x 2000 PNG).
//
// Prints "big map open: ratio <x>": loading the folder, building the scene
// and drawing the first 1200 x 800 frame at full extent; and
// "big map frame: ratio <x>": the mean frame while panning 40 pixels a
// frame at one device pixel a map pixel, a frame every 1/60 s as a drag
// draws them. Each is the median of five runs
// taken in turn with the sample map's. '#' lines give the times and the
// program's peak memory after each step.
#include "orvisk.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QTemporaryDir>

#include <gdal_priv.h>
#include <ogr_spatialref.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kSide = 40000, kRuns = 5, kFrames = 40;

double seconds(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Peak resident memory of the program so far, MB.
long peakMegabytes()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong() / 1024;
    return 0;
}

bool makeBigMap(const QString& path)
{
    GDALAllRegister();
    char** options = nullptr;
    for (const char* o : {"TILED=YES", "BLOCKXSIZE=256", "BLOCKYSIZE=256", "COMPRESS=DEFLATE",
                          "ZLEVEL=1", "BIGTIFF=YES"})
        options = CSLAddString(options, o);
    std::unique_ptr<GDALDataset> ds(GetGDALDriverManager()->GetDriverByName("GTiff")->Create(
        path.toUtf8().constData(), kSide, kSide, 1, GDT_Byte, options));
    CSLDestroy(options);
    if (!ds)
        return false;
    double gt[6] = {690000, 0.5, 0, 6380000, 0, -0.5};
    OGRSpatialReference srs;
    srs.importFromEPSG(32634);
    ds->SetGeoTransform(gt);
    ds->SetSpatialRef(&srs);
    std::vector<GByte> rows(std::size_t(kSide) * 256);
    for (int top = 0; top < kSide; top += 256) {
        const int height = std::min(256, kSide - top);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < kSide; ++x) {
                const int gy = top + y;
                const bool road = gy % 997 < 6 || x % 1499 < 6;
                rows[std::size_t(y) * kSide + x] =
                    road ? 230 : GByte(90 + ((x * 7 + gy * 13) ^ (x / 31 * gy / 17)) % 60);
            }
        if (ds->GetRasterBand(1)->RasterIO(GF_Write, 0, top, kSide, height, rows.data(), kSide,
                                           height, GDT_Byte, 0, 0) != CE_None)
            return false;
    }
    const int levels[] = {2, 4, 8, 16, 32, 64, 128};
    return ds->BuildOverviews("AVERAGE", 7, levels, 0, nullptr, nullptr, nullptr) == CE_None;
}

struct Timing
{
    double open, frame;
};

Timing measure(const QString& folder)
{
    const auto start = Clock::now();
    TOrvisk view;
    view.resize(1200, 800);
    view.loadMapFolder(folder);
    view.createScene(0);
    QImage frame(1200, 800, QImage::Format_ARGB32_Premultiplied);
    const QRectF extent = view.sceneExtent();
    {
        QPainter painter(&frame);
        view.renderScene(&painter, QRectF(0, 0, 1200, 800),
                         QRectF(extent.topLeft(), QSizeF(extent.width(), extent.width() * 2 / 3)),
                         1);
    }
    const double open = seconds(start);
    // Panning at one map pixel a device pixel, from the middle.
    QPointF corner = extent.center() - QPointF(600, 400);
    double total = 0;
    for (int f = 0; f < kFrames; ++f) {
        corner += QPointF(40, 0);
        const auto begun = Clock::now();
        QPainter painter(&frame);
        view.renderScene(&painter, QRectF(0, 0, 1200, 800), QRectF(corner, QSizeF(1200, 800)), 1);
        painter.end();
        total += seconds(begun);
        // A drag is drawn a frame each refresh of the screen, not back to
        // back: what is read ahead between frames is the map's own work.
        std::this_thread::sleep_until(begun + std::chrono::microseconds(16667));
    }
    return {open, total / kFrames};
}

} // namespace

int main(int argc, char* argv[])
{
    // The map is made by a run of its own, so that the peak memory printed
    // is that of opening and drawing it.
    if (argc == 3 && QByteArray(argv[1]) == "--make")
        return makeBigMap(QString::fromLocal8Bit(argv[2])) ? 0 : 1;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir dir;
    qputenv("XDG_CONFIG_HOME", dir.path().toUtf8());
    QApplication app(argc, argv);
    const QString big = dir.filePath(QStringLiteral("big"));
    QDir().mkpath(big);
    auto start = Clock::now();
    if (QProcess::execute(QCoreApplication::applicationFilePath(),
                          {QStringLiteral("--make"), big + QStringLiteral("/map.tif")}) != 0) {
        std::fprintf(stderr, "bench_big_map: the map cannot be made\n");
        return 1;
    }
    std::printf("# made a %d x %d GeoTIFF with overviews in %.1f s (%lld MB)\n", kSide, kSide,
                seconds(start), QFile(big + QStringLiteral("/map.tif")).size() / (1024 * 1024));
    const long beforeMaps = peakMegabytes();
    std::vector<double> opens, frames, openRatios, frameRatios;
    for (int run = 0; run < kRuns; ++run) {
        const Timing sample = measure(QStringLiteral(ORVISK_SOURCE_DIR "/maps/Korvenix"));
        const Timing large = measure(big);
        opens.push_back(large.open);
        frames.push_back(large.frame);
        openRatios.push_back(large.open / sample.open);
        frameRatios.push_back(large.frame / sample.frame);
        if (run == 0)
            std::printf("# sample map: open %.1f ms, frame %.2f ms\n", sample.open * 1e3,
                        sample.frame * 1e3);
    }
    std::printf("# big map: open %.1f ms, frame %.2f ms (medians of %d); peak memory %ld MB "
                "(%ld MB before the maps were opened)\n",
                median(opens) * 1e3, median(frames) * 1e3, kRuns, peakMegabytes(), beforeMaps);
    std::printf("big map open: ratio %.2f\n", median(openRatios));
    std::printf("big map frame: ratio %.2f\n", median(frameRatios));
    return 0;
}
