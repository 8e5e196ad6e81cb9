// The M21 command set: the M20's successors, with larger parameters, file
// information and a screen. One function per line of m21_commands.def.
// Requests and answers as in m20_comm.h, except:
//   get_params: 4319 bytes, of which the first 319 are the settable block
//     that set_params sends;
//   get_log_list: u32 number of entries, then up to 39 u32 entry ids;
//   get_file_info: the name in a 32-byte text field in; out 40 bytes: the
//     name field, u32 size at 32, u32 time of the last change at 36 (seconds
//     since 1970 UTC);
//   get_screen: u16 width 132, u16 height 64, then the display, one bit a
//     pixel, rows from the top.
// Files have M20's header and chunk size. Events (M21Protocol): 9302 live
// measurement, M21_live_meas_data, laid out as M20's.
#ifndef ORVISK_M21_COMM_H
#define ORVISK_M21_COMM_H

#include "m20_comm.h"

#define MXX_TABLE_FAMILY M21
#define MXX_TABLE_FILE "m21_commands.def"
#define M21_COMMAND MXX_TABLE_ROW
#include "mxx_command_table.inc"
#undef M21_COMMAND

MXX_RESPONSE_RECORD(M21, params, get_params)
MXX_RESPONSE_RECORD(M21, status, get_status)
MXX_RESPONSE_RECORD(M21, log_list, get_log_list)
MXX_RESPONSE_RECORD(M21, log_entry, get_log_entry)
MXX_RESPONSE_RECORD(M21, memory_usage, get_memory_usage)
MXX_RESPONSE_RECORD(M21, screen, get_screen)
struct M21_live_meas_data : M20_live_meas_data // laid out as M20's
{
};
static_assert(MXX_REQUEST_SIZE(M21, read_file) == M20_FILE_HEADER &&
                  MXX_RESPONSE_SIZE(M21, read_file) == M20_FILE_CHUNK,
              "M20's files");

#endif
