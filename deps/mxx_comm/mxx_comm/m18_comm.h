// The M18 command set: survey and assay spectrometers with on-board logs and
// a nuclide library. One function per line of m18_commands.def. Requests and
// answers, little-endian; records pass through as the instrument lays them out:
//   get_params: 4484 bytes, of which the first 484 are the settable block
//     that set_params sends; the rest is the instrument's own;
//   get_status: 88 bytes;
//   the six logs (stabilisation, assay, identification, survey, spectra, air
//     spectra): get_<log>_log_count answers u32 entries stored and u32 index
//     of the oldest; get_<log>_log_entry takes a u32 index and answers one
//     entry of 64, 512, 512, 256, 4160 and 4160 bytes respectively;
//   get_log_list: one 16-byte line per log in the order above: u32 entries
//     stored, u32 capacity, u32 entry size, u32 index of the oldest;
//   clear_logs: u32 mask of the logs to clear, bit 0 stabilisation .. bit 5
//     air spectra;
//   get_gps / set_gps: f64 latitude, f64 longitude, degrees WGS 84;
//   get_memory_usage: 16 bytes;
//   send_event: u32 event number the instrument raises as if it occurred;
//   get_screen: the 128 x 64 display, one bit a pixel, rows from the top;
//   nuclide_library_read: u32 index in, one 64-byte entry out;
//   nuclide_library_write: u32 index, then the 64-byte entry;
//   nuclide_library_test: u32 0 when the library is sound, else the first
//     faulty entry's index + 1.
// The family sends no events.
#ifndef ORVISK_M18_COMM_H
#define ORVISK_M18_COMM_H

#include "mxx_command.h"

#define M18_COMMAND(name, code, request, response, timeout, form)                                  \
    MXX_DECLARE_COMMAND(M18_##name, form)
#include "m18_commands.def"
#undef M18_COMMAND

extern const MXX_command M18_commands[];
extern const int M18_command_count;

#define M18_SETTABLE_PARAMS 484
MXX_RECORD(M18, params, 4484)
MXX_RECORD(M18, status, 88)
MXX_RECORD(M18, stab_log_entry, 64)
MXX_RECORD(M18, assay_log_entry, 512)
MXX_RECORD(M18, ident_log_entry, 512)
MXX_RECORD(M18, survey_log_entry, 256)
MXX_RECORD(M18, spectrum_log_entry, 4160) // spectra and air spectra
MXX_RECORD(M18, log_list, 96)
MXX_RECORD(M18, memory_usage, 16)
MXX_RECORD(M18, screen, 1024)
MXX_RECORD(M18, nuclide, 64)

#endif
