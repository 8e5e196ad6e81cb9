// The survey track as one scene item: a circle per point coloured by its dose
// rate, in track order, drawn in one pass however many points there are.
#pragma once

#include "dose_scale.h"
#include "survey_point.h"

#include <QCache>
#include <QColor>
#include <QGraphicsItem>
#include <QImage>
#include <QPen>
#include <QVector>

class TrackItem : public QGraphicsItem
{
public:
    enum { Type = UserType + 1 };

    // Points in scene (map pixel) coordinates; each gets a circle of `radius`
    // map pixels centred on it, or a single device pixel at radius 0. A
    // negative radius counts as 0. Without `values` every point is unknown.
    TrackItem(QVector<QPointF> points, qreal radius, QGraphicsItem* parent = nullptr);
    TrackItem(QVector<QPointF> points, QVector<SurveyPoint> values, qreal radius,
              const DoseScale& scale, QGraphicsItem* parent = nullptr);

    int type() const override { return Type; }
    QRectF boundingRect() const override;
    void paint(QPainter* painter, const QStyleOptionGraphicsItem* option, QWidget* widget) override;

    const QVector<QPointF>& points() const { return trackPoints; }
    qreal radius() const { return markerRadius; }
    // The circle's rectangle around a point, in the point's own coordinates.
    QRectF markerRect() const;
    // The marker of a point without a dose rate.
    QPen pen() const;
    QBrush brush() const;

    // The values of point `index` (unknown ones when none were given).
    SurveyPoint value(int index) const;
    const DoseScale& scale() const { return doseScale; }
    // Colours the points again; the drawn tiles go.
    void setScale(const DoseScale& scale);
    QColor colourAt(int index) const { return QColor::fromRgba(colourOf(index)); }

    // Indices of the points that lie in `rect` (edges included), in track order.
    QVector<int> pointsIn(const QRectF& rect) const;
    // The point whose marker is under `scenePos`: the top one of the markers
    // covering it, else the one whose edge is nearest, within `tolerance`
    // scene units; -1 for none. Looks only at the grid cells around the position.
    int pointAt(QPointF scenePos, qreal tolerance) const;

private:
    // Points bucketed by a uniform grid over their extent, each bucket in
    // track order: the visible part of the track without a scan.
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
    // One circle as the device pixels the toolkit itself paints for it, kept
    // as one span per row (the circle is convex and drawn in one colour), for
    // each quarter-pixel offset of the point.
    struct Span
    {
        int dy, x0, x1;
    };
    struct Stamp
    {
        QVector<Span> spans;
        int top = 0, bottom = 0, left = 0, right = 0; // extent around the point's pixel
    };
    static constexpr int phases = 4; // placeOf divides by shifting
    struct Stamps
    {
        qreal scaleX = 0;
        qreal scaleY = 0;
        Stamp byPhase[phases * phases];
        bool built[phases * phases] = {};
    };
    // Device pixels of the track, drawn for one zoom and kept while it lasts.
    struct Tiles
    {
        qreal scaleX = 0;
        qreal scaleY = 0;
        QPointF offset; // the fraction of a pixel the view is shifted by
        QCache<quint64, QImage> cache;
    };
    static constexpr int tileSize = 256;
    // A tile being drawn in this frame.
    struct NewTile
    {
        int column, row;
        QImage image;       // null while nothing is drawn on it
        QVector<int> owner; // per pixel, the last point that falls on it
        QRgb* bits;         // the image's pixels, rows of tileSize
    };

    void buildGrid();
    void renderTiles(QVector<NewTile>& pending) const;
    const Stamp& stampFor(int phaseX, int phaseY) const;
    QRgb colourOf(int index) const;
    void paintEach(QPainter* painter, const QVector<int>& indices) const;

    QVector<QPointF> trackPoints;
    QVector<SurveyPoint> pointValues;
    qreal markerRadius;
    QColor markerColour;
    DoseScale doseScale;
    QVector<QRgb> pointColours; // empty: all unknown
    QRectF bounds;
    Grid grid;
    mutable Stamps stamps;
    mutable Tiles tiles;
};
