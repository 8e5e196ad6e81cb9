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

#define MXX_TABLE_FAMILY M18
#define MXX_TABLE_FILE "m18_commands.def"
#define M18_COMMAND MXX_TABLE_ROW
#include "mxx_command_table.inc"
#undef M18_COMMAND

MXX_RESPONSE_RECORD(M18, params, get_params)
MXX_RESPONSE_RECORD(M18, status, get_status)
MXX_RESPONSE_RECORD(M18, stab_log_entry, get_stab_log_entry)
MXX_RESPONSE_RECORD(M18, assay_log_entry, get_assay_log_entry)
MXX_RESPONSE_RECORD(M18, ident_log_entry, get_ident_log_entry)
MXX_RESPONSE_RECORD(M18, survey_log_entry, get_survey_log_entry)
MXX_RESPONSE_RECORD(M18, spectrum_log_entry, get_spectra_log_entry) // spectra and air spectra
MXX_RESPONSE_RECORD(M18, log_list, get_log_list)
MXX_RESPONSE_RECORD(M18, memory_usage, get_memory_usage)
MXX_RESPONSE_RECORD(M18, screen, get_screen)
MXX_RESPONSE_RECORD(M18, nuclide, nuclide_library_read)

#endif
