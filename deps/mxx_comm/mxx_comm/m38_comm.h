// The M38 command set: FPGA-based spectrometric probes with pulse
// acquisition. One function per line of m38_commands.def. Requests and
// answers, little-endian; records pass through as the instrument lays them out:
//   get_status: 84 bytes; get_params / set_params: 196 bytes;
//   get_flash_info: u32 page size, u32 page count, u32 flash id;
//   read_flash_page: u32 page in, 256 bytes out; write_flash_page: u32 page,
//     then its 256 bytes;
//   read_coefficients / write_coefficients: 256 bytes; commit_coefficients
//     stores what was written in the flash;
//   get_hv / set_hv: i32 volts; get_gain / set_gain: f32;
//   energy_calib: three f32 a, b, c with keV = a + b·channel + c·channel².
// Events (M38Protocol): 9000 spectrum, 9001 pulse (taken, not read). The 9000
// payload (3512 bytes) holds two spectra: 1024 u16 counts from 0, u32 live
// time at 2048, u32 clock time at 2052, u32 sequence number at 2056, u32
// total count of the 1024 channels at 2060 and of the 256 at 2064, and 256
// u16 counts from 3000. A shorter payload is dropped.
#ifndef ORVISK_M38_COMM_H
#define ORVISK_M38_COMM_H

#include "mxx_command.h"

#define MXX_TABLE_FAMILY M38
#define MXX_TABLE_FILE "m38_commands.def"
#define M38_COMMAND MXX_TABLE_ROW
#include "mxx_command_table.inc"
#undef M38_COMMAND

MXX_RESPONSE_RECORD(M38, status, get_status)
MXX_RESPONSE_RECORD(M38, params, get_params)
MXX_RESPONSE_RECORD(M38, flash_page, read_flash_page)
MXX_RESPONSE_RECORD(M38, coefficients, read_coefficients)

#define M38_SPECTRUM_EVENT_SIZE 3512

#endif
