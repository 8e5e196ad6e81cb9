#include "m38_protocol.h"

#include "family_support.h"

using namespace mxx_events;
using namespace mxx_family;

namespace {

constexpr int kM38 = 16;
constexpr int kChannels = 1024;
constexpr int kChannels256 = 256;
constexpr int kCounts256 = 3000; // payload offset of the 256-channel counts

std::shared_ptr<Spectrum> spectrumOf(QVector<int> channels, const uint8_t* p, uint32_t total)
{
    channels.last() = 0;
    auto spectrum = std::make_shared<Spectrum>(
        channels, MXX_get_u32(p + 2048), MXX_get_u32(p + 2052), total, MXX_get_u32(p + 2056), 0.0f);
    spectrum->setType(1);
    return spectrum;
}

namespace detail {

// One frame, two spectra, posted one after the other. A payload too short to
// hold both is dropped: its missing counts would read as zeros.
int M38SpectrumEvent(int, char*, MXX_frame* frame, void* user)
{
    if (payloadSize(frame) < M38_SPECTRUM_EVENT_SIZE)
        return 0;
    const uint8_t* p = frame->payload;
    post(user, kM38, spectrumOf(counts16(p, kChannels), p, MXX_get_u32(p + 2060)));
    post(user, kM38, spectrumOf(counts16(p + kCounts256, kChannels256), p, MXX_get_u32(p + 2064)));
    return 0;
}

// Pulse records are taken off the line; nothing here reads them.
int M38PulseEvent(int, char*, MXX_frame*, void*)
{
    return 0;
}

} // namespace detail

const Hook kHooks[] = {
    {9000, detail::M38SpectrumEvent},
    {9001, detail::M38PulseEvent},
};

} // namespace

M38Protocol::M38Protocol()
{
    qRegisterMetaType<std::shared_ptr<Spectrum>>("std::shared_ptr<Spectrum>");
}

void M38Protocol::bind(int connection, QThread*)
{
    Protocol::bind(connection, nullptr);
    hookAll(connection, kHooks);
}

bool M38Protocol::receiveData(QVariant& data)
{
    if (!data.canConvert<std::shared_ptr<Spectrum>>())
        return false;
    const auto spectrum = data.value<std::shared_ptr<Spectrum>>();
    if (spectrum && spectrum->size() == kChannels256)
        emit spectrumData256(spectrum);
    else
        emit spectrumData(spectrum);
    return true;
}

bool M38Protocol::getStatus(M38_status& status)
{
    return readRecord(M38_get_status, connection(), status);
}
bool M38Protocol::getParams(M38_params& params)
{
    return readRecord(M38_get_params, connection(), params);
}
bool M38Protocol::setParams(const M38_params& params)
{
    return writeRecord(M38_set_params, connection(), params);
}

bool M38Protocol::getFlashInfo(int& pageSize, int& pages, int& id)
{
    uint8_t answer[12] = {};
    if (M38_get_flash_info(connection(), answer, 1) != 0)
        return false;
    pageSize = static_cast<int>(MXX_get_u32(answer));
    pages = static_cast<int>(MXX_get_u32(answer + 4));
    id = static_cast<int>(MXX_get_u32(answer + 8));
    return true;
}

bool M38Protocol::eraseFlash()
{
    return run(M38_erase_flash, connection());
}
bool M38Protocol::readFlashPage(int page, M38_flash_page& data)
{
    return readEntry(M38_read_flash_page, connection(), page, data);
}
bool M38Protocol::writeFlashPage(int page, const M38_flash_page& data)
{
    return writeEntry(M38_write_flash_page, connection(), page, data);
}

bool M38Protocol::readCoefficients(M38_coefficients& coefficients)
{
    return readRecord(M38_read_coefficients, connection(), coefficients);
}
bool M38Protocol::writeCoefficients(const M38_coefficients& coefficients)
{
    return writeRecord(M38_write_coefficients, connection(), coefficients);
}
bool M38Protocol::commitCoefficients()
{
    return run(M38_commit_coefficients, connection());
}
bool M38Protocol::getHv(int& volts)
{
    return readI32(M38_get_hv, connection(), volts);
}
bool M38Protocol::setHv(int volts)
{
    return writeI32(M38_set_hv, connection(), volts);
}
bool M38Protocol::getGain(float& gain)
{
    return readF32(M38_get_gain, connection(), gain);
}
bool M38Protocol::setGain(float gain)
{
    return writeF32(M38_set_gain, connection(), gain);
}
bool M38Protocol::startMeasurement()
{
    return run(M38_start_measurement, connection());
}
bool M38Protocol::stopMeasurement()
{
    return run(M38_stop_measurement, connection());
}
bool M38Protocol::startPulseAcquisition()
{
    return run(M38_start_pulse_acquisition, connection());
}
bool M38Protocol::stopPulseAcquisition()
{
    return run(M38_stop_pulse_acquisition, connection());
}
bool M38Protocol::energyCalib(float a, float b, float c)
{
    return writeCalibration(M38_energy_calib, connection(), a, b, c);
}
