// How long the window's thread goes without handling its events while the
// window downloads: the longest gap between the ticks of a 10 ms timer on
// that thread, while 200 records come from an instrument that waits 200 ms
// before every answer, and while an instrument that falls silent after the
// index list is waited for. Each case runs for a few seconds and ends with
// Cancel, whose wind-down is measured too.
//
// Prints "window stall: max ms <x>" (the worse case) and one line per case.
// The figure is an absolute time, not a ratio: there is no baseline to wait
// on, only the 10 ms period itself.
#include "bench_socket.h"

#include <download_dialog.h>
#include <m30_protocol.h>
#include <mxx_bytes.h>
#include <main_window.h>
#include <mxx_device.h>

#include <sim/simulator.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <fcntl.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>

namespace {

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

// The longest gap between ticks, in ms, over a download cancelled after
// `cancelAfterMs`; -1 when the download could not start.
double longestGap(sim::Simulator& s, int cancelAfterMs)
{
    QSettings().setValue("ConnectionString",
                         QStringLiteral("tcp:127.0.0.1:%1").arg(s.instruments()[0].port));
    MainWindow window;
    window.findChild<QPushButton*>("btnConnect")->click();
    for (int i = 0; i < 500 && window.device()->type() != MXX_TYPE_M30; ++i)
        QTest::qWait(10);
    if (window.device()->type() != MXX_TYPE_M30)
        return -1;

    QElapsedTimer clock;
    qint64 last = -1, longest = 0;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        if (last >= 0)
            longest = std::max(longest, now - last);
        last = now;
    });
    QTimer cancel;
    cancel.setSingleShot(true);
    QObject::connect(&cancel, &QTimer::timeout, [] {
        if (auto* progress = qobject_cast<QProgressDialog*>(QApplication::activeModalWidget()))
            progress->findChild<QPushButton*>()->click();
    });
    answerPeriodDialogWithAll();
    QTimer::singleShot(0, [&] {
        clock.start();
        tick.start(10);
        cancel.start(cancelAfterMs);
    });
    window.findChild<QPushButton*>("btnDownload")->click();
    tick.stop();
    return double(longest);
}

sim::SimOptions options(std::chrono::milliseconds latency)
{
    sim::SimOptions o;
    o.listen_port = 0;
    o.discovery = false;
    o.events_hz = 0;
    o.records = 200;
    o.faults.latency = latency;
    return o;
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir config; // the window's settings go here, not to the user's
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    QApplication app(argc, argv);
    // The window prints a line per record.
    std::fflush(stdout);
    const int out = dup(1);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);

    sim::Simulator slow(options(std::chrono::milliseconds(200)));
    slow.start();
    const double latency = longestGap(slow, 3000);

    // Silent once the first record is asked for: the list came, nothing after.
    sim::Simulator silent(options(std::chrono::milliseconds(0)));
    silent.start();
    sim::Instrument& instrument = *silent.instruments()[0].instrument;
    std::atomic<bool> fell{false};
    instrument.set_tap([&](const char* direction, const sim::Bytes& frame) {
        const bool recordAsked = std::strcmp(direction, "in") == 0 && frame.size() >= 16 &&
                                 MXX_get_u16(frame.data() + 4) == 8411 && frame[12] == 3;
        if (recordAsked && !fell.exchange(true))
            for (uint16_t code : {8410, 8411, 8412})
                instrument.set_rule(code, sim::Rule::silence());
    });
    const double silence = longestGap(silent, 3500);

    std::fflush(stdout);
    dup2(out, 1);
    close(null);
    close(out);
    if (latency < 0 || silence < 0) {
        std::fprintf(stderr, "window stall: no connection to the simulator\n");
        return 1;
    }
    std::printf("window stall: max ms %.0f\n", std::max(latency, silence));
    std::printf("# window stall latency200: max ms %.0f (200 records, 200 ms an answer, "
                "cancelled after 3 s)\n",
                latency);
    std::printf("# window stall silent: max ms %.0f (silent after the index list, cancelled "
                "after 3.5 s)\n",
                silence);
    return 0;
}
