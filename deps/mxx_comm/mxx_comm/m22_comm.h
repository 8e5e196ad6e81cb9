// The M22 command set: spectrometers with a multichannel analyser of their
// own and a measurement log. One function per line of m22_commands.def.
// Requests and answers, little-endian; records pass through as the
// instrument lays them out:
//   get_status: 1056 bytes;
//   get_params: 1088 bytes, of which the first 62 are the settable block
//     that set_params sends;
//   get_mca_params: 1036 bytes, of which the first 12 are the settable block
//     that set_mca_params sends;
//   set_meas_flags: one byte of flags, passed through;
//   get_log_count: u32 entries; get_log_entry: u32 index in, 3236 bytes out;
//   get_wp / set_wp: i32;
//   get_screen: 1053 bytes, the display as the instrument draws it;
//   create_record: the record's name in an 8-byte field: at most 7 bytes of
//     text and always a terminating NUL.
// Events (M22Protocol): 8350 spectrum. Payload: u16 ADC number at 0, u16
// channel count N at 2, u32 live time at 4, u32 clock time at 8, u32 total
// count at 12, u32 total 1 at 16, u32 total 2 at 20, u16 sequence number at
// 24, u16 FWHM at Cs-137 in hundredths at 26, 4 bytes not read, N u32 counts
// from 32; a payload that cannot hold N counts is dropped.
#ifndef ORVISK_M22_COMM_H
#define ORVISK_M22_COMM_H

#include "mxx_command.h"

#define MXX_TABLE_FAMILY M22
#define MXX_TABLE_FILE "m22_commands.def"
#define M22_COMMAND MXX_TABLE_ROW
#include "mxx_command_table.inc"
#undef M22_COMMAND

#define M22_RECORD_NAME MXX_REQUEST_SIZE(M22, create_record)
MXX_RESPONSE_RECORD(M22, status, get_status)
MXX_RESPONSE_RECORD(M22, params, get_params)
MXX_RESPONSE_RECORD(M22, mca_params, get_mca_params)
MXX_RESPONSE_RECORD(M22, log_entry, get_log_entry)
MXX_RESPONSE_RECORD(M22, screen, get_screen)

#endif
