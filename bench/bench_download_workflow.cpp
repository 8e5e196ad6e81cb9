// The window's whole survey download (period dialog answered, progress
// dialog, event processing, track and scene) against the bare
// txBuffDownload loop over the same records of the same simulated instrument.
//
// Prints "workflow: ratio <x>", the window's time over the bare loop's, the
// median of nine runs taken in turn, over loopback (2000 records), and
// "workflow latency1: ratio <x>" for 200 records from an instrument that
// waits 1 ms before every answer, as a USB instrument about does.
#include "bench_socket.h"
#include "bench_window.h"

#include <m30_protocol.h>
#include <orvisk.h>

#include <sim/simulator.h>

#include <cstdio>
#include <cstring>
#include <optional>

namespace {

using namespace bench;

const int kRuns = 9;

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
    useInstrument(s.instruments()[0].port);
    MainWindow window;
    auto bare = std::make_shared<M30Protocol>();
    if (!connectWindow(window) ||
        !window.device()->registerProtocol(bare)) {
        std::fprintf(stderr, "%s: no connection to the simulator\n", name);
        return false;
    }
    std::optional<QuietStdout> quiet(std::in_place);
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
    quiet.reset();
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
    QTemporaryDir config;
    bench::useOffscreenWindow(config);
    QApplication app(argc, argv);
    const bool ok = run("workflow", 2000, std::chrono::milliseconds(0)) &&
                    run("workflow latency1", 200, std::chrono::milliseconds(1));
    return ok ? 0 : 1;
}
