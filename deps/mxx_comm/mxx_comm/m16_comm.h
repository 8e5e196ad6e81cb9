// The M16 command set: spectrometric probes with a programmable lookup table
// between the ADC and the channels. One function per line of
// m16_commands.def. Requests and answers, little-endian:
//   Get_SW_Version: 16 bytes of text, NUL-padded;
//   USB_Test: 64 bytes that the instrument sends back unchanged;
//   Get_Temperature: i16, tenths of a degree Celsius;
//   Get_Voltages: three u16, millivolts;
//   Get_Param / Set_Param: the 128-byte parameter block, passed through;
//   Get_ADC0, Get/Set_Offset, Get/Set_Gain, Get/Set_HV (volts),
//   Get/Set_Discriminator (channel): u16;
//   Write_LUT: u16 table slot, then the 512-byte table (256 u16 entries); the
//     answer is the u16 checksum the instrument computed over what it took:
//     the sum of the 256 entries, modulo 65536;
//   Get_LUT_Checksum: u16, the same sum over the table in use;
//   Load_LUT: u32 table slot to put in use;
//   Get/Set_16Bit_Mode: u32 1 for 65536 channels of the raw ADC, 0 for 1024;
//   Get/Set_Calib: four f32 calibration values, passed through;
//   Start_Scan: u32 preset time in seconds, 0 scans until stopped;
//   Get/Set_Energy_Calib: three f32 a, b, c with keV = a + b·channel + c·channel².
// Events (M16Protocol): 2020 spectrum, laid out as M15's (m15_comm.h); 2031
// totals, M16_gm_neut_total: u32 Geiger total at 0, u32 neutron total at 4,
// u32 measuring time in seconds at 8.
#ifndef ORVISK_M16_COMM_H
#define ORVISK_M16_COMM_H

#include "mxx_command.h"

#define MXX_TABLE_FAMILY M16
#define MXX_TABLE_FILE "m16_commands.def"
#define M16_COMMAND MXX_TABLE_ROW
#include "mxx_command_table.inc"
#undef M16_COMMAND

MXX_RESPONSE_RECORD(M16, params, Get_Param)
MXX_RESPONSE_RECORD(M16, calib, Get_Calib)
MXX_RECORD(M16, gm_neut_total, 12)

#define M16_LUT_ENTRIES 256

#endif
