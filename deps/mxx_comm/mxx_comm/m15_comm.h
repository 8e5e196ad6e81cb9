// The M15 command set: the oldest spectrometric probes, which answer their
// own 1xxx codes instead of the identity query. One function per line of
// m15_commands.def. Requests and answers, little-endian:
//   Get_SW_Version: 16 bytes of text, NUL-padded;
//   Get_Temperature: i16, tenths of a degree Celsius;
//   Get_Param / Set_Param: the 44-byte parameter block, passed through;
//   Start_Meas: u32 preset time in seconds, 0 measures until stopped;
//   Stop_Meas: u32 1 clears the spectrum as well, 0 keeps it for a later start;
//   Set_12Bit_Mode: u32 1 for 4096 channels, 0 for 1024;
//   Test_Buttons: u32 mask of the buttons held down;
//   Get_Voltage / Get_Current: u16 channel in, u16 millivolts / microamperes out;
//   Get/Set_ADC_Offset, Get/Set_HV (volts), Set_LLD (channel): u16;
//   Set_Backlight: u8 level;
//   Get_Voltages: four u16, millivolts;
//   Get/Set_Energy_Calib: three f32 a, b, c with keV = a + b·channel + c·channel².
// Events (M15Protocol): 2020 spectrum; 2030 totals and 2105 button (taken,
// not read). Spectrum payload: u32 live time at 0, u32 clock time at 4, u32
// total count at 8, u16 channel count N at 12, u16 sequence number at 14, N
// u32 counts from 16; a payload that cannot hold N counts is dropped.
#ifndef ORVISK_M15_COMM_H
#define ORVISK_M15_COMM_H

#include "mxx_command.h"

#define MXX_TABLE_FAMILY M15
#define MXX_TABLE_FILE "m15_commands.def"
#define M15_COMMAND MXX_TABLE_ROW
#include "mxx_command_table.inc"
#undef M15_COMMAND

MXX_RESPONSE_RECORD(M15, params, Get_Param)

#endif
