// The M26 command set: records kept as files of the M23 transfer
// (m26_commands.def). Layouts of our own (little-endian):
//   status "run/status", 88 bytes: u32 state at 0 (0 idle, 1 measuring,
//     2 stabilising), f32 dose rate in uSv/h at 4, u32 counts per second at
//     8, f32 detector temperature at 12, u32 high voltage at 16, u32
//     stabilisation state at 20, f32 stabilisation peak channel at 24, u32
//     seconds since switched on at 28, bytes 32-87 passed through;
//   parameters (192 bytes) and MCA parameters (18 bytes): passed through;
//   "run/stab": u32 stabilisation mode; "log/stab/clear": u32 1 clears;
//   "log/stab/info", 16 bytes: u32 status, u32 number of records, u32 base
//     (ring position of the oldest record), u32 id of the oldest record;
//   "log/stab/rec", 2136 bytes, loaded with argument 1 the record's index
//     (0 the oldest) and argument 2 the base: u32 stabilisation id at 0
//     (0 or all ones: no record), u32 time (seconds since 1970) at 4, f32
//     peak channel at 8, f32 gain at 12, f32 temperature at 16, u32 result
//     at 20, bytes 24-87 passed through, 512 u32 channel counts from 88;
//   spectra "run/spec/sec512", "run/spec/sec1024", "run/spec/stab512": u32
//     channel count at 0, u32 live time at 4, u32 real time at 8 (ms), u32
//     total count at 12, u32 pile-up count at 16, u32 sequence number at 20,
//     the u32 channel counts from 24;
//   energy calibration "run/ecal", 8 bytes: f32 peak channel, f32 its
//     energy in keV.
#ifndef ORVISK_M26_COMM_H
#define ORVISK_M26_COMM_H

#include "m23_comm.h"

#define MXX_TABLE_FAMILY M26
#define MXX_TABLE_FILE "m26_commands.def"
#define M26_FILE MXX_TABLE_FILE_ROW
#include "mxx_command_table.inc"
#undef M26_FILE

MXX_RESPONSE_RECORD(M26, status, get_status)
MXX_RESPONSE_RECORD(M26, params, get_params)
MXX_RESPONSE_RECORD(M26, mca_params, get_mca_params)
MXX_RESPONSE_RECORD(M26, stab_log_info, get_stab_log_info)
MXX_RESPONSE_RECORD(M26, stab_log_entry, get_stab_log_entry)

#define M26_STATUS_SIZE MXX_RESPONSE_SIZE(M26, get_status)
#define M26_STAB_ENTRY_SIZE MXX_RESPONSE_SIZE(M26, get_stab_log_entry)
#define M26_STAB_ENTRY_HEAD 88
#define M26_STAB_ENTRY_CHANNELS 512
#define M26_SPECTRUM_HEAD 24
#define M26_SPECTRUM_MAX_SIZE MXX_RESPONSE_SIZE(M26, get_spectrum) // 1024 channels
static_assert(M26_STAB_ENTRY_SIZE == M26_STAB_ENTRY_HEAD + 4 * M26_STAB_ENTRY_CHANNELS &&
                  M26_SPECTRUM_MAX_SIZE == M26_SPECTRUM_HEAD + 4 * 1024,
              "m26_commands.def");

// The spectrum files below "run/spec".
#define M26_SPECTRUM_SEC512 "sec512"
#define M26_SPECTRUM_SEC1024 "sec1024"
#define M26_SPECTRUM_STAB512 "stab512"

// Record `index` (0 the oldest) of the stabilisation log with base `base`.
int M26_get_stab_log_entry(int conn, uint32_t index, uint32_t base, void* entry, int wait);
// The spectrum file `name` (M26_SPECTRUM_...), at most `capacity` bytes; the
// bytes read go to `size`.
int M26_get_spectrum(int conn, const char* name, void* response, uint32_t capacity, uint32_t* size,
                     int wait);

#endif
