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

std::shared_ptr<Spectrum> probeSpectrum(const MXX_frame* frame)
{
    constexpr int kHead = 16;
    const uint8_t* p = frame->payload;
    QVector<int> channels;
    if (payloadSize(frame) < kHead || !spectrumCounts(frame, kHead, MXX_get_u16(p + 12), channels))
        return nullptr;
    auto spectrum = std::make_shared<Spectrum>(channels, MXX_get_u32(p), MXX_get_u32(p + 4),
                                               MXX_get_u32(p + 8), MXX_get_u16(p + 14), 0.0f);
    spectrum->setType(1);
    return spectrum;
}

QVector<int> counts16(const uint8_t* at, int count)
{
    QVector<int> counts(count);
    for (int i = 0; i < count; ++i)
        counts[i] = MXX_get_u16(at + 2 * i);
    return counts;
}

QVector<int> counts32(const uint8_t* at, int count)
{
    QVector<int> counts(count);
    for (int i = 0; i < count; ++i)
        counts[i] = static_cast<int>(MXX_get_u32(at + 4 * i));
    return counts;
}

bool spectrumCounts(const MXX_frame* frame, int head, int count, QVector<int>& channels)
{
    const int size = payloadSize(frame);
    if (size < head || count > (size - head) / 4)
        return false;
    channels = counts32(frame->payload + head, count);
    if (!channels.isEmpty())
        channels.last() = 0;
    return true;
}

bool isTaggedValue(const QVariant& data)
{
    return data.userType() == QMetaType::QStringList;
}

bool hasTag(const QVariant& data, const char* tag, int& value)
{
    if (!isTaggedValue(data))
        return false;
    const QStringList values = data.toStringList();
    if (values.size() < 2 || values[0].compare(QLatin1String(tag), Qt::CaseInsensitive) != 0)
        return false;
    value = static_cast<int>(values[1].toUInt(nullptr, 10));
    return true;
}

bool isSpectrum(const QVariant& data)
{
    return data.canConvert<std::shared_ptr<Spectrum>>();
}

void registerSpectrum()
{
    qRegisterMetaType<std::shared_ptr<Spectrum>>("std::shared_ptr<Spectrum>");
}

} // namespace mxx_events
