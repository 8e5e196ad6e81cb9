#include "orvisk.h"

#include "message_dialogs.h"

#include <QFile>
#include <QGraphicsEllipseItem>
#include <QGraphicsPixmapItem>
#include <QImageReader>
#include <QMouseEvent>

#include <cmath>
#include <cstdio>
#include <limits>

namespace detail {

constexpr double radiansPerDegree = 0.017453292519943295;
constexpr double degreesPerRadian = 57.29577951308232;
constexpr char latLongDefinition[] = "+proj=latlong +ellps=WGS84 +datum=WGS84 +no_defs";
constexpr int calibrationLines = 6;

QString projError(const char* prefix)
{
    return QString::fromLatin1(prefix) + QString::fromUtf8(proj::errorText(proj::lastError()));
}

// Truncates toward zero; a value that is not finite or does not fit an int
// (no calibration, failed transform, a point far off the map) has no pixel.
std::optional<int> truncatedPixel(double value)
{
    if (!std::isfinite(value))
        return std::nullopt;
    double whole = std::trunc(value);
    if (whole < std::numeric_limits<int>::min() || whole > std::numeric_limits<int>::max())
        return std::nullopt;
    return static_cast<int>(whole);
}

} // namespace detail

TOrvisk::TOrvisk(QWidget* parent) : QGraphicsView(parent)
{
    scene.setBackgroundBrush(QBrush(Qt::gray));
    scaleFactor = 1.0;

    latLongProj = proj::initPlus(detail::latLongDefinition);
    if (!latLongProj)
        ui::showErrorMessage(detail::projError("LatLong projection error:"));

    setScene(&scene);
    scene.setStickyFocus(true);
    setMouseTracking(true);
    setViewportUpdateMode(QGraphicsView::FullViewportUpdate);
    setTransformationAnchor(QGraphicsView::AnchorUnderMouse);
    setResizeAnchor(QGraphicsView::AnchorViewCenter);
    setRenderHints(QPainter::SmoothPixmapTransform);
    setDragMode(QGraphicsView::ScrollHandDrag);
}

TOrvisk::~TOrvisk() = default;

void TOrvisk::loadMapImage(const QString& path)
{
    QImageReader reader(path);
    reader.setDecideFormatFromContent(true);
    QImage image = reader.read();
    if (image.isNull()) {
        ui::showErrorMessage(QStringLiteral("Could not load raster image file!"));
        return;
    }
    mapPixmap = QPixmap::fromImage(image);
}

void TOrvisk::loadCalFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        ui::showErrorMessage(QStringLiteral("Could not load calibration file!"));
        return;
    }
    double values[detail::calibrationLines] = {};
    int count = 0;
    while (!file.atEnd() && count < detail::calibrationLines)
        values[count++] =
            file.readLine().toDouble(); // "C" locale, blanks ignored, 0 if not a number
    file.close();
    // Without all six lines the origin or pixel size would be made up.
    if (count < detail::calibrationLines) {
        ui::showErrorMessage(QStringLiteral("Could not load calibration file!"));
        return;
    }
    pixelSize = QPointF(values[0], values[3]);
    mapOrigin = QPointF(values[4], values[5]);
}

void TOrvisk::loadProjFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        ui::showErrorMessage(QStringLiteral("Could not load calibration file!"));
        return;
    }
    QByteArray definition = file.readLine();
    userProj = proj::initPlus(definition.constData());
    if (!userProj)
        ui::showErrorMessage(detail::projError("User projection error:"));
}

std::optional<QPointF> TOrvisk::geoToPixel(double latitude, double longitude) const
{
    double x = longitude * detail::radiansPerDegree;
    double y = latitude * detail::radiansPerDegree;
    proj::transform(*latLongProj, *userProj, &x, &y);
    auto column = detail::truncatedPixel((x - mapOrigin.x()) / pixelSize.x());
    auto row = detail::truncatedPixel((y - mapOrigin.y()) / pixelSize.y());
    if (!column || !row)
        return std::nullopt;
    return QPointF(*column, *row);
}

QString TOrvisk::coordsText(QPointF scenePos) const
{
    if (!hasProjections())
        return {};
    double mapX = scenePos.x() * pixelSize.x() + mapOrigin.x();
    double mapY = scenePos.y() * pixelSize.y() + mapOrigin.y();
    double x = mapX;
    double y = mapY;
    proj::transform(*userProj, *latLongProj, &x, &y);
    return QString::asprintf("x:%d y:%d       px:%f py:%f      %f %f\n",
                             static_cast<int>(scenePos.x()), static_cast<int>(scenePos.y()), mapX,
                             mapY, x * detail::degreesPerRadian, y * detail::degreesPerRadian);
}

void TOrvisk::displayCoords(QPointF scenePos)
{
    QString line = coordsText(scenePos);
    if (line.isEmpty())
        return;
    std::fputs(line.toUtf8().constData(), stdout);
    std::fflush(stdout);
}

void TOrvisk::clearTrack()
{
    track.clear();
}

void TOrvisk::addTrackPoint(double latitude, double longitude)
{
    if (!hasProjections())
        return;
    if (auto pixel = geoToPixel(latitude, longitude))
        track.append(*pixel);
}

void TOrvisk::createScene(int radius)
{
    scene.clear();
    QGraphicsPixmapItem* map = scene.addPixmap(mapPixmap);
    map->setPos(0, 0);
    map->setScale(1.0);
    map->setTransformationMode(Qt::SmoothTransformation);

    const QColor red(255, 0, 0, 255);
    const QPen pen(red);
    const QBrush brush(red);
    // A circle of radius r centred on the point.
    const QRectF marker(-radius, -radius, 2.0 * radius, 2.0 * radius);
    const QVector<QPointF> points = track;
    for (const QPointF& point : points) {
        QGraphicsEllipseItem* item = scene.addEllipse(marker, pen, brush);
        item->setPos(point);
    }
}

void TOrvisk::mouseMoveEvent(QMouseEvent* event)
{
    if (hasProjections())
        displayCoords(mapToScene(event->pos()));
    // Hand-drag panning works whether or not a projection is loaded.
    QGraphicsView::mouseMoveEvent(event);
}
