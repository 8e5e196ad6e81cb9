// The M24 command set: a test command and the numbered items of the data
// buffer. Layouts of our own (little-endian):
//   test, 24 bytes each way: the instrument answers the request's bytes;
//   buffer operation (8402), 16 bytes: u32 item at 0, u32 argument 1 at 4,
//     u32 argument 2 at 8, u32 length at 12 (bytes written, for a store; 0
//     for a load); answer 8 bytes: u32 item size, u32 chunk size;
//   chunks: read [u32 offset, u32 length] answered by the bytes (8404),
//     write [u32 offset, u32 n, n bytes] (8403), as in mxx_buffer.h;
//   items: 1 status (read, 64 bytes), 2 parameters (read, 128), 3 parameters
//     (write), 4 MCA parameters (read, 32), 5 MCA parameters (write),
//     6 memory (read) and 7 memory (write), argument 1 the address and
//     argument 2 the length;
//   status, 64 bytes: u32 model number at 0, u32 state at 4, f32 dose rate
//     at 8, u32 counts per second at 12, the rest passed through;
//   spectrum event 8601 (M24_mca_spect, 4112 bytes): u32 channel count at 0
//     (at most 1024), u32 live time at 4, u32 real time at 8 (ms), u32
//     sequence number at 12, u32 channel counts from 16.
// A read loads the item, then takes its bytes; a write puts the bytes, then
// stores them as the item.
#ifndef ORVISK_M24_COMM_H
#define ORVISK_M24_COMM_H

#include "mxx_command.h"

#define M24_SPECTRUM_EVENT 8601
#define M24_MCA_SPECT_HEAD 16
#define M24_MCA_SPECT_CHANNELS 1024

#define MXX_TABLE_FAMILY M24
#define MXX_TABLE_FILE "m24_commands.def"
#define M24_COMMAND MXX_TABLE_ROW
#include "mxx_command_table.inc"
#undef M24_COMMAND

MXX_REQUEST_RECORD(M24, test_data, test)
MXX_RESPONSE_RECORD(M24, status, get_status)
MXX_RESPONSE_RECORD(M24, params, get_params)
MXX_RESPONSE_RECORD(M24, mca_params, get_mca_params)
MXX_RECORD(M24, mca_spect, M24_MCA_SPECT_HEAD + 4 * M24_MCA_SPECT_CHANNELS)

#define M24_ITEM_STATUS 1
#define M24_ITEM_PARAMS_READ 2
#define M24_ITEM_PARAMS_WRITE 3
#define M24_ITEM_MCA_PARAMS_READ 4
#define M24_ITEM_MCA_PARAMS_WRITE 5
#define M24_ITEM_MEMORY_READ 6
#define M24_ITEM_MEMORY_WRITE 7
#define M24_OP_SIZE MXX_REQUEST_SIZE(M24, data_buff_op)
#define M24_OP_ANSWER_SIZE MXX_RESPONSE_SIZE(M24, data_buff_op)
#define M24_WRITE_CHUNK 1024 // bytes a write chunk carries at most

// One buffer operation on `item`; `response` (8 bytes) may be null.
int M24_data_buff_op(int conn, uint32_t item, uint32_t argument1, uint32_t argument2,
                     uint32_t length, void* response, int wait);
// Loads `item` and reads at most `max_length` of its bytes into
// `destination`; their number goes to `received`. Never writes past
// `max_length`. 0, a failed exchange's result, or -1 for a chunk without
// bytes.
int M24_data_buff_read(int conn, uint32_t item, uint32_t argument1, uint32_t argument2,
                       void* destination, uint32_t max_length, uint32_t* received, int wait);
// Writes `length` bytes and stores them as `item`.
int M24_data_buff_write(int conn, uint32_t item, uint32_t argument1, uint32_t argument2,
                        const void* source, uint32_t length, int wait);

// The fixed-size items, whole: a short item fails with -1 and leaves the
// record as it was. Their rows give the item's size.
#define M24_RECORD_ITEMS(X)                                                                        \
    X(get_status, M24_ITEM_STATUS, OUT)                                                            \
    X(get_params, M24_ITEM_PARAMS_READ, OUT)                                                       \
    X(set_params, M24_ITEM_PARAMS_WRITE, IN)                                                       \
    X(get_mca_params, M24_ITEM_MCA_PARAMS_READ, OUT)                                               \
    X(set_mca_params, M24_ITEM_MCA_PARAMS_WRITE, IN)
#define M24_DECLARE_ITEM(name, item, form) MXX_SIGNATURE(M24_##name, form);
M24_RECORD_ITEMS(M24_DECLARE_ITEM)
#undef M24_DECLARE_ITEM

int M24_read_memory(int conn, uint32_t address, void* destination, uint32_t length,
                    uint32_t* received, int wait);
int M24_write_memory(int conn, uint32_t address, const void* source, uint32_t length, int wait);

#endif
