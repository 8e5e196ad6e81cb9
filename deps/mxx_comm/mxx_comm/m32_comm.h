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

#define M32_COMMAND(name, code, request, response, timeout, form)                                  \
    MXX_DECLARE_COMMAND(M32_##name, form)
#define M32_FILE(name, path, size, timeout, form) M23_FILE_DECLARE_##form(M32_##name)
#include "m32_commands.def"
#undef M32_COMMAND
#undef M32_FILE

extern const MXX_command M32_commands[];
extern const int M32_command_count;

MXX_RECORD(M32, status, 56)
MXX_RECORD(M32, params, 252)
MXX_RECORD(M32, head_info, 18)
MXX_RECORD(M32, head_params, 396)
MXX_RECORD(M32, conc_lut, 116)
MXX_RECORD(M32, log_info, 32)

#define M32_STATUS_SIZE 56
#define M32_PARAMS_SIZE 252
#define M32_HEAD_INFO_SIZE 18
#define M32_HEAD_PARAMS_SIZE 396
#define M32_CONC_LUT_SIZE 116
#define M32_IP_WINDOWS_SIZE 64
#define M32_IP_WINDOWS 8
#define M32_SECTOR_SIZE 512
#define M32_LOG_INFO_SIZE 32

// Sector `sector` of the raw card, 512 bytes.
int M32_read_sd_raw(int conn, uint32_t sector, void* data, int wait);

#endif
