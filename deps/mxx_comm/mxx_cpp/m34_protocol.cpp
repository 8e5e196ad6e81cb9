#include "m34_protocol.h"

#include "protocol_bytes.h"
#include "protocol_events.h"

namespace {

using namespace mxx_marshal;

constexpr int kM34 = 14;

namespace detail {

using namespace mxx_events;

constexpr MXX_event_handler M34SpectrumEvent = spectrumEvent<kM34>;
constexpr MXX_event_handler M34KeyboardEvent = recordEvent<kM34, M34_keyboard_data>;
constexpr MXX_event_handler M34TotalEvent = recordEvent<kM34, M34_total_data>;
constexpr MXX_event_handler M34Gamma20HzEvent = valueEvent<kM34, kGamma20HzTag>;
constexpr MXX_event_handler M34PulseDataEvent = recordEvent<kM34, M34_pulse_data>;
constexpr MXX_event_handler M34StatusEvent = recordEvent<kM34, M34_status>;
constexpr MXX_event_handler M34LightSensorEvent = valueEvent<kM34, kLightSensorTag>;
constexpr MXX_event_handler M34AlarmEvent = valueEvent<kM34, kAlarmsTag>;
constexpr MXX_event_handler M34ProgressIndicationEvent = recordEvent<kM34, M34_progress_indication>;
constexpr MXX_event_handler M34ConnmanEvent = recordEvent<kM34, M34_connman_data>;
constexpr MXX_event_handler M34AssayResultsEvent = recordEvent<kM34, M34_assay_results>;
constexpr MXX_event_handler M34IdentifyResultsEvent = recordEvent<kM34, M34_identify_results>;
constexpr MXX_event_handler M34CsStabResultsEvent = valueEvent<kM34, kCsStabResultsTag>;
constexpr MXX_event_handler M34MessageEvent = recordEvent<kM34, M34_message_event>;

} // namespace detail

// M30's stream without 10017, in the same order.
const mxx_events::Hook kHooks[] = {
    {10002, detail::M34SpectrumEvent},
    {10003, detail::M34KeyboardEvent},
    {10005, detail::M34TotalEvent},
    {10004, detail::M34Gamma20HzEvent},
    {10006, detail::M34PulseDataEvent},
    {10007, detail::M34StatusEvent},
    {10010, detail::M34LightSensorEvent},
    {10011, detail::M34AlarmEvent},
    {10012, detail::M34ProgressIndicationEvent},
    {10013, detail::M34ConnmanEvent},
    {10014, detail::M34AssayResultsEvent},
    {10009, detail::M34IdentifyResultsEvent},
    {10015, detail::M34CsStabResultsEvent},
    {10016, detail::M34MessageEvent},
};

// By Spectrum type 1 to 6.
const mxx_events::SpectrumSignal<M34Protocol> kSpectrumSignals[] = {
    nullptr,
    &M34Protocol::spectrumData,
    &M34Protocol::accumulatedSpectrumData,
    &M34Protocol::assaySpectrumData,
    &M34Protocol::csStabSpectrumData,
    &M34Protocol::bgCalibSpectrumData,
    &M34Protocol::identSpectrumData,
};

const mxx_events::ValueTag<M34Protocol> kValueTags[] = {
    {mxx_events::kAlarmsTag, &M34Protocol::alarmData},
    {mxx_events::kGamma20HzTag, &M34Protocol::total20HzData},
    {mxx_events::kLightSensorTag, &M34Protocol::lightSensorMonoData},
    {mxx_events::kCsStabResultsTag, &M34Protocol::csStabResultsData},
};

} // namespace

M34Protocol::M34Protocol()
{
    M34_EVENT_RECORDS(MXX_EVENT_RECORD_REGISTER)
}

void M34Protocol::bind(int connection, QThread*)
{
    Protocol::bind(connection, nullptr);
    mxx_events::hookAll(connection, kHooks);
}

bool M34Protocol::receiveData(QVariant& data)
{
    using namespace mxx_events;
    return emitValue(this, data, kValueTags) || emitSpectrum(this, data, kSpectrumSignals) ||
           emitRecords(this, data, &M34Protocol::totalData, &M34Protocol::keyboardData,
                       &M34Protocol::pulseData, &M34Protocol::statusData,
                       &M34Protocol::progressData, &M34Protocol::messageData,
                       &M34Protocol::assayResultsData, &M34Protocol::identifyResultsData,
                       &M34Protocol::connmanData);
}

bool M34Protocol::savePallet(const M34_pallet& pallet, int& id)
{
    Word answer{};
    return intAnswer(M34_save_pallet(connection(), pallet.bytes, answer.data(), 1), answer, id);
}

bool M34Protocol::getCurrentPalletId(int& id)
{
    Word answer{};
    return intAnswer(M34_get_current_pallet_id(connection(), answer.data(), 1), answer, id);
}

bool M34Protocol::setCurrentHole(int hole, const QString& name)
{
    uint8_t request[M34_HOLE_SIZE];
    MXX_put_u32(request, static_cast<uint32_t>(hole));
    putText(request + 4, M34_HOLE_SIZE - 4, name);
    return M34_set_current_hole(connection(), request, 1) == 0;
}

bool M34Protocol::setAssayDepth(float depth)
{
    return M34_set_assay_depth(connection(), f32(depth).data(), 1) == 0;
}

bool M34Protocol::getHoleState(M34_hole_state& state)
{
    return M34_get_hole_state(connection(), state.bytes, 1) == 0;
}

bool M34Protocol::getLastUnfinishedPallet(M34_pallet& pallet)
{
    return M34_get_last_unfinished_pallet(connection(), pallet.bytes, 1) == 0;
}

bool M34Protocol::getCurrentPalletDepth(float& depth)
{
    Word answer{};
    if (M34_get_current_pallet_depth(connection(), answer.data(), 1) != 0)
        return false;
    depth = MXX_get_f32(answer.data());
    return true;
}

bool M34Protocol::recreateDatabase()
{
    return M34_recreate_database(connection(), 1) == 0;
}
