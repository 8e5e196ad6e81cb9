// A survey download over a lossy link against the same download over a clean
// one: 200 records from a simulated instrument that breaks the payload check
// of 5 % of its answer frames, and from one that breaks none, each fetched
// as the window and orvisk-download fetch them (index list, then every record
// newest first, with retries).
//
// Prints "lossy download: ratio <x>", the lossy download's time over the
// clean one's: the median of rounds that alternate the two, repeated until
// they have run for a second or more.
#include "bench_socket.h"

#include <m30_protocol.h>
#include <mxx_comm.h>
#include <mxx_device.h>
#include <survey_download.h>

#include <sim/frame_server.h>
#include <sim/model.h>
#include <sim/survey_store.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <cstdio>

namespace {

using namespace bench;

const std::size_t kRecords = 200;

struct Link
{
    std::shared_ptr<sim::Instrument> instrument;
    std::unique_ptr<sim::Model> model;
    uint16_t port = 0;
    MXXDevice device;
    std::shared_ptr<M30Protocol> m30 = std::make_shared<M30Protocol>();
};

bool connectDevice(Link& link)
{
    QEventLoop loop;
    QObject::connect(&link.device, &MXXDevice::connected, &loop, &QEventLoop::quit);
    QObject::connect(&link.device, &MXXDevice::connectionError, &loop, &QEventLoop::quit);
    QTimer::singleShot(5000, &loop, &QEventLoop::quit);
    if (!link.device.connect(QStringLiteral("tcp:127.0.0.1:%1").arg(link.port)))
        return false;
    loop.exec();
    return link.device.type() == MXX_TYPE_M30 && link.device.registerProtocol(link.m30);
}

// Seconds for the whole download, or -1 when a record is missing.
double download(Link& link)
{
    const auto start = Clock::now();
    SurveyDownload d(*link.m30, link.device.connId());
    if (!d.fetchIndices())
        return -1;
    d.fetchRecords([](int, const SurveyRecord*) { return true; });
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return d.inPeriod() == int(kRecords) && d.missing().empty() ? seconds : -1;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (MXX_init(nullptr, nullptr, nullptr) != 0) {
        std::fprintf(stderr, "transport failed to start\n");
        return 1;
    }
    int status = 0;
    {
        sim::WalkConfig walk;
        walk.records = kRecords;
        walk.now = 1796000000;
        auto store = std::make_shared<const sim::SurveyStore>(sim::SurveyStore::walk(walk));
        sim::FrameServer server;
        Link clean, lossy;
        for (Link* link : {&clean, &lossy}) {
            link->instrument = std::make_shared<sim::Instrument>("C0000001");
            link->instrument->set_log_limit(16);
            sim::Faults faults;
            faults.corrupt = link == &lossy ? 0.05 : 0;
            faults.seed = 7;
            link->instrument->set_faults(faults);
            link->model = std::make_unique<sim::Model>(link->instrument, store, sim::ModelConfig{});
            link->model->install();
            link->port = server.serve_tcp(link->instrument);
        }
        server.start();
        if (!connectDevice(clean) || !connectDevice(lossy)) {
            std::fprintf(stderr, "lossy download: no connection to the simulator\n");
            status = 1;
        }
        std::vector<double> ratios;
        double cleanTotal = 0, lossyTotal = 0;
        while (status == 0 && (ratios.size() < 5 || cleanTotal + lossyTotal < 1.0)) {
            const double c = download(clean), l = download(lossy);
            if (c <= 0 || l <= 0) {
                std::fprintf(stderr, "lossy download: a record was missing\n");
                status = 1;
                break;
            }
            cleanTotal += c;
            lossyTotal += l;
            ratios.push_back(l / c);
        }
        if (status == 0) {
            std::printf("lossy download: ratio %.2f\n", median(ratios));
            std::printf("# %zu rounds of %zu records: clean %.3f s, 5 %% corrupted %.3f s a "
                        "round\n",
                        ratios.size(), kRecords, cleanTotal / double(ratios.size()),
                        lossyTotal / double(ratios.size()));
        }
        clean.device.disconnect();
        lossy.device.disconnect();
    }
    MXX_shut();
    return status;
}
