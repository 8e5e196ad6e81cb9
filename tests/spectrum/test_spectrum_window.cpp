// The spectrum window as the surveyor sees it: what the chart is handed for
// the streamed spectra, the read-outs, the energy axis, a region dragged out
// with the mouse, background subtraction, and N42 files in and out.
#include "n42_file.h"
#include "spectrum_window.h"

#include <QChart>
#include <QChartView>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineSeries>
#include <QLogValueAxis>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <random>

using namespace QtCharts;

namespace {

std::vector<uint64_t> randomCounts(std::size_t channels, unsigned seed, bool withZeros = false)
{
    std::mt19937 random(seed);
    std::vector<uint64_t> counts(channels);
    for (std::size_t i = 0; i < channels; ++i)
        counts[i] =
            withZeros && i % 3 == 0 ? 0 : std::uniform_int_distribution<uint64_t>(0, 500)(random);
    return counts;
}

SpectrumData spectrum(std::vector<uint64_t> counts, double live = 1.0, double real = 1.25)
{
    SpectrumData s;
    s.counts = std::move(counts);
    s.liveSeconds = live;
    s.realSeconds = real;
    return s;
}

SpectrumSource instrument()
{
    return SpectrumSource{QStringLiteral("M22"), QStringLiteral("6000001"), QByteArray("M22 v2"),
                          QStringLiteral("NaI(Tl) 40x40 mm")};
}

QChart* chartOf(SpectrumWindow& w)
{
    return w.findChild<QChartView*>(QStringLiteral("spectrumChart"))->chart();
}

QLineSeries* seriesOf(SpectrumWindow& w, const QString& name)
{
    for (QAbstractSeries* s : chartOf(w)->series())
        if (s->objectName() == name)
            return qobject_cast<QLineSeries*>(s);
    return nullptr;
}

QString textOf(SpectrumWindow& w, const char* label)
{
    return w.findChild<QLabel*>(QString::fromLatin1(label))->text();
}

std::vector<double> yOf(QLineSeries* series)
{
    std::vector<double> y;
    for (const QPointF& p : series->pointsVector())
        y.push_back(p.y());
    return y;
}

std::vector<double> asDoubles(const std::vector<uint64_t>& counts)
{
    return std::vector<double>(counts.begin(), counts.end());
}

// Where the middle of a channel is drawn, in the chart view's viewport.
QPoint pixelOfChannel(SpectrumWindow& w, QLineSeries* series, int channel)
{
    auto* view = w.findChild<QChartView*>(QStringLiteral("spectrumChart"));
    const QPointF point = series->pointsVector().at(channel);
    QPointF inChart = view->chart()->mapToPosition(point, series);
    inChart.setY(view->chart()->plotArea().center().y());
    return view->mapFromScene(view->chart()->mapToScene(inChart));
}

void showWindow(SpectrumWindow& w)
{
    w.resize(1000, 600);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QTRY_VERIFY(chartOf(w)->plotArea().width() > 500);
}

} // namespace

class TestSpectrumWindow : public QObject
{
    Q_OBJECT

private slots:
    void streamedSpectraAreSummedAndCounted();
    void logAxisTakesEmptyChannels();
    void calibration();
    void regionDraggedWithTheMouse();
    void backgroundSubtraction();
    void files();
};

void TestSpectrumWindow::streamedSpectraAreSummedAndCounted()
{
    SpectrumWindow w;
    w.setSource(instrument(), {QStringLiteral("Spectrum")}, SpectrumAccumulator::Mode::Accumulate);
    showWindow(w);
    QCOMPARE(w.windowTitle(), QStringLiteral("Spectrum - M22 6000001"));
    QVERIFY(!w.findChild<QComboBox*>(QStringLiteral("spectrumStream"))->isVisible());

    // 11 twice (the second not added), then 15 after 12: a gap of two.
    const uint64_t sequences[] = {10, 11, 11, 12, 15, 16};
    std::vector<uint64_t> sum(64, 0);
    uint64_t total = 0;
    for (unsigned k = 0; k < 6; ++k) {
        const std::vector<uint64_t> counts = randomCounts(64, k);
        w.addSpectrum(0, spectrum(counts), sequences[k]);
        if (k == 2)
            continue;
        for (std::size_t i = 0; i < 64; ++i) {
            sum[i] += counts[i];
            total += counts[i];
        }
    }
    QCOMPARE(w.accumulator().spectrum().counts, sum);
    QLineSeries* shown = seriesOf(w, QStringLiteral("spectrum"));
    QTRY_COMPARE(yOf(shown), asDoubles(sum));
    QCOMPARE(shown->at(7).x(), 7.5); // the middle of channel 7
    QVERIFY(textOf(w, "spectrumSequence").contains(QStringLiteral("Spectra 5")));
    QVERIFY(textOf(w, "spectrumSequence").contains(QStringLiteral("duplicates not added 1")));
    QVERIFY(textOf(w, "spectrumSequence").contains(QStringLiteral("gaps 1 (2 spectra missed)")));
    QVERIFY(textOf(w, "spectrumCounts").contains(QStringLiteral("Counts %1 ").arg(total)));
    QVERIFY(textOf(w, "spectrumTimes").contains(QStringLiteral("Live time 5.0 s")));
    QVERIFY(textOf(w, "spectrumTimes").contains(QStringLiteral("dead time 20.0 %")));

    // Latest: only the last one is drawn.
    w.findChild<QComboBox*>(QStringLiteral("spectrumMode"))->setCurrentIndex(1);
    emit w.findChild<QComboBox*>(QStringLiteral("spectrumMode"))->activated(1);
    QCOMPARE(w.accumulator().spectraAdded(), uint64_t(0));
    w.addSpectrum(0, spectrum(randomCounts(64, 20)), 1);
    w.addSpectrum(0, spectrum(randomCounts(64, 21)), 2);
    QTRY_COMPARE(yOf(shown), asDoubles(randomCounts(64, 21)));

    // Another channel count starts again, and says why.
    w.addSpectrum(0, spectrum(randomCounts(32, 22)), 3);
    QTRY_COMPARE(yOf(shown), asDoubles(randomCounts(32, 22)));
    QVERIFY(textOf(w, "spectrumMessage").contains(QStringLiteral("32 channels instead of 64")));

    // Two streams: each has its own sum; the chooser shows the other.
    w.setSource(instrument(), {QStringLiteral("1024 channels"), QStringLiteral("256 channels")},
                SpectrumAccumulator::Mode::Accumulate);
    auto* streams = w.findChild<QComboBox*>(QStringLiteral("spectrumStream"));
    QVERIFY(streams->isVisible());
    w.addSpectrum(0, spectrum(randomCounts(1024, 30)), 1);
    w.addSpectrum(1, spectrum(randomCounts(256, 31)), 1);
    w.addSpectrum(1, spectrum(randomCounts(256, 32)), 2);
    QCOMPARE(w.accumulator().spectraAdded(), uint64_t(1));
    QTRY_COMPARE(shown->count(), 1024);
    streams->setCurrentIndex(1);
    emit streams->activated(1);
    QCOMPARE(w.accumulator().spectraAdded(), uint64_t(2));
    QCOMPARE(shown->count(), 256);
    const double first = double(randomCounts(256, 31)[0] + randomCounts(256, 32)[0]);
    QCOMPARE(shown->at(0).y(), first);

    // Hidden, the window draws nothing; shown again, it catches up at once.
    w.hide();
    w.addSpectrum(1, spectrum(randomCounts(256, 33)), 3);
    QTest::qWait(3 * SpectrumWindow::kRedrawMilliseconds);
    QCOMPARE(shown->at(0).y(), first);
    w.show();
    QCOMPARE(shown->at(0).y(), first + double(randomCounts(256, 33)[0]));
}

void TestSpectrumWindow::logAxisTakesEmptyChannels()
{
    SpectrumWindow w;
    w.setSource(instrument(), {QStringLiteral("Spectrum")}, SpectrumAccumulator::Mode::Latest);
    showWindow(w);
    const std::vector<uint64_t> counts = randomCounts(128, 1, true);
    w.addSpectrum(0, spectrum(counts), SpectrumAccumulator::kNoSequence);
    w.findChild<QCheckBox*>(QStringLiteral("spectrumLog"))->setChecked(true);
    QLineSeries* shown = seriesOf(w, QStringLiteral("spectrum"));
    auto* axis = qobject_cast<QLogValueAxis*>(shown->attachedAxes().at(1));
    if (!axis)
        axis = qobject_cast<QLogValueAxis*>(shown->attachedAxes().at(0));
    QVERIFY(axis);
    QVERIFY(axis->min() > 0);
    for (int i = 0; i < 128; ++i) {
        const double y = shown->at(i).y();
        // Empty channels sit on the axis's floor; the others are drawn as counted.
        QVERIFY2(y >= axis->min() && y <= axis->max(), qPrintable(QString::number(i)));
        if (counts[std::size_t(i)] > 0)
            QCOMPARE(y, double(counts[std::size_t(i)]));
    }
    // A spectrum with nothing in it at all, drawn on a log axis.
    w.addSpectrum(0, spectrum(std::vector<uint64_t>(128, 0)), SpectrumAccumulator::kNoSequence);
    QTRY_VERIFY(shown->at(5).y() >= axis->min());
    QVERIFY(!w.grab().isNull());

    w.findChild<QCheckBox*>(QStringLiteral("spectrumLog"))->setChecked(false);
    QCOMPARE(shown->at(5).y(), 0.0);
}

void TestSpectrumWindow::calibration()
{
    SpectrumWindow w;
    w.setSource(instrument(), {QStringLiteral("Spectrum")}, SpectrumAccumulator::Mode::Accumulate);
    showWindow(w);
    auto* axisBox = w.findChild<QComboBox*>(QStringLiteral("spectrumAxis"));
    QLineSeries* shown = seriesOf(w, QStringLiteral("spectrum"));
    QString error;
    QVERIFY(!w.setCalibration({0, 1}, &error)); // no spectrum: no channels to check it on

    SpectrumData s = spectrum(randomCounts(64, 5));
    w.addSpectrum(0, s, 1);
    QTRY_COMPARE(shown->count(), 64);
    QCOMPARE(axisBox->currentIndex(), 0); // no calibration: channels only

    // The instrument's calibration gives the energy axis.
    s.calibration.coefficients = {0, 3};
    w.addSpectrum(0, s, 2);
    QTRY_COMPARE(shown->at(20).x(), 61.5);
    QCOMPARE(axisBox->currentIndex(), 1);

    // Yours wins: 100 keV at channel 10, 500 keV at channel 50.
    QVERIFY(w.setCalibrationFromPeaks(10, 100, 50, 500, &error));
    QCOMPARE(shown->at(20).x(), 205.0);
    w.setRegion(20, 29);
    QVERIFY2(textOf(w, "spectrumRegion").contains(QStringLiteral("200.0\u2013300.0 keV")),
             qPrintable(textOf(w, "spectrumRegion")));

    // Falling, or two peaks at one channel: refused, the reason shown, nothing changed.
    QVERIFY(!w.setCalibration({500, -2, 0}, &error));
    QVERIFY(error.contains(QStringLiteral("does not rise")));
    QCOMPARE(textOf(w, "spectrumMessage"), error);
    QCOMPARE(shown->at(20).x(), 205.0);
    QVERIFY(!w.setCalibrationFromPeaks(10, 100, 10, 500, &error));
    QVERIFY(error.contains(QStringLiteral("same channel")));
    QVERIFY(!w.setCalibrationFromPeaks(10, 500, 50, 100, &error));
    QCOMPARE(shown->at(20).x(), 205.0);

    w.clearCalibration();
    QCOMPARE(shown->at(20).x(), 61.5);
    axisBox->setCurrentIndex(0);
    emit axisBox->activated(0);
    QCOMPARE(shown->at(20).x(), 20.5);
}

void TestSpectrumWindow::regionDraggedWithTheMouse()
{
    SpectrumWindow w;
    w.setSource(instrument(), {QStringLiteral("Spectrum")}, SpectrumAccumulator::Mode::Accumulate);
    showWindow(w);
    std::vector<uint64_t> sum(64, 0);
    for (unsigned k = 0; k < 3; ++k) {
        const std::vector<uint64_t> counts = randomCounts(64, 40 + k);
        for (std::size_t i = 0; i < 64; ++i)
            sum[i] += counts[i];
        w.addSpectrum(0, spectrum(counts, 2.0, 2.0), k);
    }
    QLineSeries* shown = seriesOf(w, QStringLiteral("spectrum"));
    QTRY_COMPARE(yOf(shown), asDoubles(sum));
    QWidget* viewport = w.findChild<QChartView*>(QStringLiteral("spectrumChart"))->viewport();

    auto drag = [&](int from, int to) {
        QTest::mousePress(viewport, Qt::LeftButton, {}, pixelOfChannel(w, shown, from));
        QTest::mouseMove(viewport, pixelOfChannel(w, shown, (from + to) / 2));
        QTest::mouseRelease(viewport, Qt::LeftButton, {}, pixelOfChannel(w, shown, to));
    };
    // The channels, and the sum and rate an independent loop gives for them.
    auto shows = [&](int from, int to) {
        uint64_t roi = 0;
        for (int i = from; i <= to; ++i)
            roi += sum[std::size_t(i)];
        const QString text = textOf(w, "spectrumRegion");
        return text.contains(QStringLiteral("channels %1\u2013%2").arg(from).arg(to)) &&
               text.contains(QStringLiteral(" \u00b7 %1 counts \u00b7 %2 counts/s")
                                 .arg(roi)
                                 .arg(double(roi) / 6.0, 0, 'f', 2));
    };

    // Right to left counts the same as left to right.
    drag(40, 12);
    QVERIFY2(shows(12, 40), qPrintable(textOf(w, "spectrumRegion")));

    // On an energy axis the drag goes through the calibration back to channels.
    QString error;
    QVERIFY(w.setCalibration({30, 7, 0.05}, &error));
    drag(3, 21);
    QVERIFY2(shows(3, 21), qPrintable(textOf(w, "spectrumRegion")));
    QVERIFY(textOf(w, "spectrumRegion").contains(QStringLiteral("(51.5\u2013208.2 keV)")));

    // A click leaves the region; the right button clears it.
    QTest::mouseClick(viewport, Qt::LeftButton, {}, pixelOfChannel(w, shown, 50));
    QVERIFY(shows(3, 21));
    QTest::mouseClick(viewport, Qt::RightButton, {}, pixelOfChannel(w, shown, 50));
    QVERIFY(!textOf(w, "spectrumRegion").contains(QStringLiteral("channels")));
}

void TestSpectrumWindow::backgroundSubtraction()
{
    QTemporaryDir dir;
    SpectrumWindow w;
    w.setSource(instrument(), {QStringLiteral("Spectrum")}, SpectrumAccumulator::Mode::Accumulate);
    showWindow(w);
    const std::vector<uint64_t> gross = randomCounts(64, 50);
    w.addSpectrum(0, spectrum(gross, 100, 100), 1);

    // 400 s of background against 100 s: a quarter of it is subtracted.
    const std::vector<uint64_t> background = randomCounts(64, 51);
    const QString path = dir.filePath(QStringLiteral("background.n42"));
    QString error;
    QVERIFY(writeN42(path, instrument(), {spectrum(background, 400, 400)}, &error));
    QVERIFY2(w.openBackground(path, &error), qPrintable(error));

    QLineSeries* overlay = seriesOf(w, QStringLiteral("background"));
    QVERIFY(overlay->isVisible());
    for (int i = 0; i < 64; ++i)
        QCOMPARE(overlay->at(i).y(), 0.25 * double(background[std::size_t(i)]));

    w.findChild<QCheckBox*>(QStringLiteral("spectrumSubtract"))->setChecked(true);
    w.setRegion(8, 30);
    double net = 0;
    for (int i = 8; i <= 30; ++i)
        net += double(gross[std::size_t(i)]) - 0.25 * double(background[std::size_t(i)]);
    QVERIFY2(
        textOf(w, "spectrumRegion").contains(QStringLiteral("net %1 counts").arg(net, 0, 'f', 1)),
        qPrintable(textOf(w, "spectrumRegion")));
    QLineSeries* shown = seriesOf(w, QStringLiteral("spectrum"));
    QCOMPARE(shown->at(9).y(), double(gross[9]) - 0.25 * double(background[9]));
    QVERIFY(!overlay->isVisible());

    // A background of another channel count is refused; the one loaded stays.
    const QString other = dir.filePath(QStringLiteral("other.n42"));
    QVERIFY(writeN42(other, instrument(), {spectrum(randomCounts(128, 52), 400, 400)}, &error));
    QVERIFY(!w.openBackground(other, &error));
    QVERIFY2(error.contains(QStringLiteral("128 channels")), qPrintable(error));
    QCOMPARE(textOf(w, "spectrumMessage"), error);
    QCOMPARE(shown->at(9).y(), double(gross[9]) - 0.25 * double(background[9]));
}

void TestSpectrumWindow::files()
{
    QTemporaryDir dir;
    SpectrumWindow w;
    w.setSource(instrument(), {QStringLiteral("Spectrum")}, SpectrumAccumulator::Mode::Accumulate);
    showWindow(w);
    QString error;
    const QString single = dir.filePath(QStringLiteral("sum.n42"));
    QVERIFY(!w.saveSpectrum(single, false, &error)); // nothing yet

    std::vector<std::vector<uint64_t>> streamed;
    for (unsigned k = 0; k < 4; ++k) {
        streamed.push_back(randomCounts(64, 60 + k));
        w.addSpectrum(0, spectrum(streamed.back(), 1, 1), k == 3 ? 2 : k); // the last repeats
    }
    const std::vector<uint64_t> sum = w.accumulator().spectrum().counts;
    QVERIFY2(w.saveSpectrum(single, false, &error), qPrintable(error));
    const QString series = dir.filePath(QStringLiteral("series.n42"));
    QVERIFY2(w.saveSpectrum(series, true, &error), qPrintable(error));

    const std::optional<N42Contents> written = readN42(series, &error);
    QVERIFY2(written, qPrintable(error));
    QCOMPARE(written->source.serial, QStringLiteral("6000001"));
    QCOMPARE(written->spectra.size(), std::size_t(3));
    for (std::size_t k = 0; k < 3; ++k)
        QCOMPARE(written->spectra[k].counts, streamed[k]);

    // The saved sum comes back as it was, instead of the live stream.
    w.findChild<QPushButton*>(QStringLiteral("spectrumClear"))->click();
    QVERIFY2(w.openSpectrum(single, &error), qPrintable(error));
    QLineSeries* shown = seriesOf(w, QStringLiteral("spectrum"));
    QCOMPARE(yOf(shown), asDoubles(sum));
    QVERIFY(w.findChild<QPushButton*>(QStringLiteral("spectrumLive"))->isVisible());
    w.addSpectrum(0, spectrum(randomCounts(64, 70)), 10);
    QTest::qWait(2 * SpectrumWindow::kRedrawMilliseconds);
    QCOMPARE(yOf(shown), asDoubles(sum));
    w.findChild<QPushButton*>(QStringLiteral("spectrumLive"))->click();
    QCOMPARE(yOf(shown), asDoubles(randomCounts(64, 70)));

    // Files that cannot be shown are refused with the reason; the view stays.
    const QString junk = dir.filePath(QStringLiteral("junk.n42"));
    QFile file(junk);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("this is not XML");
    file.close();
    QVERIFY(!w.openSpectrum(junk, &error));
    QVERIFY(error.contains(QStringLiteral("cannot be read")));
    QCOMPARE(textOf(w, "spectrumMessage"), error);
    QVERIFY(!w.viewingFile());

    QFile saved(single);
    QVERIFY(saved.open(QIODevice::ReadOnly));
    QString text = QString::fromUtf8(saved.readAll());
    saved.close();
    text.replace(QRegularExpression(QStringLiteral("<ChannelData[^>]*>[^<]*</ChannelData>")),
                 QStringLiteral("<ChannelData></ChannelData>"));
    const QString empty = dir.filePath(QStringLiteral("empty.n42"));
    QFile emptyFile(empty);
    QVERIFY(emptyFile.open(QIODevice::WriteOnly));
    emptyFile.write(text.toUtf8());
    emptyFile.close();
    QVERIFY(!w.openSpectrum(empty, &error));
    QVERIFY2(error.contains(QStringLiteral("0 channels")), qPrintable(error));
    QCOMPARE(yOf(shown), asDoubles(randomCounts(64, 70)));

    // A long stream keeps its last kSeriesLimit spectra, and says so.
    for (uint64_t k = 0; k < SpectrumWindow::kSeriesLimit + 5; ++k)
        w.addSpectrum(0, spectrum({k, 1, 2, 3}, 1, 1), 100 + k);
    QVERIFY2(w.saveSpectrum(series, true, &error), qPrintable(error));
    QVERIFY(textOf(w, "spectrumMessage")
                .contains(QStringLiteral("last %1 of the %2")
                              .arg(SpectrumWindow::kSeriesLimit)
                              .arg(SpectrumWindow::kSeriesLimit + 5)));
    const std::optional<N42Contents> last = readN42(series, &error);
    QVERIFY2(last, qPrintable(error));
    QCOMPARE(last->spectra.size(), SpectrumWindow::kSeriesLimit);
    QCOMPARE(last->spectra.front().counts.front(), uint64_t(5));
}

QTEST_MAIN(TestSpectrumWindow)
#include "test_spectrum_window.moc"
