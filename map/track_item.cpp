#include "track_item.h"

#include "paint_area.h"

#include <QCache>
#include <QImage>
#include <QPainter>
#include <QStyleOptionGraphicsItem>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// Finer buckets cost memory and building time for little gain in culling.
constexpr int maxGridSide = 256;
constexpr int pointsPerCell = 8;
// Beyond this many device pixels a circle is cheaper to paint than to stamp.
constexpr qreal maxStampSize = 256;
// Half the toolkit's default pen width: the outline reaches this far out.
constexpr qreal penReach = 0.5;
// Drawn tiles kept for panning, in KiB: a few screens' worth.
constexpr int tileCacheKiB = 32 * 1024;

// std::floor is a library call on the baseline x86-64 target.
inline int floorToInt(double value)
{
    const int whole = int(value);
    return whole - (value < whole);
}

// Points bucketed by a uniform grid over their extent, each bucket in track
// order: the visible part of the track without a scan.
struct Grid
{
    QRectF extent;
    int columns = 0;
    int rows = 0;
    qreal cellWidth = 1;
    qreal cellHeight = 1;
    QVector<int> cellStart; // columns * rows + 1 offsets into `order`
    QVector<int> order;     // point indices sorted by cell
};

// One marker as the device pixels the toolkit itself paints for it, kept as
// runs of one colour per row, for each quarter-pixel offset of the point.
enum Slot { kFill, kDark }; // the point's colour, or the outline's
struct Span
{
    int dy, x0, x1;
    Slot slot;
};
struct Stamp
{
    QVector<Span> spans;
    int top = 0, bottom = 0, left = 0, right = 0; // extent around the point's pixel
};
constexpr int phases = 4; // placeOf divides by shifting
enum Kind { kGood, kFlagged, kKinds };
struct Stamps
{
    qreal scaleX = 0;
    qreal scaleY = 0;
    Stamp byPhase[kKinds][phases * phases];
    bool built[kKinds][phases * phases] = {};
};
// Outlines of readable markers: dark enough over any map, and not a colour
// of the dose-rate steps.
const QRgb darkColour = qRgb(24, 24, 24);
constexpr qreal outlinePixels = 1.5;
constexpr qreal ringPixels = 2.5;

// Device pixels of the track, drawn for one zoom and kept while it lasts.
struct Tiles
{
    qreal scaleX = 0;
    qreal scaleY = 0;
    QPointF offset; // the fraction of a pixel the view is shifted by
    QCache<quint64, QImage> cache;
};
constexpr int tileSize = 256;

// A tile being drawn in this frame.
struct NewTile
{
    int column, row;
    QImage image;       // null while nothing is drawn on it
    QVector<int> owner; // per pixel, the last point that falls on it
    QRgb* bits;         // the image's pixels, rows of tileSize
};

} // namespace

struct TrackItem::Impl
{
    Impl(QVector<QPointF> points, QVector<SurveyPoint> values, qreal radius);

    void buildGrid();
    void setScale(const DoseScale& scale);
    QRgb colourOf(int index) const;
    QVector<int> pointsIn(const QRectF& rect) const;
    QVector<int> shownIn(const QRectF& rect) const;
    bool isShown(int index) const { return shown.isEmpty() || shown[index]; }
    Kind kindOf(int index) const { return flags.isEmpty() || !flags[index] ? kGood : kFlagged; }
    qreal radiusAt(qreal zoom) const;
    int pointAt(QPointF scenePos, qreal tolerance, qreal zoom) const;
    QRectF markerRect() const;
    const Stamp& stampFor(Kind kind, int phaseX, int phaseY);
    void renderTiles(QVector<NewTile>& pending);
    void paintEach(QPainter* painter, const QVector<int>& indices) const;
    void paint(QPainter* painter, const QStyleOptionGraphicsItem* option);

    QVector<QPointF> trackPoints;
    QVector<SurveyPoint> pointValues;
    qreal markerRadius;
    QColor markerColour;
    DoseScale doseScale;
    QVector<QRgb> pointColours; // empty: all unknown
    QVector<uint16_t> flags;    // empty: all good
    QVector<char> shown;        // empty: all shown
    bool readable = false;
    qreal pixelScale = 1; // device pixels a screen pixel
    QRectF bounds;
    Grid grid;
    Stamps stamps;
    Tiles tiles;
};

TrackItem::Impl::Impl(QVector<QPointF> points, QVector<SurveyPoint> values, qreal radius)
    : trackPoints(std::move(points)), pointValues(std::move(values)),
      markerRadius(std::max<qreal>(radius, 0)), markerColour(DoseScale::unknownColour())
{
    Q_ASSERT(pointValues.isEmpty() || pointValues.size() == trackPoints.size());
    tiles.cache.setMaxCost(tileCacheKiB);
    buildGrid();
    if (!trackPoints.isEmpty()) {
        const qreal reach = markerRadius + penReach;
        bounds = grid.extent.adjusted(-reach, -reach, reach, reach);
    }
}

TrackItem::TrackItem(QVector<QPointF> points, qreal radius, QGraphicsItem* parent)
    : TrackItem(std::move(points), {}, radius, DoseScale(), parent)
{
}

TrackItem::TrackItem(QVector<QPointF> points, QVector<SurveyPoint> values, qreal radius,
                     const DoseScale& scale, QGraphicsItem* parent)
    : QGraphicsItem(parent), d(std::make_unique<Impl>(std::move(points), std::move(values), radius))
{
    setFlag(ItemUsesExtendedStyleOption);
    setScale(scale);
}

TrackItem::~TrackItem() = default;

QRectF TrackItem::boundingRect() const
{
    return d->bounds;
}

const QVector<QPointF>& TrackItem::points() const
{
    return d->trackPoints;
}

qreal TrackItem::radius() const
{
    return d->markerRadius;
}

QRectF TrackItem::markerRect() const
{
    return d->markerRect();
}

QRectF TrackItem::Impl::markerRect() const
{
    return QRectF(-markerRadius, -markerRadius, 2 * markerRadius, 2 * markerRadius);
}

QPen TrackItem::pen() const
{
    return QPen(d->markerColour);
}

QBrush TrackItem::brush() const
{
    return QBrush(d->markerColour);
}

QRgb TrackItem::Impl::colourOf(int index) const
{
    // Scale colours are made opaque, so they are already premultiplied.
    return pointColours.isEmpty() ? markerColour.rgba() : pointColours[index];
}

QColor TrackItem::colourAt(int index) const
{
    return QColor::fromRgba(d->colourOf(index));
}

SurveyPoint TrackItem::value(int index) const
{
    if (!d->pointValues.isEmpty())
        return d->pointValues[index];
    SurveyPoint unknown;
    unknown.latitude = unknown.longitude = std::numeric_limits<double>::quiet_NaN();
    return unknown;
}

const DoseScale& TrackItem::scale() const
{
    return d->doseScale;
}

void TrackItem::setScale(const DoseScale& scale)
{
    d->setScale(scale);
    update();
}

void TrackItem::Impl::setScale(const DoseScale& scale)
{
    doseScale = scale;
    pointColours.clear();
    if (!pointValues.isEmpty()) {
        pointColours.resize(pointValues.size());
        for (int i = 0; i < pointValues.size(); ++i) {
            QColor colour = doseScale.colourOf(pointValues[i].doseRate);
            colour.setAlpha(255); // a see-through marker would hide the order of the walk
            pointColours[i] = colour.rgba();
        }
    }
    tiles.cache.clear();
}

void TrackItem::setReadable(bool readable)
{
    d->readable = readable;
    d->stamps = Stamps{};
    d->tiles.cache.clear();
    update();
}

void TrackItem::setPixelScale(qreal devicePixels)
{
    if (d->pixelScale == devicePixels)
        return;
    d->pixelScale = devicePixels;
    d->stamps = Stamps{};
    d->tiles.cache.clear();
    update();
}

bool TrackItem::readable() const
{
    return d->readable;
}

void TrackItem::setFlags(QVector<uint16_t> flags)
{
    Q_ASSERT(flags.isEmpty() || flags.size() == d->trackPoints.size());
    d->flags = std::move(flags);
    d->tiles.cache.clear();
    update();
}

uint16_t TrackItem::flags(int index) const
{
    return d->flags.isEmpty() ? 0 : d->flags[index];
}

void TrackItem::setShown(QVector<char> shown)
{
    Q_ASSERT(shown.isEmpty() || shown.size() == d->trackPoints.size());
    d->shown = std::move(shown);
    d->tiles.cache.clear();
    update();
}

bool TrackItem::isShown(int index) const
{
    return d->isShown(index);
}

int TrackItem::shownCount() const
{
    if (d->shown.isEmpty())
        return d->trackPoints.size();
    return int(std::count_if(d->shown.begin(), d->shown.end(), [](char on) { return on != 0; }));
}

qreal TrackItem::radiusAt(qreal zoom) const
{
    return d->radiusAt(zoom);
}

qreal TrackItem::Impl::radiusAt(qreal zoom) const
{
    if (!readable || !(zoom > 0))
        return markerRadius;
    return std::max(markerRadius, kMinimumPixels * pixelScale / 2 / zoom);
}

void TrackItem::Impl::buildGrid()
{
    const int count = trackPoints.size();
    if (count == 0)
        return;
    qreal left = trackPoints[0].x(), right = left;
    qreal top = trackPoints[0].y(), bottom = top;
    for (const QPointF& p : trackPoints) {
        left = std::min(left, p.x());
        right = std::max(right, p.x());
        top = std::min(top, p.y());
        bottom = std::max(bottom, p.y());
    }
    grid.extent = QRectF(QPointF(left, top), QPointF(right, bottom));
    const int side =
        std::clamp(static_cast<int>(std::sqrt(double(count) / pointsPerCell)), 1, maxGridSide);
    grid.columns = side;
    grid.rows = side;
    grid.cellWidth = right > left ? (right - left) / side : 1;
    grid.cellHeight = bottom > top ? (bottom - top) / side : 1;

    auto cellOf = [this](const QPointF& p) {
        int column = std::min(int((p.x() - grid.extent.left()) / grid.cellWidth), grid.columns - 1);
        int row = std::min(int((p.y() - grid.extent.top()) / grid.cellHeight), grid.rows - 1);
        return row * grid.columns + column;
    };
    // Counting sort: stable, so each bucket keeps track order.
    grid.cellStart.fill(0, grid.columns * grid.rows + 1);
    QVector<int> cells(count);
    for (int i = 0; i < count; ++i) {
        cells[i] = cellOf(trackPoints[i]);
        ++grid.cellStart[cells[i] + 1];
    }
    for (int c = 0; c < grid.columns * grid.rows; ++c)
        grid.cellStart[c + 1] += grid.cellStart[c];
    QVector<int> next = grid.cellStart;
    grid.order.resize(count);
    for (int i = 0; i < count; ++i)
        grid.order[next[cells[i]]++] = i;
}

QVector<int> TrackItem::pointsIn(const QRectF& rect) const
{
    return d->pointsIn(rect);
}

QVector<int> TrackItem::Impl::pointsIn(const QRectF& rect) const
{
    QVector<int> result;
    if (trackPoints.isEmpty())
        return result;
    const QRectF& e = grid.extent;
    const qreal left = std::max(rect.left(), e.left()), right = std::min(rect.right(), e.right());
    const qreal top = std::max(rect.top(), e.top()), bottom = std::min(rect.bottom(), e.bottom());
    if (!(left <= right && top <= bottom))
        return result;
    auto inside = [&](const QPointF& p) {
        return p.x() >= left && p.x() <= right && p.y() >= top && p.y() <= bottom;
    };
    const int c0 = std::min(int((left - e.left()) / grid.cellWidth), grid.columns - 1);
    const int c1 = std::min(int((right - e.left()) / grid.cellWidth), grid.columns - 1);
    const int r0 = std::min(int((top - e.top()) / grid.cellHeight), grid.rows - 1);
    const int r1 = std::min(int((bottom - e.top()) / grid.cellHeight), grid.rows - 1);
    int candidates = 0;
    for (int row = r0; row <= r1; ++row)
        candidates +=
            grid.cellStart[row * grid.columns + c1 + 1] - grid.cellStart[row * grid.columns + c0];

    // Most of the track in view: one pass in order beats gathering and sorting.
    if (candidates > trackPoints.size() / 4) {
        for (int i = 0; i < trackPoints.size(); ++i)
            if (inside(trackPoints[i]))
                result.append(i);
        return result;
    }
    result.reserve(candidates);
    for (int row = r0; row <= r1; ++row) {
        const int* begin = grid.order.constData() + grid.cellStart[row * grid.columns + c0];
        const int* end = grid.order.constData() + grid.cellStart[row * grid.columns + c1 + 1];
        for (const int* i = begin; i != end; ++i)
            if (inside(trackPoints[*i]))
                result.append(*i);
    }
    std::sort(result.begin(), result.end());
    return result;
}

QVector<int> TrackItem::Impl::shownIn(const QRectF& rect) const
{
    QVector<int> result = pointsIn(rect);
    if (!shown.isEmpty())
        result.erase(
            std::remove_if(result.begin(), result.end(), [this](int i) { return !shown[i]; }),
            result.end());
    return result;
}

int TrackItem::pointAt(QPointF scenePos, qreal tolerance, qreal zoom) const
{
    return d->pointAt(scenePos, tolerance, zoom);
}

int TrackItem::Impl::pointAt(QPointF scenePos, qreal tolerance, qreal zoom) const
{
    if (trackPoints.isEmpty() || !std::isfinite(scenePos.x()) || !std::isfinite(scenePos.y()))
        return -1;
    // A circle covers its outline too; a dot covers only its own place. The
    // toolkit paints a little beyond the outline, so a marker is also found
    // from within `tolerance` of its edge.
    const qreal radius = radiusAt(zoom);
    const qreal cover = radius > 0 ? radius + penReach : 0;
    const qreal reach = cover + std::max<qreal>(tolerance, 0);
    const QRectF& e = grid.extent;
    const qreal left = std::max(scenePos.x() - reach, e.left());
    const qreal right = std::min(scenePos.x() + reach, e.right());
    const qreal top = std::max(scenePos.y() - reach, e.top());
    const qreal bottom = std::min(scenePos.y() + reach, e.bottom());
    if (!(left <= right && top <= bottom))
        return -1;
    const int c0 = std::min(int((left - e.left()) / grid.cellWidth), grid.columns - 1);
    const int c1 = std::min(int((right - e.left()) / grid.cellWidth), grid.columns - 1);
    const int r0 = std::min(int((top - e.top()) / grid.cellHeight), grid.rows - 1);
    const int r1 = std::min(int((bottom - e.top()) / grid.cellHeight), grid.rows - 1);

    const qreal cover2 = cover * cover, near2 = reach * reach;
    int onTop = -1, nearest = -1;
    qreal nearest2 = std::numeric_limits<qreal>::max();
    for (int row = r0; row <= r1; ++row) {
        const int* begin = grid.order.constData() + grid.cellStart[row * grid.columns + c0];
        const int* end = grid.order.constData() + grid.cellStart[row * grid.columns + c1 + 1];
        for (const int* i = begin; i != end; ++i) {
            if (!isShown(*i))
                continue;
            const QPointF d = trackPoints[*i] - scenePos;
            const qreal d2 = d.x() * d.x() + d.y() * d.y();
            // Later points are drawn over earlier ones.
            if (d2 <= cover2 && *i > onTop)
                onTop = *i;
            if (d2 <= near2 && (d2 < nearest2 || (d2 == nearest2 && *i > nearest))) {
                nearest2 = d2;
                nearest = *i;
            }
        }
    }
    return onTop >= 0 ? onTop : nearest;
}

const Stamp& TrackItem::Impl::stampFor(Kind kind, int phaseX, int phaseY)
{
    if (stamps.scaleX != tiles.scaleX || stamps.scaleY != tiles.scaleY) {
        stamps = Stamps{};
        stamps.scaleX = tiles.scaleX;
        stamps.scaleY = tiles.scaleY;
    }
    const int phase = phaseY * phases + phaseX;
    Stamp& stamp = stamps.byPhase[kind][phase];
    if (stamps.built[kind][phase])
        return stamp;
    stamps.built[kind][phase] = true;
    QVector<Span>& spans = stamp.spans;
    if (markerRadius == 0 && !readable) {
        spans.append({0, 0, 0, kFill}); // a dot: one device pixel at any zoom
        return stamp;
    }

    // Below the minimum a readable marker keeps its size on the screen.
    const qreal minimum = readable ? kMinimumPixels * pixelScale / 2 : 0;
    const bool atMinimum = markerRadius * std::min(stamps.scaleX, stamps.scaleY) < minimum;
    const int side =
        int(std::ceil((2 * (markerRadius + penReach)) * std::max(stamps.scaleX, stamps.scaleY))) +
        int(std::ceil(2 * (minimum + ringPixels * pixelScale))) + 4;
    const int origin = side / 2;
    QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
    image.fill(0);
    {
        // Stand-in colours tell the fill from the outline.
        const QColor fill(0, 0, 255), dark(255, 0, 0);
        QPainter painter(&image);
        painter.setRenderHints(QPainter::RenderHints());
        const QPointF at(origin + qreal(phaseX) / phases, origin + qreal(phaseY) / phases);
        QRectF rect = markerRect();
        if (atMinimum) {
            painter.setTransform(QTransform::fromTranslate(at.x(), at.y()));
            rect = QRectF(-minimum, -minimum, 2 * minimum, 2 * minimum);
        } else {
            painter.setTransform(QTransform(stamps.scaleX, 0, 0, stamps.scaleY, at.x(), at.y()));
        }
        if (!readable) {
            painter.setPen(QPen(fill));
            painter.setBrush(QBrush(fill));
        } else {
            QPen outline(dark, (kind == kGood ? outlinePixels : ringPixels) * pixelScale);
            outline.setCosmetic(true);
            painter.setPen(outline);
            painter.setBrush(kind == kGood ? QBrush(fill) : QBrush());
        }
        painter.drawEllipse(rect);
    }
    // Outlines thinner than a pixel come out faint; a stamp is all or nothing.
    auto drawn = [](QRgb pixel) { return qAlpha(pixel) >= 128; };
    auto slotOf = [](QRgb pixel) { return qRed(pixel) > qBlue(pixel) ? kDark : kFill; };
    for (int y = 0; y < side; ++y) {
        const QRgb* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < side;) {
            if (!drawn(line[x])) {
                ++x;
                continue;
            }
            const Slot slot = slotOf(line[x]);
            int x1 = x;
            while (x1 + 1 < side && drawn(line[x1 + 1]) && slotOf(line[x1 + 1]) == slot)
                ++x1;
            spans.append({y - origin, x - origin, x1 - origin, slot});
            x = x1 + 1;
        }
    }
    // Zoomed far out a circle is smaller than a pixel; each point still shows.
    if (spans.isEmpty())
        spans.append({0, 0, 0, readable ? kDark : kFill});
    for (const Span& span : spans) {
        stamp.top = std::min(stamp.top, span.dy);
        stamp.bottom = std::max(stamp.bottom, span.dy);
        stamp.left = std::min(stamp.left, span.x0);
        stamp.right = std::max(stamp.right, span.x1);
    }
    return stamp;
}

void TrackItem::Impl::paintEach(QPainter* painter, const QVector<int>& indices) const
{
    const qreal zoom = std::sqrt(std::abs(painter->worldTransform().determinant()));
    const qreal radius = radiusAt(zoom);
    const QRectF marker(-radius, -radius, 2 * radius, 2 * radius);
    QRgb current = 0;
    int currentKind = -1;
    for (int i : indices) {
        const QRgb colour = colourOf(i);
        const Kind kind = kindOf(i);
        if (currentKind < 0 || colour != current || kind != currentKind) {
            const QColor c = QColor::fromRgba(colour);
            if (readable) {
                QPen outline(QColor::fromRgb(darkColour),
                             (kind == kGood ? outlinePixels : ringPixels) * pixelScale);
                outline.setCosmetic(true);
                painter->setPen(outline);
                painter->setBrush(kind == kGood ? QBrush(c) : QBrush());
            } else {
                // A dot is one device pixel: a cosmetic pen of width 1.
                painter->setPen(radius > 0 ? QPen(c) : QPen(c, 0));
                painter->setBrush(radius > 0 ? QBrush(c) : QBrush());
            }
            current = colour;
            currentKind = kind;
        }
        if (radius > 0)
            painter->drawEllipse(marker.translated(trackPoints[i]));
        else
            painter->drawPoint(trackPoints[i]);
    }
}

void TrackItem::Impl::renderTiles(QVector<NewTile>& pending)
{
    // Device pixels here count from the scene origin: a point lies at its
    // position times the scale plus the view's fraction of a pixel.
    int c0 = pending[0].column, c1 = c0, r0 = pending[0].row, r1 = r0;
    for (const NewTile& tile : pending) {
        c0 = std::min(c0, tile.column);
        c1 = std::max(c1, tile.column);
        r0 = std::min(r0, tile.row);
        r1 = std::max(r1, tile.row);
    }
    const int columns = c1 - c0 + 1;
    QVector<int> slot(columns * (r1 - r0 + 1), -1);
    for (int n = 0; n < pending.size(); ++n)
        slot[(pending[n].row - r0) * columns + pending[n].column - c0] = n;
    auto slotOf = [&](int column, int row) {
        if (column < c0 || column > c1 || row < r0 || row > r1)
            return -1;
        return slot[(row - r0) * columns + column - c0];
    };

    const qreal reach =
        radiusAt(std::min(tiles.scaleX, tiles.scaleY)) + penReach +
        (readable ? ringPixels * pixelScale / std::min(tiles.scaleX, tiles.scaleY) : 0);
    const QRectF area(QPointF((c0 * tileSize - tiles.offset.x()) / tiles.scaleX,
                              (r0 * tileSize - tiles.offset.y()) / tiles.scaleY),
                      QPointF(((c1 + 1) * tileSize - tiles.offset.x()) / tiles.scaleX,
                              ((r1 + 1) * tileSize - tiles.offset.y()) / tiles.scaleY));
    const QVector<int> indices = shownIn(area.adjusted(-reach, -reach, reach, reach));
    if (indices.isEmpty())
        return;

    // A point's device pixel, and where in that pixel it lies in quarters.
    struct Place
    {
        int x, y, phaseX, phaseY;
    };
    // Quarter pixels; the points in view are near enough for an int.
    const double quarterX = tiles.scaleX * phases, quarterY = tiles.scaleY * phases;
    const double startX = tiles.offset.x() * phases + 0.5;
    const double startY = tiles.offset.y() * phases + 0.5;
    auto placeOf = [&](const QPointF& p) {
        const int x = floorToInt(p.x() * quarterX + startX);
        const int y = floorToInt(p.y() * quarterY + startY);
        return Place{x >> 2, y >> 2, x & 3, y & 3}; // phases == 4
    };
    auto tileOf = [](int pixel) {
        return pixel >= 0 ? pixel / tileSize : -((-pixel - 1) / tileSize) - 1;
    };

    // Points on the same device pixel look the same: only the last of them,
    // the one on top, is stamped.
    for (int i : indices) {
        const Place place = placeOf(trackPoints[i]);
        const int n = slotOf(tileOf(place.x), tileOf(place.y));
        if (n < 0)
            continue;
        NewTile& tile = pending[n];
        if (tile.owner.isEmpty())
            tile.owner.fill(-1, tileSize * tileSize);
        tile.owner[(place.y - tile.row * tileSize) * tileSize + place.x - tile.column * tileSize] =
            i;
    }
    std::vector<std::pair<int, Place>> stamped;
    stamped.reserve(std::size_t(indices.size()));
    for (int i : indices) {
        const Place place = placeOf(trackPoints[i]);
        const int own = slotOf(tileOf(place.x), tileOf(place.y));
        if (own >= 0) {
            const NewTile& tile = pending[own];
            if (tile.owner[(place.y - tile.row * tileSize) * tileSize + place.x -
                           tile.column * tileSize] != i)
                continue;
        }
        stamped.emplace_back(i, place);
    }

    // Readable markers are cased as roads on a map are: every good marker's
    // outline first, then the fills over them, so that a dense walk is a band
    // of colour inside one outline. Flagged rings go on top.
    auto stamp = [&](int i, const Place& place, int pass) {
        const bool flagged = kindOf(i) == kFlagged;
        if (pass == 0 && flagged)
            return;
        const Stamp& circle = stampFor(kindOf(i), place.phaseX, place.phaseY);
        const QRgb colours[] = {colourOf(i), darkColour}; // by slot
        auto drawn = [&](Slot slot) {
            return !readable || flagged || (pass == 0) == (slot == kDark);
        };
        // A circle near a tile's edge reaches into its neighbours.
        for (int row = tileOf(place.y + circle.top); row <= tileOf(place.y + circle.bottom);
             ++row) {
            for (int column = tileOf(place.x + circle.left);
                 column <= tileOf(place.x + circle.right); ++column) {
                const int n = slotOf(column, row);
                if (n < 0)
                    continue;
                NewTile& tile = pending[n];
                if (tile.image.isNull()) {
                    tile.image = QImage(tileSize, tileSize, QImage::Format_ARGB32_Premultiplied);
                    tile.image.fill(0);
                    tile.bits = reinterpret_cast<QRgb*>(tile.image.bits());
                }
                const int x = place.x - column * tileSize, y0 = place.y - row * tileSize;
                for (const Span& span : circle.spans) {
                    const int y = y0 + span.dy;
                    if (y < 0 || y >= tileSize || !drawn(span.slot))
                        continue;
                    const int x0 = std::max(x + span.x0, 0);
                    const int x1 = std::min(x + span.x1, tileSize - 1);
                    if (x0 > x1)
                        continue;
                    QRgb* line = tile.bits + y * tileSize;
                    std::fill(line + x0, line + x1 + 1, colours[span.slot]);
                }
            }
        }
    };
    for (int pass = readable ? 0 : 1; pass < 2; ++pass)
        for (const auto& [i, place] : stamped)
            stamp(i, place, pass);
}

void TrackItem::paint(QPainter* painter, const QStyleOptionGraphicsItem* option, QWidget*)
{
    d->paint(painter, option);
}

void TrackItem::Impl::paint(QPainter* painter, const QStyleOptionGraphicsItem* option)
{
    if (trackPoints.isEmpty())
        return;
    QPaintDevice* device = painter->device();
    const qreal ratio = device->devicePixelRatioF();
    const QTransform world = painter->worldTransform();
    QRectF visible = paintedArea(*painter, option);
    const qreal scaleX = world.m11() * ratio, scaleY = world.m22() * ratio;
    const qreal zoom = std::sqrt(std::abs(world.determinant())) * ratio;
    const qreal reach =
        radiusAt(zoom) + penReach + (readable && zoom > 0 ? ringPixels * pixelScale / zoom : 0);
    visible.adjust(-reach, -reach, reach, reach);
    if (!visible.intersects(bounds.adjusted(-reach, -reach, reach, reach)))
        return;

    const bool axisAligned = world.type() <= QTransform::TxScale && scaleX > 0 && scaleY > 0;
    // Tiles count device pixels from the scene origin in quarters, as ints.
    const QRectF fromOrigin = QTransform::fromScale(scaleX, scaleY).mapRect(visible);
    const bool countable = std::max({std::abs(fromOrigin.left()), std::abs(fromOrigin.right()),
                                     std::abs(fromOrigin.top()), std::abs(fromOrigin.bottom())}) *
                               phases <
                           1e9;
    if (!axisAligned || !countable || painter->testRenderHint(QPainter::Antialiasing) ||
        (markerRadius > 0 && 2 * reach * std::max(scaleX, scaleY) > maxStampSize)) {
        paintEach(painter, shownIn(visible));
        return;
    }

    // Tiles of device pixels, kept while the zoom stays: panning moves the
    // view by whole pixels, so the tiles drawn before fit again.
    const QTransform toDevice = world * QTransform::fromScale(ratio, ratio);
    const QPointF whole(std::floor(toDevice.dx()), std::floor(toDevice.dy()));
    const QPointF fraction(toDevice.dx() - whole.x(), toDevice.dy() - whole.y());
    if (tiles.scaleX != scaleX || tiles.scaleY != scaleY || tiles.offset != fraction) {
        tiles.cache.clear();
        tiles.scaleX = scaleX;
        tiles.scaleY = scaleY;
        tiles.offset = fraction;
    }
    const QRect deviceRect(0, 0, int(std::ceil(device->width() * ratio)),
                           int(std::ceil(device->height() * ratio)));
    const QRect area = (toDevice.mapRect(visible).toAlignedRect() & deviceRect)
                           .translated(-int(whole.x()), -int(whole.y()));
    if (area.isEmpty())
        return;
    auto tileIndex = [](int pixel) { return int(std::floor(double(pixel) / tileSize)); };
    auto keyOf = [](int column, int row) {
        return (quint64(quint32(column)) << 32) | quint32(row);
    };
    QVector<NewTile> shown;
    QVector<NewTile> pending;
    for (int row = tileIndex(area.top()); row <= tileIndex(area.bottom()); ++row) {
        for (int column = tileIndex(area.left()); column <= tileIndex(area.right()); ++column) {
            if (const QImage* tile = tiles.cache.object(keyOf(column, row)))
                shown.append({column, row, *tile, {}, nullptr});
            else
                pending.append({column, row, QImage(), {}, nullptr});
        }
    }
    if (!pending.isEmpty()) {
        renderTiles(pending);
        for (NewTile& tile : pending) {
            tile.owner.clear();
            tile.image.setDevicePixelRatio(ratio);
            // An empty tile is remembered too, as a null image.
            const int cost = tile.image.isNull() ? 1 : int(tile.image.sizeInBytes() / 1024);
            tiles.cache.insert(keyOf(tile.column, tile.row), new QImage(tile.image), cost);
            shown.append(tile);
        }
    }
    painter->save();
    painter->resetTransform();
    for (const NewTile& tile : shown)
        if (!tile.image.isNull())
            painter->drawImage(QPointF((tile.column * tileSize + whole.x()) / ratio,
                                       (tile.row * tileSize + whole.y()) / ratio),
                               tile.image);
    painter->restore();
}
