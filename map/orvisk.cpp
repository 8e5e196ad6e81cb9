#include "orvisk.h"

#include "dose_legend.h"
#include "map_files.h"
#include "message_dialogs.h"
#include "raster_map.h"
#include "survey_text.h"
#include "track_item.h"

#include <survey_checks.h>

#include <QDir>
#include <QFile>
#include <QGraphicsEllipseItem>
#include <QGraphicsLineItem>
#include <QGraphicsPixmapItem>
#include <QImageReader>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QResizeEvent>
#include <QScrollBar>
#include <QSettings>
#include <QToolTip>
#include <QTouchEvent>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

namespace {

constexpr double radiansPerDegree = 0.017453292519943295;
constexpr double degreesPerRadian = 57.29577951308232;
constexpr char latLongDefinition[] = "+proj=latlong +ellps=WGS84 +datum=WGS84 +no_defs";
const QString settingsGroup = QStringLiteral("Map");
const QString scaleFactorKey = QStringLiteral("ScaleFactor");
const QString centerKey = QStringLiteral("Center");
// Distance marks keep their size on screen whatever the zoom.
constexpr qreal markRadius = 6;
const QColor measureColour(20, 60, 200);
// The mouse finds a marker from this many screen pixels beyond its edge.
constexpr qreal hitPixels = 3;
// The legend's distance from the corner of the view.
constexpr int legendMargin = 8;

QString projError(const char* prefix)
{
    return QString::fromLatin1(prefix) + QString::fromUtf8(proj::errorText(proj::lastError()));
}

// Each reader shows its failure and returns nothing.
std::optional<QImage> readMapImage(const QString& path)
{
    std::optional<QImage> image = map_files::readImage(path);
    if (!image)
        ui::showErrorMessage(QStringLiteral("Could not load raster image file!"));
    return image;
}

std::optional<map_files::WorldFile> readWorld(const QString& path)
{
    QFile file(path);
    std::optional<map_files::WorldFile> world;
    if (file.open(QIODevice::ReadOnly))
        world = map_files::readWorldFile(file);
    // Without six usable lines the origin or pixel size would be made up.
    if (!world)
        ui::showErrorMessage(QStringLiteral("Could not load calibration file!"));
    return world;
}

// A rejected definition gives a null projection (and its message); only a
// file that cannot be opened gives nothing. `definition` gets the line read.
std::optional<proj::ProjectionPtr> readProjection(const QString& path,
                                                  QByteArray* definition = nullptr)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        ui::showErrorMessage(QStringLiteral("Could not load calibration file!"));
        return std::nullopt;
    }
    const QByteArray line = map_files::readProjectionLine(file);
    proj::ProjectionPtr projection = proj::initPlus(line.constData());
    if (!projection)
        ui::showErrorMessage(projError("User projection error:"));
    else if (definition)
        *definition = line;
    return projection;
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

} // namespace

TOrvisk::TOrvisk(QWidget* parent) : QGraphicsView(parent)
{
    scene.setBackgroundBrush(QBrush(Qt::gray));
    scaleFactor = 1.0;

    latLongProj = proj::initPlus(latLongDefinition);
    if (!latLongProj)
        ui::showErrorMessage(projError("LatLong projection error:"));

    setScene(&scene);
    scene.setStickyFocus(true);
    setMouseTracking(true);
    setViewportUpdateMode(QGraphicsView::FullViewportUpdate);
    setTransformationAnchor(QGraphicsView::AnchorUnderMouse);
    setResizeAnchor(QGraphicsView::AnchorViewCenter);
    setRenderHints(QPainter::SmoothPixmapTransform);
    setDragMode(QGraphicsView::ScrollHandDrag);
    // Without this a touch screen sends the viewport mouse events, never a pinch.
    viewport()->setAttribute(Qt::WA_AcceptTouchEvents);

    qRegisterMetaType<SurveyPoint>();
    // A child of the view, not of the viewport, so scrolling never moves it.
    doseLegend = new DoseLegend(this);
    doseLegend->setScale(doseSteps);
    doseLegend->hide();
}

TOrvisk::~TOrvisk()
{
    if (picking)
        endPointPick();
    saveSettings();
}

void TOrvisk::loadMapImage(const QString& path)
{
    if (std::optional<QImage> image = readMapImage(path)) {
        mapPixmap = QPixmap::fromImage(*image);
        mapRaster.reset();
    }
}

void TOrvisk::loadCalFile(const QString& path)
{
    if (std::optional<map_files::WorldFile> world = readWorld(path)) {
        pixelSize = world->pixelSize;
        mapOrigin = world->origin;
    }
}

void TOrvisk::loadProjFile(const QString& path)
{
    QByteArray definition;
    if (std::optional<proj::ProjectionPtr> projection = readProjection(path, &definition)) {
        userProj = std::move(*projection);
        userProjDefinition = definition;
    }
}

std::optional<QPointF> TOrvisk::sceneToGeo(QPointF scenePos) const
{
    if (!hasProjections())
        return std::nullopt;
    double x = scenePos.x() * pixelSize.x() + mapOrigin.x();
    double y = scenePos.y() * pixelSize.y() + mapOrigin.y();
    proj::transform(*userProj, *latLongProj, &x, &y);
    return QPointF(y * degreesPerRadian, x * degreesPerRadian);
}

std::optional<QPointF> TOrvisk::geoToScene(double latitude, double longitude) const
{
    if (!hasProjections())
        return std::nullopt;
    double x = longitude * radiansPerDegree, y = latitude * radiansPerDegree;
    if (proj::transform(*latLongProj, *userProj, &x, &y) != 0)
        return std::nullopt;
    return QPointF((x - mapOrigin.x()) / pixelSize.x(), (y - mapOrigin.y()) / pixelSize.y());
}

QString TOrvisk::coordsText(QPointF scenePos) const
{
    std::optional<QPointF> geo = sceneToGeo(scenePos);
    if (!geo)
        return {};
    double mapX = scenePos.x() * pixelSize.x() + mapOrigin.x();
    double mapY = scenePos.y() * pixelSize.y() + mapOrigin.y();
    return QString::asprintf("x:%d y:%d       px:%f py:%f      %f %f\n",
                             static_cast<int>(scenePos.x()), static_cast<int>(scenePos.y()), mapX,
                             mapY, geo->y(), geo->x());
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
    trackValues.clear();
    trackSources.clear();
    surveySize = 0;
    surveyFlags.clear();
    surveyShown.clear();
    marked = -1;
}

void TOrvisk::addTrackPoint(double latitude, double longitude)
{
    SurveyPoint point;
    point.latitude = latitude;
    point.longitude = longitude;
    addTrackPoint(point);
}

void TOrvisk::addTrackPoint(const SurveyPoint& point)
{
    addTrackPoints({point});
}

void TOrvisk::addTrackPoints(const std::vector<SurveyPoint>& points)
{
    std::vector<int> sources(points.size());
    for (int& source : sources)
        source = surveySize++;
    placePoints(points.data(), points.size(), sources.data());
}

void TOrvisk::placePoints(const SurveyPoint* points, std::size_t count, const int* sources)
{
    if (!hasProjections())
        return;
    std::vector<double> x(count), y(count);
    for (std::size_t i = 0; i < count; ++i) {
        x[i] = points[i].longitude * radiansPerDegree;
        y[i] = points[i].latitude * radiansPerDegree;
    }
    proj::transformAll(*latLongProj, *userProj, x.data(), y.data(), count);
    for (std::size_t i = 0; i < count; ++i) {
        auto column = truncatedPixel((x[i] - mapOrigin.x()) / pixelSize.x());
        auto row = truncatedPixel((y[i] - mapOrigin.y()) / pixelSize.y());
        if (column && row) {
            track.append(QPointF(*column, *row));
            trackValues.append(points[i]);
            trackSources.append(sources[i]);
        }
    }
}

void TOrvisk::setTrackFlags(std::vector<uint16_t> flags)
{
    surveyFlags = std::move(flags);
    applyTrackLook();
}

void TOrvisk::setTrackShown(std::vector<char> shown)
{
    surveyShown = std::move(shown);
    applyTrackLook();
}

// The survey's flags and choice of points, by track index for the item.
void TOrvisk::applyTrackLook()
{
    if (!trackLayer || trackLayer->points().size() != track.size())
        return;
    auto byTrack = [this](const auto& bySurvey) {
        using Value = typename std::decay_t<decltype(bySurvey)>::value_type;
        QVector<Value> out;
        if (bySurvey.empty())
            return out;
        out.resize(track.size());
        for (int i = 0; i < track.size(); ++i) {
            const auto source = std::size_t(trackSources[i]);
            out[i] = source < bySurvey.size() ? bySurvey[source] : Value{};
        }
        return out;
    };
    trackLayer->setFlags(byTrack(surveyFlags));
    trackLayer->setShown(byTrack(surveyShown));
}

int TOrvisk::trackIndexOf(int surveyIndex) const
{
    // Sources rise with the track index: a binary search finds it.
    auto at = std::lower_bound(trackSources.begin(), trackSources.end(), surveyIndex);
    return at != trackSources.end() && *at == surveyIndex ? int(at - trackSources.begin()) : -1;
}

void TOrvisk::markSurveyPoint(int surveyIndex)
{
    marked = surveyIndex;
    updateMarkItem();
}

void TOrvisk::updateMarkItem()
{
    delete std::exchange(markItem, nullptr);
    const int index = trackIndexOf(marked);
    if (index < 0)
        return;
    QPen pen(Qt::black, 2);
    pen.setCosmetic(true);
    auto* ring = scene.addEllipse(QRectF(-9, -9, 18, 18), pen, Qt::NoBrush);
    auto* inner = new QGraphicsEllipseItem(QRectF(-7, -7, 14, 14), ring);
    QPen light(Qt::white, 2);
    light.setCosmetic(true);
    inner->setPen(light);
    ring->setFlag(QGraphicsItem::ItemIgnoresTransformations);
    ring->setPos(track[index]);
    ring->setZValue(3);
    markItem = ring;
}

void TOrvisk::setUnderlay(const QImage& image, double west, double north, double cellWidth,
                          double cellHeight)
{
    underlay = image;
    // Map coordinates to scene pixels: the world file's origin and pixel size.
    underlayPlace =
        QRectF((west - mapOrigin.x()) / pixelSize.x(), (north - mapOrigin.y()) / pixelSize.y(),
               cellWidth / pixelSize.x(), -cellHeight / pixelSize.y());
    placeUnderlay();
}

void TOrvisk::clearUnderlay()
{
    underlay = QImage();
    placeUnderlay();
}

void TOrvisk::setUnderlayShown(bool shown)
{
    underlayShown = shown;
    if (underlayItem)
        underlayItem->setVisible(shown);
}

void TOrvisk::placeUnderlay()
{
    delete std::exchange(underlayItem, nullptr);
    if (underlay.isNull())
        return;
    // Over the map, under the track; cells drawn as squares, not blurred.
    auto* item = scene.addPixmap(QPixmap::fromImage(underlay));
    item->setTransformationMode(Qt::FastTransformation);
    item->setPos(underlayPlace.topLeft());
    item->setTransform(QTransform::fromScale(underlayPlace.width(), underlayPlace.height()));
    item->setZValue(0.5); // the map is at 0, the track at 1
    item->setVisible(underlayShown);
    underlayItem = item;
}

void TOrvisk::centreOnSurveyPoint(int surveyIndex)
{
    const int index = trackIndexOf(surveyIndex);
    if (index >= 0)
        centerExactly(track[index]);
}

void TOrvisk::createScene(int radius)
{
    measureItems.clear(); // deleted with the scene's other items
    markItem = nullptr;
    underlayItem = nullptr;
    scene.clear();
    if (mapRaster) {
        scene.addItem(new RasterMapItem(mapRaster));
    } else {
        QGraphicsPixmapItem* map = scene.addPixmap(mapPixmap);
        map->setPos(0, 0);
        map->setScale(1.0);
        map->setTransformationMode(Qt::SmoothTransformation);
    }
    placeUnderlay();

    // One item for the whole track; it keeps its own copy of the points, so
    // clearTrack leaves the drawn circles until the next rebuild.
    trackLayer = new TrackItem(track, trackValues, radius, doseSteps);
    trackLayer->setReadable(true);
    trackLayer->setZValue(1);
    applyTrackLook();
    scene.addItem(trackLayer);
    inspected = -1;
    doseLegend->setVisible(!track.isEmpty());
    placeLegend();
    updateMeasureItems();
    updateMarkItem();
}

void TOrvisk::setDoseScale(const DoseScale& newScale)
{
    doseSteps = newScale;
    if (trackLayer)
        trackLayer->setScale(doseSteps);
    doseLegend->setScale(doseSteps);
    placeLegend();
}

void TOrvisk::placeLegend()
{
    const QRect area = viewport()->geometry();
    doseLegend->resize(doseLegend->sizeHint());
    doseLegend->move(area.right() + 1 - legendMargin - doseLegend->width(),
                     area.top() + legendMargin);
    doseLegend->raise();
}

int TOrvisk::trackPointAt(QPointF scenePos) const
{
    if (!trackLayer)
        return -1;
    const qreal zoom = std::abs(transform().m11());
    const qreal tolerance = zoom > 0 ? hitPixels / zoom : 0;
    return trackLayer->pointAt(scenePos, tolerance, zoom);
}

void TOrvisk::inspect(QPoint viewportPos)
{
    const QPointF scenePos = mapToScene(viewportPos);
    // The mouse is over a whole screen pixel, and a marker is drawn on the
    // pixels whose middle it covers: look from that middle.
    const QPointF pixelMiddle =
        viewportTransform().inverted().map(QPointF(viewportPos) + QPointF(0.5, 0.5));
    const int index = trackPointAt(pixelMiddle);
    if (index >= 0) {
        const SurveyPoint point = trackLayer->value(index);
        if (index != inspected)
            QToolTip::showText(viewport()->mapToGlobal(viewportPos), survey_text::details(point),
                               viewport());
        if (index != inspected)
            emit surveyPointHovered(trackSources[index]);
        inspected = index;
        emit pointInspected(point);
        return;
    }
    if (inspected >= 0) {
        QToolTip::hideText();
        emit surveyPointHovered(-1);
    }
    inspected = -1;
    if (std::optional<QPointF> geo = sceneToGeo(scenePos))
        emit cursorMoved(geo->x(), geo->y());
}

void TOrvisk::loadMapFolder(const QString& folder)
{
    // Everything is read before anything changes: a damaged folder leaves
    // the map as it was.
    const QDir dir(folder);
    const QStringList rasters = dir.entryList(rasterMapNames(), QDir::Files);
    const bool classic = dir.exists(QStringLiteral("map.png"));
    if (classic && !rasters.isEmpty()) {
        ui::showErrorMessage(QStringLiteral("The map folder %1 holds both map.png and %2: keep one "
                                            "kind of map in it.")
                                 .arg(QDir::toNativeSeparators(folder), rasters.first()));
        return;
    }
    std::shared_ptr<RasterMap> raster;
    std::optional<QImage> image;
    std::optional<map_files::WorldFile> world;
    QByteArray definition;
    proj::ProjectionPtr projection;
    if (!rasters.isEmpty()) {
        QString problem;
        raster = RasterMap::open(dir.filePath(rasters.first()), &problem);
        if (raster) {
            definition = raster->projection();
            projection = proj::initPlus(definition.constData());
            if (!projection)
                problem = QStringLiteral("%1: PROJ cannot use its projection (%2): %3")
                              .arg(rasters.first(), QString::fromUtf8(definition),
                                   QString::fromUtf8(proj::errorText(proj::lastError())));
        }
        if (!raster || !projection) {
            ui::showErrorMessage(problem);
            return;
        }
        world = map_files::WorldFile{raster->pixelSize(), raster->origin()};
    } else {
        image = readMapImage(dir.filePath(QStringLiteral("map.png")));
        world = readWorld(dir.filePath(QStringLiteral("map.pgw")));
        std::optional<proj::ProjectionPtr> read =
            readProjection(dir.filePath(QStringLiteral("map.ppr")), &definition);
        if (!image || !world || !read || !*read)
            return;
        projection = std::move(*read);
    }
    mapRaster = std::move(raster);
    mapPixmap = image ? QPixmap::fromImage(*image) : QPixmap();
    pixelSize = world->pixelSize;
    mapOrigin = world->origin;
    userProj = std::move(projection);
    userProjDefinition = definition;
    clearUnderlay(); // it lay on the old map

    const QVector<SurveyPoint> points = std::exchange(trackValues, {});
    const QVector<int> sources = std::exchange(trackSources, {});
    track.clear();
    placePoints(points.constData(), std::size_t(points.size()), sources.constData());
    clearMeasurement();
}

QStringList TOrvisk::rasterMapNames()
{
    return {QStringLiteral("map.tif"), QStringLiteral("map.tiff"), QStringLiteral("map.vrt"),
            QStringLiteral("map.jp2"), QStringLiteral("map.img")};
}

void TOrvisk::saveSettings()
{
    QSettings settings;
    settings.beginGroup(settingsGroup);
    settings.setValue(scaleFactorKey, scaleFactor);
    settings.setValue(centerKey, viewCenter());
    settings.endGroup();
}

void TOrvisk::loadSettings()
{
    QSettings settings;
    settings.beginGroup(settingsGroup);
    bool ok = false;
    double stored = settings.value(scaleFactorKey).toDouble(&ok);
    const QVariant center = settings.value(centerKey);
    settings.endGroup();

    // A missing, damaged or edited value must not leave the map unusable.
    scaleFactor = ok && std::isfinite(stored) && stored > 0 ? stored : 1.0;
    setTransform(QTransform::fromScale(scaleFactor, scaleFactor));
    if (center.userType() == QMetaType::QPointF) {
        const QPointF point = center.toPointF();
        if (std::isfinite(point.x()) && std::isfinite(point.y())) {
            if (isVisible())
                centerExactly(point);
            else
                startCenter = point;
        }
    }
}

void TOrvisk::showEvent(QShowEvent* event)
{
    QGraphicsView::showEvent(event);
    if (startCenter)
        centerExactly(*std::exchange(startCenter, std::nullopt));
}

QPointF TOrvisk::viewCenter() const
{
    return viewportTransform().inverted().map(QRectF(viewport()->rect()).center());
}

void TOrvisk::centerExactly(QPointF scenePos)
{
    // centerOn truncates to whole scroll steps; without the correction every
    // restart would move the map by a pixel.
    centerOn(scenePos);
    const QPointF off = (viewCenter() - scenePos) * scaleFactor;
    horizontalScrollBar()->setValue(horizontalScrollBar()->value() - qRound(off.x()));
    verticalScrollBar()->setValue(verticalScrollBar()->value() - qRound(off.y()));
}

std::optional<QRectF> TOrvisk::trackExtent() const
{
    // The points shown whose place is trusted: one without a fix or far off
    // its walk would shrink the walk to nothing. The others only when none
    // is trusted.
    constexpr uint16_t kMisplaced = kFlagNoFix | kFlagSpeed;
    const bool layered = trackLayer && trackLayer->points().size() == track.size();
    for (const bool goodOnly : {true, false}) {
        // Not QRectF's union: it skips rectangles without area, as a point is.
        std::optional<QPointF> low, high;
        for (int i = 0; i < track.size(); ++i) {
            if (layered &&
                (!trackLayer->isShown(i) || (goodOnly && (trackLayer->flags(i) & kMisplaced))))
                continue;
            const QPointF& p = track[i];
            low = low ? QPointF(std::min(low->x(), p.x()), std::min(low->y(), p.y())) : p;
            high = high ? QPointF(std::max(high->x(), p.x()), std::max(high->y(), p.y())) : p;
        }
        if (low)
            return QRectF(*low, *high);
    }
    return std::nullopt;
}

void TOrvisk::renderScene(QPainter* painter, const QRectF& target, const QRectF& source,
                          qreal pixelScale)
{
    if (trackLayer)
        trackLayer->setPixelScale(pixelScale);
    scene.render(painter, target, source, Qt::IgnoreAspectRatio);
    if (trackLayer)
        trackLayer->setPixelScale(1);
}

void TOrvisk::fitTrack()
{
    if (const std::optional<QRectF> extent = trackExtent())
        fitArea(extent->topLeft(), extent->bottomRight());
}

void TOrvisk::fitArea(QPointF low, QPointF high)
{
    const QSizeF extent(high.x() - low.x(), high.y() - low.y());
    const QSize view = viewport()->size();
    if (extent.width() > 0 || extent.height() > 0) {
        constexpr double kMargin = 0.85; // of the view the survey may take
        const double fit =
            kMargin * std::min(extent.width() > 0 ? view.width() / extent.width() : 1e9,
                               extent.height() > 0 ? view.height() / extent.height() : 1e9);
        // Closer than a few screen pixels a map pixel, a few points a step
        // apart would stand at the corners of the view: positions are whole
        // map pixels.
        constexpr double kClosest = 4;
        scaleFactor = std::clamp(fit, 1e-3, kClosest);
        applyScale(scaleFactor);
    }
    centerExactly((low + high) / 2);
}

void TOrvisk::applyScale(double factor)
{
    setTransform(QTransform::fromScale(factor, factor));
}

void TOrvisk::mouseMoveEvent(QMouseEvent* event)
{
    if (hasProjections())
        displayCoords(mapToScene(event->pos()));
    inspect(event->pos());
    // Hand-drag panning works whether or not a projection is loaded.
    QGraphicsView::mouseMoveEvent(event);
}

void TOrvisk::wheelEvent(QWheelEvent* event)
{
    setTransformationAnchor(QGraphicsView::AnchorUnderMouse);
    const double factor = event->modifiers() & Qt::ControlModifier ? fineZoomStep : zoomStep;
    if (event->angleDelta().y() > 0)
        scaleFactor *= factor;
    else
        scaleFactor /= factor;
    applyScale(scaleFactor);
    event->accept(); // the wheel zooms, it never scrolls
}

bool TOrvisk::viewportEvent(QEvent* event)
{
    setTransformationAnchor(QGraphicsView::AnchorUnderMouse);
    switch (event->type()) {
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd: {
        auto* touch = static_cast<QTouchEvent*>(event);
        const QList<QTouchEvent::TouchPoint>& points = touch->touchPoints();
        if (points.size() == 2) {
            const QTouchEvent::TouchPoint& p0 = points.first();
            const QTouchEvent::TouchPoint& p1 = points.last();
            const double start = QLineF(p0.startPos(), p1.startPos()).length();
            double ratio = start > 0 ? QLineF(p0.pos(), p1.pos()).length() / start : 1.0;
            if (touch->touchPointStates() & Qt::TouchPointReleased) {
                scaleFactor *= ratio;
                ratio = 1.0;
            }
            applyScale(scaleFactor * ratio);
        }
        event->accept();
        return true;
    }
    case QEvent::Resize:
        // Scroll bars coming and going resize the viewport alone.
        placeLegend();
        return QGraphicsView::viewportEvent(event);
    default:
        return QGraphicsView::viewportEvent(event);
    }
}

void TOrvisk::resizeEvent(QResizeEvent* event)
{
    const QSize old = event->oldSize();
    if (old.width() == -1 || old.height() == -1)
        return;
    // Keep showing the area that was visible, at the same zoom.
    QPointF topLeft = mapToScene(QPoint(0, 0));
    QPointF bottomRight = mapToScene(QPoint(old.width(), old.height()));
    const QRectF extent = sceneRect();
    topLeft.setX(std::max(topLeft.x(), extent.left()));
    topLeft.setY(std::max(topLeft.y(), extent.top()));
    bottomRight.setX(std::min(bottomRight.x(), extent.right()));
    bottomRight.setY(std::min(bottomRight.y(), extent.bottom()));
    // Centred by hand: a transform anchored under the mouse would follow a
    // pointer that is not over the map and throw the view to a corner.
    applyScale(scaleFactor);
    centerExactly((topLeft + bottomRight) / 2);
    event->accept();
}

void TOrvisk::startPointPick()
{
    if (picking)
        return;
    picking = true;
    // The whole window's clicks come here until the pick ends, so a click on
    // a button cancels the pick instead of starting something else meanwhile.
    viewport()->grabMouse(Qt::CrossCursor);
    grabKeyboard();
}

void TOrvisk::cancelPointPick()
{
    if (!picking)
        return;
    endPointPick();
    emit pickCancelled();
}

void TOrvisk::endPointPick()
{
    picking = false;
    viewport()->releaseMouse();
    releaseKeyboard();
}

void TOrvisk::mousePressEvent(QMouseEvent* event)
{
    if (!picking) {
        QGraphicsView::mousePressEvent(event);
        return;
    }
    event->accept();
    if (event->button() == Qt::LeftButton && viewport()->rect().contains(event->pos())) {
        endPointPick();
        emit pointPicked(mapToScene(event->pos()));
    } else {
        cancelPointPick();
    }
}

void TOrvisk::keyPressEvent(QKeyEvent* event)
{
    if (picking && event->key() == Qt::Key_Escape) {
        event->accept();
        cancelPointPick();
        return;
    }
    QGraphicsView::keyPressEvent(event);
}

void TOrvisk::setMeasurePoint(int index, QPointF scenePos)
{
    measurePoints.at(index) = scenePos;
    updateMeasureItems();
    emit measurementChanged();
}

void TOrvisk::clearMeasurement()
{
    measurePoints = {};
    updateMeasureItems();
    emit measurementChanged();
}

std::optional<geodesic::Line> TOrvisk::measurement() const
{
    if (!measurePoints[0] || !measurePoints[1])
        return std::nullopt;
    const std::optional<QPointF> first = sceneToGeo(*measurePoints[0]);
    const std::optional<QPointF> second = sceneToGeo(*measurePoints[1]);
    if (!first || !second)
        return std::nullopt;
    return geodesic::inverse(first->x(), first->y(), second->x(), second->y());
}

void TOrvisk::updateMeasureItems()
{
    for (QGraphicsItem* item : std::as_const(measureItems))
        delete item;
    measureItems.clear();

    QPen linePen(measureColour, 2, Qt::DashLine);
    linePen.setCosmetic(true);
    if (measurePoints[0] && measurePoints[1]) {
        auto* line = scene.addLine(QLineF(*measurePoints[0], *measurePoints[1]), linePen);
        line->setZValue(1);
        measureItems.append(line);
    }
    QPen markPen(Qt::white, 2);
    markPen.setCosmetic(true);
    for (const std::optional<QPointF>& point : measurePoints) {
        if (!point)
            continue;
        auto* mark =
            scene.addEllipse(QRectF(-markRadius, -markRadius, 2 * markRadius, 2 * markRadius),
                             markPen, QBrush(measureColour));
        mark->setFlag(QGraphicsItem::ItemIgnoresTransformations);
        mark->setPos(*point);
        mark->setZValue(2);
        measureItems.append(mark);
    }
}
