// The whole window's share of a core while an M38 streams ten spectrum
// frames a second (1024 and 256 channels each) and the spectrum window shows
// them on a log scale. The simulator runs as a program of its own, so its
// work is not counted.
#include "bench_window.h"

#include <spectrum_window.h>

#include <QAbstractButton>
#include <QProcess>
#include <QRegularExpression>

#include <sys/resource.h>

#include <cstdio>

namespace {

constexpr int kWarmUpMs = 3000;
constexpr int kMeasuredMs = 20000;

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

} // namespace

int main(int argc, char** argv)
{
    QTemporaryDir config;
    bench::useOffscreenWindow(config);
    QApplication app(argc, argv);

    QProcess sim;
    sim.start(QStringLiteral(ORVISK_SIM),
              {QStringLiteral("--family"), QStringLiteral("M38"), QStringLiteral("--events"),
               QStringLiteral("10"), QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0"),
               QStringLiteral("--discovery"), QStringLiteral("off")});
    QByteArray said;
    const QRegularExpression listening(QStringLiteral("tcp:127\\.0\\.0\\.1:(\\d+)"));
    QRegularExpressionMatch port;
    while (!(port = listening.match(QString::fromLatin1(said))).hasMatch() &&
           sim.waitForReadyRead(10000))
        said += sim.readAllStandardOutput();
    if (!port.hasMatch()) {
        std::fprintf(stderr, "the simulator did not start: %s\n", said.constData());
        return 1;
    }
    bench::useInstrument(uint16_t(port.captured(1).toUInt()));

    MainWindow window;
    window.show();
    window.findChild<QPushButton*>("btnConnect")->click();
    for (int i = 0; i < 500 && window.device()->type() != MXX_TYPE_M38; ++i)
        QTest::qWait(10);
    if (window.device()->type() != MXX_TYPE_M38) {
        std::fprintf(stderr, "no M38 connected\n");
        return 1;
    }
    QTest::keyClick(&window, Qt::Key_G, Qt::ControlModifier);
    SpectrumWindow* spectrum = window.spectrumWindow();
    spectrum->findChild<QAbstractButton*>(QStringLiteral("spectrumLog"))->setChecked(true);
    QTest::qWait(kWarmUpMs);

    const uint64_t before = spectrum->accumulator().spectraAdded();
    QElapsedTimer wall;
    const double cpuBefore = cpuSeconds();
    wall.start();
    QTest::qWait(kMeasuredMs);
    const double cpu = cpuSeconds() - cpuBefore;
    const double seconds = double(wall.nsecsElapsed()) / 1e9;
    const uint64_t spectra = spectrum->accumulator().spectraAdded() - before;
    sim.terminate();
    sim.waitForFinished(5000);
    std::printf("%llu spectrum frames in %.1f s, %.2f s of CPU\n",
                static_cast<unsigned long long>(spectra), seconds, cpu);
    std::printf("live spectra: cpu %.3f\n", cpu / seconds);
    return spectra > 0 ? 0 : 1;
}
