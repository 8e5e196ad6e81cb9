#include "dose_chart.h"

#include "dose_scale.h"

#include <QCategoryAxis>
#include <QChart>
#include <QChartView>
#include <QCheckBox>
#include <QDateTime>
#include <QGraphicsRectItem>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineSeries>
#include <QLogValueAxis>
#include <QMouseEvent>
#include <QPushButton>
#include <QScatterSeries>
#include <QTimer>
#include <QVBoxLayout>
#include <QValueAxis>

#include <algorithm>
#include <cassert>
#include <cmath>

using namespace QtCharts;

namespace {

// More sessions than this are drawn with the shortest gaps bridged: each line
// is an item of its own in the chart.
constexpr int kMaxLines = 48;
constexpr double kClickPixels = 4; // a drag no longer than this is a click
constexpr double kHoverPixels = 6;
constexpr double kLabelPixels = 90; // room for one time label
// Before the chart is laid out: about a plot's width.
constexpr int kDefaultPixels = 600;

const QColor lineColour(25, 90, 160);
const QColor markColour(230, 85, 20);
const QColor bandColour(40, 120, 220, 60);

QDateTime utc(double seconds)
{
    return QDateTime::fromSecsSinceEpoch(qint64(std::llround(seconds)), Qt::UTC);
}

// Round steps for the time labels, seconds.
constexpr int kTimeSteps[] = {1,     2,     5,      10,     15,      30,     60,    120,
                              300,   600,   900,    1800,   3600,    7200,   10800, 21600,
                              43200, 86400, 172800, 604800, 1209600, 2592000};

} // namespace

DoseChart::DoseChart(QWidget* parent) : QWidget(parent)
{
    // For queued connections and spies of rangeChosen.
    qRegisterMetaType<uint32_t>("uint32_t");
    chartItem = new QChart;
    chartItem->legend()->hide();
    chartItem->setBackgroundRoundness(0);
    chartItem->setMargins(QMargins(2, 4, 10, 2));

    timeAxis = new QCategoryAxis;
    timeAxis->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
    QFont small = timeAxis->labelsFont();
    small.setPointSizeF(small.pointSizeF() * 0.85);
    timeAxis->setLabelsFont(small);
    timeAxis->setTitleFont(small);
    chartItem->addAxis(timeAxis, Qt::AlignBottom);

    marker = new QScatterSeries;
    marker->setObjectName(QStringLiteral("marker"));
    marker->setMarkerShape(QScatterSeries::MarkerShapeCircle);
    marker->setMarkerSize(11);
    marker->setColor(markColour);
    marker->setBorderColor(Qt::white);
    lonePoints = new QScatterSeries;
    lonePoints->setObjectName(QStringLiteral("lonePoints"));
    lonePoints->setMarkerShape(QScatterSeries::MarkerShapeCircle);
    lonePoints->setMarkerSize(4);
    lonePoints->setColor(lineColour);
    lonePoints->setBorderColor(lineColour);
    chartItem->addSeries(lonePoints);
    chartItem->addSeries(marker);
    lonePoints->attachAxis(timeAxis);
    marker->attachAxis(timeAxis);
    makeValueAxis();

    band = new QGraphicsRectItem(chartItem);
    band->setPen(Qt::NoPen);
    band->setBrush(bandColour);
    band->setZValue(1.5); // over the plot's background, under its grid and lines
    band->hide();

    view = new QChartView(chartItem);
    view->setRenderHint(QPainter::Antialiasing);
    view->setRubberBand(QChartView::NoRubberBand);
    view->viewport()->setMouseTracking(true);
    view->viewport()->installEventFilter(this);

    logBox = new QCheckBox(tr("Log scale"));
    logBox->setObjectName(QStringLiteral("logScale"));
    connect(logBox, &QCheckBox::toggled, this, &DoseChart::setLogarithmic);
    showAllButton = new QPushButton(tr("Show all"));
    showAllButton->setObjectName(QStringLiteral("showAll"));
    connect(showAllButton, &QPushButton::clicked, this, &DoseChart::clearRangeByUser);
    rangeLabel = new QLabel;
    rangeLabel->setObjectName(QStringLiteral("range"));

    auto* tools = new QHBoxLayout;
    tools->setContentsMargins(4, 0, 4, 0);
    tools->addWidget(logBox);
    tools->addWidget(showAllButton);
    tools->addSpacing(8);
    tools->addWidget(rangeLabel, 1);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    layout->addLayout(tools);
    layout->addWidget(view, 1);

    // A new width gets buckets of its own; the band follows the plot.
    connect(chartItem, &QChart::plotAreaChanged, this, [this] {
        placeBand();
        if (plotPixels() == builtPixels || rebuildQueued)
            return;
        rebuildQueued = true;
        QTimer::singleShot(0, this, [this] {
            rebuildQueued = false;
            if (plotPixels() != builtPixels)
                rebuild();
        });
    });

    setSurvey({}, {});
}

DoseChart::~DoseChart() = default;

void DoseChart::setSurvey(const std::vector<SurveyPoint>& points,
                          const std::vector<uint16_t>& flags)
{
    assert(flags.empty() || flags.size() == points.size());
    // Time in the high half, survey index in the low: one sort orders both.
    std::vector<uint64_t> keys;
    keys.reserve(points.size());
    for (std::size_t i = 0; i < points.size(); ++i) {
        if ((flags.empty() || flags[i] == 0) && points[i].hasDoseRate())
            keys.push_back(uint64_t(points[i].time) << 32 | uint64_t(i));
    }
    if (!std::is_sorted(keys.begin(), keys.end()))
        std::sort(keys.begin(), keys.end());

    times.resize(keys.size());
    sources.resize(keys.size());
    rates.resize(keys.size());
    placeOf.assign(points.size(), -1);
    lowest = highest = 0;
    for (std::size_t k = 0; k < keys.size(); ++k) {
        const auto index = uint32_t(keys[k]);
        times[k] = uint32_t(keys[k] >> 32);
        sources[k] = index;
        // The points carry uSv/h; the legend speaks nSv/h.
        rates[k] = points[index].doseRate * 1000.0f;
        placeOf[index] = int(k);
        if (k == 0 || rates[k] < lowest)
            lowest = rates[k];
        if (k == 0 || rates[k] > highest)
            highest = rates[k];
    }
    if (times.empty()) {
        axisFrom = 0;
        axisTo = 1;
    } else {
        axisFrom = times.front();
        axisTo = times.back();
        if (axisTo - axisFrom < 60) { // a lone moment still gets a readable axis
            const double middle = (axisFrom + axisTo) / 2;
            axisFrom = middle - 30;
            axisTo = middle + 30;
        }
    }

    chosen.reset();
    marked = -1;
    hovered = -1;
    dragging = false;
    findSessions();
    fitValueAxis();
    rebuild();
    placeBand();
    placeMarker();
    showRangeText();
}

void DoseChart::setGapSeconds(int seconds)
{
    gap = std::max(seconds, 1);
    findSessions();
    rebuild();
}

// Where the lines break: at every step of `gap` or more, or where there would
// be too many lines, at the longest such steps only.
void DoseChart::findSessions()
{
    sessionStarts.clear();
    if (times.empty())
        return;
    std::vector<std::size_t> breaks;
    for (std::size_t k = 1; k < times.size(); ++k) {
        if (times[k] - times[k - 1] >= uint32_t(gap))
            breaks.push_back(k);
    }
    if (breaks.size() >= std::size_t(kMaxLines)) {
        auto longer = [this](std::size_t a, std::size_t b) {
            const uint32_t stepA = times[a] - times[a - 1], stepB = times[b] - times[b - 1];
            return stepA != stepB ? stepA > stepB : a < b;
        };
        std::nth_element(breaks.begin(), breaks.begin() + (kMaxLines - 1), breaks.end(), longer);
        breaks.resize(kMaxLines - 1);
        std::sort(breaks.begin(), breaks.end());
    }
    sessionStarts.push_back(0);
    sessionStarts.insert(sessionStarts.end(), breaks.begin(), breaks.end());
}

int DoseChart::plotPixels() const
{
    const int width = int(std::lround(chartItem->plotArea().width()));
    return width >= 20 ? width : kDefaultPixels;
}

// Each line gets at most the lowest and the highest point of each pixel's
// span of time, in time order: a peak survives however many points share it.
void DoseChart::rebuild()
{
    const int pixels = plotPixels();
    builtPixels = pixels;
    setTimeAxis(pixels);

    const double perBucket = (axisTo - axisFrom) / pixels;
    auto bucketOf = [&](uint32_t time) {
        return std::min(int((time - axisFrom) / perBucket), pixels - 1);
    };
    std::vector<QVector<QPointF>> drawn;
    QVector<QPointF> lone;
    for (std::size_t s = 0; s < sessionStarts.size(); ++s) {
        const std::size_t begin = sessionStarts[s];
        const std::size_t end = s + 1 < sessionStarts.size() ? sessionStarts[s + 1] : times.size();
        if (end - begin == 1) {
            lone.append(QPointF(times[begin], rates[begin]));
            continue;
        }
        QVector<QPointF> line;
        line.reserve(int(std::min<std::size_t>(end - begin, 2 * std::size_t(pixels) + 4)));
        for (std::size_t k = begin; k < end;) {
            const int bucket = bucketOf(times[k]);
            std::size_t low = k, high = k, next = k + 1;
            for (; next < end && bucketOf(times[next]) == bucket; ++next) {
                if (rates[next] < rates[low])
                    low = next;
                if (rates[next] > rates[high])
                    high = next;
            }
            // The session's first and last points too: the line spans its whole time.
            std::size_t kept[] = {k, std::min(low, high), std::max(low, high), next - 1};
            if (k != begin)
                kept[0] = kept[1];
            if (next != end)
                kept[3] = kept[2];
            for (std::size_t i = 0; i < 4; ++i) {
                if (i == 0 || kept[i] != kept[i - 1])
                    line.append(QPointF(times[kept[i]], rates[kept[i]]));
            }
            k = next;
        }
        drawn.push_back(std::move(line));
    }

    const bool added = lineSeries.size() < int(drawn.size());
    while (lineSeries.size() > int(drawn.size())) {
        QLineSeries* series = lineSeries.takeLast();
        chartItem->removeSeries(series);
        delete series;
    }
    while (lineSeries.size() < int(drawn.size())) {
        auto* series = new QLineSeries;
        QPen pen(lineColour, 1.5);
        pen.setCapStyle(Qt::RoundCap);
        pen.setJoinStyle(Qt::RoundJoin);
        series->setPen(pen);
        chartItem->addSeries(series);
        series->attachAxis(timeAxis);
        series->attachAxis(valueAxis);
        lineSeries.append(series);
    }
    for (std::size_t i = 0; i < drawn.size(); ++i)
        lineSeries[int(i)]->replace(drawn[i]);
    lonePoints->replace(lone);
    if (added) {
        // Series added later are drawn over earlier ones: the mark goes on top again.
        chartItem->removeSeries(marker);
        chartItem->addSeries(marker);
        marker->attachAxis(timeAxis);
        marker->attachAxis(valueAxis);
    }
}

// Labels on round UTC times, about one per kLabelPixels.
void DoseChart::setTimeAxis(int pixels)
{
    for (const QString& label : timeAxis->categoriesLabels())
        timeAxis->remove(label);
    timeAxis->setStartValue(axisFrom);
    timeAxis->setRange(axisFrom, axisTo);
    if (times.empty()) {
        timeAxis->setTitleText(QString());
        return;
    }
    const double span = axisTo - axisFrom;
    const double labels = std::max(pixels / kLabelPixels, 1.0);
    int step = kTimeSteps[std::size(kTimeSteps) - 1];
    for (int candidate : kTimeSteps) {
        if (span / candidate <= labels) {
            step = candidate;
            break;
        }
    }
    const bool oneDay = utc(axisFrom).date() == utc(axisTo).date();
    const QString format = step >= 86400 ? QStringLiteral("yyyy-MM-dd")
                           : step < 60   ? QStringLiteral("HH:mm:ss")
                           : oneDay      ? QStringLiteral("HH:mm")
                                         : QStringLiteral("MM-dd HH:mm");
    // Epoch seconds are UTC: multiples of a step are round in UTC.
    for (double tick = std::floor(axisFrom / step + 1) * step; tick < axisTo; tick += step)
        timeAxis->append(utc(tick).toString(format), tick);
    timeAxis->setTitleText(oneDay ? QStringLiteral("UTC, ") +
                                        utc(axisFrom).toString(QStringLiteral("yyyy-MM-dd"))
                                  : QStringLiteral("UTC"));
}

void DoseChart::makeValueAxis()
{
    QAbstractAxis* next = nullptr;
    if (logAxis) {
        auto* axis = new QLogValueAxis;
        axis->setBase(10);
        axis->setMinorTickCount(8); // a grid line at each of 2..9 times a power of 10
        axis->setLabelFormat(QStringLiteral("%g"));
        next = axis;
    } else {
        auto* axis = new QValueAxis;
        axis->setLabelFormat(QStringLiteral("%g"));
        next = axis;
    }
    next->setLabelsFont(timeAxis->labelsFont());
    next->setTitleFont(timeAxis->titleFont());
    next->setTitleText(DoseScale::unit());
    if (valueAxis) {
        chartItem->removeAxis(valueAxis); // detaches the series
        delete valueAxis;
    }
    valueAxis = next;
    chartItem->addAxis(valueAxis, Qt::AlignLeft);
    for (QLineSeries* series : lineSeries)
        series->attachAxis(valueAxis);
    lonePoints->attachAxis(valueAxis);
    marker->attachAxis(valueAxis);
    fitValueAxis();
}

void DoseChart::fitValueAxis()
{
    if (auto* axis = qobject_cast<QLogValueAxis*>(valueAxis)) {
        // Labels stand at powers of ten: one at or below the lowest rate, and
        // the top no further than twice the highest. Every drawn rate is above 0.
        double low = 1, high = 1000;
        if (!times.empty()) {
            low = std::pow(10.0, std::floor(std::log10(double(lowest))));
            high = std::min(std::pow(10.0, std::ceil(std::log10(double(highest) * 1.05))),
                            double(highest) * 2);
            high = std::max(high, low * 2);
        }
        axis->setRange(low, high);
    } else if (auto* axis = qobject_cast<QValueAxis*>(valueAxis)) {
        double low = 0, high = 1;
        if (!times.empty()) {
            const double margin = std::max(double(highest - lowest) * 0.05, highest * 0.05);
            low = std::max(double(lowest) - margin, 0.0);
            high = double(highest) + margin;
        }
        axis->setTickCount(5);
        axis->setRange(low, high);
        axis->applyNiceNumbers();
    }
}

void DoseChart::setLogarithmic(bool on)
{
    if (logBox->isChecked() != on) {
        const QSignalBlocker quiet(logBox);
        logBox->setChecked(on);
    }
    if (on == logAxis)
        return;
    logAxis = on;
    makeValueAxis();
}

void DoseChart::setRange(std::optional<TimeRange> range)
{
    if (range && range->first > range->second)
        range = TimeRange(range->second, range->first);
    chosen = range;
    dragging = false;
    placeBand();
    showRangeText();
}

void DoseChart::clearRangeByUser()
{
    setRange(std::nullopt);
    emit rangeCleared();
}

void DoseChart::markPoint(int index)
{
    marked = index;
    placeMarker();
}

void DoseChart::placeMarker()
{
    const int at = marked >= 0 && std::size_t(marked) < placeOf.size() ? placeOf[marked] : -1;
    if (at < 0)
        marker->clear();
    else
        marker->replace(QVector<QPointF>{QPointF(times[at], rates[at])});
}

void DoseChart::showRangeText()
{
    showAllButton->setEnabled(chosen.has_value());
    if (!chosen) {
        rangeLabel->clear();
        return;
    }
    const QDateTime from = utc(chosen->first), to = utc(chosen->second);
    const QString clock = QStringLiteral("HH:mm:ss");
    const QString dated = QStringLiteral("yyyy-MM-dd HH:mm:ss");
    rangeLabel->setText(from.toString(dated) + QStringLiteral(" \u2013 ") +
                        to.toString(from.date() == to.date() ? clock : dated) +
                        QStringLiteral(" UTC"));
}

void DoseChart::placeBand()
{
    double from = 0, to = 0;
    if (dragging) {
        from = dragFrom;
        to = dragTo;
    } else if (chosen && !times.empty()) {
        from = chartXOf(chosen->first);
        to = chartXOf(chosen->second);
    } else {
        band->hide();
        return;
    }
    const QRectF plot = chartItem->plotArea();
    QRectF rect(QPointF(std::min(from, to), plot.top()),
                QPointF(std::max(from, to), plot.bottom()));
    rect = rect & plot;
    if (rect.width() < 2) // a single moment still shows
        rect = QRectF(rect.center().x() - 1, plot.top(), 2, plot.height());
    band->setRect(rect);
    band->show();
}

double DoseChart::chartXOf(double time) const
{
    const QRectF plot = chartItem->plotArea();
    return plot.left() + (time - axisFrom) / (axisTo - axisFrom) * plot.width();
}

double DoseChart::timeAtChartX(double x) const
{
    const QRectF plot = chartItem->plotArea();
    if (plot.width() <= 0)
        return axisFrom;
    const double time = axisFrom + (x - plot.left()) / plot.width() * (axisTo - axisFrom);
    return std::clamp(time, axisFrom, axisTo);
}

QPoint DoseChart::positionOfTime(uint32_t time) const
{
    const QPointF inChart(chartXOf(time), chartItem->plotArea().center().y());
    const QPointF inView = view->viewportTransform().map(chartItem->mapToScene(inChart));
    return view->viewport()->mapTo(this, inView.toPoint());
}

uint32_t DoseChart::timeAt(int x) const
{
    const QPoint inView = view->viewport()->mapFrom(this, QPoint(x, 0));
    const QPointF inChart =
        chartItem->mapFromScene(view->viewportTransform().inverted().map(QPointF(inView)));
    return uint32_t(
        std::clamp(std::llround(timeAtChartX(inChart.x())), 0LL, (long long)UINT32_MAX));
}

QRectF DoseChart::shadedArea() const
{
    if (!band->isVisible())
        return QRectF();
    const QRectF inView =
        view->viewportTransform().mapRect(chartItem->mapRectToScene(band->rect()));
    return inView.translated(view->viewport()->mapTo(this, QPoint(0, 0)));
}

QWidget* DoseChart::plotWidget() const
{
    return view->viewport();
}

QList<QLineSeries*> DoseChart::lines() const
{
    return lineSeries;
}

void DoseChart::hover(QPointF inChart)
{
    int found = -1;
    const QRectF plot = chartItem->plotArea();
    if (!times.empty() && inChart.y() >= plot.top() && inChart.y() <= plot.bottom() &&
        inChart.x() >= plot.left() - kHoverPixels && inChart.x() <= plot.right() + kHoverPixels) {
        const double time = timeAtChartX(inChart.x());
        auto at = std::lower_bound(times.begin(), times.end(), time,
                                   [](uint32_t t, double value) { return t < value; });
        std::size_t k = std::size_t(at - times.begin());
        if (k == times.size() || (k > 0 && time - times[k - 1] <= times[k] - time))
            k = k - 1;
        while (k > 0 && times[k - 1] == times[k]) // the first of those at one time
            --k;
        if (std::abs(chartXOf(times[k]) - inChart.x()) <= kHoverPixels)
            found = int(sources[k]);
    }
    if (found == hovered)
        return;
    hovered = found;
    emit pointHovered(found);
}

bool DoseChart::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != view->viewport())
        return QWidget::eventFilter(watched, event);
    auto inChart = [this](QPoint viewPos) {
        return chartItem->mapFromScene(view->mapToScene(viewPos));
    };
    const QRectF plot = chartItem->plotArea();
    auto ontoPlot = [&plot](double x) { return std::clamp(x, plot.left(), plot.right()); };
    switch (event->type()) {
    case QEvent::MouseButtonPress: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        const QPointF at = inChart(mouse->pos());
        if (!plot.contains(at))
            return false;
        if (mouse->button() == Qt::RightButton) {
            dragging = false;
            clearRangeByUser();
        } else if (mouse->button() == Qt::LeftButton && !times.empty()) {
            dragging = true;
            dragFrom = dragTo = at.x();
            placeBand();
        }
        return true;
    }
    case QEvent::MouseMove: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        const QPointF at = inChart(mouse->pos());
        if (dragging) {
            dragTo = ontoPlot(at.x());
            placeBand();
        }
        hover(at);
        return dragging;
    }
    case QEvent::MouseButtonRelease: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (!dragging || mouse->button() != Qt::LeftButton)
            return false;
        dragging = false;
        dragTo = ontoPlot(inChart(mouse->pos()).x());
        if (std::abs(dragTo - dragFrom) <= kClickPixels) {
            placeBand(); // a click: the range stays as it was
            return true;
        }
        const auto from = uint32_t(std::llround(timeAtChartX(std::min(dragFrom, dragTo))));
        const auto to = uint32_t(std::llround(timeAtChartX(std::max(dragFrom, dragTo))));
        setRange(TimeRange(from, to));
        emit rangeChosen(from, to);
        return true;
    }
    case QEvent::MouseButtonDblClick: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (!plot.contains(inChart(mouse->pos())))
            return false;
        dragging = false;
        clearRangeByUser();
        return true;
    }
    case QEvent::Leave:
        if (hovered != -1) {
            hovered = -1;
            emit pointHovered(-1);
        }
        return false;
    default:
        return false;
    }
}
