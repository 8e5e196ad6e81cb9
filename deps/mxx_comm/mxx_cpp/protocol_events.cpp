#include "protocol_events.h"

namespace mxx_events {

namespace {

constexpr int kSpectrumHead = 126;

// Payload kind to Spectrum type: kinds 2 and 4 swap places.
unsigned int spectrumType(uint16_t kind)
{
    static const unsigned int types[] = {0, 1, 4, 3, 2, 5, 6};
    return kind < sizeof types / sizeof types[0] ? types[kind] : 0;
}

} // namespace

std::shared_ptr<Spectrum> surveySpectrum(const MXX_frame* frame)
{
    const uint8_t* p = frame->payload;
    const int size = payloadSize(frame);
    if (size < kSpectrumHead)
        return nullptr;
    const uint32_t n = MXX_get_u32(p + 2);
    if (n > static_cast<uint32_t>(size - kSpectrumHead) / 4)
        return nullptr;
    QVector<int> channels(static_cast<int>(n));
    for (uint32_t i = 0; i < n; ++i)
        channels[static_cast<int>(i)] = static_cast<int>(MXX_get_u32(p + kSpectrumHead + 4 * i));
    if (!channels.isEmpty())
        channels.last() = 0;
    auto spectrum = std::make_shared<Spectrum>(channels, MXX_get_u32(p + 116), MXX_get_u32(p + 108),
                                               MXX_get_u16(p + 124), MXX_get_u16(p + 8),
                                               static_cast<float>(MXX_get_u16(p + 6) / 100.0));
    spectrum->setType(spectrumType(MXX_get_u16(p)));
    spectrum->setDose(MXX_get_f32(p + 28));
    spectrum->setNeutronsTotal(static_cast<int>(MXX_get_u32(p + 24)));
    spectrum->setGeigerTotal(static_cast<int>(MXX_get_u32(p + 20)));
    spectrum->setDRSum(MXX_get_f32(p + 14));
    spectrum->setCsCalibStatus(static_cast<int>(MXX_get_u32(p + 44)));
    spectrum->setCsCalibResult(static_cast<int>(MXX_get_u32(p + 48)));
    spectrum->setActSample(static_cast<int>(MXX_get_u32(p + 52)));
    spectrum->setTotalSample(static_cast<int>(MXX_get_u32(p + 56)));
    spectrum->setFinished(static_cast<int>(MXX_get_u32(p + 104)));
    return spectrum;
}

} // namespace mxx_events
