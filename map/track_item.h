// The survey track as one scene item: a circle per point coloured by its dose
// rate, in track order, drawn in one pass however many points there are.
#pragma once

#include "dose_scale.h"
#include <survey_point.h>

#include <QColor>
#include <QGraphicsItem>
#include <QPen>
#include <QVector>

#include <memory>

class TrackItem : public QGraphicsItem
{
public:
    enum { Type = UserType + 1 };

    // Points in scene (map pixel) coordinates; each gets a circle of `radius`
    // map pixels centred on it, or a single device pixel at radius 0. A
    // negative radius counts as 0. Without `values` every point is unknown.
    // The plain look; setReadable gives the map's.
    TrackItem(QVector<QPointF> points, qreal radius, QGraphicsItem* parent = nullptr);
    TrackItem(QVector<QPointF> points, QVector<SurveyPoint> values, qreal radius,
              const DoseScale& scale, QGraphicsItem* parent = nullptr);
    ~TrackItem() override;

    int type() const override { return Type; }
    QRectF boundingRect() const override;
    void paint(QPainter* painter, const QStyleOptionGraphicsItem* option, QWidget* widget) override;

    const QVector<QPointF>& points() const;
    qreal radius() const;
    // The circle's rectangle around a point, in the point's own coordinates.
    QRectF markerRect() const;
    // The marker of a point without a dose rate.
    QPen pen() const;
    QBrush brush() const;

    // The values of point `index` (unknown ones when none were given).
    SurveyPoint value(int index) const;
    const DoseScale& scale() const;
    // Colours the points again; the drawn tiles go.
    void setScale(const DoseScale& scale);
    QColor colourAt(int index) const;

    // Readable over a map at any zoom: no marker is less than
    // kMinimumPixels device pixels across, and each has a dark outline.
    static constexpr qreal kMinimumPixels = 6;
    void setReadable(bool readable);
    bool readable() const;
    // The device pixels a screen pixel takes in the least size and the
    // outlines: above 1 for a print, whose pixels are finer. 1 by default.
    void setPixelScale(qreal devicePixels);

    // Flags of each point (0: good); a flagged point is drawn as a hollow
    // ring, so that it cannot pass for a measured colour. Empty: all good.
    void setFlags(QVector<uint16_t> flags);
    uint16_t flags(int index) const;
    // Which points are drawn (non-zero: shown); empty: all of them.
    void setShown(QVector<char> shown);
    bool isShown(int index) const;
    int shownCount() const;

    // Indices of the points that lie in `rect` (edges included), in track
    // order, shown or not.
    QVector<int> pointsIn(const QRectF& rect) const;
    // The radius of a marker in scene units at `zoom` device pixels per scene
    // unit (0: whatever the zoom), the minimum of a readable one included.
    qreal radiusAt(qreal zoom) const;
    // The shown point whose marker is under `scenePos` at `zoom`: the top one
    // of the markers covering it, else the one whose edge is nearest, within
    // `tolerance` scene units; -1 for none. Looks only at the grid cells
    // around the position.
    int pointAt(QPointF scenePos, qreal tolerance, qreal zoom = 0) const;

private:
    // The points with their grid index, colours and drawn tiles.
    struct Impl;
    std::unique_ptr<Impl> d;
};
