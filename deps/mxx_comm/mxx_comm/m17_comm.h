// The M17 service command set: identity, clock, model revision, external
// flash and firmware. One function per line of m17_commands.def; requests
// and answers are little-endian:
//   clock record (get_time, set_time): six i32, year, month, day, hour,
//     minute, second;
//   serial and firmware texts: 8 bytes, NUL-padded;
//   model revision: one u32 whose low byte is revision byte 0;
//   read_ext_flash: i16 page number in, 64 page bytes out;
//   flash_FW: u32 flag (0 or 1), u32 value.
// get_serial with a null response buffer asks for no answer data: that form
// is the family's identification query.
#ifndef ORVISK_M17_COMM_H
#define ORVISK_M17_COMM_H

#include "mxx_command.h"

#define MXX_TABLE_FAMILY M17
#define MXX_TABLE_FILE "m17_commands.def"
#define M17_COMMAND MXX_TABLE_ROW
#include "mxx_command_table.inc"
#undef M17_COMMAND

// The instrument answers when the erase is done; its parameter word goes to
// `param`.
int M17_erase_ext_flash(int conn, uint32_t* param, int wait);
// `request` holds the i16 page number and then the page bytes; -1 without
// sending when the request does not fit one frame.
int M17_write_ext_flash(int conn, const void* request, int size, int wait);

#endif
