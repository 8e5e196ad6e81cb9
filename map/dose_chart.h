// The dose rate of a survey over time: a line per session of the good
// points, a time range the surveyor drags out on it, and the point under the
// mouse. Times are UTC and dose rates nSv/h, as the map's legend shows them.
#pragma once

#include <survey_point.h>

#include <QRectF>
#include <QWidget>

#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

class QCheckBox;
class QGraphicsRectItem;
class QLabel;
class QPushButton;

namespace QtCharts {
class QAbstractAxis;
class QCategoryAxis;
class QChart;
class QChartView;
class QLineSeries;
class QScatterSeries;
} // namespace QtCharts

class DoseChart : public QWidget
{
    Q_OBJECT

public:
    using TimeRange = std::pair<uint32_t, uint32_t>; // inclusive, seconds since 1970 UTC

    explicit DoseChart(QWidget* parent = nullptr);
    ~DoseChart() override;

    // Only points with flag 0 and a dose rate are drawn; indices in the
    // signals are the survey's. Clears the range and the marked point.
    void setSurvey(const std::vector<SurveyPoint>& points, const std::vector<uint16_t>& flags);
    // A step in the times at least this long breaks the line (the instrument
    // was off between sessions); default 300.
    void setGapSeconds(int seconds);
    int gapSeconds() const { return gap; }
    // The dose-rate axis linear or logarithmic.
    void setLogarithmic(bool on);
    bool logarithmic() const { return logAxis; }
    // The chosen time range, shaded; none: the whole survey. Does not emit.
    void setRange(std::optional<TimeRange> range);
    std::optional<TimeRange> range() const { return chosen; }
    // A distinct dot on one survey point, -1 for none; a point that is not
    // drawn gets no dot. Does not emit.
    void markPoint(int index);
    int markedPoint() const { return marked; }

    // In this widget's coordinates: where a time lies at the plot's middle
    // height, and the time (clamped to the axis) at an x.
    QPoint positionOfTime(uint32_t time) const;
    uint32_t timeAt(int x) const;
    // The shaded range in this widget's coordinates; empty without one.
    QRectF shadedArea() const;
    // The widget that takes the plot's mouse events.
    QWidget* plotWidget() const;
    QtCharts::QChart* chart() const { return chartItem; }
    // One line per drawn session of two or more points, in time order; a
    // session of one point is a dot in the scatter series "lonePoints".
    QList<QtCharts::QLineSeries*> lines() const;

signals:
    // The surveyor dragged across the plot and let go (a drag of a few
    // pixels or less is a click, not a range).
    void rangeChosen(uint32_t from, uint32_t to);
    // Right click or double click on the plot, or the Show all button.
    void rangeCleared();
    // The drawn point nearest in time to the mouse, within a few pixels; -1
    // when there is none or the mouse left the plot. Sent when it changes.
    void pointHovered(int index);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void rebuild();
    void findSessions();
    void setTimeAxis(int pixels);
    void makeValueAxis();
    void fitValueAxis();
    void placeBand();
    void placeMarker();
    void showRangeText();
    void hover(QPointF inChart);
    void clearRangeByUser();
    double timeAtChartX(double x) const;
    double chartXOf(double time) const;
    int plotPixels() const;

    QtCharts::QChartView* view = nullptr;
    QtCharts::QChart* chartItem = nullptr;
    QtCharts::QCategoryAxis* timeAxis = nullptr;
    QtCharts::QAbstractAxis* valueAxis = nullptr;
    QList<QtCharts::QLineSeries*> lineSeries;
    QtCharts::QScatterSeries* marker = nullptr;
    QtCharts::QScatterSeries* lonePoints = nullptr; // sessions of one point: no line to draw
    QGraphicsRectItem* band = nullptr;
    QCheckBox* logBox = nullptr;
    QPushButton* showAllButton = nullptr;
    QLabel* rangeLabel = nullptr;

    // The drawn points sorted by time: their times, survey indices and dose
    // rates in nSv/h; where each survey index lies in them (-1: not drawn).
    std::vector<uint32_t> times;
    std::vector<uint32_t> sources;
    std::vector<float> rates;
    std::vector<int> placeOf;
    std::vector<std::size_t> sessionStarts; // positions in `times` where a line starts
    double axisFrom = 0, axisTo = 1;        // the time axis, seconds
    float lowest = 0, highest = 0;          // nSv/h over the drawn points

    int gap = 300;
    bool logAxis = false;
    std::optional<TimeRange> chosen;
    int marked = -1;
    int hovered = -1;
    int builtPixels = 0; // the plot width the lines were decimated for
    bool rebuildQueued = false;
    bool dragging = false;
    double dragFrom = 0, dragTo = 0; // chart x of the press and of the mouse
};
