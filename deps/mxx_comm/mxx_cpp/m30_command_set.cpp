#include "m30_command_set.h"

#include "protocol_bytes.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstring>

namespace {

using namespace mxx_marshal;

} // namespace

bool M30CommandSet::getVersions(M30_versions& v)
{
    return M30_get_versions(connection(), v.bytes, 1) == 0;
}
bool M30CommandSet::getDateTime(M30_date_time& d)
{
    return M30_get_date_time(connection(), d.bytes, 1) == 0;
}
bool M30CommandSet::setDateTime(M30_date_time& d)
{
    return M30_set_date_time(connection(), d.bytes, 1) == 0;
}
bool M30CommandSet::setGuiSerial(QString serial)
{
    return M30_set_gui_serial(connection(), textRequest<8>(serial).data(), 1) == 0;
}

bool M30CommandSet::getEventFilter(int& filter)
{
    uint8_t answer[8] = {};
    if (M30_get_event_filter(connection(), answer, 1) != 0)
        return false;
    filter = static_cast<int>(MXX_get_u32(answer));
    return true;
}

bool M30CommandSet::setEventFilter(int filter)
{
    uint8_t request[8] = {};
    MXX_put_u32(request, static_cast<uint32_t>(filter));
    return M30_set_event_filter(connection(), request, 1) == 0;
}

bool M30CommandSet::getInhitibion(int& first, int& second)
{
    uint8_t answer[4] = {};
    if (M30_get_inhibition(connection(), answer, 1) != 0)
        return false;
    first = MXX_get_u16(answer);
    second = MXX_get_u16(answer + 2);
    return true;
}

bool M30CommandSet::setInhibition(int first, int second)
{
    uint8_t request[4];
    MXX_put_u16(request, static_cast<uint16_t>(first));
    MXX_put_u16(request + 2, static_cast<uint16_t>(second));
    return M30_set_inhibition(connection(), request, 1) == 0;
}

bool M30CommandSet::restart()
{
    return M30_restart(connection(), 1) == 0;
}
bool M30CommandSet::setupDisplay(int setup)
{
    return M30_setup_display(connection(), i32(setup).data(), 1) == 0;
}
bool M30CommandSet::emulateKey(int key)
{
    return M30_emulate_key(connection(), i32(key).data(), 1) == 0;
}
bool M30CommandSet::getParams(M30_params& p)
{
    return M30_get_params(connection(), p.bytes, 1) == 0;
}
bool M30CommandSet::setParams(M30_params& p)
{
    return M30_set_params(connection(), p.bytes, 1) == 0;
}
bool M30CommandSet::getStatus(M30_status& s)
{
    return M30_get_status(connection(), s.bytes, 1) == 0;
}

bool M30CommandSet::getGpsPower(int& power)
{
    Word answer{};
    return intAnswer(M30_get_gps_power(connection(), answer.data(), 1), answer, power);
}

bool M30CommandSet::setGpsPower(int power)
{
    return M30_set_gps_power(connection(), i32(power).data(), 1) == 0;
}
bool M30CommandSet::reaquireBg()
{
    return M30_reacquire_background(connection(), 1) == 0;
}
bool M30CommandSet::confirmAlarms(int alarms)
{
    return M30_confirm_alarms(connection(), i32(alarms).data(), 1) == 0;
}
bool M30CommandSet::setDefaultParams()
{
    return M30_set_default_params(connection(), 1) == 0;
}
bool M30CommandSet::loadDefaultParams()
{
    return M30_load_default_params(connection(), 1) == 0;
}

bool M30CommandSet::loadGammaBackupParams(int& status)
{
    uint32_t st = kNoFrame;
    return withStatus(M30_load_gamma_backup_params(connection(), &st, 1), st, status);
}

bool M30CommandSet::setLeds(int leds)
{
    // Bits 0-4 hold 1, bits 5-8 the argument's bit 1 (as bit 6), bits 9-15
    // its bit 0 (as bit 9).
    const uint32_t word =
        1u | (static_cast<uint32_t>(leds & 2) << 5) | (static_cast<uint32_t>(leds & 1) << 9);
    uint8_t request[4];
    MXX_put_u32(request, word);
    return M30_set_leds(connection(), request, 1) == 0;
}

bool M30CommandSet::getLeds()
{
    return false;
}
bool M30CommandSet::startCsStab()
{
    return M30_start_cs_stab_acc_spectrum(connection(), 1) == 0;
}
bool M30CommandSet::stopCsStab()
{
    return M30_stop_cs_stab_acc_spectrum(connection(), 1) == 0;
}
bool M30CommandSet::clearAccumulatedSpectrum()
{
    return M30_clear_accumulated_spectrum(connection(), 1) == 0;
}
bool M30CommandSet::startAccumulatedSpectrum(int mode)
{
    return M30_start_accumulated_spectrum(connection(), i32(mode).data(), 1) == 0;
}
bool M30CommandSet::stopAccumulatedSpectrum()
{
    return M30_stop_accumulated_spectrum(connection(), 1) == 0;
}
bool M30CommandSet::startAssay()
{
    return M30_start_assay_acc_spectrum(connection(), 1) == 0;
}
bool M30CommandSet::stopAssay()
{
    return M30_stop_assay_acc_spectrum(connection(), 1) == 0;
}
bool M30CommandSet::recordSurvey(int mode)
{
    return M30_record_survey(connection(), i32(mode).data(), 1) == 0;
}

bool M30CommandSet::deleteRecord(int first, int second, int third, int fourth)
{
    uint8_t request[12];
    MXX_put_u32(request, static_cast<uint32_t>(first));
    MXX_put_u32(request + 4, static_cast<uint32_t>(second));
    MXX_put_u16(request + 8, static_cast<uint16_t>(third));
    MXX_put_u16(request + 10, static_cast<uint16_t>(fourth));
    return M30_delete_record_id(connection(), request, 1) == 0;
}

bool M30CommandSet::storeAssay()
{
    return M30_store_assay(connection(), 1) == 0;
}
bool M30CommandSet::storeIdent()
{
    return M30_store_ident(connection(), 1) == 0;
}

bool M30CommandSet::assignNote(int record, int note)
{
    uint8_t request[8];
    MXX_put_u32(request, static_cast<uint32_t>(record));
    MXX_put_u32(request + 4, static_cast<uint32_t>(note));
    return M30_assign_note(connection(), request, 1) == 0;
}

bool M30CommandSet::getMemoryUsage(M30_memory_usage& u)
{
    return M30_get_memory_usage(connection(), u.bytes, 1) == 0;
}

bool M30CommandSet::saveCalibLog(int value, QString text)
{
    uint8_t request[280] = {};
    MXX_put_u32(request + 4, static_cast<uint32_t>(-1));
    MXX_put_u32(request + 8, static_cast<uint32_t>(value));
    putText(request + 24, 256, text);
    return M30_save_calib_log(connection(), request, 1) == 0;
}

bool M30CommandSet::checkCalibDate(int what, M30_check_calib* result)
{
    M30_check_calib scratch;
    return M30_check_calib_date(connection(), i32(what).data(), (result ? result : &scratch)->bytes,
                                1) == 0;
}

bool M30CommandSet::startIdent(int mode)
{
    return M30_start_ident_acc_spectrum(connection(), i32(mode).data(), 1) == 0;
}
bool M30CommandSet::stopIdent()
{
    return M30_stop_ident_acc_spectrum(connection(), 1) == 0;
}

bool M30CommandSet::startRecordAudio(int& slot)
{
    Word answer{};
    return intAnswer(M30_start_record_audio(connection(), answer.data(), 1), answer, slot);
}

bool M30CommandSet::stopRecordAudio()
{
    return M30_stop_record_audio(connection(), 1) == 0;
}
bool M30CommandSet::playAudio(int slot)
{
    return M30_play_audio(connection(), i32(slot).data(), 1) == 0;
}
bool M30CommandSet::stopAudio()
{
    return M30_stop_audio(connection(), 1) == 0;
}

bool M30CommandSet::prepareNoteDB(int what, int& count)
{
    Word answer{};
    return intAnswer(M30_prepare_note_db(connection(), i32(what).data(), answer.data(), 1), answer,
                     count);
}

bool M30CommandSet::getCalibrationMethodNames(M30_calibration_method_name& names, int& status)
{
    uint32_t st = kNoFrame;
    return withStatus(M30_get_calibration_method_names(connection(), names.bytes, &st, 1), st,
                      status);
}

bool M30CommandSet::getCalibMethods(QString name, M30_calibration_methods& methods, int& status)
{
    uint32_t st = kNoFrame;
    return withStatus(M30_get_calibration_methods(connection(), textRequest<16>(name).data(),
                                                  methods.bytes, &st, 1),
                      st, status);
}

bool M30CommandSet::saveCalibMethods(M30_calibration_methods& methods, int& status)
{
    uint32_t st = kNoFrame;
    return withStatus(M30_save_calibration_methods(connection(), methods.bytes, &st, 1), st,
                      status);
}

bool M30CommandSet::saveCalibSpect(QString name, int number, int kind, int& status)
{
    uint8_t key[22] = {};
    MXX_put_u16(key, static_cast<uint16_t>(number));
    putText(key + 2, 16, name);
    MXX_put_u16(key + 18, static_cast<uint16_t>(kind));
    uint32_t st = kNoFrame;
    return withStatus(M30_save_calibration_spect(connection(), key, &st, 1), st, status);
}

bool M30CommandSet::uploadCalibSpect(M30_spectrum_data spectrum, QString name, int number, int kind,
                                     int& status)
{
    constexpr uint32_t kMaxChannels = 1024;
    const uint32_t channels = MXX_get_u32(spectrum.bytes);
    if (channels > kMaxChannels)
        return false;
    M30_calib_spectrum request;
    uint8_t* r = request.bytes;
    MXX_put_u16(r, static_cast<uint16_t>(number));
    putText(r + 2, 16, name);
    MXX_put_u32(r + 18, static_cast<uint32_t>(kind));
    MXX_put_u32(r + 50, channels);
    std::memcpy(r + 156, spectrum.bytes + 106, 16);
    std::memcpy(r + 174, spectrum.bytes + 124, 4 * channels);
    uint32_t st = kNoFrame;
    return withStatus(M30_upload_calibration_spectrum(connection(), r, &st, 1), st, status);
}

bool M30CommandSet::downloadCalibSpect(int kind, int number, int part, M30_calib_spectrum& spectrum,
                                       int& status)
{
    uint8_t key[22] = {};
    MXX_put_u16(key, static_cast<uint16_t>(number));
    MXX_put_u16(key + 18, static_cast<uint16_t>(kind));
    MXX_put_u16(key + 20, static_cast<uint16_t>(part));
    uint32_t st = kNoFrame;
    return withStatus(M30_download_calibration_spectrum(connection(), key, spectrum.bytes, &st, 1),
                      st, status);
}

bool M30CommandSet::setLinearizationSpect(int spectrum)
{
    return M30_set_linearization_spect(connection(), i32(spectrum).data(), 1) == 0;
}
bool M30CommandSet::linearizate()
{
    return M30_linearizate(connection(), 1) == 0;
}
bool M30CommandSet::setHv(int hv)
{
    return M30_set_hv(connection(), i32(hv).data(), 1) == 0;
}
bool M30CommandSet::powerOff()
{
    return M30_power_off(connection(), 1) == 0;
}
bool M30CommandSet::welcome()
{
    return M30_welcome(connection(), 1) == 0;
}

bool M30CommandSet::txBuffDownload(int kind, unsigned int selector, int start, int limit,
                                   int extra1, int extra2, int* count, int* result2, int* result3,
                                   char* data, int* total)
{
    const long long room =
        kind == M30_TX_KIND_INDEX_LIST ? 4LL * std::max(limit, 0) : M30_SURVEY_RECORD_SIZE;
    return txBuffDownload(kind, selector, start, limit, extra1, extra2, count, result2, result3,
                          data, static_cast<int>(std::min<long long>(room, INT_MAX)), total);
}

bool M30CommandSet::txBuffDownload(int kind, unsigned int selector, int start, int limit,
                                   int extra1, int extra2, int* count, int* result2, int* result3,
                                   char* data, int capacity, int* total)
{
    int* const results[] = {count, result2, result3};
    auto refused = [&results] {
        for (int* r : results)
            if (r)
                *r = 0;
        return false;
    };
    uint8_t info[M30_TX_INFO_SIZE] = {};
    if (M30_tx_buff_info(connection(), 0, info, 1) != 0)
        return refused();
    M30_tx_buff_prepare_request prepare{};
    const int words[] = {kind, static_cast<int>(selector), start, limit, extra1, extra2};
    for (int i = 0; i < 6; ++i)
        prepare.word[i] = static_cast<uint32_t>(words[i]);
    uint8_t prepared[M30_TX_PREPARE_SIZE] = {};
    if (M30_tx_buff_prepare(connection(), prepare, prepared, 1) != 0)
        return refused();
    for (int i = 0; i < 3; ++i)
        if (results[i])
            *results[i] = static_cast<int>(MXX_get_u32(prepared + 4 * (i + 1)));
    if (total)
        *total = 0;

    const uint32_t room = data ? static_cast<uint32_t>(std::max(capacity, 0)) : 0;
    M30_tx_buff_chunk_request request{0, MXX_get_u32(info + 4), selector};
    uint8_t chunk[M30_TX_CHUNK_HEAD + M30_TX_CHUNK_MAX];
    for (;;) {
        // A chunk the command layer did not take leaves n at 0 and so ends
        // the item, instead of repeating the previous chunk's bytes.
        MXX_put_u32(chunk, 0);
        uint32_t size = 0;
        if (M30_tx_buff_get(connection(), request, chunk, &size, 1) != 0)
            return false;
        const uint32_t n = MXX_get_u32(chunk);
        if (n == 0)
            break;
        if (n > M30_TX_CHUNK_MAX || size < M30_TX_CHUNK_HEAD || n > size - M30_TX_CHUNK_HEAD ||
            n > room - request.offset)
            return false;
        std::memcpy(data + request.offset, chunk + M30_TX_CHUNK_HEAD, n);
        request.offset += n;
    }
    if (total)
        *total += static_cast<int>(request.offset);
    return true;
}

bool M30CommandSet::setAdcParameter(int parameter, int value)
{
    uint8_t request[8];
    MXX_put_u32(request, static_cast<uint32_t>(parameter));
    MXX_put_u32(request + 4, static_cast<uint32_t>(value));
    return M30_set_adc_param(connection(), request, 1) == 0;
}

bool M30CommandSet::getMotionSensorData(M30_motion_sensor& d)
{
    return M30_get_motion_sensor_data(connection(), d.bytes, 1) == 0;
}

bool M30CommandSet::getUsbGadgetList(M30_usb_gadget_list* list)
{
    M30_usb_gadget_list scratch;
    return M30_get_usb_gadget_list(connection(), (list ? list : &scratch)->bytes, 1) == 0;
}

bool M30CommandSet::getWifiIpv4List(QString network, M30_wifi_ipv4_list* list)
{
    M30_wifi_ipv4_list scratch;
    return M30_get_wifi_ipv4_list(connection(), textRequest<255>(network).data(),
                                  (list ? list : &scratch)->bytes, 1) == 0;
}

bool M30CommandSet::getWifiIpv6List(QString network, M30_wifi_ipv6_list* list)
{
    M30_wifi_ipv6_list scratch;
    return M30_get_wifi_ipv6_list(connection(), textRequest<255>(network).data(),
                                  (list ? list : &scratch)->bytes, 1) == 0;
}

bool M30CommandSet::connectWifi(QString network, int mode)
{
    uint8_t request[257];
    MXX_put_u16(request, static_cast<uint16_t>(mode));
    putText(request + 2, 255, network);
    return M30_connect_wifi(connection(), request, 1) == 0;
}

bool M30CommandSet::setWifi(int on)
{
    return M30_set_wifi(connection(), i32(on).data(), 1) == 0;
}
bool M30CommandSet::setPassphrase(QString passphrase)
{
    return M30_set_passphrase(connection(), textRequest<255>(passphrase).data(), 1) == 0;
}
bool M30CommandSet::wifiScan()
{
    return M30_wifi_scan(connection(), 1) == 0;
}
bool M30CommandSet::removeWifi(QString network)
{
    return M30_remove_wifi(connection(), textRequest<255>(network).data(), 1) == 0;
}

namespace {

struct Field
{
    size_t at, size;
};

// Text fields from the arguments in order, into a cleared request; an empty
// argument leaves its field zero.
template <size_t Size, size_t N>
std::array<uint8_t, Size> textFields(const Field (&fields)[N], const QString (&texts)[N])
{
    std::array<uint8_t, Size> r{};
    for (size_t i = 0; i < N; ++i)
        putText(r.data() + fields[i].at, fields[i].size, texts[i]);
    return r;
}

} // namespace

bool M30CommandSet::setIpv4(QString a, QString b, QString c, QString d, QString e)
{
    static const Field fields[] = {{0, 64}, {64, 16}, {80, 20}, {100, 20}, {120, 20}};
    const QString texts[] = {a, b, c, d, e};
    return M30_set_ipv4(connection(), textFields<140>(fields, texts).data(), 1) == 0;
}

bool M30CommandSet::setIpv6(QString a, QString b, QString c, QString d, QString e)
{
    static const Field fields[] = {{0, 64}, {64, 16}, {80, 30}, {144, 8}, {152, 32}};
    const QString texts[] = {a, b, c, d, e};
    return M30_set_ipv6(connection(), textFields<232>(fields, texts).data(), 1) == 0;
}

bool M30CommandSet::setNameServers(QString first, QString second)
{
    static const Field fields[] = {{0, 20}, {20, 32}};
    const QString texts[] = {second, first};
    return M30_set_nameservers(connection(), textFields<52>(fields, texts).data(), 1) == 0;
}

bool M30CommandSet::setAutoconnect(QString network, int on)
{
    uint8_t request[66];
    putText(request, 64, network);
    MXX_put_u16(request + 64, static_cast<uint16_t>(on));
    return M30_set_wifi_autoconnect(connection(), request, 1) == 0;
}

bool M30CommandSet::requestAssayResult()
{
    return M30_send_assay_results(connection(), 1) == 0;
}
bool M30CommandSet::assayCalculation()
{
    return M30_assay_calculation(connection(), 1) == 0;
}
bool M30CommandSet::identifyCalculation()
{
    return M30_identify_calculation(connection(), 1) == 0;
}
bool M30CommandSet::setLookupTable(int table)
{
    return M30_set_lookup_table(connection(), i32(table).data(), 1) == 0;
}
bool M30CommandSet::sessionToMaintainer()
{
    return M30_session_to_maintainer(connection(), 1) == 0;
}

bool M30CommandSet::getNuclideLibrary(M30_nuclib_entry* library, int part)
{
    M30_nuclib_entry scratch;
    return M30_get_nuclide_library(connection(), i32(part).data(),
                                   (library ? library : &scratch)->bytes, 1) == 0;
}

bool M30CommandSet::setNuclideLibrary(M30_nuclib_entry* library)
{
    return library && M30_set_nuclide_library(connection(), library->bytes, 1) == 0;
}
bool M30CommandSet::writeLog(QString text)
{
    return M30_write_log(connection(), textRequest<255>(text).data(), 1) == 0;
}
bool M30CommandSet::initCalibMethods()
{
    return M30_init_calib_methods(connection(), 1) == 0;
}

bool M30CommandSet::getExpandedStabSpect(int which, M30_expanded_spectrum_data* spectrum)
{
    M30_expanded_spectrum_data scratch;
    return M30_get_expanded_stab_spect(connection(), i32(which).data(),
                                       (spectrum ? spectrum : &scratch)->bytes, 1) == 0;
}

bool M30CommandSet::setRemoteControl(int mode)
{
    return M30_set_remote_control(connection(), i32(mode).data(), 1) == 0;
}
bool M30CommandSet::setCoreInfo(M30_core_info_entry* info)
{
    return info && M30_set_core_info(connection(), info->bytes, 1) == 0;
}

bool M30CommandSet::setAssayCoreDepth(float depth)
{
    uint8_t request[68] = {};
    MXX_put_f32(request, depth);
    return M30_set_assay_core_depth(connection(), request, 1) == 0;
}

bool M30CommandSet::getVirtualComponents(int which, M30_virtual_components* components)
{
    M30_virtual_components scratch;
    return M30_get_virtual_components(connection(), i32(which).data(),
                                      (components ? components : &scratch)->bytes, 1) == 0;
}

bool M30CommandSet::setVirtualComponents(M30_virtual_components* components)
{
    return components && M30_set_virtual_components(connection(), components->bytes, 1) == 0;
}

bool M30CommandSet::updateCloudAssayId(int first, int second, int third, int* status)
{
    uint8_t request[264] = {};
    MXX_put_u32(request, static_cast<uint32_t>(first));
    MXX_put_u32(request + 4, static_cast<uint32_t>(third));
    MXX_put_u32(request + 8, static_cast<uint32_t>(second));
    uint32_t st = kNoFrame;
    int ignored = 0;
    return withStatus(M30_update_cloud_assay_id(connection(), request, &st, 1), st,
                      status ? *status : ignored);
}

bool M30CommandSet::downloadJoblistFromCloud()
{
    return M30_download_joblist_from_cloud(connection(), 1) == 0;
}
bool M30CommandSet::deleteCloudRecords()
{
    return M30_delete_cloud_records(connection(), 1) == 0;
}
