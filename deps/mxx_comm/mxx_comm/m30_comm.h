// The M30 command set: the survey instruments this application is made for.
// One function per line of m30_commands.def, and the transmit buffer.
//
// Records pass through the host as the instrument lays them out; only their
// sizes are fixed here, and the few fields the host reads are named where it
// reads them. All wire values are little-endian.
#ifndef ORVISK_M30_COMM_H
#define ORVISK_M30_COMM_H

#include "mxx_command.h"

#define MXX_TABLE_FAMILY M30
#define MXX_TABLE_FILE "m30_commands.def"
#define M30_COMMAND MXX_TABLE_ROW
#include "mxx_command_table.inc"
#undef M30_COMMAND

// Opaque records, sized by the command that carries them. spectrum_data is
// the host's own spectrum record that uploadCalibSpect reads: u32 channel
// count at 0, 16 calibration bytes at 106, u32 counts from 124 (room for 1024
// channels). The nuclide library travels as one block.
MXX_RESPONSE_RECORD(M30, versions, get_versions)
MXX_RESPONSE_RECORD(M30, date_time, get_date_time)
MXX_RESPONSE_RECORD(M30, params, get_params)
MXX_RESPONSE_RECORD(M30, status, get_status)
MXX_RESPONSE_RECORD(M30, memory_usage, get_memory_usage)
MXX_RESPONSE_RECORD(M30, motion_sensor, get_motion_sensor_data)
MXX_RESPONSE_RECORD(M30, check_calib, check_calib_date)
MXX_RESPONSE_RECORD(M30, usb_gadget_list, get_usb_gadget_list)
MXX_RESPONSE_RECORD(M30, wifi_ipv4_list, get_wifi_ipv4_list)
MXX_RESPONSE_RECORD(M30, wifi_ipv6_list, get_wifi_ipv6_list)
MXX_RESPONSE_RECORD(M30, calibration_method_name, get_calibration_method_names)
MXX_RESPONSE_RECORD(M30, calibration_methods, get_calibration_methods)
MXX_RESPONSE_RECORD(M30, calib_spectrum, download_calibration_spectrum)
MXX_RESPONSE_RECORD(M30, nuclib_entry, get_nuclide_library)
MXX_RESPONSE_RECORD(M30, expanded_spectrum_data, get_expanded_stab_spect)
MXX_REQUEST_RECORD(M30, core_info_entry, set_core_info)
MXX_RESPONSE_RECORD(M30, virtual_components, get_virtual_components)
MXX_RECORD(M30, spectrum_data, 124 + 4 * 1024)

// Event records (m30_events.h in the Qt layer).
MXX_RECORD(M30, keyboard_data, 8)
MXX_RECORD(M30, total_data, 50)
MXX_RECORD(M30, pulse_data, 8220)
MXX_RECORD(M30, progress_indication, 20)
MXX_RECORD(M30, connman_data, 638)
MXX_RECORD(M30, assay_results, 676)
MXX_RECORD(M30, identify_results, 1383)
MXX_RECORD(M30, message_event, 259)

// Transmit buffer. The host asks the instrument to prepare one item (the
// survey record index list, kind 1, or one survey record, kind 3), then
// fetches its bytes in chunks until an empty one.
#define M30_TX_INFO_SIZE MXX_RESPONSE_SIZE(M30, tx_buff_info)
#define M30_TX_PREPARE_SIZE MXX_REQUEST_SIZE(M30, tx_buff_prepare)
#define M30_TX_CHUNK_HEAD 8 // u32 n, u32 not read
#define M30_TX_CHUNK_MAX (MXX_RESPONSE_SIZE(M30, tx_buff_get) - M30_TX_CHUNK_HEAD) // item bytes
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
// Prepare answer (68 bytes, as the request): u32 not read, u32 item count,
// u32 and u32 handed to the caller.
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
