// A map that is one raster GDAL reads (a GeoTIFF, most often), with its own
// georeferencing and projection, however large: its pixels are read a tile
// at a time, from the overview nearest the resolution in view, and only the
// tiles drawn lately are kept.
#pragma once

#include <QCache>
#include <QGraphicsItem>
#include <QImage>
#include <QPointF>
#include <QSize>
#include <QString>

#include <memory>
#include <optional>

class GDALDataset;

class RasterMap
{
public:
    ~RasterMap();

    // The raster at `path`, or none with the reason in `error`: GDAL cannot
    // open it, it has no georeferencing or no projection, it is rotated, or
    // its projection has no PROJ definition.
    static std::unique_ptr<RasterMap> open(const QString& path, QString* error);

    QSize size() const { return pixels; }
    // Map units per pixel (y negative for a north-up raster), and the map x
    // and y of the upper-left pixel's centre, as a world file has them.
    QPointF pixelSize() const { return cell; }
    QPointF origin() const { return centre; }
    // The projection as a PROJ definition ("+proj=utm +zone=35 ...").
    const QByteArray& projection() const { return definition; }

    // The pixels of `source` (raster pixels) resampled to `out`, from the
    // overview that suits; a null image when GDAL fails to read them.
    QImage read(const QRect& source, QSize out) const;

private:
    RasterMap() = default;

    std::unique_ptr<GDALDataset> dataset;
    QSize pixels;
    QPointF cell, centre;
    QByteArray definition;
    int bands = 0;
    bool palette = false;
};

// The raster on the scene, one scene unit a raster pixel: each paint reads
// the tiles in view at the resolution of the device, one level of a
// power-of-two pyramid, and keeps them in a cache of bounded size.
class RasterMapItem : public QGraphicsItem
{
public:
    explicit RasterMapItem(std::shared_ptr<const RasterMap> map, QGraphicsItem* parent = nullptr);

    QRectF boundingRect() const override;
    void paint(QPainter* painter, const QStyleOptionGraphicsItem* option, QWidget* widget) override;

    // Tiles held, for tests: their decoded bytes stay under kCacheBytes.
    static constexpr int kTileSize = 256;
    static constexpr qint64 kCacheBytes = 96LL * 1024 * 1024;
    qint64 cachedBytes() const { return qint64(tiles.totalCost()) * 1024; }

private:
    std::shared_ptr<const RasterMap> raster;
    mutable QCache<quint64, QImage> tiles; // cost in KiB
};
