#include "map_import.h"

#include "gdal_rows.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <gdal_utils.h>
#include <ogr_spatialref.h>

#include <cmath>
#include <memory>
#include <vector>

namespace {

bool fail(QString* error, const QString& text)
{
    *error = text;
    return false;
}

// Arguments for GDAL's utilities, kept alive with their C strings.
class Arguments
{
public:
    Arguments(std::initializer_list<QString> list)
    {
        for (const QString& a : list)
            add(a);
    }
    void add(const QString& a) { texts.push_back(a.toUtf8()); }
    char** list()
    {
        pointers.clear();
        for (QByteArray& t : texts)
            pointers.push_back(t.data());
        pointers.push_back(nullptr);
        return pointers.data();
    }

private:
    std::vector<QByteArray> texts;
    std::vector<char*> pointers;
};

using DatasetPtr = std::unique_ptr<GDALDataset>;

DatasetPtr toDataset(GDALDatasetH handle)
{
    return DatasetPtr(GDALDataset::FromHandle(handle));
}

// A file written by GDAL beside its final name, then renamed over it.
bool putInPlace(const QString& partial, const QString& final, QString* error)
{
    QFile::remove(final);
    if (!QFile::rename(partial, final)) {
        QFile::remove(partial);
        return fail(error, QStringLiteral("%1 cannot be written").arg(final));
    }
    return true;
}

bool writeText(const QString& path, const QByteArray& text, QString* error)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit())
        return fail(error, QStringLiteral("%1: %2").arg(path, file.errorString()));
    return true;
}

} // namespace

bool importMap(const QString& input, const QString& folder, const MapImportOptions& options,
               QString* error, const MapImportProgress& progress)
{
    const gdal::Quiet quiet;
    GDALAllRegister();
    // No .aux.xml beside what is written: the folder holds the map's files only.
    CPLSetThreadLocalConfigOption("GDAL_PAM_ENABLED", "NO");
    const auto say = [&](const QString& stage) {
        if (progress)
            progress(stage);
    };

    DatasetPtr source(GDALDataset::Open(
        input.toUtf8().constData(), GDAL_OF_RASTER | GDAL_OF_READONLY, nullptr, nullptr, nullptr));
    if (!source)
        return fail(
            error,
            QStringLiteral("%1 cannot be read as a raster: %2").arg(input, gdal::lastMessage()));
    double gt[6];
    if (source->GetGeoTransform(gt) != CE_None || gt[1] == 0 || gt[5] == 0)
        return fail(error, QStringLiteral("%1 has no georeferencing.").arg(input));
    const OGRSpatialReference* srs = source->GetSpatialRef();
    if (!srs || srs->IsEmpty())
        return fail(error, QStringLiteral("%1 has no projection.").arg(input));
    OGRSpatialReference target;
    if (!options.projection.isEmpty() &&
        target.SetFromUserInput(options.projection.toUtf8().constData()) != OGRERR_NONE)
        return fail(error,
                    QStringLiteral("%1 is not a projection GDAL knows.").arg(options.projection));

    QDir dir(folder);
    if (!dir.mkpath(QStringLiteral(".")))
        return fail(error, QStringLiteral("%1 cannot be made.").arg(folder));
    if (dir.exists(QStringLiteral("map.png")))
        return fail(error, QStringLiteral("%1 holds a classic map (map.png) already: import into "
                                          "another folder.")
                               .arg(folder));

    // North up, in the projection asked for: warped into a tiled file first.
    const bool warp = !options.projection.isEmpty() || gt[2] != 0 || gt[4] != 0;
    const QString warped = dir.filePath(QStringLiteral(".map-import-warped.tif"));
    DatasetPtr warpedSet;
    GDALDataset* north = source.get();
    if (warp) {
        say(QStringLiteral("reprojecting"));
        char* wkt = nullptr;
        (options.projection.isEmpty() ? *srs : target).exportToWkt(&wkt);
        Arguments args{QStringLiteral("-of"),    QStringLiteral("GTiff"),
                       QStringLiteral("-t_srs"), QString::fromUtf8(wkt),
                       QStringLiteral("-r"),     QStringLiteral("bilinear"),
                       QStringLiteral("-co"),    QStringLiteral("TILED=YES"),
                       QStringLiteral("-co"),    QStringLiteral("COMPRESS=DEFLATE"),
                       QStringLiteral("-co"),    QStringLiteral("BIGTIFF=IF_SAFER")};
        CPLFree(wkt);
        std::unique_ptr<GDALWarpAppOptions, void (*)(GDALWarpAppOptions*)> warpOptions(
            GDALWarpAppOptionsNew(args.list(), nullptr), GDALWarpAppOptionsFree);
        GDALDatasetH in = GDALDataset::ToHandle(source.get());
        warpedSet = toDataset(
            GDALWarp(warped.toUtf8().constData(), nullptr, 1, &in, warpOptions.get(), nullptr));
        if (!warpedSet) {
            QFile::remove(warped);
            return fail(
                error,
                QStringLiteral("%1 cannot be reprojected: %2").arg(input, gdal::lastMessage()));
        }
        north = warpedSet.get();
    }
    const auto cleanUp = [&] {
        warpedSet.reset();
        if (warp)
            QFile::remove(warped);
    };

    // The map: tiled, compressed, with overviews down to a tile.
    say(QStringLiteral("writing map.tif with overviews"));
    const bool palette = north->GetRasterCount() == 1 &&
                         north->GetRasterBand(1)->GetColorInterpretation() == GCI_PaletteIndex;
    Arguments cog{QStringLiteral("-of"), QStringLiteral("COG"),
                  QStringLiteral("-co"), QStringLiteral("COMPRESS=DEFLATE"),
                  QStringLiteral("-co"), QStringLiteral("BLOCKSIZE=256"),
                  QStringLiteral("-co"), QStringLiteral("BIGTIFF=IF_SAFER"),
                  QStringLiteral("-co"), QStringLiteral("OVERVIEW_RESAMPLING=AVERAGE")};
    if (palette) { // a palette's indices cannot be averaged: its colours can
        cog.add(QStringLiteral("-expand"));
        cog.add(QStringLiteral("rgba"));
    }
    const QString partial = dir.filePath(QStringLiteral(".map.tif.part"));
    {
        std::unique_ptr<GDALTranslateOptions, void (*)(GDALTranslateOptions*)> translate(
            GDALTranslateOptionsNew(cog.list(), nullptr), GDALTranslateOptionsFree);
        DatasetPtr written = toDataset(GDALTranslate(
            partial.toUtf8().constData(), GDALDataset::ToHandle(north), translate.get(), nullptr));
        if (!written) {
            QFile::remove(partial);
            cleanUp();
            return fail(error,
                        QStringLiteral("%1 cannot be written: %2")
                            .arg(dir.filePath(QStringLiteral("map.tif")), gdal::lastMessage()));
        }
    }
    if (!putInPlace(partial, dir.filePath(QStringLiteral("map.tif")), error)) {
        cleanUp();
        return false;
    }
    if (!options.classic) {
        cleanUp();
        return true;
    }

    // The classic files, for an Orvisk that reads only those: a PNG of at
    // most kClassicPixels on the long side, its world file and PROJ line.
    say(QStringLiteral("writing the classic files"));
    QDir classic(dir.filePath(QStringLiteral("classic")));
    if (!classic.mkpath(QStringLiteral("."))) {
        cleanUp();
        return fail(error, QStringLiteral("%1 cannot be made.").arg(classic.path()));
    }
    const int width = north->GetRasterXSize(), height = north->GetRasterYSize();
    const double shrink = std::max(1.0, double(std::max(width, height)) / kClassicPixels);
    const int outWidth = std::max(1, int(std::lround(width / shrink)));
    const int outHeight = std::max(1, int(std::lround(height / shrink)));
    Arguments png{QStringLiteral("-of"),     QStringLiteral("PNG"),      QStringLiteral("-outsize"),
                  QString::number(outWidth), QString::number(outHeight), QStringLiteral("-r"),
                  QStringLiteral("average")};
    double ngt[6];
    north->GetGeoTransform(ngt);
    char* proj4 = nullptr;
    const OGRSpatialReference* northSrs = north->GetSpatialRef();
    const bool hasProj4 = northSrs && northSrs->exportToProj4(&proj4) == OGRERR_NONE && proj4;
    const QByteArray definition = hasProj4 ? QByteArray(proj4).trimmed() : QByteArray();
    CPLFree(proj4);
    const QString pngPartial = classic.filePath(QStringLiteral(".map.png.part"));
    {
        std::unique_ptr<GDALTranslateOptions, void (*)(GDALTranslateOptions*)> translate(
            GDALTranslateOptionsNew(png.list(), nullptr), GDALTranslateOptionsFree);
        DatasetPtr written =
            toDataset(GDALTranslate(pngPartial.toUtf8().constData(), GDALDataset::ToHandle(north),
                                    translate.get(), nullptr));
        cleanUp();
        if (!written) {
            QFile::remove(pngPartial);
            return fail(error,
                        QStringLiteral("%1 cannot be written: %2")
                            .arg(classic.filePath(QStringLiteral("map.png")), gdal::lastMessage()));
        }
    }
    if (definition.isEmpty())
        return fail(error, QStringLiteral("map.tif is written, but its projection has no PROJ "
                                          "line for the classic files."));
    // The world file gives the upper-left pixel's centre.
    const double cellX = ngt[1] * double(width) / outWidth;
    const double cellY = ngt[5] * double(height) / outHeight;
    const QByteArray world = QByteArray::number(cellX, 'f', 10) + "\n0\n0\n" +
                             QByteArray::number(cellY, 'f', 10) + '\n' +
                             QByteArray::number(ngt[0] + cellX / 2, 'f', 6) + '\n' +
                             QByteArray::number(ngt[3] + cellY / 2, 'f', 6) + '\n';
    return putInPlace(pngPartial, classic.filePath(QStringLiteral("map.png")), error) &&
           writeText(classic.filePath(QStringLiteral("map.pgw")), world, error) &&
           writeText(classic.filePath(QStringLiteral("map.ppr")), definition + '\n', error);
}
