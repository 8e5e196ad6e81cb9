// TOrvisk: the map widget. One georeferenced raster map with the survey track
// drawn over it as one red circle per point.
#pragma once

#include "proj_adapter.h"

#include <QGraphicsScene>
#include <QGraphicsView>
#include <QPixmap>
#include <QPointF>
#include <QVector>

#include <optional>

class TOrvisk : public QGraphicsView
{
    Q_OBJECT

public:
    explicit TOrvisk(QWidget* parent = nullptr);
    ~TOrvisk() override;

    // Map files; failures are shown in error dialogs and keep what was loaded.
    void loadMapImage(const QString& path);
    void loadCalFile(const QString& path);
    void loadProjFile(const QString& path);

    // Prints the map and geographic coordinates of a scene position.
    void displayCoords(QPointF scenePos);
    // The read-out line for a scene position; empty while a projection is missing.
    QString coordsText(QPointF scenePos) const;

    void clearTrack();
    void addTrackPoint(double latitude, double longitude);
    int getTrackLen() const { return track.size(); }
    void createScene(int radius);

    const QVector<QPointF>& getTrack() const { return track; }
    QPointF getMapOrigin() const { return mapOrigin; }
    QPointF getPixelSize() const { return pixelSize; }
    bool hasProjections() const { return latLongProj && userProj; }

protected:
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    std::optional<QPointF> geoToPixel(double latitude, double longitude) const;

    QGraphicsScene scene;
    QPointF mapOrigin;
    QPointF pixelSize;
    QVector<QPointF> track;
    proj::ProjectionPtr latLongProj;
    proj::ProjectionPtr userProj;
    double scaleFactor = 1.0;
    double zoomStep = 1.15;
    double fineZoomStep = 1.01;
    QPixmap mapPixmap;
};
