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
#include "bench_window.h"

#include <mxx_bytes.h>

#include <sim/simulator.h>

#include <QElapsedTimer>
#include <QProgressDialog>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <optional>

namespace {

using namespace bench;

// The longest gap between ticks, in ms, over a download cancelled after
// `cancelAfterMs`; -1 when the download could not start.
double longestGap(sim::Simulator& s, int cancelAfterMs)
{
    useInstrument(s.instruments()[0].port);
    MainWindow window;
    if (!connectWindow(window))
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
    QTemporaryDir config;
    bench::useOffscreenWindow(config);
    QApplication app(argc, argv);
    std::optional<QuietStdout> quiet(std::in_place);

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

    quiet.reset();
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
