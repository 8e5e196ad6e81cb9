// The M30 event stream: hooks on the transport thread turn event frames into
// records and spectra and post them to the device; receiveData emits them as
// signals on the main thread.
#include "m30_protocol.h"

#include "mxx_device.h"

#include <mxx_bytes.h>

#include <QStringList>

#include <algorithm>
#include <cstring>

namespace {

constexpr int kM30 = 12;

// Payload bytes the frame really carries: its length field counts the check byte.
int payloadSize(const MXX_frame* frame)
{
    return frame->length > 0 ? frame->length - 1 : 0;
}

template <class Item> void post(void* user, const Item& item)
{
    MXXDevice::post(user, kM30, QVariant::fromValue(item));
}

// A byte copy of the payload, zero-filled where the frame was shorter.
template <class Record> std::shared_ptr<Record> copyRecord(const MXX_frame* frame)
{
    auto record = std::make_shared<Record>();
    const size_t n = std::min(sizeof record->bytes, static_cast<size_t>(payloadSize(frame)));
    std::memcpy(record->bytes, frame->payload, n);
    return record;
}

template <class Record> int recordEvent(MXX_frame* frame, void* user)
{
    post(user, copyRecord<Record>(frame));
    return 0;
}

int valueEvent(const char* tag, MXX_frame* frame, void* user)
{
    uint8_t value[4] = {};
    std::memcpy(value, frame->payload, std::min(4, payloadSize(frame)));
    post(user, QStringList{QString::fromLatin1(tag), QString::number(MXX_get_u32(value))});
    return 0;
}

// Payload kind to Spectrum type: kinds 2 and 4 swap places.
unsigned int spectrumType(uint16_t kind)
{
    static const unsigned int types[] = {0, 1, 4, 3, 2, 5, 6};
    return kind < sizeof types / sizeof types[0] ? types[kind] : 0;
}

constexpr int kSpectrumHead = 126;

namespace detail {

int M30SpectrumEvent(int, char*, MXX_frame* frame, void* user)
{
    const uint8_t* p = frame->payload;
    const int size = payloadSize(frame);
    if (size < kSpectrumHead)
        return 0;
    const uint32_t n = MXX_get_u32(p + 2);
    // A channel count the payload cannot hold drops the frame.
    if (n > static_cast<uint32_t>(size - kSpectrumHead) / 4)
        return 0;
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
    post(user, spectrum);
    return 0;
}

int M30KeyboardEvent(int, char*, MXX_frame* f, void* u)
{
    return recordEvent<M30_keyboard_data>(f, u);
}
int M30TotalEvent(int, char*, MXX_frame* f, void* u)
{
    return recordEvent<M30_total_data>(f, u);
}
int M30Gamma20HzEvent(int, char*, MXX_frame* f, void* u)
{
    return valueEvent("gamma_20hz", f, u);
}
int M30PulseDataEvent(int, char*, MXX_frame* f, void* u)
{
    return recordEvent<M30_pulse_data>(f, u);
}
int M30StatusEvent(int, char*, MXX_frame* f, void* u)
{
    return recordEvent<M30_status>(f, u);
}
int M30LightSensorEvent(int, char*, MXX_frame* f, void* u)
{
    return valueEvent("light_sensor", f, u);
}
int M30AlarmEvent(int, char*, MXX_frame* f, void* u)
{
    return valueEvent("alarms", f, u);
}
int M30ProgressIndicationEvent(int, char*, MXX_frame* f, void* u)
{
    return recordEvent<M30_progress_indication>(f, u);
}
int M30ConnmanEvent(int, char*, MXX_frame* f, void* u)
{
    return recordEvent<M30_connman_data>(f, u);
}
int M30AssayResultsEvent(int, char*, MXX_frame* f, void* u)
{
    return recordEvent<M30_assay_results>(f, u);
}
int M30IdentifyResultsEvent(int, char*, MXX_frame* f, void* u)
{
    return recordEvent<M30_identify_results>(f, u);
}
int M30CsStabResultsEvent(int, char*, MXX_frame* f, void* u)
{
    return valueEvent("cs_stab_results", f, u);
}
int M30MessageEvent(int, char*, MXX_frame* f, void* u)
{
    return recordEvent<M30_message_event>(f, u);
}

// The two assay events share one record type; 1000 added to the first u16
// tells the on-the-fly results apart until receiveData takes it off again.
int M30OnAssayResultsEvent(int, char*, MXX_frame* frame, void* user)
{
    auto record = copyRecord<M30_assay_results>(frame);
    MXX_put_u16(record->bytes, static_cast<uint16_t>(MXX_get_u16(record->bytes) + 1000));
    post(user, record);
    return 0;
}

} // namespace detail

struct Hook
{
    uint16_t event;
    MXX_event_handler handler;
};

const Hook kHooks[] = {
    {10002, detail::M30SpectrumEvent},
    {10003, detail::M30KeyboardEvent},
    {10005, detail::M30TotalEvent},
    {10004, detail::M30Gamma20HzEvent},
    {10006, detail::M30PulseDataEvent},
    {10007, detail::M30StatusEvent},
    {10010, detail::M30LightSensorEvent},
    {10011, detail::M30AlarmEvent},
    {10012, detail::M30ProgressIndicationEvent},
    {10013, detail::M30ConnmanEvent},
    {10014, detail::M30AssayResultsEvent},
    {10017, detail::M30OnAssayResultsEvent},
    {10009, detail::M30IdentifyResultsEvent},
    {10015, detail::M30CsStabResultsEvent},
    {10016, detail::M30MessageEvent},
};

using SpectrumSignal = void (M30Protocol::*)(std::shared_ptr<Spectrum>);

// By Spectrum type 1 to 6.
const SpectrumSignal kSpectrumSignals[] = {
    nullptr,
    &M30Protocol::spectrumData,
    &M30Protocol::accumulatedSpectrumData,
    &M30Protocol::assaySpectrumData,
    &M30Protocol::csStabSpectrumData,
    &M30Protocol::bgCalibSpectrumData,
    &M30Protocol::identSpectrumData,
};

using ValueSignal = void (M30Protocol::*)(int);

struct ValueTag
{
    const char* tag;
    ValueSignal signal;
};

const ValueTag kValueTags[] = {
    {"alarms", &M30Protocol::alarmData},
    {"gamma_20hz", &M30Protocol::total20HzData},
    {"light_sensor", &M30Protocol::lightSensorMonoData},
    {"cs_stab_results", &M30Protocol::csStabResultsData},
};

// Emits `signal` with the item when it holds a Record; false otherwise.
template <class Record>
bool emitRecord(M30Protocol* protocol, const QVariant& data,
                void (M30Protocol::*signal)(std::shared_ptr<Record>))
{
    if (!data.canConvert<std::shared_ptr<Record>>())
        return false;
    emit(protocol->*signal)(data.value<std::shared_ptr<Record>>());
    return true;
}

} // namespace

void M30Protocol::bind(int connection, QThread*)
{
    Protocol::bind(connection, nullptr);
    for (const Hook& hook : kHooks)
        MXX_hook_async_event(connection, hook.event, hook.handler);
}

bool M30Protocol::receiveData(QVariant& data)
{
    if (data.userType() == QMetaType::QStringList) {
        const QStringList values = data.toStringList();
        for (const ValueTag& v : kValueTags) {
            if (values.size() >= 2 &&
                values[0].compare(QLatin1String(v.tag), Qt::CaseInsensitive) == 0) {
                emit(this->*v.signal)(static_cast<int>(values[1].toUInt(nullptr, 10)));
                break;
            }
        }
        return true;
    }
    if (emitRecord(this, data, &M30Protocol::totalData))
        return true;
    if (data.canConvert<std::shared_ptr<Spectrum>>()) {
        const auto spectrum = data.value<std::shared_ptr<Spectrum>>();
        const unsigned int type = spectrum ? spectrum->type() : 0;
        if (type >= 1 && type <= 6)
            emit(this->*kSpectrumSignals[type])(spectrum);
        return true;
    }
    if (data.canConvert<std::shared_ptr<M30_assay_results>>()) {
        const auto assay = data.value<std::shared_ptr<M30_assay_results>>();
        const uint16_t first = assay ? MXX_get_u16(assay->bytes) : 0;
        if (first >= 1000) {
            MXX_put_u16(assay->bytes, static_cast<uint16_t>(first - 1000));
            emit onflyAssayResultsData(assay);
        } else {
            emit assayResultsData(assay);
        }
        return true;
    }
    return emitRecord(this, data, &M30Protocol::keyboardData) ||
           emitRecord(this, data, &M30Protocol::pulseData) ||
           emitRecord(this, data, &M30Protocol::statusData) ||
           emitRecord(this, data, &M30Protocol::progressData) ||
           emitRecord(this, data, &M30Protocol::messageData) ||
           emitRecord(this, data, &M30Protocol::identifyResultsData) ||
           emitRecord(this, data, &M30Protocol::connmanData);
}
