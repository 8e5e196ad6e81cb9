// The spectrum window: the gamma spectra an instrument streams, summed or the
// latest, per stream; on a channel or energy axis, linear or logarithmic;
// with a region of interest dragged out on the chart, a background to
// overlay or subtract, and N42 files to save and to look at.
#pragma once

#include "energy_axis.h"
#include "spectrum_accumulator.h"
#include "spectrum_data.h"

#include <QStringList>
#include <QWidget>

#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

class QCheckBox;
class QComboBox;
class QGraphicsRectItem;
class QLabel;
class QPushButton;
class QTimer;

namespace QtCharts {
class QAbstractAxis;
class QChart;
class QLineSeries;
class QValueAxis;
} // namespace QtCharts

class SpectrumChartView;

class SpectrumWindow : public QWidget
{
    Q_OBJECT

public:
    // The most streamed spectra of a stream kept for a series save; older ones
    // are let go (at 10 a second, the last six minutes).
    static constexpr std::size_t kSeriesLimit = 3600;
    // The most channels a spectrum may have to be shown; files with more, or
    // with none, are refused.
    static constexpr std::size_t kMaxChannels = 65536;
    // At most this often the chart and read-outs follow the stream.
    static constexpr int kRedrawMilliseconds = 250;

    explicit SpectrumWindow(QWidget* parent = nullptr);
    ~SpectrumWindow() override;

    // A new instrument (or none: an empty family) and its spectrum streams,
    // e.g. {"Spectrum"} or {"1024 channels", "256 channels"}. Clears every
    // accumulation and sets the mode. A file being looked at, the background
    // and the region stay; the user's calibration stays for the same instrument.
    void setSource(const SpectrumSource& source, const QStringList& streams,
                   SpectrumAccumulator::Mode mode);
    // What the instrument said of itself once asked (its serial, its
    // report), for the title and saved files; the spectra stay.
    void updateSource(const SpectrumSource& source);
    // How far the instrument's number moves between spectra of `stream`
    // (SpectrumAccumulator::setSequenceStep), until the next setSource.
    void setSequenceStep(int stream, uint64_t step);
    // One streamed spectrum of stream `stream` (an index into the streams
    // given) with the instrument's sequence number, or kNoSequence.
    void addSpectrum(int stream, const SpectrumData& spectrum, uint64_t sequence);

    // What the buttons do, without the file dialogs. Each says what came of it
    // in the message line too; `error` may be null.
    // The shown spectrum, or each streamed spectrum of the stream since the
    // last clear (at most kSeriesLimit, the latest), as N42.
    bool saveSpectrum(const QString& path, bool series, QString* error);
    // Shows the file's spectrum (the sum of its spectra when it holds several)
    // instead of the live one, until showLive().
    bool openSpectrum(const QString& path, QString* error);
    void showLive();
    bool viewingFile() const { return m_file.has_value(); }
    // The background to overlay and subtract (the sum of the file's spectra).
    bool openBackground(const QString& path, QString* error);
    // The user's calibration for spectra of the shown channel count; it wins
    // over the instrument's. A calibration that does not rise is refused and
    // changes nothing.
    bool setCalibration(const std::vector<double>& coefficients, QString* error);
    bool setCalibrationFromPeaks(double channel1, double kev1, double channel2, double kev2,
                                 QString* error);
    // Back to the instrument's calibration, if any.
    void clearCalibration();
    // The region of interest, channels inclusive; from > to clears it.
    void setRegion(int fromChannel, int toChannel);
    const SpectrumAccumulator& accumulator() const; // of the stream shown

protected:
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    // A streamed spectrum kept for a series save: its counts in 32 bits when
    // they fit, as a streamed spectrum's nearly always do, to halve the store.
    struct Kept
    {
        SpectrumData spectrum; // without counts when they are in `narrow`
        std::vector<uint32_t> narrow;
    };
    struct Stream
    {
        QString name;
        SpectrumAccumulator accumulator;
        std::deque<Kept> series;    // since the last clear, the latest kSeriesLimit
        uint64_t seriesDropped = 0; // the older ones let go
    };
    struct UserCalibration
    {
        std::vector<double> coefficients;
        std::size_t channels = 0; // the channel count it was made for
    };
    struct FileView
    {
        QString name;
        SpectrumSource source;
        SpectrumData spectrum;
        uint64_t total = 0;
        std::size_t spectra = 0;
    };

    void buildControls();
    void buildChart();
    void makeCountAxis();
    void clearStreams();
    void scheduleRedraw(); // for the stream: at most every kRedrawMilliseconds
    void refresh();        // for what the user does: now, or when the window shows
    void redraw();
    bool drawable() const;
    const SpectrumData& shown() const;
    std::vector<double> shownCalibration() const;
    void updateEnergyAxis();
    bool onEnergyAxis() const { return m_energyAxis.has_value() && m_wantEnergy; }
    double xOfEdge(double channel) const;
    int channelOfX(double x) const;
    void drawSeries();
    void fitAxes(double lowest, double highest);
    void placeBand();
    void showReadouts();
    void notify(const QString& text);
    bool refuse(const QString& why, QString* error);
    void updateControls();
    QString sourceTitle() const;

    void calibrateByUser();
    void openByUser();
    void backgroundByUser();
    void saveByUser(bool series);
    void dragged(double fromX, double toX, bool finished);

    SpectrumSource m_source;
    std::vector<Stream> m_streams;
    int m_stream = 0;
    SpectrumAccumulator m_none; // what accumulator() gives without streams
    SpectrumAccumulator::Mode m_mode = SpectrumAccumulator::Mode::Accumulate;
    std::optional<FileView> m_file;
    std::optional<SpectrumData> m_background;
    QString m_backgroundName;
    std::optional<UserCalibration> m_userCalibration;
    std::optional<NetSpectrum> m_net;       // when subtracting
    QString m_netRefusal;                   // why subtracting is not possible
    std::optional<EnergyAxis> m_energyAxis; // of the shown spectrum, when it has a calibration
    std::vector<double> m_axisCoefficients; // what m_energyAxis was made of
    std::size_t m_axisChannels = 0;
    bool m_wantEnergy =
        true; // energy whenever there is a calibration, unless the user chose channels
    bool m_log = false;
    bool m_subtract = false;
    int m_regionFrom = 0, m_regionTo = -1;
    std::size_t m_shownChannels = 0; // at the last redraw: a new count drops the region
    QString m_notice;                // the last refusal or outcome; else the accumulator's message
    bool m_dirty = false;
    bool m_dragging = false;
    double m_dragFrom = 0, m_dragTo = 0; // chart values of an unfinished drag

    QTimer* m_redrawTimer = nullptr;
    QComboBox* m_streamBox = nullptr;
    QComboBox* m_modeBox = nullptr;
    QPushButton* m_clearButton = nullptr;
    QCheckBox* m_logBox = nullptr;
    QComboBox* m_axisBox = nullptr;
    QPushButton* m_calibrateButton = nullptr;
    QPushButton* m_backgroundButton = nullptr;
    QCheckBox* m_subtractBox = nullptr;
    QPushButton* m_saveButton = nullptr;
    QPushButton* m_saveSeriesButton = nullptr;
    QPushButton* m_openButton = nullptr;
    QPushButton* m_liveButton = nullptr;
    QLabel* m_timesLabel = nullptr;
    QLabel* m_countsLabel = nullptr;
    QLabel* m_sequenceLabel = nullptr;
    QLabel* m_regionLabel = nullptr;
    QLabel* m_messageLabel = nullptr;

    SpectrumChartView* m_view = nullptr;
    QtCharts::QChart* m_chart = nullptr;
    QtCharts::QLineSeries* m_series = nullptr;
    QtCharts::QLineSeries* m_backgroundSeries = nullptr;
    QtCharts::QValueAxis* m_xAxis = nullptr;
    QtCharts::QAbstractAxis* m_yAxis = nullptr;
    QGraphicsRectItem* m_band = nullptr;
    double m_xFrom = 0, m_xTo = 0, m_yFrom = 0, m_yTo = 0; // the axes' ranges as set
    QString m_xTitle;
};
