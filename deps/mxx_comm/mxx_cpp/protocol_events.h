// The pieces every family's event stream is made of, and the event tables
// that put them together. Hooks run on the transport thread: they turn an
// event frame into a record, a tagged value or a Spectrum and post it to the
// device under the family's type id. receiveData runs on the main thread and
// emits each item as the family's signal.
//
// Payload guard: no hook reads beyond the payload its frame carries; records
// are zero-filled past it, and a spectrum whose channels the payload cannot
// hold is dropped.
//
// A family's event table is a list macro <FAMILY>_EVENTS(X, F) of rows
//
//   X(F, code, kind, signal, parameters)
//
// one per event the family hooks. It has to be a macro rather than a .def
// file, as moc reads the signals it declares. The kinds:
//
//   RECORD (record)     the payload as the record F_record (zero-filled past
//                       a short payload): signal(std::shared_ptr<F_record>)
//   VALUE (Tag)         the u32 at byte 0, tagged mxx_events::kTagTag:
//                       signal(int); any tagged value is the family's item
//   SPECTRA (six signals)
//                       the M30 spectrum payload, each to the signal of its
//                       type 1 to 6; any spectrum is the family's item
//   TYPED_SPECTRUM (type)
//                       the same payload given the type by the event
//   PROBE_SPECTRUM ()   the spectrum of M15 and M16 (probeSpectrum)
//   ONFLY (record)      the on-the-fly assay results, which share their
//                       record with a RECORD row behind this one: 1000 is
//                       added to the first u16 on the way and taken off here
//   ANNOUNCED (type)    no event: a signal a method emits, of
//                       std::shared_ptr<type>, also emitted for such an item
//   CUSTOM (hook, member)
//                       a hook of the family's own, its items handed to
//                       `member(data)`; signals declared by hand
//   IGNORED ()          taken off the line, nothing posted
//
// Each class expands its table for its signals (MXX_EVENT_SIGNAL), its
// records' meta-types (MXX_EVENT_METATYPE), and in its source file the hooks,
// receiveData and the registrations (MXX_DEFINE_EVENTS).
#pragma once

#include "mxx_device.h"
#include "spectrum.h"

#include <mxx_bytes.h>
#include <mxx_comm.h>
#include <mxx_command.h>

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
    const size_t size = std::min(sizeof record->bytes, static_cast<size_t>(payloadSize(frame)));
    std::memcpy(record->bytes, frame->payload, size);
    return record;
}

// The u32 at payload byte 0, zero-filled.
inline uint32_t firstWord(const MXX_frame* frame)
{
    uint8_t value[4] = {};
    std::memcpy(value, frame->payload, static_cast<size_t>(std::min(4, payloadSize(frame))));
    return MXX_get_u32(value);
}

// `count` channel counts of 16 or 32 bits from `at`, as ints.
QVector<int> counts16(const uint8_t* at, int count);
QVector<int> counts32(const uint8_t* at, int count);
// The u32 counts of a spectrum payload, `count` of them from byte `head` on,
// the last one cleared as in every family's spectra; false when the payload
// cannot hold them.
bool spectrumCounts(const MXX_frame* frame, int head, int count, QVector<int>& channels);

// The spectrum payload of the M30 event stream, which the families derived
// from it share: kind, channel count and counting values in a 126-byte head,
// then the u32 channel counts. The type follows the kind (kinds 2 and 4 swap
// places); the last channel reads 0. Null when the payload cannot hold it.
std::shared_ptr<Spectrum> surveySpectrum(const MXX_frame* frame);
// The spectrum of event 2020 of M15 and M16 (m15_comm.h), of type 1; null
// when the payload cannot hold its channel count.
std::shared_ptr<Spectrum> probeSpectrum(const MXX_frame* frame);

// Tags of the value events.
inline constexpr char kGamma20HzTag[] = "gamma_20hz";
inline constexpr char kLightSensorTag[] = "light_sensor";
inline constexpr char kAlarmsTag[] = "alarms";
inline constexpr char kCsStabResultsTag[] = "cs_stab_results";
inline constexpr char kMessageTag[] = "message";

// Hooks, by what they post.
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

template <int Family> int probeSpectrumEvent(int, char*, MXX_frame* frame, void* user)
{
    if (auto spectrum = probeSpectrum(frame))
        post(user, Family, spectrum);
    return 0;
}

// The on-the-fly assay results share one record type with the assay results;
// 1000 added to the first u16 tells them apart until emitOnfly takes it off.
template <int Family, class Record> int onflyEvent(int, char*, MXX_frame* frame, void* user)
{
    auto record = copyRecord<Record>(frame);
    MXX_put_u16(record->bytes, static_cast<uint16_t>(MXX_get_u16(record->bytes) + 1000));
    post(user, Family, record);
    return 0;
}

inline int ignoredEvent(int, char*, MXX_frame*, void*)
{
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

// receiveData's side: each is true when it took the item.

// Emits `signal` with the item when it holds a Record.
template <class P, class Record>
bool emitRecord(P* protocol, const QVariant& data, void (P::*signal)(std::shared_ptr<Record>))
{
    const bool holds = data.canConvert<std::shared_ptr<Record>>();
    if (holds)
        emit(protocol->*signal)(data.value<std::shared_ptr<Record>>());
    return holds;
}

// A tagged value list of `tag` (compared ignoring case): `signal` with the value.
bool isTaggedValue(const QVariant& data);
bool hasTag(const QVariant& data, const char* tag, int& value);
template <class P>
bool emitTagged(P* protocol, const QVariant& data, const char* tag, void (P::*signal)(int))
{
    int value = 0;
    const bool tagged = hasTag(data, tag, value);
    if (tagged)
        emit(protocol->*signal)(value);
    return tagged;
}

// A spectrum of `type`.
bool isSpectrum(const QVariant& data);
template <class P>
bool emitSpectrumOfType(P* protocol, const QVariant& data, unsigned int type,
                        void (P::*signal)(std::shared_ptr<Spectrum>))
{
    const auto spectrum =
        isSpectrum(data) ? data.value<std::shared_ptr<Spectrum>>() : std::shared_ptr<Spectrum>();
    const bool typed = spectrum && spectrum->type() == type;
    if (typed)
        emit(protocol->*signal)(spectrum);
    return typed;
}

// The on-the-fly assay results (onflyEvent) with their mark taken off.
template <class P, class Record>
bool emitOnfly(P* protocol, const QVariant& data, void (P::*signal)(std::shared_ptr<Record>))
{
    if (!data.canConvert<std::shared_ptr<Record>>())
        return false;
    const auto record = data.value<std::shared_ptr<Record>>();
    const uint16_t first = record ? MXX_get_u16(record->bytes) : 0;
    if (first < 1000)
        return false;
    MXX_put_u16(record->bytes, static_cast<uint16_t>(first - 1000));
    emit(protocol->*signal)(record);
    return true;
}

// Registers "std::shared_ptr<name>" for a record type, for queued signals.
template <class Record> void registerRecord(const char* name)
{
    qRegisterMetaType<std::shared_ptr<Record>>(name);
}
void registerSpectrum();

} // namespace mxx_events

// What each row of an event table gives, by kind: MXX_EVENT_<purpose>(F,
// code, kind, signal, parameters) passes the row on to
// MXX_<purpose>_<kind>(F, code, signal, parameters...).
#define MXX_EVENT_AS(purpose, F, code, kind, signal, parameters)                                   \
    MXX_APPLY(MXX_##purpose##_##kind, (F, code, signal, MXX_UNPAREN parameters))
#define MXX_EVENT_SIGNAL(...) MXX_EVENT_AS(SIGNAL, __VA_ARGS__)
#define MXX_EVENT_METATYPE(...) MXX_EVENT_AS(METATYPE, __VA_ARGS__)
#define MXX_EVENT_HOOK(...) MXX_EVENT_AS(HOOK, __VA_ARGS__)
#define MXX_EVENT_RECEIVE(...) MXX_EVENT_AS(RECEIVE, __VA_ARGS__)
#define MXX_EVENT_CLAIM(...) MXX_EVENT_AS(CLAIM, __VA_ARGS__)
#define MXX_EVENT_REGISTER(...) MXX_EVENT_AS(REGISTER, __VA_ARGS__)

// The hooks, hookEvents, receiveData (every row's taking in table order,
// then the claims of kinds whose every item is the family's) and
// registerEventTypes of F##Protocol, in its source file.
#define MXX_DEFINE_EVENTS(F)                                                                       \
    namespace {                                                                                    \
    const mxx_events::Hook k##F##Hooks[] = {F##_EVENTS(MXX_EVENT_HOOK, F)};                        \
    }                                                                                              \
    void F##Protocol::hookEvents(int connection)                                                   \
    {                                                                                              \
        mxx_events::hookAll(connection, k##F##Hooks);                                              \
    }                                                                                              \
    bool F##Protocol::receiveData(QVariant& data)                                                  \
    {                                                                                              \
        return false F##_EVENTS(MXX_EVENT_RECEIVE, F) F##_EVENTS(MXX_EVENT_CLAIM, F);              \
    }                                                                                              \
    void F##Protocol::registerEventTypes()                                                         \
    {                                                                                              \
        F##_EVENTS(MXX_EVENT_REGISTER, F)                                                          \
    }

// The class and the type id of family F.
#define MXX_EVENT_CLASS(F) F##Protocol
#define MXX_EVENT_FAMILY(F) MXX_TYPE_##F

#define MXX_SIGNAL_RECORD(F, code, signal, name) void signal(std::shared_ptr<F##_##name> record);
#define MXX_METATYPE_RECORD(F, code, signal, record)                                               \
    Q_DECLARE_METATYPE(std::shared_ptr<F##_##record>)
#define MXX_HOOK_RECORD(F, code, signal, record)                                                   \
    {code, mxx_events::recordEvent<MXX_EVENT_FAMILY(F), F##_##record>},
#define MXX_RECEIVE_RECORD(F, code, signal, record)                                                \
    || mxx_events::emitRecord(this, data, &MXX_EVENT_CLASS(F)::signal)
#define MXX_CLAIM_RECORD(F, code, signal, record)
#define MXX_REGISTER_RECORD(F, code, signal, record)                                               \
    mxx_events::registerRecord<F##_##record>("std::shared_ptr<" #F "_" #record ">");

#define MXX_SIGNAL_VALUE(F, code, signal, tag) void signal(int value);
#define MXX_METATYPE_VALUE(F, code, signal, tag)
#define MXX_HOOK_VALUE(F, code, signal, tag)                                                       \
    {code, mxx_events::valueEvent<MXX_EVENT_FAMILY(F), mxx_events::k##tag##Tag>},
#define MXX_RECEIVE_VALUE(F, code, signal, tag)                                                    \
    || mxx_events::emitTagged(this, data, mxx_events::k##tag##Tag, &MXX_EVENT_CLASS(F)::signal)
#define MXX_CLAIM_VALUE(F, code, signal, tag) || mxx_events::isTaggedValue(data)
#define MXX_REGISTER_VALUE(F, code, signal, tag)

#define MXX_SIGNAL_SPECTRA(F, code, none, type1, type2, type3, type4, type5, type6)                \
    void type1(std::shared_ptr<Spectrum> spectrum);                                                \
    void type2(std::shared_ptr<Spectrum> spectrum);                                                \
    void type3(std::shared_ptr<Spectrum> spectrum);                                                \
    void type4(std::shared_ptr<Spectrum> spectrum);                                                \
    void type5(std::shared_ptr<Spectrum> spectrum);                                                \
    void type6(std::shared_ptr<Spectrum> spectrum);
#define MXX_METATYPE_SPECTRA(F, code, none, ...)
#define MXX_HOOK_SPECTRA(F, code, none, ...) {code, mxx_events::spectrumEvent<MXX_EVENT_FAMILY(F)>},
#define MXX_RECEIVE_SPECTRA(F, code, none, type1, type2, type3, type4, type5, type6)               \
    || mxx_events::emitSpectrumOfType(this, data, 1, &MXX_EVENT_CLASS(F)::type1) ||                \
        mxx_events::emitSpectrumOfType(this, data, 2, &MXX_EVENT_CLASS(F)::type2) ||               \
        mxx_events::emitSpectrumOfType(this, data, 3, &MXX_EVENT_CLASS(F)::type3) ||               \
        mxx_events::emitSpectrumOfType(this, data, 4, &MXX_EVENT_CLASS(F)::type4) ||               \
        mxx_events::emitSpectrumOfType(this, data, 5, &MXX_EVENT_CLASS(F)::type5) ||               \
        mxx_events::emitSpectrumOfType(this, data, 6, &MXX_EVENT_CLASS(F)::type6)
#define MXX_CLAIM_SPECTRA(F, code, none, ...) || mxx_events::isSpectrum(data)
#define MXX_REGISTER_SPECTRA(F, code, none, ...) mxx_events::registerSpectrum();

#define MXX_SIGNAL_TYPED_SPECTRUM(F, code, signal, type)                                           \
    void signal(std::shared_ptr<Spectrum> spectrum);
#define MXX_METATYPE_TYPED_SPECTRUM(F, code, signal, type)
#define MXX_HOOK_TYPED_SPECTRUM(F, code, signal, type)                                             \
    {code, mxx_events::typedSpectrumEvent<MXX_EVENT_FAMILY(F), type>},
#define MXX_RECEIVE_TYPED_SPECTRUM(F, code, signal, type)                                          \
    || mxx_events::emitSpectrumOfType(this, data, type, &MXX_EVENT_CLASS(F)::signal)
#define MXX_CLAIM_TYPED_SPECTRUM(F, code, signal, type) || mxx_events::isSpectrum(data)
#define MXX_REGISTER_TYPED_SPECTRUM(F, code, signal, type) mxx_events::registerSpectrum();

#define MXX_SIGNAL_PROBE_SPECTRUM(F, code, signal, none)                                           \
    void signal(std::shared_ptr<Spectrum> spectrum);
#define MXX_METATYPE_PROBE_SPECTRUM(F, code, signal, none)
#define MXX_HOOK_PROBE_SPECTRUM(F, code, signal, none)                                             \
    {code, mxx_events::probeSpectrumEvent<MXX_EVENT_FAMILY(F)>},
#define MXX_RECEIVE_PROBE_SPECTRUM(F, code, signal, none)                                          \
    || mxx_events::emitRecord(this, data, &MXX_EVENT_CLASS(F)::signal)
#define MXX_CLAIM_PROBE_SPECTRUM(F, code, signal, none)
#define MXX_REGISTER_PROBE_SPECTRUM(F, code, signal, none) mxx_events::registerSpectrum();

#define MXX_SIGNAL_ONFLY(F, code, signal, name) void signal(std::shared_ptr<F##_##name> record);
#define MXX_METATYPE_ONFLY(F, code, signal, record)
#define MXX_HOOK_ONFLY(F, code, signal, record)                                                    \
    {code, mxx_events::onflyEvent<MXX_EVENT_FAMILY(F), F##_##record>},
#define MXX_RECEIVE_ONFLY(F, code, signal, record)                                                 \
    || mxx_events::emitOnfly(this, data, &MXX_EVENT_CLASS(F)::signal)
#define MXX_CLAIM_ONFLY(F, code, signal, record)
#define MXX_REGISTER_ONFLY(F, code, signal, record)

#define MXX_SIGNAL_ANNOUNCED(F, code, signal, type) void signal(std::shared_ptr<type> results);
#define MXX_METATYPE_ANNOUNCED(F, code, signal, type) Q_DECLARE_METATYPE(std::shared_ptr<type>)
#define MXX_HOOK_ANNOUNCED(F, code, signal, type)
#define MXX_RECEIVE_ANNOUNCED(F, code, signal, type)                                               \
    || mxx_events::emitRecord(this, data, &MXX_EVENT_CLASS(F)::signal)
#define MXX_CLAIM_ANNOUNCED(F, code, signal, type)
#define MXX_REGISTER_ANNOUNCED(F, code, signal, type)                                              \
    mxx_events::registerRecord<type>("std::shared_ptr<" #type ">");

#define MXX_SIGNAL_CUSTOM(F, code, none, hook, member)
#define MXX_METATYPE_CUSTOM(F, code, none, hook, member)
#define MXX_HOOK_CUSTOM(F, code, none, hook, member) {code, hook},
#define MXX_RECEIVE_CUSTOM(F, code, none, hook, member) || member(data)
#define MXX_CLAIM_CUSTOM(F, code, none, hook, member)
#define MXX_REGISTER_CUSTOM(F, code, none, hook, member)

#define MXX_SIGNAL_IGNORED(F, code, none, unused)
#define MXX_METATYPE_IGNORED(F, code, none, unused)
#define MXX_HOOK_IGNORED(F, code, none, unused) {code, mxx_events::ignoredEvent},
#define MXX_RECEIVE_IGNORED(F, code, none, unused)
#define MXX_CLAIM_IGNORED(F, code, none, unused)
#define MXX_REGISTER_IGNORED(F, code, none, unused)
