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

#define M21_COMMAND(name, code, request, response, timeout, form)                                  \
    MXX_DECLARE_COMMAND(M21_##name, form)
#include "m21_commands.def"
#undef M21_COMMAND

extern const MXX_command M21_commands[];
extern const int M21_command_count;

#define M21_SETTABLE_PARAMS 319
MXX_RECORD(M21, params, 4319)
MXX_RECORD(M21, status, 20)
MXX_RECORD(M21, log_list, 160)
MXX_RECORD(M21, log_entry, 828)
MXX_RECORD(M21, memory_usage, 16)
MXX_RECORD(M21, screen, 1060)
MXX_RECORD(M21, live_meas_data, 64)

#endif
