// The M30 event stream: hooks on the transport thread turn event frames into
// records and spectra and post them to the device; receiveData emits them as
// signals on the main thread.
#include "m30_protocol.h"

#include "protocol_events.h"

namespace {

constexpr int kM30 = 12;

namespace detail {

using namespace mxx_events;

constexpr MXX_event_handler M30SpectrumEvent = spectrumEvent<kM30>;
constexpr MXX_event_handler M30KeyboardEvent = recordEvent<kM30, M30_keyboard_data>;
constexpr MXX_event_handler M30TotalEvent = recordEvent<kM30, M30_total_data>;
constexpr MXX_event_handler M30Gamma20HzEvent = valueEvent<kM30, kGamma20HzTag>;
constexpr MXX_event_handler M30PulseDataEvent = recordEvent<kM30, M30_pulse_data>;
constexpr MXX_event_handler M30StatusEvent = recordEvent<kM30, M30_status>;
constexpr MXX_event_handler M30LightSensorEvent = valueEvent<kM30, kLightSensorTag>;
constexpr MXX_event_handler M30AlarmEvent = valueEvent<kM30, kAlarmsTag>;
constexpr MXX_event_handler M30ProgressIndicationEvent = recordEvent<kM30, M30_progress_indication>;
constexpr MXX_event_handler M30ConnmanEvent = recordEvent<kM30, M30_connman_data>;
constexpr MXX_event_handler M30AssayResultsEvent = recordEvent<kM30, M30_assay_results>;
constexpr MXX_event_handler M30IdentifyResultsEvent = recordEvent<kM30, M30_identify_results>;
constexpr MXX_event_handler M30CsStabResultsEvent = valueEvent<kM30, kCsStabResultsTag>;
constexpr MXX_event_handler M30MessageEvent = recordEvent<kM30, M30_message_event>;

// The two assay events share one record type; 1000 added to the first u16
// tells the on-the-fly results apart until receiveData takes it off again.
int M30OnAssayResultsEvent(int, char*, MXX_frame* frame, void* user)
{
    auto record = copyRecord<M30_assay_results>(frame);
    MXX_put_u16(record->bytes, static_cast<uint16_t>(MXX_get_u16(record->bytes) + 1000));
    post(user, kM30, record);
    return 0;
}

} // namespace detail

const mxx_events::Hook kHooks[] = {
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

// By Spectrum type 1 to 6.
const mxx_events::SpectrumSignal<M30Protocol> kSpectrumSignals[] = {
    nullptr,
    &M30Protocol::spectrumData,
    &M30Protocol::accumulatedSpectrumData,
    &M30Protocol::assaySpectrumData,
    &M30Protocol::csStabSpectrumData,
    &M30Protocol::bgCalibSpectrumData,
    &M30Protocol::identSpectrumData,
};

const mxx_events::ValueTag<M30Protocol> kValueTags[] = {
    {mxx_events::kAlarmsTag, &M30Protocol::alarmData},
    {mxx_events::kGamma20HzTag, &M30Protocol::total20HzData},
    {mxx_events::kLightSensorTag, &M30Protocol::lightSensorMonoData},
    {mxx_events::kCsStabResultsTag, &M30Protocol::csStabResultsData},
};

} // namespace

M30Protocol::M30Protocol()
{
    using mxx_events::registerRecord;
    registerRecord<M30_spectrum_data>("std::shared_ptr<M30_spectrum_data>");
    registerRecord<M30_keyboard_data>("std::shared_ptr<M30_keyboard_data>");
    registerRecord<M30_pulse_data>("std::shared_ptr<M30_pulse_data>");
    registerRecord<M30_status>("std::shared_ptr<M30_status>");
    registerRecord<M30_progress_indication>("std::shared_ptr<M30_progress_indication>");
    registerRecord<M30_connman_data>("std::shared_ptr<M30_connman_data>");
    registerRecord<M30_assay_results>("std::shared_ptr<M30_assay_results>");
    registerRecord<M30_identify_results>("std::shared_ptr<M30_identify_results>");
    registerRecord<M30_message_event>("std::shared_ptr<M30_message_event>");
}

void M30Protocol::bind(int connection, QThread*)
{
    Protocol::bind(connection, nullptr);
    mxx_events::hookAll(connection, kHooks);
}

bool M30Protocol::receiveData(QVariant& data)
{
    using namespace mxx_events;
    if (emitValue(this, data, kValueTags) || emitRecord(this, data, &M30Protocol::totalData) ||
        emitSpectrum(this, data, kSpectrumSignals))
        return true;
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
    return emitRecords(this, data, &M30Protocol::keyboardData, &M30Protocol::pulseData,
                       &M30Protocol::statusData, &M30Protocol::progressData,
                       &M30Protocol::messageData, &M30Protocol::identifyResultsData,
                       &M30Protocol::connmanData);
}
