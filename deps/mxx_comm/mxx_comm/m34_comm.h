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

#define MXX_TABLE_FAMILY M34
#define MXX_TABLE_FILE "m34_commands.def"
#define M34_COMMAND MXX_TABLE_ROW
#define M30_COLUMN(m28, m34, m36) m34
#include "m30_derived_table.inc"
#undef M34_COMMAND

// The event records are the M30 records of the same role
// (mxx_cpp/m30_events.h).
MXX_REQUEST_RECORD(M34, pallet, save_pallet)
MXX_RESPONSE_RECORD(M34, hole_state, get_hole_state)

#define M34_HOLE_SIZE MXX_REQUEST_SIZE(M34, set_current_hole)

#endif
