#include "m28_protocol.h"

#include "protocol_bytes.h"
#include "protocol_events.h"

#include <algorithm>

namespace {

using namespace mxx_marshal;

constexpr int kM28 = 11;

namespace detail {

using namespace mxx_events;

// The two spectrum events carry the M30 payload; the event says which it is.
constexpr MXX_event_handler M28SpectrumEvent = typedSpectrumEvent<kM28, 1>;
constexpr MXX_event_handler M28AccSpectrumEvent = typedSpectrumEvent<kM28, 2>;
constexpr MXX_event_handler M28KeyboardEvent = recordEvent<kM28, M28_keyboard_data>;
constexpr MXX_event_handler M28TotalEvent = recordEvent<kM28, M28_total_data>;
constexpr MXX_event_handler M28Gamma20HzEvent = valueEvent<kM28, kGamma20HzTag>;
constexpr MXX_event_handler M28PulseDataEvent = recordEvent<kM28, M28_pulse_data>;
constexpr MXX_event_handler M28StatusEvent = recordEvent<kM28, M28_status>;
constexpr MXX_event_handler M28LightSensorEvent = valueEvent<kM28, kLightSensorTag>;
constexpr MXX_event_handler M28AlarmEvent = valueEvent<kM28, kAlarmsTag>;
constexpr MXX_event_handler M28ProgressIndicationEvent = recordEvent<kM28, M28_progress_indication>;
constexpr MXX_event_handler M28ConnmanEvent = recordEvent<kM28, M28_connman_data>;
constexpr MXX_event_handler M28MessageEvent = valueEvent<kM28, kMessageTag>;
constexpr MXX_event_handler M28CsCalibEvent = recordEvent<kM28, M28_cs_calib_data>;

} // namespace detail

const mxx_events::Hook kHooks[] = {
    {10002, detail::M28SpectrumEvent},  {10008, detail::M28AccSpectrumEvent},
    {10003, detail::M28KeyboardEvent},  {10005, detail::M28TotalEvent},
    {10004, detail::M28Gamma20HzEvent}, {10006, detail::M28PulseDataEvent},
    {10007, detail::M28StatusEvent},    {10010, detail::M28LightSensorEvent},
    {10011, detail::M28AlarmEvent},     {10012, detail::M28ProgressIndicationEvent},
    {10013, detail::M28ConnmanEvent},   {10014, detail::M28MessageEvent},
    {10015, detail::M28CsCalibEvent},
};

const mxx_events::SpectrumSignal<M28Protocol> kSpectrumSignals[] = {
    nullptr,
    &M28Protocol::spectrumData,
    &M28Protocol::accSpectrumData,
};

const mxx_events::ValueTag<M28Protocol> kValueTags[] = {
    {mxx_events::kAlarmsTag, &M28Protocol::alarmData},
    {mxx_events::kGamma20HzTag, &M28Protocol::total20HzData},
    {mxx_events::kLightSensorTag, &M28Protocol::lightSensorMonoData},
    {mxx_events::kMessageTag, &M28Protocol::messageData},
};

// Three i32 fields, as the date and time commands carry them.
std::array<uint8_t, 12> triple(int a, int b, int c)
{
    std::array<uint8_t, 12> r;
    MXX_put_u32(r.data(), static_cast<uint32_t>(a));
    MXX_put_u32(r.data() + 4, static_cast<uint32_t>(b));
    MXX_put_u32(r.data() + 8, static_cast<uint32_t>(c));
    return r;
}

int fieldOf(const std::array<uint8_t, 12>& r, int i)
{
    return static_cast<int32_t>(MXX_get_u32(r.data() + 4 * i));
}

} // namespace

M28Protocol::M28Protocol()
{
    M28_EVENT_RECORDS(MXX_EVENT_RECORD_REGISTER)
    mxx_events::registerRecord<M28_cs_calib_data>("std::shared_ptr<M28_cs_calib_data>");
    mxx_events::registerRecord<QList<QStringList>>("std::shared_ptr<QList<QStringList>>");
}

void M28Protocol::bind(int connection, QThread*)
{
    Protocol::bind(connection, nullptr);
    mxx_events::hookAll(connection, kHooks);
}

bool M28Protocol::receiveData(QVariant& data)
{
    using namespace mxx_events;
    return emitValue(this, data, kValueTags) || emitSpectrum(this, data, kSpectrumSignals) ||
           emitRecords(this, data, &M28Protocol::totalData, &M28Protocol::keyboardData,
                       &M28Protocol::pulseData, &M28Protocol::statusData,
                       &M28Protocol::progressData, &M28Protocol::connmanData,
                       &M28Protocol::csCalibData, &M28Protocol::identResultsData);
}

bool M28Protocol::getDate(QDate& date)
{
    std::array<uint8_t, 12> answer{};
    if (M28_get_date(connection(), answer.data(), 1) != 0)
        return false;
    const QDate read(fieldOf(answer, 0), fieldOf(answer, 1), fieldOf(answer, 2));
    if (!read.isValid())
        return false;
    date = read;
    return true;
}

bool M28Protocol::setDate(const QDate& date)
{
    return date.isValid() &&
           M28_set_date(connection(), triple(date.year(), date.month(), date.day()).data(), 1) == 0;
}

bool M28Protocol::getTime(QTime& time)
{
    std::array<uint8_t, 12> answer{};
    if (M28_get_time(connection(), answer.data(), 1) != 0)
        return false;
    const QTime read(fieldOf(answer, 0), fieldOf(answer, 1), fieldOf(answer, 2));
    if (!read.isValid())
        return false;
    time = read;
    return true;
}

bool M28Protocol::setTime(const QTime& time)
{
    return time.isValid() &&
           M28_set_time(connection(), triple(time.hour(), time.minute(), time.second()).data(),
                        1) == 0;
}

bool M28Protocol::modifyUser(int number, const QString& name, const QString& pin)
{
    uint8_t request[4 + 2 * M28_TEXT_FIELD];
    MXX_put_u32(request, static_cast<uint32_t>(number));
    putText(request + 4, M28_TEXT_FIELD, name);
    putText(request + 4 + M28_TEXT_FIELD, M28_TEXT_FIELD, pin);
    return M28_modify_user(connection(), request, 1) == 0;
}

bool M28Protocol::setLoggedUser(int number, const QString& pin)
{
    uint8_t request[4 + M28_TEXT_FIELD];
    MXX_put_u32(request, static_cast<uint32_t>(number));
    putText(request + 4, M28_TEXT_FIELD, pin);
    return M28_set_logged_user(connection(), request, 1) == 0;
}

bool M28Protocol::getLoggedUser(int& number, QString& name)
{
    uint8_t answer[4 + M28_TEXT_FIELD];
    if (M28_get_logged_user(connection(), answer, 1) != 0)
        return false;
    number = static_cast<int32_t>(MXX_get_u32(answer));
    name = textAt(answer + 4, M28_TEXT_FIELD);
    return true;
}

bool M28Protocol::storeMeasurement()
{
    return M28_store_measurement(connection(), 1) == 0;
}

bool M28Protocol::storeMetadata(const QString& text)
{
    return M28_store_metadata(connection(), textRequest<256>(text).data(), 1) == 0;
}

bool M28Protocol::startCsCalibration()
{
    return M28_start_cs_calibration(connection(), 1) == 0;
}

bool M28Protocol::stopCsCalibration()
{
    return M28_stop_cs_calibration(connection(), 1) == 0;
}

bool M28Protocol::setStabilization(int on)
{
    return M28_set_stabilization(connection(), i32(on).data(), 1) == 0;
}

bool M28Protocol::checkMassStorage(int& state, quint32& totalKiB, quint32& freeKiB)
{
    std::array<uint8_t, 12> answer{};
    if (M28_check_mass_storage(connection(), answer.data(), 1) != 0)
        return false;
    state = fieldOf(answer, 0);
    totalKiB = MXX_get_u32(answer.data() + 4);
    freeKiB = MXX_get_u32(answer.data() + 8);
    return true;
}

bool M28Protocol::formatMassStorage()
{
    return M28_format_mass_storage(connection(), 1) == 0;
}

bool M28Protocol::listFiles(const QString& folder, QList<FileEntry>& files)
{
    std::array<uint8_t, M28_FILE_LIST_SIZE> answer{};
    if (M28_list_files(connection(), textRequest<M28_PATH_FIELD>(folder).data(), answer.data(),
                       1) != 0)
        return false;
    const uint32_t count = std::min<uint32_t>(MXX_get_u32(answer.data()), M28_FILE_ENTRIES);
    QList<FileEntry> list;
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t* e = answer.data() + 4 + M28_FILE_ENTRY_SIZE * i;
        list.append({textAt(e, M28_FILE_NAME_FIELD), MXX_get_u32(e + M28_FILE_NAME_FIELD),
                     (MXX_get_u32(e + M28_FILE_NAME_FIELD + 4) & 1) != 0});
    }
    files = list;
    return true;
}

bool M28Protocol::loadParamsFromFile(const QString& path)
{
    return M28_load_params_from_file(connection(), textRequest<M28_PATH_FIELD>(path).data(), 1) ==
           0;
}

bool M28Protocol::loadNuclideLibraryFromFile(const QString& path)
{
    return M28_load_nuclide_library_from_file(connection(),
                                              textRequest<M28_PATH_FIELD>(path).data(), 1) == 0;
}

bool M28Protocol::exportData(int what, int format, const QString& target)
{
    uint8_t request[8 + M28_PATH_FIELD];
    MXX_put_u32(request, static_cast<uint32_t>(what));
    MXX_put_u32(request + 4, static_cast<uint32_t>(format));
    putText(request + 8, M28_PATH_FIELD, target);
    return M28_export_data(connection(), request, 1) == 0;
}

bool M28Protocol::getIdentResults(QList<QStringList>& results)
{
    std::array<uint8_t, M28_IDENT_RESULTS_SIZE> answer{};
    if (M28_get_ident_results(connection(), answer.data(), 1) != 0)
        return false;
    const uint32_t count = std::min<uint32_t>(MXX_get_u32(answer.data()), M28_IDENT_ENTRIES);
    auto found = std::make_shared<QList<QStringList>>();
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t* e = answer.data() + 4 + M28_IDENT_ENTRY_SIZE * i;
        found->append({textAt(e, 16), textAt(e + 16, 16),
                       QString::number(static_cast<double>(MXX_get_f32(e + 32)), 'f', 1)});
    }
    results = *found;
    emit identResultsData(found);
    return true;
}

bool M28Protocol::removeDatabase()
{
    return M28_remove_database(connection(), 1) == 0;
}
