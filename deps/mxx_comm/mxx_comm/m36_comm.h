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

#define M30_SHARED(row, method, m28, m34, m36) M30_SHARE(M36, row, m36)
#define M30_SHARED_ROW(row, m28, m34, m36) M30_SHARE(M36, row, m36)
#include "m30_shared.def"
#undef M30_SHARED
#undef M30_SHARED_ROW

#define M36_COMMAND(name, code, request, response, timeout, form)                                  \
    MXX_DECLARE_COMMAND(M36_##name, form)
#include "m36_commands.def"
#undef M36_COMMAND

extern const MXX_command M36_commands[];
extern const int M36_command_count;

// Event records, as the M30 records of the same role.
#define M36_EVENT_RECORDS(X)                                                                       \
    X(M36, total_data, total_data)                                                                 \
    X(M36, pulse_data, pulse_data)                                                                 \
    X(M36, status_data, status)                                                                    \
    X(M36, progress_indication, progress_indication)                                               \
    X(M36, connman_data, connman_data)                                                             \
    X(M36, assay_results, assay_results)                                                           \
    X(M36, identify_results, identify_results)
M36_EVENT_RECORDS(M30_DERIVED_RECORD)

#define M36_ETHERNET_LIST_SIZE 1060
#define M36_ETHERNET_ENTRIES 8
#define M36_ETHERNET_ENTRY_SIZE 132
#define M36_EFFICIENCY_LUT_SIZE 4100
#define M36_EFFICIENCY_POINTS 512

#endif
