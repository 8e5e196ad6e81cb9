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

    // Indices of the points that lie in `rect` (edges included), in track order.
    QVector<int> pointsIn(const QRectF& rect) const;
    // The point whose marker is under `scenePos`: the top one of the markers
    // covering it, else the one whose edge is nearest, within `tolerance`
    // scene units; -1 for none. Looks only at the grid cells around the position.
    int pointAt(QPointF scenePos, qreal tolerance) const;

private:
    // The points with their grid index, colours and drawn tiles.
    struct Impl;
    std::unique_ptr<Impl> d;
};
