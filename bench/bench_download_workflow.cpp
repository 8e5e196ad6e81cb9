// The window's whole survey download (period dialog answered, progress
// dialog, event processing, track and scene) against the bare
// txBuffDownload loop over the same records of the same simulated instrument.
//
// Prints "workflow: ratio <x>", the window's time over the bare loop's, the
// median of nine runs taken in turn, over loopback (2000 records), and
// "workflow latency1: ratio <x>" for 200 records from an instrument that
// waits 1 ms before every answer, as a USB instrument about does.
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

const int kRuns = 9;

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

// One case: the window and the bare loop in turn, kRuns times; false when a
// download failed.
bool run(const char* name, std::size_t records, std::chrono::milliseconds latency)
{
    sim::SimOptions o;
    o.listen_port = 0;
    o.discovery = false;
    o.events_hz = 0;
    o.records = records;
    o.faults.latency = latency;
    sim::Simulator s(o);
    s.start();
    QSettings().setValue("ConnectionString",
                         QStringLiteral("tcp:127.0.0.1:%1").arg(s.instruments()[0].port));

    MainWindow window;
    window.findChild<QPushButton*>("btnConnect")->click();
    for (int i = 0; i < 500 && window.device()->type() != MXX_TYPE_M30; ++i)
        QTest::qWait(10);
    auto bare = std::make_shared<M30Protocol>();
    if (window.device()->type() != MXX_TYPE_M30 ||
        !window.device()->registerProtocol(bare)) {
        std::fprintf(stderr, "%s: no connection to the simulator\n", name);
        return false;
    }
    // The window prints a line per record; the measurement is of the work.
    std::fflush(stdout);
    const int out = dup(1);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);

    std::vector<double> ratios;
    double windowTotal = 0, bareTotal = 0;
    bool ok = true;
    for (int run = 0; run < kRuns && ok; ++run) {
        answerPeriodDialogWithAll();
        auto t0 = Clock::now();
        window.findChild<QPushButton*>("btnDownload")->click();
        const double tw = std::chrono::duration<double>(Clock::now() - t0).count();
        t0 = Clock::now();
        ok = bareLoop(*bare, int(records)) && window.map()->getTrackLen() > 0;
        const double tb = std::chrono::duration<double>(Clock::now() - t0).count();
        ratios.push_back(tw / tb);
        windowTotal += tw;
        bareTotal += tb;
    }
    std::fflush(stdout);
    dup2(out, 1);
    close(null);
    close(out);
    if (!ok) {
        std::fprintf(stderr, "%s: a download failed\n", name);
        return false;
    }
    std::printf("%s: ratio %.3f\n", name, median(ratios));
    std::printf("# %s: %zu records, window %.3f s, bare loop %.3f s per run\n", name, records,
                windowTotal / kRuns, bareTotal / kRuns);
    std::fflush(stdout);
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir config; // the window's settings go here, not to the user's
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    QApplication app(argc, argv);
    const bool ok = run("workflow", 2000, std::chrono::milliseconds(0)) &&
                    run("workflow latency1", 200, std::chrono::milliseconds(1));
    return ok ? 0 : 1;
}
