#include "m18_protocol.h"

#include "family_support.h"

using namespace mxx_family;

namespace {

const ModelName kModels[] = {
    {1, "M18 Survey"},
    {2, "M18 Assay"},
    {3, "M18 Survey GPS"},
    {4, "M18 Air"},
};

// An entry count answer: u32 entries, u32 index of the oldest.
bool logCount(OutCommand command, int conn, int& entries, int& oldest)
{
    uint8_t answer[8] = {};
    if (command(conn, answer, 1) != 0)
        return false;
    entries = static_cast<int>(MXX_get_u32(answer));
    oldest = static_cast<int>(MXX_get_u32(answer + 4));
    return true;
}

void putF64(uint8_t* at, double v)
{
    uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    MXX_put_u32(at, static_cast<uint32_t>(bits));
    MXX_put_u32(at + 4, static_cast<uint32_t>(bits >> 32));
}

double getF64(const uint8_t* at)
{
    const uint64_t bits = MXX_get_u32(at) | static_cast<uint64_t>(MXX_get_u32(at + 4)) << 32;
    double v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

} // namespace

QString M18Protocol::getModelName(int model)
{
    return modelName(kModels, model);
}

bool M18Protocol::getParams(M18_params& params)
{
    return readRecord(M18_get_params, connection(), params);
}
bool M18Protocol::setParams(const M18_params& params)
{
    return writeRecord(M18_set_params, connection(), params);
}
bool M18Protocol::getStatus(M18_status& status)
{
    return readRecord(M18_get_status, connection(), status);
}

bool M18Protocol::getStabLogCount(int& entries, int& oldest)
{
    return logCount(M18_get_stab_log_count, connection(), entries, oldest);
}
bool M18Protocol::getStabLogEntry(int index, M18_stab_log_entry& entry)
{
    return readEntry(M18_get_stab_log_entry, connection(), index, entry);
}
bool M18Protocol::getAssayLogCount(int& entries, int& oldest)
{
    return logCount(M18_get_assay_log_count, connection(), entries, oldest);
}
bool M18Protocol::getAssayLogEntry(int index, M18_assay_log_entry& entry)
{
    return readEntry(M18_get_assay_log_entry, connection(), index, entry);
}
bool M18Protocol::getIdentLogCount(int& entries, int& oldest)
{
    return logCount(M18_get_ident_log_count, connection(), entries, oldest);
}
bool M18Protocol::getIdentLogEntry(int index, M18_ident_log_entry& entry)
{
    return readEntry(M18_get_ident_log_entry, connection(), index, entry);
}
bool M18Protocol::getSurveyLogCount(int& entries, int& oldest)
{
    return logCount(M18_get_survey_log_count, connection(), entries, oldest);
}
bool M18Protocol::getSurveyLogEntry(int index, M18_survey_log_entry& entry)
{
    return readEntry(M18_get_survey_log_entry, connection(), index, entry);
}
bool M18Protocol::getSpectraLogCount(int& entries, int& oldest)
{
    return logCount(M18_get_spectra_log_count, connection(), entries, oldest);
}
bool M18Protocol::getSpectraLogEntry(int index, M18_spectrum_log_entry& entry)
{
    return readEntry(M18_get_spectra_log_entry, connection(), index, entry);
}
bool M18Protocol::getAirSpectraLogCount(int& entries, int& oldest)
{
    return logCount(M18_get_air_spectra_log_count, connection(), entries, oldest);
}
bool M18Protocol::getAirSpectraLogEntry(int index, M18_spectrum_log_entry& entry)
{
    return readEntry(M18_get_air_spectra_log_entry, connection(), index, entry);
}
bool M18Protocol::getLogList(M18_log_list& list)
{
    return readRecord(M18_get_log_list, connection(), list);
}
bool M18Protocol::clearLogs(int mask)
{
    return writeI32(M18_clear_logs, connection(), mask);
}

bool M18Protocol::getGps(double& latitude, double& longitude)
{
    uint8_t answer[16] = {};
    if (M18_get_gps(connection(), answer, 1) != 0)
        return false;
    latitude = getF64(answer);
    longitude = getF64(answer + 8);
    return true;
}

bool M18Protocol::setGps(double latitude, double longitude)
{
    uint8_t request[16];
    putF64(request, latitude);
    putF64(request + 8, longitude);
    return M18_set_gps(connection(), request, 1) == 0;
}

bool M18Protocol::getMemoryUsage(M18_memory_usage& usage)
{
    return readRecord(M18_get_memory_usage, connection(), usage);
}
bool M18Protocol::photomultiplierOff()
{
    return run(M18_photomultiplier_off, connection());
}
bool M18Protocol::sendEvent(int event)
{
    return writeI32(M18_send_event, connection(), event);
}
bool M18Protocol::getScreen(M18_screen& screen)
{
    return readRecord(M18_get_screen, connection(), screen);
}
bool M18Protocol::nuclideLibraryClear()
{
    return run(M18_nuclide_library_clear, connection());
}
bool M18Protocol::nuclideLibraryRead(int index, M18_nuclide& nuclide)
{
    return readEntry(M18_nuclide_library_read, connection(), index, nuclide);
}
bool M18Protocol::nuclideLibraryWrite(int index, const M18_nuclide& nuclide)
{
    return writeEntry(M18_nuclide_library_write, connection(), index, nuclide);
}

bool M18Protocol::nuclideLibraryTest(int& result)
{
    return readI32(M18_nuclide_library_test, connection(), result);
}
