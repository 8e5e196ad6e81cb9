// The dose-rate chart: the range a surveyor drags out, sessions as separate
// lines, peaks kept through decimation, only good points drawn, the point
// under the mouse and the log axis.
#include "dose_chart.h"
#include "survey_checks.h"

#include <QCategoryAxis>
#include <QChart>
#include <QCheckBox>
#include <QLabel>
#include <QLineSeries>
#include <QLogValueAxis>
#include <QPushButton>
#include <QScatterSeries>
#include <QSignalSpy>
#include <QValueAxis>
#include <QtTest>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <memory>

using namespace QtCharts;

namespace {

constexpr uint32_t kStart = 1714561200; // 2024-05-01 11:00:00 UTC
constexpr float unknown = std::numeric_limits<float>::quiet_NaN();

SurveyPoint pointAt(uint32_t time, float nanoSievertPerHour)
{
    SurveyPoint point;
    point.latitude = 57.4;
    point.longitude = 24.6;
    point.time = time;
    point.doseRate = nanoSievertPerHour / 1000.0f;
    return point;
}

// One point a second from `from` to `to` seconds after kStart, both included.
void appendSession(std::vector<SurveyPoint>& points, uint32_t from, uint32_t to, float rate = 100)
{
    for (uint32_t t = from; t <= to; ++t)
        points.push_back(pointAt(kStart + t, rate + float(t % 7)));
}

std::unique_ptr<DoseChart> shownChart(const std::vector<SurveyPoint>& points,
                                      const std::vector<uint16_t>& flags = {})
{
    auto chart = std::make_unique<DoseChart>();
    chart->resize(900, 220);
    chart->setSurvey(points, flags);
    chart->show();
    if (!QTest::qWaitForWindowExposed(chart.get()))
        return nullptr;
    // The lines are decimated again for the laid-out width.
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents();
    return chart;
}

QPoint onPlot(DoseChart& chart, QPoint inChart)
{
    return chart.plotWidget()->mapFrom(&chart, inChart);
}

void press(DoseChart& chart, QPoint at, Qt::MouseButton button = Qt::LeftButton)
{
    QTest::mousePress(chart.plotWidget(), button, Qt::NoModifier, onPlot(chart, at));
}

void release(DoseChart& chart, QPoint at, Qt::MouseButton button = Qt::LeftButton)
{
    QTest::mouseRelease(chart.plotWidget(), button, Qt::NoModifier, onPlot(chart, at));
}

// QTest's moves carry no buttons; a drag needs the held one.
void move(DoseChart& chart, QPoint at, Qt::MouseButtons buttons = Qt::NoButton)
{
    const QPoint local = onPlot(chart, at);
    QMouseEvent event(QEvent::MouseMove, local, chart.plotWidget()->mapToGlobal(local),
                      Qt::NoButton, buttons, Qt::NoModifier);
    QApplication::sendEvent(chart.plotWidget(), &event);
}

// Seconds per pixel of the time axis: the width of a bucket.
double secondsPerPixel(DoseChart& chart, uint32_t from, uint32_t to)
{
    return double(to - from) /
           double(chart.positionOfTime(to).x() - chart.positionOfTime(from).x());
}

QScatterSeries* scatterOf(DoseChart& chart, const QString& name)
{
    for (QAbstractSeries* series : chart.chart()->series())
        if (series->objectName() == name)
            return qobject_cast<QScatterSeries*>(series);
    return nullptr;
}

QVector<QPointF> drawnPoints(DoseChart& chart)
{
    QVector<QPointF> all;
    for (QLineSeries* line : chart.lines())
        all += line->pointsVector();
    if (QScatterSeries* lone = scatterOf(chart, QStringLiteral("lonePoints")))
        all += lone->pointsVector();
    return all;
}

QScatterSeries* markerOf(DoseChart& chart)
{
    return scatterOf(chart, QStringLiteral("marker"));
}

QLabel* rangeLabelOf(DoseChart& chart)
{
    return chart.findChild<QLabel*>(QStringLiteral("range"));
}

} // namespace

class TestDoseChart : public QObject
{
    Q_OBJECT

private slots:
    void dragChoosesRange();
    void clearingTheRange();
    void gapsBreakTheLine();
    void decimationKeepsPeaks();
    void onlyGoodPointsAreDrawn();
    void hoverAndMark();
    void logScaleSwitchesAxis();
    void timeReadsInUtc();
    void emptyAndReplacedSurvey();
};

void TestDoseChart::dragChoosesRange()
{
    std::vector<SurveyPoint> points;
    appendSession(points, 0, 3600);
    auto chart = shownChart(points);
    QVERIFY(chart);
    QSignalSpy chosen(chart.get(), &DoseChart::rangeChosen);
    const double tolerance = 2 * secondsPerPixel(*chart, kStart, kStart + 3600);
    QVERIFY(tolerance > 0 && tolerance < 30);

    const QPoint from = chart->positionOfTime(kStart + 600);
    const QPoint to = chart->positionOfTime(kStart + 2400);
    press(*chart, from);
    move(*chart, chart->positionOfTime(kStart + 1200), Qt::LeftButton);
    // The band follows the drag before anything is chosen.
    QCOMPARE(chosen.count(), 0);
    QVERIFY(std::abs(chart->shadedArea().left() - from.x()) <= 2);
    QVERIFY(std::abs(chart->shadedArea().right() - chart->positionOfTime(kStart + 1200).x()) <= 2);
    move(*chart, to, Qt::LeftButton);
    release(*chart, to);

    QCOMPARE(chosen.count(), 1);
    const auto first = chosen.at(0).at(0).value<uint32_t>();
    const auto last = chosen.at(0).at(1).value<uint32_t>();
    QVERIFY2(std::abs(double(first) - (kStart + 600)) <= tolerance,
             qPrintable(QString::number(first - kStart)));
    QVERIFY2(std::abs(double(last) - (kStart + 2400)) <= tolerance,
             qPrintable(QString::number(last - kStart)));
    QVERIFY(chart->range());
    QCOMPARE(chart->range()->first, first);
    QCOMPARE(chart->range()->second, last);
    QVERIFY(!rangeLabelOf(*chart)->text().isEmpty());
    QVERIFY(chart->findChild<QPushButton*>(QStringLiteral("showAll"))->isEnabled());

    // The chosen range stays shaded: the band lies over it and shows in the picture.
    const QRectF shaded = chart->shadedArea();
    QVERIFY(std::abs(shaded.left() - from.x()) <= 2);
    QVERIFY(std::abs(shaded.right() - to.x()) <= 2);
    const QImage image = chart->grab().toImage();
    const int y = int(shaded.top()) + 4;
    const QColor inside = image.pixelColor(chart->positionOfTime(kStart + 1500).x(), y);
    const QColor outside = image.pixelColor(chart->positionOfTime(kStart + 3300).x(), y);
    QVERIFY2(inside != outside && inside.blue() > inside.red(),
             qPrintable(inside.name() + QLatin1Char(' ') + outside.name()));

    // Dragged right to left: still in time order.
    press(*chart, chart->positionOfTime(kStart + 3000));
    move(*chart, chart->positionOfTime(kStart + 2000), Qt::LeftButton);
    release(*chart, chart->positionOfTime(kStart + 1500));
    QCOMPARE(chosen.count(), 2);
    QVERIFY(std::abs(double(chosen.at(1).at(0).value<uint32_t>()) - (kStart + 1500)) <= tolerance);
    QVERIFY(std::abs(double(chosen.at(1).at(1).value<uint32_t>()) - (kStart + 3000)) <= tolerance);
    const auto kept = chart->range();

    // A click, and a drag of a few pixels, choose nothing and leave the range.
    const QPoint at = chart->positionOfTime(kStart + 500);
    press(*chart, at);
    release(*chart, at);
    press(*chart, at);
    move(*chart, at + QPoint(3, 0), Qt::LeftButton);
    release(*chart, at + QPoint(3, 0));
    QCOMPARE(chosen.count(), 2);
    QVERIFY(chart->range() == kept);
    QVERIFY(std::abs(chart->shadedArea().left() - chart->positionOfTime(kept->first).x()) <= 2);

    // Setting a range from outside shades it without a signal.
    chart->setRange(DoseChart::TimeRange(kStart + 100, kStart + 200));
    QCOMPARE(chosen.count(), 2);
    QVERIFY(std::abs(chart->shadedArea().left() - chart->positionOfTime(kStart + 100).x()) <= 2);
}

void TestDoseChart::clearingTheRange()
{
    std::vector<SurveyPoint> points;
    appendSession(points, 0, 3600);
    auto chart = shownChart(points);
    QVERIFY(chart);
    QSignalSpy cleared(chart.get(), &DoseChart::rangeCleared);
    const DoseChart::TimeRange range(kStart + 600, kStart + 1200);
    const QPoint middle = chart->positionOfTime(kStart + 1800);

    chart->setRange(range);
    QVERIFY(!chart->shadedArea().isEmpty());
    press(*chart, middle, Qt::RightButton);
    release(*chart, middle, Qt::RightButton);
    QCOMPARE(cleared.count(), 1);
    QVERIFY(!chart->range());
    QVERIFY(chart->shadedArea().isEmpty());
    QVERIFY(rangeLabelOf(*chart)->text().isEmpty());

    chart->setRange(range);
    QTest::mouseDClick(chart->plotWidget(), Qt::LeftButton, Qt::NoModifier, onPlot(*chart, middle));
    QCOMPARE(cleared.count(), 2);
    QVERIFY(!chart->range());

    chart->setRange(range);
    auto* showAll = chart->findChild<QPushButton*>(QStringLiteral("showAll"));
    QVERIFY(showAll && showAll->isEnabled());
    QTest::mouseClick(showAll, Qt::LeftButton);
    QCOMPARE(cleared.count(), 3);
    QVERIFY(!chart->range());
    QVERIFY(chart->shadedArea().isEmpty());
    QVERIFY(!showAll->isEnabled());
}

void TestDoseChart::gapsBreakTheLine()
{
    std::vector<SurveyPoint> points;
    appendSession(points, 0, 599);
    appendSession(points, 999, 1299);           // after 400 s off: a session of its own
    appendSession(points, 1499, 1799);          // 200 s: the same session
    appendSession(points, 2099, 2399);          // exactly 300 s: a new one
    std::reverse(points.begin(), points.end()); // as a download holds them, newest first
    auto chart = shownChart(points);
    QVERIFY(chart);

    QList<QLineSeries*> lines = chart->lines();
    QCOMPARE(lines.size(), 3);
    QCOMPARE(lines[0]->at(0).x(), double(kStart));
    QCOMPARE(lines[0]->at(lines[0]->count() - 1).x(), double(kStart + 599));
    QCOMPARE(lines[1]->at(0).x(), double(kStart + 999));
    QCOMPARE(lines[1]->at(lines[1]->count() - 1).x(), double(kStart + 1799));
    QCOMPARE(lines[2]->at(0).x(), double(kStart + 2099));
    QCOMPARE(lines[2]->at(lines[2]->count() - 1).x(), double(kStart + 2399));

    chart->setGapSeconds(150);
    QCOMPARE(chart->lines().size(), 4);
    chart->setGapSeconds(1000);
    QCOMPARE(chart->lines().size(), 1);

    // Hundreds of sessions: the longest gaps still break, the number of lines stays bounded.
    points.clear();
    for (uint32_t s = 0; s < 400; ++s)
        appendSession(points, s * 700, s * 700 + (s % 50 == 7 ? 0 : 30));
    points.push_back(pointAt(kStart + 400 * 700 + 5000, 120)); // alone after a long gap
    chart->setGapSeconds(300);
    chart->setSurvey(points, {});
    QVERIFY2(chart->lines().size() > 1 && chart->lines().size() < 100,
             qPrintable(QString::number(chart->lines().size())));
    const QVector<QPointF> drawn = drawnPoints(*chart);
    QVERIFY(drawn.contains(QPointF(kStart + 400 * 700 + 5000, 120)));
    QVERIFY(drawn.contains(QPointF(kStart, 100)));
}

void TestDoseChart::decimationKeepsPeaks()
{
    std::vector<SurveyPoint> points;
    points.reserve(100000);
    for (uint32_t i = 0; i < 100000; ++i)
        points.push_back(pointAt(kStart + i, 100 + float(i % 10)));
    points[54321].doseRate = 50.0f; // 50 000 nSv/h for one second
    points[77777].doseRate = 0.001f;
    auto chart = shownChart(points);
    QVERIFY(chart);

    QCOMPARE(chart->lines().size(), 1);
    const QVector<QPointF> drawn = chart->lines()[0]->pointsVector();
    QVERIFY2(drawn.size() <= 2 * 900, qPrintable(QString::number(drawn.size())));
    QVERIFY(drawn.contains(QPointF(kStart + 54321, 50000)));
    QVERIFY(drawn.contains(QPointF(kStart + 77777, 1)));
    QVERIFY(drawn.contains(QPointF(kStart, 100)));
    QVERIFY(std::is_sorted(drawn.begin(), drawn.end(),
                           [](QPointF a, QPointF b) { return a.x() < b.x(); }));
    // Every bucket keeps its extremes: 100 and 109 between the peaks too.
    const auto lows =
        std::count_if(drawn.begin(), drawn.end(), [](QPointF p) { return p.y() == 100; });
    const auto highs =
        std::count_if(drawn.begin(), drawn.end(), [](QPointF p) { return p.y() == 109; });
    QVERIFY(lows > 300 && highs > 300);

    // A narrower plot gets fewer buckets, the peaks still in them.
    chart->resize(400, 220);
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents();
    const QVector<QPointF> narrow = chart->lines()[0]->pointsVector();
    QVERIFY2(narrow.size() <= 2 * 400, qPrintable(QString::number(narrow.size())));
    QVERIFY(narrow.contains(QPointF(kStart + 54321, 50000)));
    QVERIFY(narrow.contains(QPointF(kStart + 77777, 1)));
}

void TestDoseChart::onlyGoodPointsAreDrawn()
{
    std::vector<SurveyPoint> points;
    std::vector<uint16_t> flags;
    for (uint32_t t = 0; t <= 600; t += 10) {
        points.push_back(pointAt(kStart + t, 100));
        flags.push_back(0);
    }
    const std::size_t flagged = points.size();
    points.push_back(pointAt(kStart + 308, 9000));
    flags.push_back(kFlagSpeed);
    points.push_back(pointAt(kStart + 318, unknown));
    flags.push_back(0);
    points.push_back(pointAt(kStart + 328, 0));
    flags.push_back(0);
    points.push_back(pointAt(kStart + 338, -5));
    flags.push_back(0);
    auto chart = shownChart(points, flags);
    QVERIFY(chart);

    const QVector<QPointF> drawn = drawnPoints(*chart);
    QCOMPARE(drawn.size(), 61);
    for (const QPointF& p : drawn) {
        QCOMPARE(p.y(), 100.0);
        QCOMPARE(std::fmod(p.x() - kStart, 10.0), 0.0);
    }
    QVERIFY(static_cast<QValueAxis*>(chart->chart()->axes(Qt::Vertical).at(0))->max() < 1000);

    // The flagged point is neither hovered nor marked; its good neighbour is.
    QSignalSpy hovered(chart.get(), &DoseChart::pointHovered);
    move(*chart, chart->positionOfTime(kStart + 308));
    QCOMPARE(hovered.count(), 1);
    QCOMPARE(hovered.at(0).at(0).toInt(), 31); // 310 s
    chart->markPoint(int(flagged));
    QCOMPARE(markerOf(*chart)->count(), 0);

    chart->setLogarithmic(true);
    auto* axis = qobject_cast<QLogValueAxis*>(chart->chart()->axes(Qt::Vertical).at(0));
    QVERIFY(axis);
    QVERIFY(axis->min() > 0 && axis->min() <= 100 && axis->max() >= 100 && axis->max() < 9000);
}

void TestDoseChart::hoverAndMark()
{
    // A point a minute, none from 20 to 30 minutes, newest first: survey index k is minute 60 - k.
    std::vector<SurveyPoint> points;
    for (int minute = 60; minute >= 0; --minute)
        points.push_back(pointAt(kStart + uint32_t(minute) * 60, 100 + float(minute)));
    std::vector<uint16_t> flags(points.size(), 0);
    for (int minute = 21; minute < 30; ++minute)
        flags[std::size_t(60 - minute)] = kFlagHdop;
    auto chart = shownChart(points, flags);
    QVERIFY(chart);
    QSignalSpy hovered(chart.get(), &DoseChart::pointHovered);

    move(*chart, chart->positionOfTime(kStart + 15 * 60) + QPoint(2, 0));
    QCOMPARE(hovered.count(), 1);
    QCOMPARE(hovered.last().at(0).toInt(), 45);
    move(*chart, chart->positionOfTime(kStart + 15 * 60) + QPoint(-2, 0));
    QCOMPARE(hovered.count(), 1); // the same point: told once
    move(*chart, chart->positionOfTime(kStart + 40 * 60 + 15));
    QCOMPARE(hovered.last().at(0).toInt(), 20);
    move(*chart, chart->positionOfTime(kStart + 40 * 60 + 45));
    QCOMPARE(hovered.last().at(0).toInt(), 19);

    // Nothing drawn within a few pixels.
    move(*chart, chart->positionOfTime(kStart + 25 * 60));
    QCOMPARE(hovered.last().at(0).toInt(), -1);
    move(*chart, chart->positionOfTime(kStart + 60 * 60));
    QCOMPARE(hovered.last().at(0).toInt(), 0);
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(chart->plotWidget(), &leave);
    QCOMPARE(hovered.last().at(0).toInt(), -1);
    const int told = hovered.count();

    chart->markPoint(45);
    QCOMPARE(chart->markedPoint(), 45);
    QScatterSeries* marker = markerOf(*chart);
    QVERIFY(marker);
    QCOMPARE(marker->count(), 1);
    QCOMPARE(marker->at(0), QPointF(kStart + 15 * 60, 115));
    chart->markPoint(-1);
    QCOMPARE(marker->count(), 0);
    QCOMPARE(hovered.count(), told);
}

void TestDoseChart::logScaleSwitchesAxis()
{
    std::vector<SurveyPoint> points;
    appendSession(points, 0, 600, 80);
    appendSession(points, 1000, 1600, 12000);
    auto chart = shownChart(points);
    QVERIFY(chart);
    chart->markPoint(5);
    const QList<QLineSeries*> lines = chart->lines();
    QCOMPARE(lines.size(), 2);
    const QVector<QPointF> before = drawnPoints(*chart);
    auto* box = chart->findChild<QCheckBox*>(QStringLiteral("logScale"));
    QVERIFY(box && !box->isChecked() && !chart->logarithmic());
    QVERIFY(qobject_cast<QValueAxis*>(chart->chart()->axes(Qt::Vertical).at(0)));

    chart->setLogarithmic(true);
    QVERIFY(box->isChecked());
    QCOMPARE(chart->chart()->axes(Qt::Vertical).size(), 1);
    auto* log = qobject_cast<QLogValueAxis*>(chart->chart()->axes(Qt::Vertical).at(0));
    QVERIFY(log);
    QVERIFY(log->min() > 0 && log->min() <= 80 && log->max() >= 12006);
    QCOMPARE(chart->lines(), lines);
    QVERIFY(drawnPoints(*chart) == before);
    for (QAbstractSeries* series : chart->chart()->series())
        QVERIFY(series->attachedAxes().contains(log));
    QCOMPARE(markerOf(*chart)->count(), 1);

    box->click();
    QVERIFY(!chart->logarithmic());
    QCOMPARE(chart->chart()->axes(Qt::Vertical).size(), 1);
    auto* linear = qobject_cast<QValueAxis*>(chart->chart()->axes(Qt::Vertical).at(0));
    QVERIFY(linear);
    QVERIFY(linear->min() <= 80 && linear->max() >= 12006);
    for (QAbstractSeries* series : chart->chart()->series())
        QVERIFY(series->attachedAxes().contains(linear));
    QVERIFY(drawnPoints(*chart) == before);
}

void TestDoseChart::timeReadsInUtc()
{
    // Far from UTC, so that local time would show.
    const QByteArray zone = qgetenv("TZ");
    qputenv("TZ", "Asia/Tokyo");
    tzset();
    std::vector<SurveyPoint> points;
    appendSession(points, 0, 3600);
    auto chart = shownChart(points);
    QVERIFY(chart);

    auto* axis = qobject_cast<QCategoryAxis*>(chart->chart()->axes(Qt::Horizontal).at(0));
    QVERIFY(axis);
    const QStringList labels = axis->categoriesLabels();
    QVERIFY2(labels.contains(QStringLiteral("11:30")), qPrintable(labels.join(QLatin1Char(','))));
    for (const QString& label : labels) {
        const double at = axis->endValue(label);
        QCOMPARE(
            label,
            QDateTime::fromSecsSinceEpoch(qint64(at), Qt::UTC).toString(QStringLiteral("HH:mm")));
    }
    QVERIFY(axis->titleText().contains(QStringLiteral("2024-05-01")));
    chart->setRange(DoseChart::TimeRange(kStart + 600, kStart + 2415));
    QCOMPARE(rangeLabelOf(*chart)->text(),
             QStringLiteral("2024-05-01 11:10:00 \u2013 11:40:15 UTC"));

    if (zone.isNull())
        qunsetenv("TZ");
    else
        qputenv("TZ", zone);
    tzset();
}

void TestDoseChart::emptyAndReplacedSurvey()
{
    auto chart = shownChart({});
    QVERIFY(chart);
    QSignalSpy chosen(chart.get(), &DoseChart::rangeChosen);
    QSignalSpy hovered(chart.get(), &DoseChart::pointHovered);
    QVERIFY(chart->lines().isEmpty());
    QVERIFY(drawnPoints(*chart).isEmpty());
    const QPoint middle(450, chart->positionOfTime(0).y());
    press(*chart, middle);
    move(*chart, middle + QPoint(100, 0), Qt::LeftButton);
    release(*chart, middle + QPoint(100, 0));
    QCOMPARE(chosen.count(), 0);
    QCOMPARE(hovered.count(), 0);
    chart->setLogarithmic(true);
    chart->setLogarithmic(false);

    std::vector<SurveyPoint> points;
    appendSession(points, 0, 600);
    chart->setSurvey(points, {});
    QCOMPARE(chart->lines().size(), 1);
    chart->setRange(DoseChart::TimeRange(kStart + 10, kStart + 20));
    chart->markPoint(3);
    QCOMPARE(markerOf(*chart)->count(), 1);

    // Another survey replaces everything, the range and the mark included.
    points.clear();
    appendSession(points, 5000, 5100);
    points.push_back(pointAt(kStart + 9000, 150));
    chart->setSurvey(points, {});
    QCOMPARE(chart->lines().size(), 1);
    QCOMPARE(chart->lines()[0]->at(0).x(), double(kStart + 5000));
    QVERIFY(drawnPoints(*chart).contains(QPointF(kStart + 9000, 150)));
    QVERIFY(!chart->range());
    QVERIFY(chart->shadedArea().isEmpty());
    QCOMPARE(chart->markedPoint(), -1);
    QCOMPARE(markerOf(*chart)->count(), 0);

    chart->setSurvey({}, {});
    QVERIFY(chart->lines().isEmpty());
    QVERIFY(drawnPoints(*chart).isEmpty());
}

QTEST_MAIN(TestDoseChart)
#include "test_dose_chart.moc"
