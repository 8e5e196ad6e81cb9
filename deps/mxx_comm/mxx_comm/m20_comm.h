// The M20 command set: dose-rate meters with a measurement log, notes and
// named files. One function per line of m20_commands.def. Requests and
// answers, little-endian; records pass through as the instrument lays them out:
//   get_params: 4096 bytes, of which the first 96 are the settable block
//     that set_params sends;
//   get_status: 20 bytes;
//   get_log_list: u32 number of entries, then up to 159 u32 entry ids;
//   get_log_entry / delete_log_entry: u32 entry id; an entry is 828 bytes;
//   get_memory_usage: 16 bytes;
//   get_note_info: u32 number of notes; get_note: u32 index in, 4000 bytes of
//     note text out, NUL-padded;
//   measure: u32 measuring time in seconds;
//   get_state / set_state: u32 state, passed through;
//   set_events: u32 mask of the events the instrument sends, bit 0 the live
//     measurement;
//   get_model_rev / set_model_rev: one u32 whose low byte is revision byte 0,
//     as in the M17 set;
//   write_file: the file header, then n data bytes; read_file: the file
//     header alone, with the number of bytes wanted; the answer holds at most
//     that many bytes from the offset, fewer at the file's end. File header
//     (40 bytes): the name in a 32-byte text field at 0, u32 offset at 32,
//     u32 length n at 36 (at most 4000).
// Events (M20Protocol): 9302 live measurement, M20_live_meas_data (64 bytes):
// u32 measuring time in seconds at 0, f32 dose rate at 4, f32 dose at 8, u32
// counts per second at 12, the rest passed through.
#ifndef ORVISK_M20_COMM_H
#define ORVISK_M20_COMM_H

#include "mxx_command.h"

#define MXX_TABLE_FAMILY M20
#define MXX_TABLE_FILE "m20_commands.def"
#define M20_COMMAND MXX_TABLE_ROW
#include "mxx_command_table.inc"
#undef M20_COMMAND

MXX_RESPONSE_RECORD(M20, params, get_params)
MXX_RESPONSE_RECORD(M20, status, get_status)
MXX_RESPONSE_RECORD(M20, log_list, get_log_list)
MXX_RESPONSE_RECORD(M20, log_entry, get_log_entry)
MXX_RESPONSE_RECORD(M20, memory_usage, get_memory_usage)
MXX_RESPONSE_RECORD(M20, note, get_note)
MXX_RECORD(M20, live_meas_data, 64)

// Named files, shared by M21.
#define M20_FILE_HEADER MXX_REQUEST_SIZE(M20, read_file)
#define M20_FILE_NAME 32
#define M20_FILE_CHUNK MXX_RESPONSE_SIZE(M20, read_file)
static_assert(MXX_REQUEST_SIZE(M20, write_file) == M20_FILE_HEADER + M20_FILE_CHUNK,
              "a write chunk is a header and at most one read chunk's bytes");

#endif
