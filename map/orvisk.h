// TOrvisk: the map widget. One georeferenced raster map with the survey track
// drawn over it as one circle per point, coloured by dose rate under a legend;
// the point under the mouse reported for inspection; wheel and pinch zoom,
// hand-drag panning, and the two marks of a distance measurement.
#pragma once

#include "dose_scale.h"
#include "geodesic_line.h"
#include "proj_adapter.h"
#include <survey_point.h>

#include <QGraphicsScene>
#include <QGraphicsView>
#include <QImage>
#include <QPixmap>
#include <QPointF>
#include <QVector>

#include <array>
#include <memory>
#include <optional>
#include <vector>

class DoseLegend;
class RasterMap;
class TrackItem;
class QGraphicsItem;

Q_DECLARE_METATYPE(SurveyPoint)

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

    // The scene position of a place, unrounded; none without projections or
    // for a place the map's projection cannot take.
    std::optional<QPointF> geoToScene(double latitude, double longitude) const;
    // Prints the map and geographic coordinates of a scene position.
    void displayCoords(QPointF scenePos);
    // The read-out line for a scene position; empty while a projection is missing.
    QString coordsText(QPointF scenePos) const;
    // Latitude (x) and longitude (y) in degrees of a scene position, unrounded.
    std::optional<QPointF> sceneToGeo(QPointF scenePos) const;

    void clearTrack();
    // A position only: its values are unknown.
    void addTrackPoint(double latitude, double longitude);
    // A survey point with its values, kept with its place on the track.
    void addTrackPoint(const SurveyPoint& point);
    // The same for many points, converted in one go.
    void addTrackPoints(const std::vector<SurveyPoint>& points);
    // Every point added since clearTrack has a survey index, counted from 0 in
    // the order added; a point the map cannot place keeps its index unused.
    // The survey index of each point of getTrack().
    const QVector<int>& getTrackSources() const { return trackSources; }
    // The flags of the survey's points by survey index (empty: all good), and
    // which of them are shown (non-zero; empty: all). Both hold through
    // createScene and another map.
    void setTrackFlags(std::vector<uint16_t> flags);
    void setTrackShown(std::vector<char> shown);
    // Marks one survey point with a ring that keeps its size on the screen;
    // -1 takes the mark away.
    void markSurveyPoint(int surveyIndex);
    int markedSurveyPoint() const { return marked; }
    // Centres the view on a survey point at the current zoom.
    void centreOnSurveyPoint(int surveyIndex);

    // The map's projection as its file gives it (a PROJ definition).
    const QByteArray& projectionDefinition() const { return userProjDefinition; }
    // An image laid over the map and under the track, such as an
    // interpolated raster: its upper-left corner at (west, north) and its
    // cells cellWidth x cellHeight in the map's projection. It holds through
    // createScene; another map takes it away.
    void setUnderlay(const QImage& image, double west, double north, double cellWidth,
                     double cellHeight);
    void clearUnderlay();
    bool hasUnderlay() const { return !underlay.isNull(); }
    void setUnderlayShown(bool shown);
    bool underlayIsShown() const { return underlayShown; }
    // The item showing it (null without one), for tests.
    const QGraphicsItem* underlayItemForTests() const { return underlayItem; }
    int getTrackLen() const { return track.size(); }
    void createScene(int radius);
    // Zooms and centres so that the points shown show whole, with a margin,
    // leaving out those without a fix or too fast to be where they are
    // (unless no other is shown); a single point is centred at the current
    // zoom.
    void fitTrack();
    // The scene rectangle fitTrack fits: of the trusted points shown, else of
    // all shown; none when no point is shown.
    std::optional<QRectF> trackExtent() const;
    // The scene's items' extent, and the part `source` of the scene drawn
    // into `target` of a painter, for a print: markers and outlines that
    // keep their size on the screen take `pixelScale` device pixels a screen
    // pixel.
    QRectF sceneExtent() const { return scene.itemsBoundingRect(); }
    void renderScene(QPainter* painter, const QRectF& target, const QRectF& source,
                     qreal pixelScale);
    // Loads "map.png", "map.pgw" and "map.ppr" from `folder`, or a raster
    // with its own georeferencing and projection named as rasterMapNames()
    // (drawn from its overviews a tile at a time, however large), places the
    // track on the new map (positions it cannot place are dropped) and clears
    // the distance marks. A folder with both kinds, or a map that cannot be
    // used, is refused with one message and the map stays. The scene shows
    // the new map after the next createScene.
    void loadMapFolder(const QString& folder);
    static QStringList rasterMapNames();
    // The raster map in use, when the folder had one.
    const RasterMap* rasterMap() const { return mapRaster.get(); }

    const QVector<QPointF>& getTrack() const { return track; }
    // The values of each point of getTrack(), in the same order.
    const QVector<SurveyPoint>& getTrackValues() const { return trackValues; }
    QPointF getMapOrigin() const { return mapOrigin; }
    QPointF getPixelSize() const { return pixelSize; }
    bool hasProjections() const { return latLongProj && userProj; }
    // The item drawing the track of the last createScene (null before the first).
    const TrackItem* trackItem() const { return trackLayer; }

    // The colours of the track by dose rate, and the legend showing them.
    void setDoseScale(const DoseScale& scale);
    const DoseScale& doseScale() const { return doseSteps; }
    DoseLegend* legend() const { return doseLegend; }

    // The index (in trackItem()) of the shown point whose marker is under a
    // scene position at the current zoom, or -1.
    int trackPointAt(QPointF scenePos) const;

    // Zoom: "ScaleFactor" in group "Map", with the view centre beside it.
    void saveSettings();
    void loadSettings();
    double getScaleFactor() const { return scaleFactor; }

    // Point picking for the map tools: the next left click on the map is
    // reported by pointPicked; Escape, another button or a click elsewhere in
    // the window by pickCancelled.
    void startPointPick();
    void cancelPointPick();
    bool isPickingPoint() const { return picking; }

    // The two marks of a distance measurement (index 0 or 1), joined by a line
    // when both are set; they survive createScene.
    void setMeasurePoint(int index, QPointF scenePos);
    std::optional<QPointF> measurePoint(int index) const { return measurePoints.at(index); }
    void clearMeasurement();
    // Geodesic distance and azimuth between the two marks, when both are set
    // and the map has its projections.
    std::optional<geodesic::Line> measurement() const;

signals:
    // The mouse is over the marker of `point`.
    void pointInspected(const SurveyPoint& point);
    // The survey index of the point under the mouse, -1 when it leaves it.
    void surveyPointHovered(int surveyIndex);
    // The mouse is over the map away from every marker, at this place.
    void cursorMoved(double latitude, double longitude);
    void pointPicked(QPointF scenePos);
    void pickCancelled();
    void measurementChanged();

protected:
    void mouseMoveEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool viewportEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void applyScale(double factor);
    void endPointPick();
    void updateMeasureItems();
    QPointF viewCenter() const;
    void centerExactly(QPointF scenePos);
    void placeLegend();
    void inspect(QPoint viewportPos);
    void placePoints(const SurveyPoint* points, std::size_t count, const int* sources);
    void applyTrackLook();
    void fitArea(QPointF low, QPointF high);
    void placeUnderlay();
    int trackIndexOf(int surveyIndex) const;
    void updateMarkItem();

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
    std::shared_ptr<RasterMap> mapRaster; // instead of the pixmap

    // Every point of `track` with its values (and position, so another map
    // can place it).
    QVector<SurveyPoint> trackValues;
    QVector<int> trackSources;
    int surveySize = 0; // survey indices handed out since clearTrack
    std::vector<uint16_t> surveyFlags;
    std::vector<char> surveyShown;
    int marked = -1;
    QGraphicsItem* markItem = nullptr;
    QByteArray userProjDefinition;
    QImage underlay;
    QRectF underlayPlace; // top left in scene pixels; width, height: scene pixels a cell
    bool underlayShown = true;
    QGraphicsItem* underlayItem = nullptr;
    TrackItem* trackLayer = nullptr;
    DoseScale doseSteps;
    DoseLegend* doseLegend = nullptr;
    int inspected = -1; // the point whose time the tooltip shows
    bool picking = false;
    std::array<std::optional<QPointF>, 2> measurePoints;
    QVector<QGraphicsItem*> measureItems;
    // A stored view centre waiting for the widget's first showing, when it has
    // its real size.
    std::optional<QPointF> startCenter;
};
