// The M30 event stream end to end: a device identified as an M30 with its
// protocol registered; event frames of every hooked id (and a few others)
// with payloads of any size run the hooks, the device hands the items to
// receiveData, and the signals' receivers use what they get.
#include "fake_comm.h"
#include "frames.h"

#include <m30_protocol.h>
#include <mxx_bytes.h>
#include <mxx_device.h>

#include <QCoreApplication>

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

const uint16_t kEvents[] = {10002, 10003, 10005, 10004, 10006, 10007, 10010, 10011, 10012, 10013,
                            10014, 10017, 10009, 10015, 10016, 10001, 10008, 9007,  12289, 8600};

struct Fixture
{
    int argc = 1;
    char name[16] = "fuzz_m30_events";
    char* argv[2] = {name, nullptr};
    QCoreApplication app{argc, argv};
    MXXDevice device;
    std::shared_ptr<M30Protocol> protocol = std::make_shared<M30Protocol>();
    Spectrum total{1024};
    unsigned long long used = 0;

    Fixture()
    {
        if (!device.connect(QStringLiteral("fake")))
            std::abort();
        fake_comm::deliver(device.connId(), COMM_EV_OPENED);
        const char serial[] = "C3000001";
        auto identity =
            fuzz_frames::frame(9007, reinterpret_cast<const uint8_t*>(serial), sizeof serial);
        fake_comm::deliver(device.connId(), COMM_EV_DATA, identity.data(),
                           static_cast<int>(identity.size()));
        QCoreApplication::processEvents();
        if (device.type() != MXX_TYPE_M30 || !device.registerProtocol(protocol))
            std::abort();
        auto spectrum = [this](std::shared_ptr<Spectrum> s) {
            if (!s)
                std::abort();
            if (!s->data().isEmpty() && s->data().last() != 0)
                std::abort(); // the last channel always reads 0
            used += static_cast<unsigned>(s->sum()) + s->size();
            total += *s;
            used += static_cast<unsigned long long>(s->deadTime() != 0);
        };
        QObject::connect(protocol.get(), &M30Protocol::spectrumData, spectrum);
        QObject::connect(protocol.get(), &M30Protocol::assaySpectrumData, spectrum);
        QObject::connect(protocol.get(), &M30Protocol::identSpectrumData, spectrum);
        QObject::connect(protocol.get(), &M30Protocol::csStabSpectrumData, spectrum);
        QObject::connect(protocol.get(), &M30Protocol::accumulatedSpectrumData, spectrum);
        QObject::connect(protocol.get(), &M30Protocol::bgCalibSpectrumData, spectrum);
        auto value = [this](int v) { used += static_cast<unsigned>(v); };
        QObject::connect(protocol.get(), &M30Protocol::alarmData, value);
        QObject::connect(protocol.get(), &M30Protocol::total20HzData, value);
        QObject::connect(protocol.get(), &M30Protocol::lightSensorMonoData, value);
        QObject::connect(protocol.get(), &M30Protocol::csStabResultsData, value);
        auto assay = [this](std::shared_ptr<M30_assay_results> a) {
            if (!a)
                std::abort();
            used += a->bytes[sizeof a->bytes - 1];
        };
        QObject::connect(protocol.get(), &M30Protocol::assayResultsData, assay);
        QObject::connect(protocol.get(), &M30Protocol::onflyAssayResultsData, assay);
        QObject::connect(protocol.get(), &M30Protocol::messageData,
                         [this](std::shared_ptr<M30_message_event> m) {
                             used += m->bytes[sizeof m->bytes - 1];
                         });
        QObject::connect(
            protocol.get(), &M30Protocol::pulseData,
            [this](std::shared_ptr<M30_pulse_data> p) { used += p->bytes[sizeof p->bytes - 1]; });
        QObject::connect(protocol.get(), &M30Protocol::identifyResultsData,
                         [this](std::shared_ptr<M30_identify_results> r) {
                             used += r->bytes[sizeof r->bytes - 1];
                         });
    }
};

Fixture& fixture()
{
    static Fixture f;
    return f;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Fixture& f = fixture();
    FuzzedDataProvider in(data, size);
    while (in.remaining_bytes() > 0) {
        const uint16_t code =
            kEvents[in.ConsumeIntegralInRange<size_t>(0, sizeof kEvents / sizeof kEvents[0] - 1)];
        const bool big = in.ConsumeBool();
        const size_t length = big ? in.ConsumeIntegralInRange<size_t>(0, 9000)
                                  : in.ConsumeIntegralInRange<size_t>(0, 300);
        std::vector<uint8_t> payload = in.ConsumeBytes<uint8_t>(length);
        if (big) // a spectrum head whose channel count is near what the payload holds
            payload.resize(length);
        const std::vector<uint8_t> frame = fuzz_frames::frame(code, payload);
        fake_comm::deliver(f.device.connId(), COMM_EV_DATA, frame.data(),
                           static_cast<int>(frame.size()));
    }
    // Every posted event, as the event loop does: Qt empties its queue only on
    // such a call, and one for the device alone lets it grow with every input.
    QCoreApplication::sendPostedEvents();
    return 0;
}
