// The survey download as the window does it (the index list, then every
// record newest first, through M30Protocol::txBuffDownload) against a bare
// blocking-socket client making exactly the same exchanges with the same
// simulated instrument.
//
// Prints "download <case>: ratio <x>", x being the host's time over the bare
// client's. The two run in interleaved blocks of records, so that load from
// elsewhere on the machine hits both alike; the ratio is the median of the
// blocks'. Then "exchange lock: ratio <x>": the host's download with the
// exchanges on a connection taking turns against the same without.
#include "bench_socket.h"

#include <m30_protocol.h>
#include <mdd_comm.h>
#include <mxx_bytes.h>
#include <mxx_comm.h>
#include <mxx_comm_internal.h>
#include <mxx_device.h>

#include <sim/frame_server.h>
#include <sim/model.h>
#include <sim/survey_store.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <cstdio>
#include <cstring>

namespace {

using namespace bench;

const std::size_t kRecords = 2000;
const int kBlocks = 10;

// The same exchanges with plain frames over a blocking socket.
class BareClient
{
public:
    explicit BareClient(uint16_t port) : fd_(connectTo(port)) {}
    ~BareClient() { close(fd_); }

    bool valid() const { return fd_ >= 0; }

    // One item: info, prepare, chunks until an empty one. Returns the item bytes.
    bool download(uint32_t kind, uint32_t start, uint32_t limit, std::vector<uint8_t>& item)
    {
        uint8_t info[4] = {};
        if (!exchange(8410, info, sizeof info, 3000))
            return false;
        const uint32_t handle = MXX_get_u32(answer_.data() + 12 + 4);
        uint8_t prepare[68] = {};
        const uint32_t words[] = {kind, 0, start, limit};
        for (int i = 0; i < 4; ++i)
            MXX_put_u32(prepare + 4 * i, words[i]);
        if (!exchange(8411, prepare, sizeof prepare, 20000))
            return false;
        item.clear();
        for (;;) {
            uint8_t chunk[12];
            MXX_put_u32(chunk, static_cast<uint32_t>(item.size()));
            MXX_put_u32(chunk + 4, handle);
            MXX_put_u32(chunk + 8, 0);
            if (!exchange(8412, chunk, sizeof chunk, 3000))
                return false;
            const uint32_t n = MXX_get_u32(answer_.data() + 12);
            if (n == 0)
                return true;
            const uint8_t* bytes = answer_.data() + 12 + 8;
            item.insert(item.end(), bytes, bytes + n);
        }
    }

private:
    bool exchange(uint16_t code, const uint8_t* payload, uint16_t size, uint16_t timeout)
    {
        uint8_t frame[128];
        const int n = MXX_make_command(frame, code, payload, size, timeout);
        if (!writeAll(fd_, frame, size_t(n)))
            return false;
        answer_.resize(12);
        if (!readAll(fd_, answer_.data(), 12))
            return false;
        const uint16_t length = MXX_get_u16(answer_.data() + 6);
        answer_.resize(12 + length);
        return readAll(fd_, answer_.data() + 12, length) && answer_[10] == 0;
    }

    int fd_;
    std::vector<uint8_t> answer_;
};

struct Instruments
{
    sim::FrameServer server;
    std::shared_ptr<sim::Instrument> host, bare;
    std::vector<std::unique_ptr<sim::Model>> models;
    uint16_t hostPort = 0, barePort = 0;

    explicit Instruments(std::chrono::milliseconds latency)
    {
        sim::WalkConfig walk;
        walk.records = kRecords;
        walk.now = 1796000000;
        auto store = std::make_shared<const sim::SurveyStore>(sim::SurveyStore::walk(walk));
        sim::Faults faults;
        faults.latency = latency;
        for (auto* inst : {&host, &bare}) {
            *inst = std::make_shared<sim::Instrument>("C0000001");
            (*inst)->set_log_limit(16);
            (*inst)->set_faults(faults);
            models.push_back(std::make_unique<sim::Model>(*inst, store, sim::ModelConfig{}));
            models.back()->install();
        }
        hostPort = server.serve_tcp(host);
        barePort = server.serve_tcp(bare);
        server.start();
    }
};

bool connectDevice(MXXDevice& device, uint16_t port)
{
    QEventLoop loop;
    QObject::connect(&device, &MXXDevice::connected, &loop, &QEventLoop::quit);
    QObject::connect(&device, &MXXDevice::connectionError, &loop, &QEventLoop::quit);
    QTimer::singleShot(5000, &loop, &QEventLoop::quit);
    if (!device.connect(QStringLiteral("tcp:127.0.0.1:%1").arg(port)))
        return false;
    loop.exec();
    return device.type() == MXX_TYPE_M30;
}

// One case; false when a download failed.
bool run(const char* name, std::chrono::milliseconds latency)
{
    Instruments sims(latency);
    MXXDevice device;
    auto m30 = std::make_shared<M30Protocol>();
    if (!connectDevice(device, sims.hostPort) || !device.registerProtocol(m30)) {
        std::fprintf(stderr, "download %s: no connection to the simulator\n", name);
        return false;
    }
    BareClient bare(sims.barePort);
    if (!bare.valid())
        return false;

    std::vector<uint32_t> indices(10000);
    std::vector<char> record(M30_SURVEY_RECORD_SIZE);
    std::vector<uint8_t> bareItem;
    int count = 0;
    auto t0 = Clock::now();
    const bool listed =
        m30->txBuffDownload(1, 0, 1, 10000, 0, 0, &count, nullptr, nullptr,
                            reinterpret_cast<char*>(indices.data()), 40000, nullptr);
    const double hostList = std::chrono::duration<double>(Clock::now() - t0).count();
    t0 = Clock::now();
    const bool bareListed = bare.download(1, 1, 10000, bareItem);
    const double bareList = std::chrono::duration<double>(Clock::now() - t0).count();
    if (!listed || !bareListed || count != int(kRecords) ||
        bareItem.size() != 4 * std::size_t(count)) {
        std::fprintf(stderr, "download %s: the index list failed\n", name);
        return false;
    }

    std::vector<double> ratios;
    double hostTotal = hostList, bareTotal = bareList;
    const int perBlock = count / kBlocks;
    for (int b = 0; b < kBlocks; ++b) {
        int ok = 1;
        auto host = [&](int i) {
            const uint32_t index = indices[std::size_t(count - 1 - i)];
            int scratch = 0;
            std::memset(record.data(), 0, record.size());
            return m30->txBuffDownload(3, 0, int(index), 1, 0, 0, &scratch, nullptr, nullptr,
                                       record.data(), int(record.size()), nullptr);
        };
        auto plain = [&](int i) {
            const uint32_t index = MXX_get_u32(bareItem.data() + 4 * (count - 1 - i));
            std::vector<uint8_t> item;
            return bare.download(3, index, 1, item) && item.size() == M30_SURVEY_RECORD_SIZE;
        };
        const int first = b * perBlock;
        int i = first;
        const double th = seconds([&] { return host(i++); }, perBlock);
        i = first;
        const double tb = seconds([&] { return plain(i++); }, perBlock);
        ok = th >= 0 && tb >= 0;
        if (!ok) {
            std::fprintf(stderr, "download %s: a record failed\n", name);
            return false;
        }
        hostTotal += th;
        bareTotal += tb;
        ratios.push_back(th / tb);
    }
    std::printf("download %s: ratio %.3f\n", name, median(ratios));
    std::printf("# download %s: %zu records, host %.2f s, bare client %.2f s (%.1f / %.1f us "
                "per record)\n",
                name, kRecords, hostTotal, bareTotal, hostTotal / double(kRecords) * 1e6,
                bareTotal / double(kRecords) * 1e6);
    device.disconnect();
    return true;
}

// The price of the turn-taking: the same records downloaded in blocks with
// the exchange turns on and off in turn.
bool runTurns()
{
    Instruments sims(std::chrono::milliseconds(0));
    MXXDevice device;
    auto m30 = std::make_shared<M30Protocol>();
    if (!connectDevice(device, sims.hostPort) || !device.registerProtocol(m30)) {
        std::fprintf(stderr, "exchange lock: no connection to the simulator\n");
        return false;
    }
    std::vector<uint32_t> indices(10000);
    int count = 0;
    if (!m30->txBuffDownload(1, 0, 1, 10000, 0, 0, &count, nullptr, nullptr,
                             reinterpret_cast<char*>(indices.data()), 40000, nullptr) ||
        count != int(kRecords))
        return false;
    std::vector<char> record(M30_SURVEY_RECORD_SIZE);
    auto fetch = [&](int i) {
        int scratch = 0;
        return m30->txBuffDownload(3, 0, int(indices[std::size_t(count - 1 - i)]), 1, 0, 0,
                                   &scratch, nullptr, nullptr, record.data(), int(record.size()),
                                   nullptr);
    };
    std::vector<double> ratios;
    const int perBlock = count / kBlocks;
    double total = 0;
    for (int b = 0; b < kBlocks || total < 1.0; ++b) { // a second at least
        double t[2];
        for (int turns : {1, 0}) {
            MXX_set_exchange_turns(turns);
            int i = (b % kBlocks) * perBlock;
            t[turns] = seconds([&] { return fetch(i++); }, perBlock);
        }
        if (t[0] < 0 || t[1] < 0)
            return false;
        total += t[0] + t[1];
        ratios.push_back(t[1] / t[0]);
    }
    MXX_set_exchange_turns(1);
    std::printf("exchange lock: ratio %.3f\n", median(ratios));
    device.disconnect();
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (MXX_init(nullptr, nullptr, nullptr) != 0) {
        std::fprintf(stderr, "transport failed to start\n");
        return 1;
    }
    const bool ok = run("latency1", std::chrono::milliseconds(1)) &&
                    run("loopback", std::chrono::milliseconds(0)) && runTurns();
    MXX_shut();
    return ok ? 0 : 1;
}
