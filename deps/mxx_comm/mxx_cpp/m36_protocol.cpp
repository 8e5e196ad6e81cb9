#include "m36_protocol.h"

#include "protocol_bytes.h"
#include "protocol_events.h"

namespace {

using namespace mxx_marshal;

constexpr int kM36 = 15;

namespace detail {

using namespace mxx_events;

constexpr MXX_event_handler M36SpectrumEvent = spectrumEvent<kM36>;
constexpr MXX_event_handler M36TotalEvent = recordEvent<kM36, M36_total_data>;
constexpr MXX_event_handler M36PulseDataEvent = recordEvent<kM36, M36_pulse_data>;
constexpr MXX_event_handler M36StatusEvent = recordEvent<kM36, M36_status_data>;
constexpr MXX_event_handler M36ProgressIndicationEvent = recordEvent<kM36, M36_progress_indication>;
constexpr MXX_event_handler M36ConnmanEvent = recordEvent<kM36, M36_connman_data>;
constexpr MXX_event_handler M36AssayResultsEvent = recordEvent<kM36, M36_assay_results>;
constexpr MXX_event_handler M36IdentifyResultsEvent = recordEvent<kM36, M36_identify_results>;
constexpr MXX_event_handler M36CsStabResultsEvent = valueEvent<kM36, kCsStabResultsTag>;

} // namespace detail

const mxx_events::Hook kHooks[] = {
    {10002, detail::M36SpectrumEvent},           {10005, detail::M36TotalEvent},
    {10006, detail::M36PulseDataEvent},          {10007, detail::M36StatusEvent},
    {10012, detail::M36ProgressIndicationEvent}, {10013, detail::M36ConnmanEvent},
    {10014, detail::M36AssayResultsEvent},       {10009, detail::M36IdentifyResultsEvent},
    {10015, detail::M36CsStabResultsEvent},
};

// By Spectrum type 1 to 6, as M30's.
const mxx_events::SpectrumSignal<M36Protocol> kSpectrumSignals[] = {
    nullptr,
    &M36Protocol::spectrumData,
    &M36Protocol::accumulatedSpectrumData,
    &M36Protocol::assaySpectrumData,
    &M36Protocol::csStabSpectrumData,
    &M36Protocol::bgCalibSpectrumData,
    &M36Protocol::identSpectrumData,
};

const mxx_events::ValueTag<M36Protocol> kValueTags[] = {
    {mxx_events::kCsStabResultsTag, &M36Protocol::csStabResultsData},
};

} // namespace

M36Protocol::M36Protocol()
{
    M36_EVENT_RECORDS(MXX_EVENT_RECORD_REGISTER)
}

void M36Protocol::bind(int connection, QThread*)
{
    Protocol::bind(connection, nullptr);
    mxx_events::hookAll(connection, kHooks);
}

bool M36Protocol::receiveData(QVariant& data)
{
    using namespace mxx_events;
    return emitValue(this, data, kValueTags) || emitSpectrum(this, data, kSpectrumSignals) ||
           emitRecords(this, data, &M36Protocol::totalData, &M36Protocol::pulseData,
                       &M36Protocol::statusData, &M36Protocol::progressData,
                       &M36Protocol::assayResultsData, &M36Protocol::identifyResultsData,
                       &M36Protocol::connmanData);
}

bool M36Protocol::getEthernetList(QList<QStringList>& interfaces)
{
    uint8_t list[M36_ETHERNET_LIST_SIZE];
    if (M36_get_ethernet_list(connection(), list, 1) != 0)
        return false;
    const uint32_t count = std::min<uint32_t>(MXX_get_u32(list), M36_ETHERNET_ENTRIES);
    QList<QStringList> out;
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t* e = list + 4 + M36_ETHERNET_ENTRY_SIZE * i;
        out.append({textAt(e, 32), textAt(e + 32, 40), textAt(e + 72, 40), textAt(e + 112, 20)});
    }
    interfaces = out;
    return true;
}

bool M36Protocol::uploadEfficiencyLut(const QVector<QPair<float, float>>& points)
{
    if (points.size() > M36_EFFICIENCY_POINTS)
        return false;
    std::array<uint8_t, M36_EFFICIENCY_LUT_SIZE> table{};
    MXX_put_u32(table.data(), static_cast<uint32_t>(points.size()));
    for (int i = 0; i < points.size(); ++i) {
        MXX_put_f32(table.data() + 4 + 8 * i, points[i].first);
        MXX_put_f32(table.data() + 8 + 8 * i, points[i].second);
    }
    return M36_upload_efficiency_lut(connection(), table.data(), 1) == 0;
}
