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

constexpr int kM22 = 6;
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
    post(user, kM22, std::shared_ptr<Spectrum>(spectrum));
    return 0;
}

} // namespace detail

const Hook kHooks[] = {
    {8350, detail::M22SpectrumEvent},
};

} // namespace

M22Protocol::M22Protocol()
{
    qRegisterMetaType<std::shared_ptr<Spectrum>>("std::shared_ptr<Spectrum>");
}

void M22Protocol::bind(int connection, QThread*)
{
    Protocol::bind(connection, nullptr);
    hookAll(connection, kHooks);
}

bool M22Protocol::receiveData(QVariant& data)
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

bool M22Protocol::getStatus(M22_status& status)
{
    return readRecord(M22_get_status, connection(), status);
}
bool M22Protocol::getParams(M22_params& params)
{
    return readRecord(M22_get_params, connection(), params);
}
bool M22Protocol::setParams(const M22_params& params)
{
    return writeRecord(M22_set_params, connection(), params);
}
bool M22Protocol::getMcaParams(M22_mca_params& params)
{
    return readRecord(M22_get_mca_params, connection(), params);
}
bool M22Protocol::setMcaParams(const M22_mca_params& params)
{
    return writeRecord(M22_set_mca_params, connection(), params);
}
bool M22Protocol::setMeasFlags(int flags)
{
    return writeU8(M22_set_meas_flags, connection(), flags);
}
bool M22Protocol::getLogCount(int& entries)
{
    return readI32(M22_get_log_count, connection(), entries);
}
bool M22Protocol::getLogEntry(int index, M22_log_entry& entry)
{
    return readEntry(M22_get_log_entry, connection(), index, entry);
}
bool M22Protocol::clearLogs()
{
    return run(M22_clear_logs, connection());
}
bool M22Protocol::getWp(int& value)
{
    return readI32(M22_get_wp, connection(), value);
}
bool M22Protocol::setWp(int value)
{
    return writeI32(M22_set_wp, connection(), value);
}
bool M22Protocol::getScreen(M22_screen& screen)
{
    return readRecord(M22_get_screen, connection(), screen);
}

bool M22Protocol::createRecord(const QString& name)
{
    uint8_t field[M22_RECORD_NAME] = {}; // the last byte stays the terminating NUL
    putText(field, M22_RECORD_NAME - 1, name);
    return M22_create_record(connection(), field, 1) == 0;
}
