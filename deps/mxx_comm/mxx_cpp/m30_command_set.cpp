#include "m30_command_set.h"

#include "family_support.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstring>

namespace {

using namespace mxx_marshal;

struct Field
{
    size_t at, size;
};

// Text fields from the arguments in order, into a cleared request; an empty
// argument leaves its field zero.
template <size_t Size, size_t N>
std::array<uint8_t, Size> textFields(const Field (&fields)[N], const QString (&texts)[N])
{
    std::array<uint8_t, Size> request{};
    for (size_t i = 0; i < N; ++i)
        putText(request.data() + fields[i].at, fields[i].size, texts[i]);
    return request;
}

// A calibration spectrum's key: u16 at 0, a 16-byte name at 2, u16 at 18, u16
// at 20.
using CalibrationKey = std::array<uint8_t, MXX_REQUEST_SIZE(M30, save_calibration_spect)>;
static_assert(MXX_REQUEST_SIZE(M30, download_calibration_spectrum) ==
                  MXX_REQUEST_SIZE(M30, save_calibration_spect),
              "one key for both");
constexpr size_t kCalibrationName = 16;

} // namespace

bool M30CommandSet::getInhitibion(int& first, int& second)
{
    uint8_t answer[MXX_RESPONSE_SIZE(M30, get_inhibition)] = {};
    if (M30_get_inhibition(connection(), answer, 1) != 0)
        return false;
    first = MXX_get_u16(answer);
    second = MXX_get_u16(answer + 2);
    return true;
}

bool M30CommandSet::setInhibition(int first, int second)
{
    uint8_t request[MXX_REQUEST_SIZE(M30, set_inhibition)];
    MXX_put_u16(request, static_cast<uint16_t>(first));
    MXX_put_u16(request + 2, static_cast<uint16_t>(second));
    return M30_set_inhibition(connection(), request, 1) == 0;
}

bool M30CommandSet::setLeds(int leds)
{
    // Bits 0-4 hold 1, bits 5-8 the argument's bit 1 (as bit 6), bits 9-15
    // its bit 0 (as bit 9).
    const uint32_t word =
        1u | (static_cast<uint32_t>(leds & 2) << 5) | (static_cast<uint32_t>(leds & 1) << 9);
    uint8_t request[MXX_REQUEST_SIZE(M30, set_leds)];
    MXX_put_u32(request, word);
    return M30_set_leds(connection(), request, 1) == 0;
}

bool M30CommandSet::getLeds()
{
    return false;
}

bool M30CommandSet::deleteRecord(int first, int second, int third, int fourth)
{
    uint8_t request[MXX_REQUEST_SIZE(M30, delete_record_id)];
    MXX_put_u32(request, static_cast<uint32_t>(first));
    MXX_put_u32(request + 4, static_cast<uint32_t>(second));
    MXX_put_u16(request + 8, static_cast<uint16_t>(third));
    MXX_put_u16(request + 10, static_cast<uint16_t>(fourth));
    return M30_delete_record_id(connection(), request, 1) == 0;
}

bool M30CommandSet::saveCalibLog(int value, QString text)
{
    uint8_t request[MXX_REQUEST_SIZE(M30, save_calib_log)] = {};
    MXX_put_u32(request + 4, static_cast<uint32_t>(-1));
    MXX_put_u32(request + 8, static_cast<uint32_t>(value));
    putText(request + 24, sizeof request - 24, text);
    return M30_save_calib_log(connection(), request, 1) == 0;
}

bool M30CommandSet::getCalibMethods(QString name, M30_calibration_methods& methods, int& status)
{
    uint32_t byte = kNoFrame;
    const auto request = textRequest<MXX_REQUEST_SIZE(M30, get_calibration_methods)>(name);
    return withStatus(
        M30_get_calibration_methods(connection(), request.data(), methods.bytes, &byte, 1), byte,
        status);
}

bool M30CommandSet::saveCalibSpect(QString name, int number, int kind, int& status)
{
    CalibrationKey key{};
    MXX_put_u16(key.data(), static_cast<uint16_t>(number));
    putText(key.data() + 2, kCalibrationName, name);
    MXX_put_u16(key.data() + 18, static_cast<uint16_t>(kind));
    uint32_t byte = kNoFrame;
    return withStatus(M30_save_calibration_spect(connection(), key.data(), &byte, 1), byte, status);
}

bool M30CommandSet::uploadCalibSpect(M30_spectrum_data spectrum, QString name, int number, int kind,
                                     int& status)
{
    constexpr uint32_t kMaxChannels = 1024;
    const uint32_t channels = MXX_get_u32(spectrum.bytes);
    if (channels > kMaxChannels)
        return false;
    M30_calib_spectrum request;
    uint8_t* bytes = request.bytes;
    MXX_put_u16(bytes, static_cast<uint16_t>(number));
    putText(bytes + 2, kCalibrationName, name);
    MXX_put_u32(bytes + 18, static_cast<uint32_t>(kind));
    MXX_put_u32(bytes + 50, channels);
    std::memcpy(bytes + 156, spectrum.bytes + 106, 16);
    std::memcpy(bytes + 174, spectrum.bytes + 124, 4 * channels);
    uint32_t byte = kNoFrame;
    return withStatus(M30_upload_calibration_spectrum(connection(), bytes, &byte, 1), byte, status);
}

bool M30CommandSet::downloadCalibSpect(int kind, int number, int part, M30_calib_spectrum& spectrum,
                                       int& status)
{
    CalibrationKey key{};
    MXX_put_u16(key.data(), static_cast<uint16_t>(number));
    MXX_put_u16(key.data() + 18, static_cast<uint16_t>(kind));
    MXX_put_u16(key.data() + 20, static_cast<uint16_t>(part));
    uint32_t byte = kNoFrame;
    return withStatus(
        M30_download_calibration_spectrum(connection(), key.data(), spectrum.bytes, &byte, 1), byte,
        status);
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

bool M30CommandSet::connectWifi(QString network, int mode)
{
    uint8_t request[MXX_REQUEST_SIZE(M30, connect_wifi)];
    MXX_put_u16(request, static_cast<uint16_t>(mode));
    putText(request + 2, sizeof request - 2, network);
    return M30_connect_wifi(connection(), request, 1) == 0;
}

bool M30CommandSet::setIpv4(QString network, QString method, QString address, QString netmask,
                            QString gateway)
{
    static const Field fields[] = {{0, 64}, {64, 16}, {80, 20}, {100, 20}, {120, 20}};
    const QString texts[] = {network, method, address, netmask, gateway};
    return M30_set_ipv4(connection(),
                        textFields<MXX_REQUEST_SIZE(M30, set_ipv4)>(fields, texts).data(), 1) == 0;
}

bool M30CommandSet::setIpv6(QString network, QString method, QString address, QString prefix,
                            QString gateway)
{
    static const Field fields[] = {{0, 64}, {64, 16}, {80, 30}, {144, 8}, {152, 32}};
    const QString texts[] = {network, method, address, prefix, gateway};
    return M30_set_ipv6(connection(),
                        textFields<MXX_REQUEST_SIZE(M30, set_ipv6)>(fields, texts).data(), 1) == 0;
}

bool M30CommandSet::setNameServers(QString first, QString second)
{
    static const Field fields[] = {{0, 20}, {20, 32}};
    const QString texts[] = {second, first};
    return M30_set_nameservers(
               connection(),
               textFields<MXX_REQUEST_SIZE(M30, set_nameservers)>(fields, texts).data(), 1) == 0;
}

bool M30CommandSet::setAutoconnect(QString network, int on)
{
    uint8_t request[MXX_REQUEST_SIZE(M30, set_wifi_autoconnect)];
    putText(request, sizeof request - 2, network);
    MXX_put_u16(request + sizeof request - 2, static_cast<uint16_t>(on));
    return M30_set_wifi_autoconnect(connection(), request, 1) == 0;
}

bool M30CommandSet::getNuclideLibrary(M30_nuclib_entry* library, int part)
{
    return mxx_family::queryRecordOptional<MXX_REQUEST_SIZE(M30, get_nuclide_library)>(
        M30_get_nuclide_library, connection(), part, library);
}

bool M30CommandSet::updateCloudAssayId(int first, int second, int third, int* status)
{
    uint8_t request[MXX_REQUEST_SIZE(M30, update_cloud_assay_id)] = {};
    MXX_put_u32(request, static_cast<uint32_t>(first));
    MXX_put_u32(request + 4, static_cast<uint32_t>(third));
    MXX_put_u32(request + 8, static_cast<uint32_t>(second));
    uint32_t byte = kNoFrame;
    int ignored = 0;
    return withStatus(M30_update_cloud_assay_id(connection(), request, &byte, 1), byte,
                      status ? *status : ignored);
}

#define M30_SHARED(row, method, m28, m34, m36)
#define M30_SHARED_ROW(row, m28, m34, m36)
#define M30_METHOD(row, method, kind, parameters, m28, m34, m36)                                   \
    MXX_METHOD_DEFINITION(M30CommandSet, , M30, method, row, kind, parameters)
#include <m30_shared.def>
#undef M30_SHARED
#undef M30_SHARED_ROW
