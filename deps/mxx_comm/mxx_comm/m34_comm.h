// The M34 command set: the M30 set without the gamma backup parameters,
// expanded stabilisation spectrum, measurement state, remote control, assay
// core depth, core information, virtual-component and cloud commands (those
// rows are chosen in m30_shared.def; their functions are M30's under M34
// names and take M30's records), plus the pallet and hole commands of
// m34_commands.def.
//
// Layouts of our own (little-endian, texts NUL-padded):
//   pallet record (save_pallet request, get_last_unfinished_pallet answer),
//     116 bytes: u32 pallet id at 0 (0 in a new pallet), 32-byte name at 4,
//     f32 depth from at 36, f32 depth to at 40 (metres), u32 holes at 44,
//     u32 creation time (seconds since 1970) at 48, bytes 52-115 passed through;
//   save_pallet answer, get_current_pallet_id: u32 pallet id;
//   set_current_hole, 40 bytes: u32 hole number at 0, 36-byte hole name at 4;
//   set_assay_depth, get_current_pallet_depth: f32 depth in metres;
//   hole state, 1000 bytes: passed through.
#ifndef ORVISK_M34_COMM_H
#define ORVISK_M34_COMM_H

#include "m30_comm.h"

#define M30_SHARED(row, method, m28, m34, m36) M30_SHARE(M34, row, m34)
#define M30_SHARED_ROW(row, m28, m34, m36) M30_SHARE(M34, row, m34)
#include "m30_shared.def"
#undef M30_SHARED
#undef M30_SHARED_ROW

#define M34_COMMAND(name, code, request, response, timeout, form)                                  \
    MXX_DECLARE_COMMAND(M34_##name, form)
#include "m34_commands.def"
#undef M34_COMMAND

extern const MXX_command M34_commands[];
extern const int M34_command_count;

MXX_RECORD(M34, pallet, 116)
MXX_RECORD(M34, hole_state, 1000)

// Event records, as the M30 records of the same role.
#define M34_EVENT_RECORDS(X)                                                                       \
    X(M34, keyboard_data, keyboard_data)                                                           \
    X(M34, total_data, total_data)                                                                 \
    X(M34, pulse_data, pulse_data)                                                                 \
    X(M34, status, status)                                                                         \
    X(M34, progress_indication, progress_indication)                                               \
    X(M34, connman_data, connman_data)                                                             \
    X(M34, assay_results, assay_results)                                                           \
    X(M34, identify_results, identify_results)                                                     \
    X(M34, message_event, message_event)
M34_EVENT_RECORDS(M30_DERIVED_RECORD)

#define M34_PALLET_SIZE 116
#define M34_HOLE_SIZE 40
#define M34_HOLE_STATE_SIZE 1000

#endif
