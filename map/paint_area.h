// The part of an item's scene a paint reaches: the device's area, cut to the
// exposed rectangle and the painter's clip, in the item's coordinates.
#pragma once

#include <QPaintDevice>
#include <QPainter>
#include <QStyleOptionGraphicsItem>

inline QRectF paintedArea(const QPainter& painter, const QStyleOptionGraphicsItem* option)
{
    const QPaintDevice* device = painter.device();
    QRectF visible = painter.worldTransform().inverted().mapRect(
        QRectF(0, 0, device->width(), device->height()));
    if (option)
        visible &= option->exposedRect;
    if (painter.hasClipping())
        visible &= painter.clipBoundingRect();
    return visible;
}
