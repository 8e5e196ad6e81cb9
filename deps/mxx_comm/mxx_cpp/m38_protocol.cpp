#include "m38_protocol.h"

#include "family_support.h"

using namespace mxx_events;
using namespace mxx_family;

namespace {

constexpr int kChannels = 1024;
constexpr int kChannels256 = 256;
constexpr int kCounts256 = 3000; // payload offset of the 256-channel counts

std::shared_ptr<Spectrum> spectrumOf(QVector<int> channels, const uint8_t* payload, uint32_t total)
{
    channels.last() = 0;
    auto spectrum = std::make_shared<Spectrum>(channels, MXX_get_u32(payload + 2048),
                                               MXX_get_u32(payload + 2052), total,
                                               MXX_get_u32(payload + 2056), 0.0f);
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
    post(user, MXX_TYPE_M38, spectrumOf(counts16(p, kChannels), p, MXX_get_u32(p + 2060)));
    post(user, MXX_TYPE_M38,
         spectrumOf(counts16(p + kCounts256, kChannels256), p, MXX_get_u32(p + 2064)));
    return 0;
}

} // namespace detail

} // namespace

MXX_DEFINE_EVENTS(M38)

bool M38Protocol::takeSpectrum(QVariant& data)
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

#define MXX_METHODS_FAMILY M38
#define MXX_METHODS_OWNER M38Protocol
#define M38_COMMAND MXX_NO_METHOD
#define M38_METHOD MXX_DEFINE_COMMAND_METHOD
#include <m38_commands.def>
#undef M38_COMMAND
#undef MXX_METHODS_OWNER
#undef MXX_METHODS_FAMILY

bool M38Protocol::getFlashInfo(int& pageSize, int& pages, int& id)
{
    uint8_t answer[MXX_RESPONSE_SIZE(M38, get_flash_info)] = {};
    if (M38_get_flash_info(connection(), answer, 1) != 0)
        return false;
    pageSize = static_cast<int>(MXX_get_u32(answer));
    pages = static_cast<int>(MXX_get_u32(answer + 4));
    id = static_cast<int>(MXX_get_u32(answer + 8));
    return true;
}
