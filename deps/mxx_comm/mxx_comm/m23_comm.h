// The M23 data-buffer file transfer. The instrument keeps files in a
// transfer buffer that the host addresses by path; M26 and M32 keep their
// records as such files. All values little-endian.
//
// Buffer operation (8402), request 44 bytes: u32 operation at 0, the path in
// a 21-byte text field at 4, u32 argument 1 at 28, u32 argument 2 at 32,
// bytes 36-43 zero. Answer 28 bytes; the answer's status byte is the result.
//   1 buffer information (empty path): 12-15 chunk size, 20-23 capacity,
//     24-27 bytes the buffer holds; the buffer is emptied for a write;
//   2 file information: 0-3 file size;
//   3 load a file for reading: 4-7 file size, 16-19 chunk size;
//   4 store the buffer as a file: 8-11 handed to the caller (the bytes stored).
// Write chunk (8403): u32 offset, u32 n, n bytes; no answer data.
// Read chunk (8404): u32 offset, u32 length; the answer is the bytes.
// Status information (8405), and event 9405 unsolicited: 8 bytes, u32 buffer
// state (0 idle, 1 loaded for reading, 2 being written) and u32 bytes held.
#ifndef ORVISK_M23_COMM_H
#define ORVISK_M23_COMM_H

#include "mxx_command.h"

#define MXX_TABLE_FAMILY M23
#define MXX_TABLE_FILE "m23_commands.def"
#define M23_COMMAND MXX_TABLE_ROW
#include "mxx_command_table.inc"
#undef M23_COMMAND

enum M23_code {
#define M23_COMMAND(name, code, request, response, timeout, form) M23_code_##name = code,
#include "m23_commands.def"
#undef M23_COMMAND
};

MXX_RESPONSE_RECORD(M23, buff_info, data_buff_op)      // the buffer operation's answer
MXX_RESPONSE_RECORD(M23, status_info, get_status_info) // state and bytes held

#define M23_OP_BUFFER_INFO 1
#define M23_OP_FILE_INFO 2
#define M23_OP_LOAD 3
#define M23_OP_STORE 4
#define M23_OP_SIZE MXX_REQUEST_SIZE(M23, data_buff_op)
#define M23_OP_ANSWER_SIZE MXX_RESPONSE_SIZE(M23, data_buff_op)
#define M23_PATH_FIELD 21
#define M23_STATUS_INFO_SIZE MXX_RESPONSE_SIZE(M23, get_status_info)
#define M23_STATUS_EVENT 9405
#define M23_OP_NO_ANSWER (-128)
#define M23_CHUNK_LIMIT 4096 // what the families' record transfers ask at most per chunk

// One buffer operation. 0 done; the answer's status byte when the instrument
// refused; M23_OP_NO_ANSWER when the exchange failed; -1, with nothing sent,
// for a path longer than its field. `response` (28 bytes) may be null.
int M23_data_buff_op(int conn, uint32_t operation, const char* path, uint32_t argument1,
                     uint32_t argument2, void* response, int timeout_ms, int wait);
// Operation 1 with a time-out of 250 ms.
int M23_data_buff_info(int conn, void* response, int wait);
// Operation 2 with a time-out of 5500 ms; the file size goes to `size`.
int M23_file_info(int conn, const char* path, uint32_t* size, int wait);

// Loads `path` (operation 3) and reads it into `destination`: at most
// `max_length` bytes and no more than the file holds, in chunks of no more
// than the instrument's chunk size and `chunk_limit` (0: no limit of ours).
// 0 when done, with the bytes read in `received`; otherwise the failed
// step's result: the operation's, a chunk exchange's, or -1 for a chunk
// without bytes. Nothing is ever written past `max_length` bytes.
int M23_file_read(int conn, const char* path, void* destination, uint32_t max_length,
                  uint32_t argument1, uint32_t argument2, uint32_t chunk_limit, uint32_t* received,
                  int timeout_ms, int wait);
// Writes `length` bytes as the file `path`: operation 1 for the buffer's
// chunk size and capacity, the chunks from offset 0, then operation 4 with
// the path and arguments, whose answer bytes 8-11 go to `output`. A file
// larger than the buffer is refused with -1 before anything is written;
// otherwise as M23_file_read.
int M23_file_write(int conn, const char* path, const void* source, uint32_t length,
                   uint32_t argument1, uint32_t argument2, uint32_t chunk_limit, uint32_t* output,
                   int timeout_ms, int wait);
// 8 bytes of status information into `response`.
int M23_get_status_info(int conn, void* response, int timeout_ms, int wait);

// A record kept as a file: reads exactly row.response bytes of row.path (a
// shorter file fails with -1), or writes row.request bytes. `data` is
// written only on success.
int M23_file_get(int conn, const MXX_command& row, uint32_t argument1, uint32_t argument2,
                 void* data, int wait);
int M23_file_put(int conn, const MXX_command& row, const void* data, int wait);

// Rows of the families whose commands are files of this transfer
// (MXX_TABLE_FILE_ROW in mxx_command_table.inc), by form:
//   READ   int fn(int conn, void* response, int wait): the whole record;
//   WRITE  int fn(int conn, const void* request, int wait): the whole record;
//   INFO   int fn(int conn, uint32_t* size, int wait): the file's size;
//   READ_ARGS  written by hand, with arguments for the load operation.
#define M23_FILE_ROW_READ(name, path, size, timeout)                                               \
    {                                                                                              \
        name, M23_code_file_read, 0, size, timeout, MXX_FORM_OUT, path                             \
    }
#define M23_FILE_ROW_WRITE(name, path, size, timeout)                                              \
    {                                                                                              \
        name, M23_code_file_write, size, 0, timeout, MXX_FORM_IN, path                             \
    }
#define M23_FILE_ROW_INFO(name, path, size, timeout)                                               \
    {                                                                                              \
        name, M23_code_file_info, 0, size, timeout, MXX_FORM_OUT, path                             \
    }
#define M23_FILE_ROW_READ_ARGS(name, path, size, timeout)                                          \
    {                                                                                              \
        name, M23_code_file_read, 0, size, timeout, MXX_FORM_CUSTOM, path                          \
    }

#define M23_FILE_DEFINE_READ(fn, row)                                                              \
    inline MXX_SIGNATURE(fn, OUT)                                                                  \
    {                                                                                              \
        return M23_file_get(conn, row, 0, 0, response, wait);                                      \
    }
#define M23_FILE_DEFINE_WRITE(fn, row)                                                             \
    inline MXX_SIGNATURE(fn, IN)                                                                   \
    {                                                                                              \
        return M23_file_put(conn, row, request, wait);                                             \
    }
#define M23_FILE_DEFINE_INFO(fn, row)                                                              \
    inline int fn(int conn, uint32_t* size, int wait)                                              \
    {                                                                                              \
        return M23_file_info(conn, row.path, size, wait);                                          \
    }
#define M23_FILE_DEFINE_READ_ARGS(fn, row)

#endif
