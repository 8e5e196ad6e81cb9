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

#define MXX_TABLE_FAMILY M28
#define MXX_TABLE_FILE "m28_commands.def"
#define M28_COMMAND MXX_TABLE_ROW
#define M30_COLUMN(m28, m34, m36) m28
#include "m30_derived_table.inc"
#undef M28_COMMAND

// The Cs calibration result of event 10015 (16 bytes: u32 state, u32
// result, f32 peak channel, f32 FWHM in channels); the other event records
// are the M30 records of the same role (mxx_cpp/m30_events.h).
MXX_RECORD(M28, cs_calib_data, 16)

#define M28_TEXT_FIELD 32
#define M28_PATH_FIELD MXX_REQUEST_SIZE(M28, load_params_from_file)
#define M28_FILE_LIST_SIZE MXX_RESPONSE_SIZE(M28, list_files)
#define M28_FILE_ENTRIES 32
#define M28_FILE_ENTRY_SIZE 64
#define M28_FILE_NAME_FIELD 56
#define M28_IDENT_RESULTS_SIZE MXX_RESPONSE_SIZE(M28, get_ident_results)
#define M28_IDENT_ENTRIES 20
#define M28_IDENT_ENTRY_SIZE 64
static_assert(M28_FILE_LIST_SIZE == 4 + M28_FILE_ENTRIES * M28_FILE_ENTRY_SIZE &&
                  M28_IDENT_RESULTS_SIZE >= 4 + M28_IDENT_ENTRIES * M28_IDENT_ENTRY_SIZE,
              "m28_commands.def");

#endif
