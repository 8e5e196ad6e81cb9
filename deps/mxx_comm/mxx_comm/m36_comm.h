// The M36 command set: the M30 set without key emulation, LEDs, welcome, GPS
// power, inhibition, note assignment, motion sensor, gamma backup parameters,
// assay core depth, core information, virtual-component and cloud commands
// (those rows are chosen in m30_shared.def; their functions are M30's under
// M36 names and take M30's records), plus the Ethernet list and the
// efficiency lookup table upload of m36_commands.def.
//
// Layouts of our own (little-endian, texts NUL-padded):
//   Ethernet list, 1060 bytes: u32 count at 0, then 8 entries of 132 bytes:
//     32-byte interface name, 40-byte IPv4 text, 40-byte IPv6 text,
//     20-byte hardware address text;
//   efficiency lookup table, 4100 bytes: u32 point count at 0 (at most 512),
//     then the points as f32 energy in keV and f32 efficiency, 8 bytes each.
#ifndef ORVISK_M36_COMM_H
#define ORVISK_M36_COMM_H

#include "m30_comm.h"

#define MXX_TABLE_FAMILY M36
#define MXX_TABLE_FILE "m36_commands.def"
#define M36_COMMAND MXX_TABLE_ROW
#define M30_COLUMN(m28, m34, m36) m36
#include "m30_derived_table.inc"
#undef M36_COMMAND

// The event records are the M30 records of the same role
// (mxx_cpp/m30_events.h).
#define M36_ETHERNET_LIST_SIZE MXX_RESPONSE_SIZE(M36, get_ethernet_list)
#define M36_ETHERNET_ENTRIES 8
#define M36_ETHERNET_ENTRY_SIZE 132
#define M36_EFFICIENCY_LUT_SIZE MXX_REQUEST_SIZE(M36, upload_efficiency_lut)
#define M36_EFFICIENCY_POINTS 512
static_assert(M36_ETHERNET_LIST_SIZE == 4 + M36_ETHERNET_ENTRIES * M36_ETHERNET_ENTRY_SIZE &&
                  M36_EFFICIENCY_LUT_SIZE == 4 + 8 * M36_EFFICIENCY_POINTS,
              "m36_commands.def");

#endif
