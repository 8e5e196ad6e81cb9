// The M32 command set (m32_commands.def): status, parameters, record
// deletion and the head information block as commands; the head parameters,
// the concentration table, the energy windows, the raw card and the log
// information as files of the M23 transfer. Layouts of our own
// (little-endian):
//   status (56 bytes), parameters (252), head parameters (396),
//     concentration table (116), head information (18): passed through;
//   delete_records, 8 bytes: u32 first and u32 last record id to delete;
//   "log/ip_windows", 64 bytes: 8 windows of u32 lower and u32 upper channel;
//   "log/sd_raw": the raw card, read one 512-byte sector a load (argument 1
//     the sector number); its file size is the card's byte count;
//   "log/info", 32 bytes: u32 records at 0, u32 first record id at 4, u32
//     last record id at 8, u32 sectors used at 12, the rest passed through.
#ifndef ORVISK_M32_COMM_H
#define ORVISK_M32_COMM_H

#include "m23_comm.h"

#define MXX_TABLE_FAMILY M32
#define MXX_TABLE_FILE "m32_commands.def"
#define M32_COMMAND MXX_TABLE_ROW
#define M32_FILE MXX_TABLE_FILE_ROW
#include "mxx_command_table.inc"
#undef M32_COMMAND
#undef M32_FILE

MXX_RESPONSE_RECORD(M32, status, get_status)
MXX_RESPONSE_RECORD(M32, params, get_params)
MXX_RESPONSE_RECORD(M32, head_info, get_head_info)
MXX_RESPONSE_RECORD(M32, head_params, get_head_params)
MXX_RESPONSE_RECORD(M32, conc_lut, get_conc_lut)
MXX_RESPONSE_RECORD(M32, log_info, get_info)

#define M32_IP_WINDOWS_SIZE MXX_RESPONSE_SIZE(M32, get_ip_windows)
#define M32_IP_WINDOWS (M32_IP_WINDOWS_SIZE / 8)
#define M32_SECTOR_SIZE MXX_RESPONSE_SIZE(M32, read_sd_raw)

// Sector `sector` of the raw card, 512 bytes.
int M32_read_sd_raw(int conn, uint32_t sector, void* data, int wait);

#endif
