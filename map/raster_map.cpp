#include "raster_map.h"

#include "paint_area.h"

#include <QFileInfo>
#include <QPainter>
#include <QStyleOptionGraphicsItem>

#include <cpl_error.h>
#include <gdal_priv.h>
#include <ogr_spatialref.h>

#include <array>
#include <cmath>
#include <vector>

namespace {

// GDAL's complaints become the surveyor's one message, not console noise.
struct Quiet
{
    Quiet()
    {
        CPLPushErrorHandler(CPLQuietErrorHandler);
        CPLErrorReset();
    }
    ~Quiet() { CPLPopErrorHandler(); }
};

QString gdalReason()
{
    const char* text = CPLGetLastErrorMsg();
    return text && *text ? QString::fromUtf8(text) : QStringLiteral("no reason given");
}

} // namespace

RasterMap::~RasterMap() = default;

std::unique_ptr<RasterMap> RasterMap::open(const QString& path, QString* error)
{
    const Quiet quiet;
    GDALAllRegister();
    const QString name = QFileInfo(path).fileName();
    std::unique_ptr<RasterMap> map(new RasterMap);
    map->dataset.reset(GDALDataset::Open(
        path.toUtf8().constData(), GDAL_OF_RASTER | GDAL_OF_READONLY, nullptr, nullptr, nullptr));
    if (!map->dataset) {
        *error = QStringLiteral("%1 cannot be read as a map: %2").arg(name, gdalReason());
        return nullptr;
    }
    GDALDataset& ds = *map->dataset;
    double gt[6] = {0, 1, 0, 0, 0, 1};
    if (ds.GetGeoTransform(gt) != CE_None || gt[1] == 0 || gt[5] == 0 ||
        !std::all_of(std::begin(gt), std::end(gt), [](double v) { return std::isfinite(v); })) {
        *error = QStringLiteral("%1 has no georeferencing: it does not say where its pixels lie.")
                     .arg(name);
        return nullptr;
    }
    if (gt[2] != 0 || gt[4] != 0) {
        *error = QStringLiteral("%1 is rotated: a map must have north up. orvisk-map-import makes "
                                "a north-up copy.")
                     .arg(name);
        return nullptr;
    }
    const OGRSpatialReference* srs = ds.GetSpatialRef();
    char* proj4 = nullptr;
    if (!srs || srs->IsEmpty()) {
        *error = QStringLiteral("%1 has no projection.").arg(name);
        return nullptr;
    }
    if (srs->exportToProj4(&proj4) != OGRERR_NONE || !proj4 || !*proj4) {
        CPLFree(proj4);
        *error = QStringLiteral("%1: its projection (%2) has no PROJ definition.")
                     .arg(name, QString::fromUtf8(srs->GetName()));
        return nullptr;
    }
    map->definition = QByteArray(proj4).trimmed();
    CPLFree(proj4);
    map->bands = ds.GetRasterCount();
    if (map->bands < 1 || map->bands > 4) {
        *error = QStringLiteral("%1 has %2 bands: a map has 1 (grey or a palette), 2 (grey and "
                                "alpha), 3 (RGB) or 4 (RGBA).")
                     .arg(name)
                     .arg(map->bands);
        return nullptr;
    }
    GDALRasterBand* first = ds.GetRasterBand(1);
    map->palette = map->bands == 1 && first->GetColorInterpretation() == GCI_PaletteIndex &&
                   first->GetColorTable();
    map->pixels = QSize(ds.GetRasterXSize(), ds.GetRasterYSize());
    map->cell = QPointF(gt[1], gt[5]);
    map->centre = QPointF(gt[0] + gt[1] / 2, gt[3] + gt[5] / 2);
    return map;
}

QImage RasterMap::read(const QRect& source, QSize out) const
{
    if (source.isEmpty() || out.isEmpty())
        return {};
    const Quiet quiet;
    // Opaque tiles in the format painters draw fastest; those with alpha
    // are premultiplied once, here, not at every frame.
    const bool alpha = bands == 2 || bands == 4 || palette;
    QImage image(out, alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    image.fill(QColor(Qt::black));
    GDALRasterIOExtraArg extra;
    INIT_RASTERIO_EXTRA_ARG(extra);
    // Averaging keeps a thin road from vanishing in an overview; a palette's
    // indices cannot be averaged.
    const bool smaller = out.width() < source.width();
    extra.eResampleAlg = palette   ? GRIORA_NearestNeighbour
                         : smaller ? GRIORA_Average
                                   : GRIORA_Bilinear;

    if (palette) {
        std::vector<GByte> index(std::size_t(out.width()) * std::size_t(out.height()));
        if (dataset->GetRasterBand(1)->RasterIO(GF_Read, source.x(), source.y(), source.width(),
                                                source.height(), index.data(), out.width(),
                                                out.height(), GDT_Byte, 0, 0, &extra) != CE_None)
            return {};
        const GDALColorTable* table = dataset->GetRasterBand(1)->GetColorTable();
        std::array<QRgb, 256> colours{};
        for (int i = 0; i < std::min(256, table->GetColorEntryCount()); ++i) {
            const GDALColorEntry* e = table->GetColorEntry(i);
            colours[std::size_t(i)] = qRgba(e->c1, e->c2, e->c3, e->c4);
        }
        for (int y = 0; y < out.height(); ++y) {
            QRgb* line = reinterpret_cast<QRgb*>(image.scanLine(y));
            const GByte* row = index.data() + std::size_t(y) * std::size_t(out.width());
            for (int x = 0; x < out.width(); ++x)
                line[x] = colours[row[x]];
        }
        return image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    }
    // Each band straight into its byte of a 32-bit pixel (blue, green, red,
    // alpha in memory); grey is read once, into red, and copied.
    struct Place
    {
        int band, byte;
    };
    static constexpr Place kGrey[] = {{1, 2}, {2, 3}}, kColour[] = {{1, 2}, {2, 1}, {3, 0}, {4, 3}};
    const bool grey = bands <= 2;
    for (int b = 0; b < bands; ++b) {
        const Place place = grey ? kGrey[b] : kColour[b];
        if (dataset->GetRasterBand(place.band)
                ->RasterIO(GF_Read, source.x(), source.y(), source.width(), source.height(),
                           image.bits() + place.byte, out.width(), out.height(), GDT_Byte, 4,
                           image.bytesPerLine(), &extra) != CE_None)
            return {};
    }
    if (grey)
        for (int y = 0; y < out.height(); ++y) {
            uchar* p = image.scanLine(y);
            for (int x = 0; x < out.width(); ++x, p += 4)
                p[0] = p[1] = p[2];
        }
    return alpha ? image.convertToFormat(QImage::Format_ARGB32_Premultiplied) : image;
}

RasterMapItem::RasterMapItem(std::shared_ptr<const RasterMap> map, QGraphicsItem* parent)
    : QGraphicsItem(parent), raster(std::move(map)), tiles(int(kCacheBytes / 1024))
{
}

QRectF RasterMapItem::boundingRect() const
{
    return QRectF(QPointF(0, 0), QSizeF(raster->size()));
}

void RasterMapItem::paint(QPainter* painter, const QStyleOptionGraphicsItem* option, QWidget*)
{
    QPaintDevice* device = painter->device();
    const qreal ratio = device->devicePixelRatioF();
    const QTransform world = painter->worldTransform();
    QRectF visible = paintedArea(*painter, option);
    visible &= boundingRect();
    if (visible.isEmpty())
        return;

    // The level whose pixels are no finer than the device's: a level-n
    // pixel is 2^n raster pixels, which GDAL reads from the overview that
    // suits.
    const qreal zoom = std::sqrt(std::abs(world.determinant())) * ratio;
    const int longest = std::max(raster->size().width(), raster->size().height());
    int level = 0;
    while (level < 24 && qreal(1 << (level + 1)) <= 1 / zoom && (kTileSize << level) < longest)
        ++level;
    const qint64 span = qint64(kTileSize) << level; // raster pixels a tile side
    const QRect whole(QPoint(0, 0), raster->size());

    painter->save();
    painter->setRenderHint(QPainter::SmoothPixmapTransform, true);
    const int column0 = int(std::floor(visible.left() / span));
    const int column1 = int(std::floor(visible.right() / span));
    const int row0 = int(std::floor(visible.top() / span));
    const int row1 = int(std::floor(visible.bottom() / span));
    const auto keyOf = [level](int row, int column) {
        return (quint64(level) << 56) | (quint64(quint32(row)) << 28) | quint32(column);
    };
    const auto placeOf = [&](int row, int column) {
        return QRect(int(column * span), int(row * span), int(span), int(span)) & whole;
    };
    const auto sizeAt = [level](const QRect& source) {
        return QSize(int((source.width() + (1 << level) - 1) >> level),
                     int((source.height() + (1 << level) - 1) >> level));
    };
    for (int row = row0; row <= row1; ++row) {
        for (int column = column0; column <= column1; ++column) {
            const QRect source = placeOf(row, column);
            if (source.isEmpty())
                continue;
            const quint64 key = keyOf(row, column);
            QImage* tile = tiles.object(key);
            if (!tile) {
                tile = new QImage(raster->read(source, sizeAt(source)));
                if (tile->isNull()) {
                    delete tile;
                    continue;
                }
                const int cost = std::max(1, int(tile->sizeInBytes() / 1024));
                if (!tiles.insert(key, tile, cost))
                    continue; // larger than the whole cache: not kept, not drawn
                tile = tiles.object(key);
                if (!tile)
                    continue;
            }
            painter->drawImage(QRectF(source), *tile);
        }
    }
    painter->restore();
}
