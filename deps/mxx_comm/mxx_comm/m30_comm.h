// The M30 command set: the survey instruments this application is made for.
// One function per line of m30_commands.def, and the transmit buffer.
//
// Records pass through the host as the instrument lays them out; only their
// sizes are fixed here (M30_RECORDS), and the few fields the host reads are
// named where it reads them. All wire values are little-endian.
#ifndef ORVISK_M30_COMM_H
#define ORVISK_M30_COMM_H

#include "mxx_command.h"

#define M30_COMMAND(name, code, request, response, timeout, form)                                  \
    MXX_DECLARE_COMMAND(M30_##name, form)
#include "m30_commands.def"
#undef M30_COMMAND

extern const MXX_command M30_commands[];
extern const int M30_command_count;

// Row indices into M30_commands, for the sets derived from this one
// (m30_shared.def).
enum M30_row {
#define M30_COMMAND(name, code, request, response, timeout, form) M30_row_##name,
#include "m30_commands.def"
#undef M30_COMMAND
    M30_row_count
};

// The event records of the sets derived from this one: types of their own,
// laid out as the M30 record of the same role.
#define M30_DERIVED_RECORD(family, name, m30)                                                      \
    struct family##_##name : M30_##m30                                                             \
    {                                                                                              \
    };

// For the headers of the sets derived from this one: the M30 function of a
// shared row under the family's name (on is the family's column, 0 or 1).
#define M30_SHARE(family, row, on) MXX_WHEN_##on(inline constexpr auto& family##_##row = M30_##row;)

// Opaque records by size. spectrum_data is the host's own spectrum record that
// uploadCalibSpect reads: u32 channel count at 0, 16 calibration bytes at 106,
// u32 counts from 124 (room for 1024 channels). The nuclide library travels
// as one block of 14444 bytes.
#define M30_RECORDS(X)                                                                             \
    X(versions, 415)                                                                               \
    X(date_time, 24)                                                                               \
    X(params, 1398)                                                                                \
    X(status, 372)                                                                                 \
    X(memory_usage, 92)                                                                            \
    X(motion_sensor, 44)                                                                           \
    X(check_calib, 10)                                                                             \
    X(usb_gadget_list, 2117)                                                                       \
    X(wifi_ipv4_list, 1653)                                                                        \
    X(wifi_ipv6_list, 1837)                                                                        \
    X(calibration_method_name, 324)                                                                \
    X(calibration_methods, 1012)                                                                   \
    X(calib_spectrum, 4270)                                                                        \
    X(nuclib_entry, 14444)                                                                         \
    X(expanded_spectrum_data, 6124)                                                                \
    X(core_info_entry, 340)                                                                        \
    X(virtual_components, 776)                                                                     \
    X(spectrum_data, 124 + 4 * 1024)                                                               \
    X(keyboard_data, 8)                                                                            \
    X(total_data, 50)                                                                              \
    X(pulse_data, 8220)                                                                            \
    X(progress_indication, 20)                                                                     \
    X(connman_data, 638)                                                                           \
    X(assay_results, 676)                                                                          \
    X(identify_results, 1383)                                                                      \
    X(message_event, 259)

#define M30_RECORD_STRUCT(name, size)                                                              \
    struct M30_##name                                                                              \
    {                                                                                              \
        uint8_t bytes[size] = {};                                                                  \
    };
M30_RECORDS(M30_RECORD_STRUCT)
#undef M30_RECORD_STRUCT

// Transmit buffer. The host asks the instrument to prepare one item (the
// survey record index list, kind 1, or one survey record, kind 3), then
// fetches its bytes in chunks until an empty one.
#define M30_TX_INFO_SIZE 8
#define M30_TX_PREPARE_SIZE 68
#define M30_TX_CHUNK_HEAD 8   // u32 n, u32 not read
#define M30_TX_CHUNK_MAX 8170 // item bytes in one chunk
#define M30_TX_KIND_INDEX_LIST 1
#define M30_TX_KIND_RECORD 3

// Words 0-5: kind, selector, start, limit, extra 1, extra 2; the rest zero.
struct M30_tx_buff_prepare_request
{
    uint32_t word[M30_TX_PREPARE_SIZE / 4];
};
struct M30_tx_buff_chunk_request
{
    uint32_t offset;   // item bytes received so far
    uint32_t handle;   // from the info answer, bytes 4-7
    uint32_t selector; // as in the prepare request
};

// Info answer (8 bytes): u32 not read, u32 transfer handle.
int M30_tx_buff_info(int conn, int argument, void* response, int wait);
// Prepare answer (68 bytes): u32 not read, u32 item count, u32 and u32 handed
// to the caller.
int M30_tx_buff_prepare(int conn, M30_tx_buff_prepare_request request, void* response, int wait);
// Chunk answer (up to 8178 bytes) into `response`; `response_size` (may be
// null) receives the payload size when the answer was taken.
int M30_tx_buff_get(int conn, M30_tx_buff_chunk_request request, void* response,
                    uint32_t* response_size, int wait);

// Survey record (item of kind 3): 3436 bytes.
#define M30_SURVEY_RECORD_SIZE 3436
#define M30_SURVEY_TIME 4        // u32 seconds since 1970 UTC
#define M30_SURVEY_POINT_COUNT 8 // u32
#define M30_SURVEY_POINTS 1520   // first point entry
#define M30_SURVEY_POINT_SIZE 32 // u32 flag, f32 latitude, f32 longitude, 20 more bytes
#define M30_SURVEY_MAX_POINTS 60

#endif
