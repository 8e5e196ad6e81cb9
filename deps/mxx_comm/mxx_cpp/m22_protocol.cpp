#include "m22_protocol.h"

#include "family_support.h"

using namespace mxx_events;
using namespace mxx_family;
using mxx_marshal::putText;

M22Spectrum& M22Spectrum::operator+=(const Spectrum& other)
{
    Spectrum::operator+=(other);
    for (const char* name : {"total1", "total2", "adc_num"}) {
        const QVariant value = other.property(name);
        if (value.isValid())
            setProperty(name, value);
    }
    return *this;
}

namespace {

constexpr int kSpectrumHead = 32;

const ModelName kModels[] = {
    {1, "M22 Lab"},
    {2, "M22 Lab Dual"},
    {3, "M22 Field"},
};

namespace detail {

int M22SpectrumEvent(int, char*, MXX_frame* frame, void* user)
{
    const uint8_t* p = frame->payload;
    QVector<int> channels;
    if (payloadSize(frame) < kSpectrumHead ||
        !spectrumCounts(frame, kSpectrumHead, MXX_get_u16(p + 2), channels))
        return 0;
    auto spectrum = std::make_shared<M22Spectrum>(channels, MXX_get_u32(p + 4), MXX_get_u32(p + 8),
                                                  MXX_get_u32(p + 12), MXX_get_u16(p + 24),
                                                  static_cast<float>(MXX_get_u16(p + 26) / 100.0));
    spectrum->setType(1);
    spectrum->setAdcNum(MXX_get_u16(p));
    spectrum->setTotal1(MXX_get_u32(p + 16));
    spectrum->setTotal2(MXX_get_u32(p + 20));
    post(user, MXX_TYPE_M22, std::shared_ptr<Spectrum>(spectrum));
    return 0;
}

} // namespace detail

} // namespace

MXX_DEFINE_EVENTS(M22)

bool M22Protocol::takeSpectrum(QVariant& data)
{
    if (!data.canConvert<std::shared_ptr<Spectrum>>())
        return false;
    const auto spectrum = data.value<std::shared_ptr<Spectrum>>();
    if (!qobject_cast<M22Spectrum*>(spectrum.get()))
        return false;
    emit spectrumData(spectrum);
    return true;
}

QString M22Protocol::getModelName(int model)
{
    return modelName(kModels, model);
}

#define MXX_METHODS_FAMILY M22
#define MXX_METHODS_OWNER M22Protocol
#define M22_COMMAND MXX_NO_METHOD
#define M22_METHOD MXX_DEFINE_COMMAND_METHOD
#include <m22_commands.def>
#undef M22_COMMAND
#undef MXX_METHODS_OWNER
#undef MXX_METHODS_FAMILY

bool M22Protocol::createRecord(const QString& name)
{
    uint8_t field[M22_RECORD_NAME] = {}; // the last byte stays the terminating NUL
    putText(field, M22_RECORD_NAME - 1, name);
    return M22_create_record(connection(), field, 1) == 0;
}
