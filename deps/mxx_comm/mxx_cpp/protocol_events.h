// The pieces every family's event stream is made of. Hooks run on the
// transport thread: they turn an event frame into a record, a tagged value or
// a Spectrum and post it to the device. receiveData runs on the main thread
// and emits each item as the family's signal.
//
// Payload guard: no hook reads beyond the payload its frame carries; records
// are zero-filled past it, and a spectrum whose channels the payload cannot
// hold is dropped.
#pragma once

#include "mxx_device.h"
#include "spectrum.h"

#include <mxx_bytes.h>
#include <mxx_comm.h>

#include <QMetaType>
#include <QStringList>
#include <QVariant>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>

namespace mxx_events {

// Payload bytes the frame really carries: its length field counts the check byte.
inline int payloadSize(const MXX_frame* frame)
{
    return frame->length > 0 ? frame->length - 1 : 0;
}

template <class Item> void post(void* user, int family, const Item& item)
{
    MXXDevice::post(user, family, QVariant::fromValue(item));
}

// A byte copy of the payload, zero-filled where the frame was shorter.
template <class Record> std::shared_ptr<Record> copyRecord(const MXX_frame* frame)
{
    auto record = std::make_shared<Record>();
    const size_t n = std::min(sizeof record->bytes, static_cast<size_t>(payloadSize(frame)));
    std::memcpy(record->bytes, frame->payload, n);
    return record;
}

// The u32 at payload byte 0, zero-filled.
inline uint32_t firstWord(const MXX_frame* frame)
{
    uint8_t value[4] = {};
    std::memcpy(value, frame->payload, static_cast<size_t>(std::min(4, payloadSize(frame))));
    return MXX_get_u32(value);
}

// Tags of the value events.
inline constexpr char kGamma20HzTag[] = "gamma_20hz";
inline constexpr char kLightSensorTag[] = "light_sensor";
inline constexpr char kAlarmsTag[] = "alarms";
inline constexpr char kCsStabResultsTag[] = "cs_stab_results";
inline constexpr char kMessageTag[] = "message";

// Hooks, by what they post. A family's hook table names their instances.
template <int Family, class Record> int recordEvent(int, char*, MXX_frame* frame, void* user)
{
    post(user, Family, copyRecord<Record>(frame));
    return 0;
}

// The tag and the u32 at byte 0 in decimal, as a two-element list.
template <int Family, const char* Tag> int valueEvent(int, char*, MXX_frame* frame, void* user)
{
    post(user, Family, QStringList{QString::fromLatin1(Tag), QString::number(firstWord(frame))});
    return 0;
}

// The spectrum payload of the M30 event stream, which the families derived
// from it share: kind, channel count and counting values in a 126-byte head,
// then the u32 channel counts. The type follows the kind (kinds 2 and 4 swap
// places); the last channel reads 0. Null when the payload cannot hold it.
std::shared_ptr<Spectrum> surveySpectrum(const MXX_frame* frame);

template <int Family> int spectrumEvent(int, char*, MXX_frame* frame, void* user)
{
    if (auto spectrum = surveySpectrum(frame))
        post(user, Family, spectrum);
    return 0;
}

// The same with the type given by the event rather than by the kind.
template <int Family, unsigned int Type>
int typedSpectrumEvent(int, char*, MXX_frame* frame, void* user)
{
    if (auto spectrum = surveySpectrum(frame)) {
        spectrum->setType(Type);
        post(user, Family, spectrum);
    }
    return 0;
}

struct Hook
{
    uint16_t event;
    MXX_event_handler handler;
};

template <size_t N> void hookAll(int connection, const Hook (&hooks)[N])
{
    for (const Hook& hook : hooks)
        MXX_hook_async_event(connection, hook.event, hook.handler);
}

// receiveData's side.

// Emits `signal` with the item when it holds a Record; false otherwise.
template <class P, class Record>
bool emitRecord(P* protocol, const QVariant& data, void (P::*signal)(std::shared_ptr<Record>))
{
    if (!data.canConvert<std::shared_ptr<Record>>())
        return false;
    emit(protocol->*signal)(data.value<std::shared_ptr<Record>>());
    return true;
}

// The first of `emitters` whose record the item holds; false for none.
template <class P, class... Records>
bool emitRecords(P* protocol, const QVariant& data,
                 void (P::*... emitters)(std::shared_ptr<Records>))
{
    return (emitRecord(protocol, data, emitters) || ...);
}

template <class P> struct ValueTag
{
    const char* tag;
    void (P::*signal)(int);
};

// A tagged value list: the signal of its tag (compared ignoring case) with
// the value. True for any list, known tag or not; false for other items.
template <class P, size_t N>
bool emitValue(P* protocol, const QVariant& data, const ValueTag<P> (&tags)[N])
{
    if (data.userType() != QMetaType::QStringList)
        return false;
    const QStringList values = data.toStringList();
    for (const ValueTag<P>& v : tags) {
        if (values.size() >= 2 &&
            values[0].compare(QLatin1String(v.tag), Qt::CaseInsensitive) == 0) {
            emit(protocol->*v.signal)(static_cast<int>(values[1].toUInt(nullptr, 10)));
            break;
        }
    }
    return true;
}

template <class P> using SpectrumSignal = void (P::*)(std::shared_ptr<Spectrum>);

// A spectrum: the signal at its type's place in `byType` (null places and
// types beyond them emit nothing). True for any spectrum.
template <class P, size_t N>
bool emitSpectrum(P* protocol, const QVariant& data, const SpectrumSignal<P> (&byType)[N])
{
    if (!data.canConvert<std::shared_ptr<Spectrum>>())
        return false;
    const auto spectrum = data.value<std::shared_ptr<Spectrum>>();
    const unsigned int type = spectrum ? spectrum->type() : 0;
    if (type < N && byType[type])
        emit(protocol->*byType[type])(spectrum);
    return true;
}

// Registers "std::shared_ptr<name>" for a record type, for queued signals.
template <class Record> void registerRecord(const char* name)
{
    qRegisterMetaType<std::shared_ptr<Record>>(name);
}

} // namespace mxx_events

// For a family's list of event records X(family, name, ...): the meta-type
// of each std::shared_ptr registered (declared by M30_DERIVED_METATYPE).
#define MXX_EVENT_RECORD_REGISTER(family, name, ...)                                               \
    mxx_events::registerRecord<family##_##name>("std::shared_ptr<" #family "_" #name ">");
