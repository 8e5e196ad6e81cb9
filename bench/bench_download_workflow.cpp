// The window's whole survey download (period dialog answered, progress
// dialog, event processing, track and scene) against the bare
// txBuffDownload loop over the same records of the same simulated instrument.
//
// Prints "workflow: ratio <x>", the window's time over the bare loop's, the
// median of runs taken in turn.
#include "bench_socket.h"

#include <download_dialog.h>
#include <m30_protocol.h>
#include <main_window.h>
#include <mxx_device.h>
#include <orvisk.h>

#include <sim/simulator.h>

#include <QApplication>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <fcntl.h>

#include <cstdio>
#include <cstring>

namespace {

using namespace bench;

const int kRuns = 3;

void answerPeriodDialogWithAll()
{
    auto* timer = new QTimer;
    timer->setInterval(1);
    QObject::connect(timer, &QTimer::timeout, [timer] {
        auto* dialog = qobject_cast<DownloadDialog*>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        timer->stop();
        timer->deleteLater();
        dialog->findChild<QRadioButton*>("radioButton")->setChecked(true);
        dialog->findChild<QPushButton*>("btn_start")->click();
    });
    timer->start();
}

// What the window does without the window: the list, then every record.
bool bareLoop(M30Protocol& m30, int expected)
{
    std::vector<uint32_t> indices(10000);
    int count = 0;
    if (!m30.txBuffDownload(1, 0, 1, 10000, 0, 0, &count, nullptr, nullptr,
                            reinterpret_cast<char*>(indices.data()), 40000, nullptr) ||
        count != expected)
        return false;
    char record[M30_SURVEY_RECORD_SIZE];
    for (int i = count - 1; i >= 0; --i) {
        std::memset(record, 0, sizeof record);
        int scratch = 0;
        if (!m30.txBuffDownload(3, 0, int(indices[std::size_t(i)]), 1, 0, 0, &scratch, nullptr,
                                nullptr, record, sizeof record, nullptr))
            return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir config; // the window's settings go here, not to the user's
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    QApplication app(argc, argv);

    sim::SimOptions o;
    o.listen_port = 0;
    o.discovery = false;
    o.events_hz = 0;
    o.records = 2000;
    sim::Simulator s(o);
    s.start();
    QSettings().setValue("ConnectionString",
                         QStringLiteral("tcp:127.0.0.1:%1").arg(s.instruments()[0].port));

    MainWindow window;
    window.findChild<QPushButton*>("btnConnect")->click();
    for (int i = 0; i < 500 && window.device()->type() != 12; ++i)
        QTest::qWait(10);
    auto bare = std::make_shared<M30Protocol>();
    if (window.device()->type() != 12 || !window.device()->registerProtocol(bare)) {
        std::fprintf(stderr, "workflow: no connection to the simulator\n");
        return 1;
    }
    // The window prints a line per record; the measurement is of the work.
    std::fflush(stdout);
    const int out = dup(1);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);

    std::vector<double> ratios;
    double windowTotal = 0, bareTotal = 0;
    for (int run = 0; run < kRuns; ++run) {
        answerPeriodDialogWithAll();
        auto t0 = Clock::now();
        window.findChild<QPushButton*>("btnDownload")->click();
        const double tw = std::chrono::duration<double>(Clock::now() - t0).count();
        t0 = Clock::now();
        const bool ok = bareLoop(*bare, 2000);
        const double tb = std::chrono::duration<double>(Clock::now() - t0).count();
        if (!ok || window.map()->getTrackLen() == 0) {
            dup2(out, 1);
            std::fprintf(stderr, "workflow: a download failed\n");
            return 1;
        }
        ratios.push_back(tw / tb);
        windowTotal += tw;
        bareTotal += tb;
    }
    std::fflush(stdout);
    dup2(out, 1);
    close(null);
    std::printf("workflow: ratio %.3f\n", median(ratios));
    std::printf("# workflow: 2000 records, window %.2f s, bare loop %.2f s per run\n",
                windowTotal / kRuns, bareTotal / kRuns);
    return 0;
}
