#include "spectrum_window.h"

#include "calibration_dialog.h"
#include "n42_file.h"

#include <QChart>
#include <QChartView>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGraphicsRectItem>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineSeries>
#include <QLogValueAxis>
#include <QMouseEvent>
#include <QPushButton>
#include <QStandardItemModel>
#include <QStandardPaths>
#include <QTimer>
#include <QVBoxLayout>
#include <QValueAxis>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>

using namespace QtCharts;

namespace {

// Channels with no counts (and net counts at or below zero) are drawn here on
// a log axis, whose bottom it is: a logarithm has no place for them.
constexpr double kLogFloor = 0.5;
constexpr double kClickPixels = 3; // a drag no longer than this is a click
const QColor kSpectrumColour(25, 90, 160);
const QColor kBackgroundColour(220, 120, 30);
const QColor kBandColour(40, 120, 220, 50);
const QString kDot = QStringLiteral(" \u00b7 ");

// The smallest of `steps` times a power of ten at or above v (v > 0); the
// steps run from 1 up to 10.
double roundUp(double v, std::initializer_list<double> steps)
{
    const double power = std::pow(10.0, std::floor(std::log10(v)));
    for (double m : steps)
        if (m * power >= v * (1 - 1e-12))
            return m * power;
    return 10 * power;
}

// A distance between grid lines.
double niceStep(double v)
{
    return roundUp(v, {1, 2, 2.5, 5, 10});
}

// The top of a count axis: close over the highest count, and changed seldom
// as the counts grow, which spares relaying out the axis.
double niceTop(double v)
{
    return roundUp(v, {1, 1.2, 1.5, 2, 2.5, 3, 4, 5, 6, 8, 10});
}

QString number(double v, int decimals)
{
    return QString::number(v, 'f', decimals);
}

QString coefficientsText(const std::vector<double>& c)
{
    QStringList terms;
    const char* powers[] = {"", " \u00b7 ch", " \u00b7 ch\u00b2"};
    for (std::size_t k = 0; k < c.size(); ++k) {
        const QString power =
            k < 3 ? QString::fromUtf8(powers[k]) : QStringLiteral(" \u00b7 ch^%1").arg(k);
        terms << QString::number(c[k], 'g', 6) + power;
    }
    return QStringLiteral("keV = ") + terms.join(QStringLiteral(" + "));
}

// The sum of a file's spectra of the first one's channel count; nullopt with
// the reason when the file cannot be read or its first spectrum cannot be shown.
struct FileSum
{
    SpectrumSource source;
    SpectrumData spectrum;
    uint64_t total = 0;
    std::size_t used = 0, skipped = 0;
};

std::optional<FileSum> sumOfFile(const QString& path, QString* why)
{
    const std::optional<N42Contents> contents = readN42(path, why);
    if (!contents)
        return std::nullopt;
    const std::vector<SpectrumData>& spectra = contents->spectra;
    if (spectra.empty()) {
        *why = QObject::tr("There is no spectrum in the file.");
        return std::nullopt;
    }
    const std::size_t channels = spectra.front().counts.size();
    if (channels < 1 || channels > SpectrumWindow::kMaxChannels) {
        *why = QObject::tr("The file's spectrum has %1 channels; the window shows 1 to %2.")
                   .arg(channels)
                   .arg(SpectrumWindow::kMaxChannels);
        return std::nullopt;
    }
    SpectrumAccumulator sum(SpectrumAccumulator::Mode::Accumulate);
    FileSum out;
    out.source = contents->source;
    for (const SpectrumData& s : spectra) {
        if (s.counts.size() != channels) {
            ++out.skipped;
            continue;
        }
        sum.add(s);
        ++out.used;
    }
    out.spectrum = sum.spectrum();
    out.total = sum.totalCounts();
    return out;
}

} // namespace

// The chart, with a region dragged out on it with the left button; the right
// button clears it. Positions go out as values of the chart's x axis.
class SpectrumChartView : public QChartView
{
public:
    enum class Drag { Moving, Finished, Cancelled, Cleared };
    std::function<void(Drag, double fromX, double toX)> onDrag;

    using QChartView::QChartView;

protected:
    void mousePressEvent(QMouseEvent* event) override
    {
        const QPointF at = inChart(event->pos());
        if (chart()->plotArea().contains(at) && event->button() == Qt::RightButton) {
            m_dragging = false;
            report(Drag::Cleared, 0, 0);
            event->accept();
            return;
        }
        if (chart()->plotArea().contains(at) && event->button() == Qt::LeftButton) {
            m_dragging = true;
            m_pressed = event->pos();
            m_from = valueAt(at.x());
            report(Drag::Moving, m_from, m_from);
            event->accept();
            return;
        }
        QChartView::mousePressEvent(event);
    }
    void mouseMoveEvent(QMouseEvent* event) override
    {
        if (!m_dragging)
            return QChartView::mouseMoveEvent(event);
        report(Drag::Moving, m_from, valueAt(inChart(event->pos()).x()));
        event->accept();
    }
    void mouseReleaseEvent(QMouseEvent* event) override
    {
        if (!m_dragging || event->button() != Qt::LeftButton)
            return QChartView::mouseReleaseEvent(event);
        m_dragging = false;
        if (std::abs(event->pos().x() - m_pressed.x()) <= kClickPixels)
            report(Drag::Cancelled, 0, 0); // a click leaves the region as it was
        else
            report(Drag::Finished, m_from, valueAt(inChart(event->pos()).x()));
        event->accept();
    }

private:
    QPointF inChart(QPoint viewPos) const { return chart()->mapFromScene(mapToScene(viewPos)); }
    // The x value at a chart x, held to the plot.
    double valueAt(double x) const
    {
        const QRectF plot = chart()->plotArea();
        const QPointF on(std::clamp(x, plot.left(), plot.right()), plot.center().y());
        return chart()->mapToValue(on, chart()->series().front()).x();
    }
    void report(Drag drag, double from, double to)
    {
        if (onDrag)
            onDrag(drag, from, to);
    }

    bool m_dragging = false;
    QPoint m_pressed;
    double m_from = 0;
};

SpectrumWindow::SpectrumWindow(QWidget* parent) : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("spectrumWindow"));
    setWindowTitle(tr("Spectrum"));
    m_redrawTimer = new QTimer(this);
    m_redrawTimer->setSingleShot(true);
    m_redrawTimer->setInterval(kRedrawMilliseconds);
    connect(m_redrawTimer, &QTimer::timeout, this, [this] {
        if (m_dirty && drawable())
            redraw();
    });
    buildChart();
    buildControls();
    resize(1000, 600);
    redraw();
}

SpectrumWindow::~SpectrumWindow() = default;

void SpectrumWindow::buildChart()
{
    m_chart = new QChart;
    m_chart->legend()->hide();
    m_chart->legend()->setAlignment(Qt::AlignTop);
    m_chart->setBackgroundRoundness(0);
    m_chart->setMargins(QMargins(2, 4, 10, 2));

    m_backgroundSeries = new QLineSeries;
    m_backgroundSeries->setObjectName(QStringLiteral("background"));
    m_backgroundSeries->setName(tr("Background, scaled to the live time"));
    m_backgroundSeries->setPen(QPen(kBackgroundColour, 1));
    m_series = new QLineSeries;
    m_series->setObjectName(QStringLiteral("spectrum"));
    m_series->setName(tr("Spectrum"));
    m_series->setPen(QPen(kSpectrumColour, 1));
    m_chart->addSeries(m_backgroundSeries);
    m_chart->addSeries(m_series); // drawn over the background

    m_xAxis = new QValueAxis;
    m_xAxis->setLabelFormat(QStringLiteral("%.0f"));
    m_xAxis->setTickType(QValueAxis::TicksDynamic);
    m_xAxis->setTickAnchor(0);
    m_chart->addAxis(m_xAxis, Qt::AlignBottom);
    m_series->attachAxis(m_xAxis);
    m_backgroundSeries->attachAxis(m_xAxis);
    makeCountAxis();

    m_band = new QGraphicsRectItem(m_chart);
    m_band->setPen(Qt::NoPen);
    m_band->setBrush(kBandColour);
    m_band->setZValue(1.5); // over the plot's background, under its grid and lines
    m_band->hide();

    m_view = new SpectrumChartView(m_chart);
    m_view->setObjectName(QStringLiteral("spectrumChart"));
    m_view->setRubberBand(QChartView::NoRubberBand);
    m_view->setMinimumSize(400, 250);
    m_view->onDrag = [this](SpectrumChartView::Drag drag, double from, double to) {
        switch (drag) {
        case SpectrumChartView::Drag::Moving:
            m_dragging = true;
            m_dragFrom = from;
            m_dragTo = to;
            placeBand();
            break;
        case SpectrumChartView::Drag::Cancelled:
            m_dragging = false;
            placeBand();
            break;
        case SpectrumChartView::Drag::Finished:
            m_dragging = false;
            if (shown().counts.empty()) {
                placeBand();
                break;
            }
            setRegion(channelOfX(std::min(from, to)), channelOfX(std::max(from, to)));
            break;
        case SpectrumChartView::Drag::Cleared:
            m_dragging = false;
            setRegion(0, -1);
            break;
        }
    };
    connect(m_chart, &QChart::plotAreaChanged, this, [this] { placeBand(); });
}

void SpectrumWindow::makeCountAxis()
{
    QAbstractAxis* next = nullptr;
    if (m_log) {
        auto* axis = new QLogValueAxis;
        axis->setBase(10);
        axis->setLabelFormat(QStringLiteral("%g"));
        next = axis;
    } else {
        auto* axis = new QValueAxis;
        axis->setTickType(QValueAxis::TicksDynamic); // zero stays a grid line under net counts
        axis->setTickAnchor(0);
        axis->setLabelFormat(QStringLiteral("%.0f"));
        next = axis;
    }
    next->setTitleText(tr("Counts"));
    if (m_yAxis) {
        m_chart->removeAxis(m_yAxis); // detaches the series
        delete m_yAxis;
    }
    m_yAxis = next;
    m_chart->addAxis(m_yAxis, Qt::AlignLeft);
    m_series->attachAxis(m_yAxis);
    m_backgroundSeries->attachAxis(m_yAxis);
    m_yFrom = m_yTo = std::numeric_limits<double>::quiet_NaN(); // set on the next redraw
}

void SpectrumWindow::buildControls()
{
    auto button = [this](const QString& text, const char* name) {
        auto* b = new QPushButton(text);
        b->setObjectName(QString::fromLatin1(name));
        b->setParent(this);
        return b;
    };
    auto label = [](const char* name) {
        auto* l = new QLabel;
        l->setObjectName(QString::fromLatin1(name));
        l->setTextInteractionFlags(Qt::TextSelectableByMouse);
        return l;
    };

    m_streamBox = new QComboBox;
    m_streamBox->setObjectName(QStringLiteral("spectrumStream"));
    m_streamBox->hide();
    connect(m_streamBox, QOverload<int>::of(&QComboBox::activated), this, [this](int index) {
        if (index < 0 || index >= int(m_streams.size()) || index == m_stream)
            return;
        m_stream = index;
        m_notice.clear();
        refresh();
    });
    m_modeBox = new QComboBox;
    m_modeBox->setObjectName(QStringLiteral("spectrumMode"));
    m_modeBox->addItem(tr("Accumulate"));
    m_modeBox->addItem(tr("Latest"));
    connect(m_modeBox, QOverload<int>::of(&QComboBox::activated), this, [this](int index) {
        const auto mode =
            index == 1 ? SpectrumAccumulator::Mode::Latest : SpectrumAccumulator::Mode::Accumulate;
        if (mode == m_mode)
            return;
        m_mode = mode;
        clearStreams();
    });
    m_clearButton = button(tr("Clear"), "spectrumClear");
    connect(m_clearButton, &QPushButton::clicked, this, &SpectrumWindow::clearStreams);

    m_logBox = new QCheckBox(tr("Log counts"));
    m_logBox->setObjectName(QStringLiteral("spectrumLog"));
    connect(m_logBox, &QCheckBox::toggled, this, [this](bool on) {
        if (on == m_log)
            return;
        m_log = on;
        makeCountAxis();
        refresh();
    });
    m_axisBox = new QComboBox;
    m_axisBox->setObjectName(QStringLiteral("spectrumAxis"));
    m_axisBox->addItem(tr("Channel"));
    m_axisBox->addItem(tr("Energy"));
    connect(m_axisBox, QOverload<int>::of(&QComboBox::activated), this, [this](int index) {
        m_wantEnergy = index == 1;
        refresh();
    });
    m_calibrateButton = button(tr("Calibrate..."), "spectrumCalibrate");
    connect(m_calibrateButton, &QPushButton::clicked, this, &SpectrumWindow::calibrateByUser);

    m_backgroundButton = button(tr("Background..."), "spectrumBackground");
    connect(m_backgroundButton, &QPushButton::clicked, this, &SpectrumWindow::backgroundByUser);
    m_subtractBox = new QCheckBox(tr("Subtract"));
    m_subtractBox->setObjectName(QStringLiteral("spectrumSubtract"));
    m_subtractBox->setToolTip(tr("Show the spectrum less the background scaled to its live time"));
    connect(m_subtractBox, &QCheckBox::toggled, this, [this](bool on) {
        m_subtract = on;
        refresh();
    });

    m_openButton = button(tr("Open spectrum..."), "spectrumOpen");
    connect(m_openButton, &QPushButton::clicked, this, &SpectrumWindow::openByUser);
    m_liveButton = button(tr("Back to live"), "spectrumLive");
    connect(m_liveButton, &QPushButton::clicked, this, &SpectrumWindow::showLive);
    m_saveButton = button(tr("Save spectrum..."), "spectrumSave");
    connect(m_saveButton, &QPushButton::clicked, this, [this] { saveByUser(false); });
    m_saveSeriesButton = button(tr("Save series..."), "spectrumSaveSeries");
    connect(m_saveSeriesButton, &QPushButton::clicked, this, [this] { saveByUser(true); });

    m_timesLabel = label("spectrumTimes");
    m_countsLabel = label("spectrumCounts");
    m_sequenceLabel = label("spectrumSequence");
    m_regionLabel = label("spectrumRegion");
    m_messageLabel = label("spectrumMessage");
    m_regionLabel->setWordWrap(true);
    m_messageLabel->setWordWrap(true);
    m_messageLabel->setStyleSheet(QStringLiteral("color: #8a3000"));

    // Controls in a column beside the chart, grouped by what they act on.
    auto group = [](const QString& title, std::initializer_list<QWidget*> widgets) {
        auto* box = new QGroupBox(title);
        auto* layout = new QVBoxLayout(box);
        layout->setContentsMargins(6, 4, 6, 6);
        layout->setSpacing(4);
        for (QWidget* w : widgets)
            layout->addWidget(w);
        return box;
    };
    auto* side = new QVBoxLayout;
    side->setSpacing(6);
    side->addWidget(group(tr("Stream"), {m_streamBox, m_modeBox, m_clearButton}));
    side->addWidget(group(tr("View"), {m_logBox, m_axisBox, m_calibrateButton}));
    side->addWidget(group(tr("Background"), {m_backgroundButton, m_subtractBox}));
    side->addWidget(
        group(tr("Files"), {m_saveButton, m_saveSeriesButton, m_openButton, m_liveButton}));
    side->addStretch(1);

    auto* readouts = new QGridLayout;
    readouts->setContentsMargins(6, 0, 6, 4);
    readouts->setHorizontalSpacing(16);
    readouts->setVerticalSpacing(2);
    readouts->addWidget(m_timesLabel, 0, 0);
    readouts->addWidget(m_countsLabel, 0, 1);
    readouts->addWidget(m_sequenceLabel, 1, 0, 1, 2);
    readouts->addWidget(m_regionLabel, 2, 0, 1, 2);
    readouts->addWidget(m_messageLabel, 3, 0, 1, 2);
    readouts->setColumnStretch(0, 1);
    readouts->setColumnStretch(1, 1);

    auto* left = new QVBoxLayout;
    left->setSpacing(4);
    left->addWidget(m_view, 1);
    left->addLayout(readouts);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(6, 6, 6, 6);
    layout->addLayout(left, 1);
    auto* sideWidget = new QWidget;
    sideWidget->setLayout(side);
    sideWidget->setFixedWidth(190);
    side->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(sideWidget);
}

QString SpectrumWindow::sourceTitle() const
{
    if (m_source.family.isEmpty())
        return tr("Spectrum");
    return m_source.serial.isEmpty()
               ? QStringLiteral("Spectrum - %1").arg(m_source.family)
               : QStringLiteral("Spectrum - %1 %2").arg(m_source.family, m_source.serial);
}

void SpectrumWindow::setSource(const SpectrumSource& source, const QStringList& streams,
                               SpectrumAccumulator::Mode mode)
{
    if (source.family != m_source.family || source.serial != m_source.serial)
        m_userCalibration.reset(); // made for another detector
    m_source = source;
    m_mode = mode;
    m_streams.clear();
    m_streams.reserve(std::size_t(streams.size()));
    for (const QString& name : streams)
        m_streams.push_back(Stream{name, SpectrumAccumulator(mode), {}, 0});
    m_stream = 0;
    {
        const QSignalBlocker quiet(m_streamBox);
        m_streamBox->clear();
        m_streamBox->addItems(streams);
        m_streamBox->setVisible(streams.size() > 1);
    }
    {
        const QSignalBlocker quiet(m_modeBox);
        m_modeBox->setCurrentIndex(mode == SpectrumAccumulator::Mode::Latest ? 1 : 0);
    }
    m_notice.clear();
    setWindowTitle(sourceTitle());
    refresh();
}

void SpectrumWindow::updateSource(const SpectrumSource& source)
{
    m_source = source;
    setWindowTitle(sourceTitle());
}

void SpectrumWindow::setSequenceStep(int stream, uint64_t step)
{
    if (stream >= 0 && stream < int(m_streams.size()))
        m_streams[std::size_t(stream)].accumulator.setSequenceStep(step);
}

void SpectrumWindow::addSpectrum(int stream, const SpectrumData& spectrum, uint64_t sequence)
{
    if (stream < 0 || stream >= int(m_streams.size()))
        return;
    if (spectrum.counts.empty() || spectrum.counts.size() > kMaxChannels)
        return; // nothing the chart can show: not counted either
    Stream& s = m_streams[std::size_t(stream)];
    const auto outcome = s.accumulator.add(spectrum, sequence);
    if (outcome == SpectrumAccumulator::Outcome::Duplicate)
        return;
    if (outcome == SpectrumAccumulator::Outcome::Restarted) {
        s.series.clear();
        s.seriesDropped = 0;
        if (stream == m_stream)
            m_notice.clear(); // the accumulator's reason shows
    }
    Kept kept;
    if (std::all_of(spectrum.counts.begin(), spectrum.counts.end(),
                    [](uint64_t c) { return c <= UINT32_MAX; })) {
        kept.narrow.assign(spectrum.counts.begin(), spectrum.counts.end());
        kept.spectrum = spectrum;
        kept.spectrum.counts = {};
    } else {
        kept.spectrum = spectrum;
    }
    s.series.push_back(std::move(kept));
    if (s.series.size() > kSeriesLimit) {
        s.series.pop_front();
        ++s.seriesDropped;
    }
    if (stream == m_stream && !m_file)
        scheduleRedraw();
}

const SpectrumAccumulator& SpectrumWindow::accumulator() const
{
    return m_streams.empty() ? m_none : m_streams[std::size_t(m_stream)].accumulator;
}

void SpectrumWindow::clearStreams()
{
    for (Stream& s : m_streams) {
        s.accumulator.setMode(m_mode);
        s.accumulator.clear();
        s.series.clear();
        s.seriesDropped = 0;
    }
    m_notice.clear();
    refresh();
}

const SpectrumData& SpectrumWindow::shown() const
{
    return m_file ? m_file->spectrum : accumulator().spectrum();
}

// ---- files

bool SpectrumWindow::refuse(const QString& why, QString* error)
{
    if (error)
        *error = why;
    notify(why);
    return false;
}

void SpectrumWindow::notify(const QString& text)
{
    m_notice = text;
    if (drawable())
        showReadouts();
    else
        m_dirty = true;
}

bool SpectrumWindow::saveSpectrum(const QString& path, bool series, QString* error)
{
    std::vector<SpectrumData> spectra;
    SpectrumSource source = m_source;
    uint64_t dropped = 0;
    if (series) {
        if (m_streams.empty() || m_streams[std::size_t(m_stream)].series.empty())
            return refuse(tr("No spectrum has come since the last clear."), error);
        const Stream& s = m_streams[std::size_t(m_stream)];
        spectra.reserve(s.series.size());
        for (const Kept& kept : s.series) {
            spectra.push_back(kept.spectrum);
            if (!kept.narrow.empty())
                spectra.back().counts.assign(kept.narrow.begin(), kept.narrow.end());
        }
        dropped = s.seriesDropped;
    } else {
        if (shown().counts.empty())
            return refuse(tr("There is no spectrum to save yet."), error);
        spectra.push_back(shown());
        if (m_file)
            source = m_file->source;
    }
    // What the surveyor calibrated goes with the spectra it was made for.
    if (m_userCalibration)
        for (SpectrumData& s : spectra)
            if (s.counts.size() == m_userCalibration->channels)
                s.calibration.coefficients = m_userCalibration->coefficients;
    QString why;
    if (!writeN42(path, source, spectra, &why))
        return refuse(why, error);
    QString text =
        spectra.size() == 1
            ? tr("Saved the spectrum to %1.").arg(QDir::toNativeSeparators(path))
            : tr("Saved %1 spectra to %2.").arg(spectra.size()).arg(QDir::toNativeSeparators(path));
    if (dropped > 0)
        text += tr(" Only the last %1 of the %2 spectra since the clear were kept.")
                    .arg(spectra.size())
                    .arg(uint64_t(spectra.size()) + dropped);
    notify(text);
    return true;
}

bool SpectrumWindow::openSpectrum(const QString& path, QString* error)
{
    QString why;
    std::optional<FileSum> sum = sumOfFile(path, &why);
    if (!sum)
        return refuse(why, error);
    FileView file;
    file.name = QFileInfo(path).fileName();
    file.source = sum->source;
    file.spectrum = std::move(sum->spectrum);
    file.total = sum->total;
    file.spectra = sum->used;
    m_file = std::move(file);
    QString text = tr("Showing %1; Back to live returns to the instrument.").arg(m_file->name);
    if (sum->skipped)
        text += tr(" %1 spectra of another channel count are left out.").arg(sum->skipped);
    m_notice = text;
    refresh();
    return true;
}

void SpectrumWindow::showLive()
{
    if (!m_file)
        return;
    m_file.reset();
    m_notice.clear();
    refresh();
}

bool SpectrumWindow::openBackground(const QString& path, QString* error)
{
    QString why;
    std::optional<FileSum> sum = sumOfFile(path, &why);
    if (!sum)
        return refuse(why, error);
    const SpectrumData& gross = shown();
    // Against itself when nothing is shown yet: that checks its live time alone.
    if (!subtractBackground(gross.counts.empty() ? sum->spectrum : gross, sum->spectrum, &why))
        return refuse(tr("The background is refused: %1").arg(why), error);
    m_background = std::move(sum->spectrum);
    m_backgroundName = QFileInfo(path).fileName();
    m_notice = tr("Background: %1, live time %2 s.")
                   .arg(m_backgroundName, number(m_background->liveSeconds, 1));
    refresh();
    return true;
}

// ---- calibration

std::vector<double> SpectrumWindow::shownCalibration() const
{
    const SpectrumData& s = shown();
    if (m_userCalibration && m_userCalibration->channels == s.counts.size())
        return m_userCalibration->coefficients;
    return s.calibration.coefficients;
}

bool SpectrumWindow::setCalibration(const std::vector<double>& coefficients, QString* error)
{
    const std::size_t channels = shown().counts.size();
    QString why;
    const auto axis = EnergyAxis::fromCoefficients(coefficients, int(channels), &why);
    if (!axis)
        return refuse(tr("The calibration is refused: %1").arg(why), error);
    m_userCalibration = UserCalibration{axis->calibration().coefficients, channels};
    m_wantEnergy = true;
    m_notice = tr("Your calibration: %1.").arg(coefficientsText(m_userCalibration->coefficients));
    refresh();
    return true;
}

bool SpectrumWindow::setCalibrationFromPeaks(double channel1, double kev1, double channel2,
                                             double kev2, QString* error)
{
    const std::size_t channels = shown().counts.size();
    QString why;
    const auto axis = EnergyAxis::fromPeaks(channel1, kev1, channel2, kev2, int(channels), &why);
    if (!axis)
        return refuse(tr("The calibration is refused: %1").arg(why), error);
    return setCalibration(axis->calibration().coefficients, error);
}

void SpectrumWindow::clearCalibration()
{
    if (!m_userCalibration)
        return;
    m_userCalibration.reset();
    m_notice = tr("The instrument's calibration is used again.");
    refresh();
}

void SpectrumWindow::updateEnergyAxis()
{
    std::vector<double> coefficients = shownCalibration();
    const std::size_t channels = shown().counts.size();
    if (coefficients == m_axisCoefficients && channels == m_axisChannels)
        return;
    m_axisCoefficients = std::move(coefficients);
    m_axisChannels = channels;
    m_energyAxis.reset();
    if (!m_axisCoefficients.empty() && channels > 0)
        m_energyAxis = EnergyAxis::fromCoefficients(m_axisCoefficients, int(channels));
}

double SpectrumWindow::xOfEdge(double channel) const
{
    return onEnergyAxis() ? m_energyAxis->energyOf(channel) : channel;
}

int SpectrumWindow::channelOfX(double x) const
{
    const int channels = int(shown().counts.size());
    if (channels == 0)
        return 0;
    double channel = x;
    if (onEnergyAxis()) {
        const std::optional<double> c = m_energyAxis->channelOf(x);
        channel = c ? *c : (x < m_energyAxis->energyOf(0) ? 0 : channels);
    }
    return std::clamp(int(std::floor(channel)), 0, channels - 1);
}

void SpectrumWindow::setRegion(int fromChannel, int toChannel)
{
    m_regionFrom = fromChannel;
    m_regionTo = toChannel;
    m_dragging = false;
    if (drawable()) {
        placeBand();
        showReadouts();
    } else {
        m_dirty = true;
    }
}

// ---- drawing

bool SpectrumWindow::drawable() const
{
    return isVisible() && !isMinimized();
}

void SpectrumWindow::refresh()
{
    if (drawable())
        redraw();
    else
        m_dirty = true;
}

void SpectrumWindow::scheduleRedraw()
{
    m_dirty = true;
    if (drawable() && !m_redrawTimer->isActive())
        m_redrawTimer->start();
}

void SpectrumWindow::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (m_dirty)
        redraw();
}

void SpectrumWindow::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange && m_dirty && drawable())
        redraw();
}

void SpectrumWindow::redraw()
{
    m_dirty = false;
    const std::size_t channels = shown().counts.size();
    if (channels != m_shownChannels && m_shownChannels != 0) {
        m_regionFrom = 0; // channels of another spectrum
        m_regionTo = -1;
    }
    m_shownChannels = channels;
    updateEnergyAxis();
    drawSeries();
    placeBand();
    showReadouts();
    updateControls();
}

void SpectrumWindow::drawSeries()
{
    const SpectrumData& s = shown();
    const std::size_t n = s.counts.size();
    m_net.reset();
    m_netRefusal.clear();
    if (m_subtract && m_background && n > 0)
        m_net = subtractBackground(s, *m_background, &m_netRefusal);

    double lowest = 0, highest = 0;
    auto y = [this, &lowest, &highest](double v) {
        lowest = std::min(lowest, v);
        highest = std::max(highest, v);
        return m_log ? std::max(v, kLogFloor) : v;
    };
    QVector<QPointF> points(static_cast<int>(n));
    for (std::size_t i = 0; i < n; ++i) {
        const double v = m_net ? m_net->counts[i] : double(s.counts[i]);
        points[int(i)] = QPointF(xOfEdge(double(i) + 0.5), y(v));
    }
    m_series->replace(points);
    m_series->setName(m_net ? tr("Spectrum less background") : tr("Spectrum"));

    // The background over the spectrum, scaled to its live time as subtracting would.
    const bool overlay = m_background && !m_net && n > 0 && m_background->counts.size() == n;
    if (overlay) {
        const double scale = s.liveSeconds > 0 && m_background->liveSeconds > 0
                                 ? s.liveSeconds / m_background->liveSeconds
                                 : 1;
        for (std::size_t i = 0; i < n; ++i)
            points[int(i)].setY(y(scale * double(m_background->counts[i])));
        m_backgroundSeries->replace(points);
    } else if (m_backgroundSeries->count() > 0) {
        m_backgroundSeries->clear();
    }
    m_backgroundSeries->setVisible(overlay);
    m_chart->legend()->setVisible(overlay || m_net);

    // The axes keep their ranges until the data leave them.
    const QString title = onEnergyAxis() ? tr("Energy (keV)") : tr("Channel");
    if (title != m_xTitle) {
        m_xTitle = title;
        m_xAxis->setTitleText(title);
    }
    const double xFrom = n ? xOfEdge(0) : 0, xTo = n ? xOfEdge(double(n)) : 1;
    if (xFrom != m_xFrom || xTo != m_xTo) {
        m_xFrom = xFrom;
        m_xTo = xTo;
        m_xAxis->setTickInterval(niceStep((xTo - xFrom) / 10));
        m_xAxis->setRange(xFrom, xTo);
    }
    double yFrom = 0, yTo = 10;
    if (m_log) {
        yFrom = kLogFloor;
        yTo = std::max(10.0, std::pow(10.0, std::ceil(std::log10(std::max(highest, 1.0) * 1.2))));
    } else {
        yFrom = lowest < 0 ? -niceTop(-lowest * 1.05) : 0;
        yTo = niceTop(std::max(highest, 1.0) * 1.05);
    }
    if (yFrom != m_yFrom || yTo != m_yTo) {
        m_yFrom = yFrom;
        m_yTo = yTo;
        if (auto* linear = qobject_cast<QValueAxis*>(m_yAxis))
            linear->setTickInterval(niceStep((yTo - yFrom) / 6));
        m_yAxis->setRange(yFrom, yTo);
    }
}

void SpectrumWindow::placeBand()
{
    const std::size_t n = shown().counts.size();
    double from = 0, to = 0;
    if (m_dragging) {
        from = m_dragFrom;
        to = m_dragTo;
    } else if (n > 0 && m_regionFrom <= m_regionTo && m_regionTo >= 0 && m_regionFrom < int(n)) {
        from = xOfEdge(std::max(m_regionFrom, 0));
        to = xOfEdge(std::min<double>(m_regionTo, double(n) - 1) + 1);
    } else {
        m_band->hide();
        return;
    }
    const double y = std::isfinite(m_yFrom) ? m_yFrom : 1;
    const double left = m_chart->mapToPosition(QPointF(std::min(from, to), y), m_series).x();
    const double right = m_chart->mapToPosition(QPointF(std::max(from, to), y), m_series).x();
    const QRectF plot = m_chart->plotArea();
    QRectF rect = QRectF(QPointF(left, plot.top()), QPointF(right, plot.bottom())) & plot;
    if (rect.width() < 1) // a single channel still shows
        rect = QRectF(rect.center().x() - 0.5, plot.top(), 1, plot.height());
    m_band->setRect(rect);
    m_band->show();
}

void SpectrumWindow::showReadouts()
{
    const SpectrumData& s = shown();
    const std::size_t n = s.counts.size();
    const double dead =
        s.realSeconds > 0 ? 100 * (s.realSeconds - s.liveSeconds) / s.realSeconds : 0;
    m_timesLabel->setText(
        tr("Live time %1 s%2real time %3 s%4dead time %5 %")
            .arg(number(s.liveSeconds, 1), kDot, number(s.realSeconds, 1), kDot, number(dead, 1)));
    const uint64_t total = m_file ? m_file->total : accumulator().totalCounts();
    const double rate = s.liveSeconds > 0 ? double(total) / s.liveSeconds : 0;
    m_countsLabel->setText(
        tr("Counts %1%2%3 counts/s").arg(QString::number(total), kDot, number(rate, 1)));

    if (m_file) {
        m_sequenceLabel->setText(m_file->spectra == 1
                                     ? tr("File %1 (%2 channels)").arg(m_file->name).arg(n)
                                     : tr("File %1: the sum of %2 spectra (%3 channels)")
                                           .arg(m_file->name)
                                           .arg(m_file->spectra)
                                           .arg(n));
    } else {
        const SpectrumAccumulator& a = accumulator();
        m_sequenceLabel->setText(
            tr("Spectra %1%2duplicates not added %3%4gaps %5 (%6 spectra missed)%7"
               "renumberings %8")
                .arg(QString::number(a.spectraAdded()), kDot, QString::number(a.duplicates()), kDot,
                     QString::number(a.gaps()), QString::number(a.missed()), kDot,
                     QString::number(a.renumberings())));
    }

    const int from = std::max(m_regionFrom, 0);
    const int to = n ? std::min(m_regionTo, int(n) - 1) : -1;
    if (from > to) {
        m_regionLabel->setText(tr("Region: drag over the spectrum to choose one"));
    } else {
        QString text = tr("Region: channels %1\u2013%2").arg(from).arg(to);
        if (onEnergyAxis())
            text += QStringLiteral(" (%1\u2013%2 keV)")
                        .arg(number(m_energyAxis->energyOf(from), 1),
                             number(m_energyAxis->energyOf(to + 1), 1));
        text += kDot + tr("%1 counts%2%3 counts/s")
                           .arg(QString::number(roiSum(s, from, to)), kDot,
                                number(roiRate(s, from, to), 2));
        if (m_net) {
            const double net = m_net->roiSum(from, to);
            text +=
                kDot + tr("net %1 counts%2%3 counts/s")
                           .arg(number(net, 1), kDot,
                                number(m_net->liveSeconds > 0 ? net / m_net->liveSeconds : 0, 2));
        }
        m_regionLabel->setText(text);
    }

    QString message = m_notice;
    if (!m_netRefusal.isEmpty())
        message = tr("Not subtracted: %1").arg(m_netRefusal);
    else if (message.isEmpty() && !m_file)
        message = accumulator().message();
    m_messageLabel->setText(message);
}

void SpectrumWindow::updateControls()
{
    auto* model = qobject_cast<QStandardItemModel*>(m_axisBox->model());
    if (QStandardItem* energy = model ? model->item(1) : nullptr)
        energy->setEnabled(m_energyAxis.has_value());
    {
        const QSignalBlocker quiet(m_axisBox);
        m_axisBox->setCurrentIndex(onEnergyAxis() ? 1 : 0);
    }
    m_axisBox->setToolTip(m_energyAxis ? QString()
                                       : tr("Energy needs a calibration: the instrument's, "
                                            "or yours from Calibrate..."));
    m_subtractBox->setEnabled(m_background.has_value());
    m_backgroundButton->setToolTip(m_background ? tr("Background: %1").arg(m_backgroundName)
                                                : QString());
    m_liveButton->setVisible(m_file.has_value());
    m_streamBox->setEnabled(!m_file);
    m_modeBox->setEnabled(!m_file);
    m_clearButton->setEnabled(!m_file);
    m_saveButton->setEnabled(!shown().counts.empty());
    m_saveSeriesButton->setEnabled(!m_streams.empty() &&
                                   !m_streams[std::size_t(m_stream)].series.empty());
    m_calibrateButton->setEnabled(!shown().counts.empty());
}

// ---- what the buttons open

namespace {

QString spectraFolder()
{
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    return documents.isEmpty() ? QDir::homePath() : documents;
}

QString n42Filter()
{
    return QObject::tr("N42 spectra (*.n42 *.xml);;All files (*)");
}

} // namespace

void SpectrumWindow::calibrateByUser()
{
    std::vector<double> current = shownCalibration();
    auto takeCoefficients = [this](const std::vector<double>& c) {
        QString why;
        setCalibration(c, &why);
        return why;
    };
    auto takePeaks = [this](const CalibrationDialog::Peaks& p) {
        QString why;
        setCalibrationFromPeaks(p.channel1, p.kev1, p.channel2, p.kev2, &why);
        return why;
    };
    std::function<void()> reset;
    if (m_userCalibration)
        reset = [this] { clearCalibration(); };
    CalibrationDialog dialog(current, takeCoefficients, takePeaks, reset, this);
    dialog.exec();
}

void SpectrumWindow::openByUser()
{
    const QString path =
        QFileDialog::getOpenFileName(this, tr("Open spectrum"), spectraFolder(), n42Filter());
    if (!path.isEmpty())
        openSpectrum(path, nullptr);
}

void SpectrumWindow::backgroundByUser()
{
    const QString path =
        QFileDialog::getOpenFileName(this, tr("Open background"), spectraFolder(), n42Filter());
    if (!path.isEmpty())
        openBackground(path, nullptr);
}

void SpectrumWindow::saveByUser(bool series)
{
    QString name = m_source.family.isEmpty()
                       ? QStringLiteral("spectrum")
                       : QStringList{m_source.family, m_source.serial}.join(QLatin1Char('-'));
    name += QDateTime::currentDateTimeUtc().toString(QStringLiteral("-yyyyMMdd-HHmmss"));
    if (series)
        name += QStringLiteral("-series");
    const QString path = QFileDialog::getSaveFileName(
        this, series ? tr("Save series") : tr("Save spectrum"),
        QDir(spectraFolder()).filePath(name + QStringLiteral(".n42")), n42Filter());
    if (!path.isEmpty())
        saveSpectrum(path, series, nullptr);
}
