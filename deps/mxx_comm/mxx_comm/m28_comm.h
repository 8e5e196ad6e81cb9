// The M28 command set, an earlier form of M30's: the M30 commands it shares
// (m30_shared.def, column M28; M30's functions under M28 names, taking M30's
// records) and the commands of m28_commands.def.
//
// Layouts of our own (little-endian, texts NUL-padded):
//   date: three i32, year, month (1-12), day; time: three i32, hour, minute,
//     second;
//   modify_user, 68 bytes: u32 user number at 0, 32-byte name at 4, 32-byte
//     PIN at 36;
//   set_logged_user, 36 bytes: u32 user number at 0, 32-byte PIN at 4;
//   get_logged_user, 36 bytes: u32 user number at 0, 32-byte name at 4;
//   store_metadata: a 256-byte text;
//   set_stabilization: i32 (0 off, 1 on);
//   check_mass_storage, 12 bytes: u32 state (0 ready, 1 absent, 2 damaged),
//     u32 KiB total, u32 KiB free;
//   list_files: a 64-byte folder text in; out u32 count at 0 (at most 32)
//     and 64-byte entries from 4: 56-byte name, u32 size, u32 flags (bit 0 a
//     folder);
//   load_params_from_file, load_nuclide_library_from_file: a 64-byte path;
//   export_data, 72 bytes: u32 what at 0, u32 format at 4, 64-byte target
//     folder at 8;
//   identification results, 1383 bytes: u32 count at 0 (at most 20), then
//     64-byte entries from 4: 16-byte nuclide name, 16-byte category text,
//     f32 confidence in percent at 32, f32 dose-rate share at 36.
#ifndef ORVISK_M28_COMM_H
#define ORVISK_M28_COMM_H

#include "m30_comm.h"

#define M30_SHARED(row, method, m28, m34, m36) M30_SHARE(M28, row, m28)
#define M30_SHARED_ROW(row, m28, m34, m36) M30_SHARE(M28, row, m28)
#include "m30_shared.def"
#undef M30_SHARED
#undef M30_SHARED_ROW

#define M28_COMMAND(name, code, request, response, timeout, form)                                  \
    MXX_DECLARE_COMMAND(M28_##name, form)
#include "m28_commands.def"
#undef M28_COMMAND

extern const MXX_command M28_commands[];
extern const int M28_command_count;

// Event records: as the M30 records of the same role, and the Cs
// calibration result of event 10015 (16 bytes: u32 state, u32 result, f32
// peak channel, f32 FWHM in channels).
#define M28_EVENT_RECORDS(X)                                                                       \
    X(M28, keyboard_data, keyboard_data)                                                           \
    X(M28, total_data, total_data)                                                                 \
    X(M28, pulse_data, pulse_data)                                                                 \
    X(M28, status, status)                                                                         \
    X(M28, progress_indication, progress_indication)                                               \
    X(M28, connman_data, connman_data)
M28_EVENT_RECORDS(M30_DERIVED_RECORD)
MXX_RECORD(M28, cs_calib_data, 16)

#define M28_TEXT_FIELD 32
#define M28_PATH_FIELD 64
#define M28_FILE_LIST_SIZE 2052
#define M28_FILE_ENTRIES 32
#define M28_FILE_ENTRY_SIZE 64
#define M28_FILE_NAME_FIELD 56
#define M28_IDENT_RESULTS_SIZE 1383
#define M28_IDENT_ENTRIES 20
#define M28_IDENT_ENTRY_SIZE 64

#endif
