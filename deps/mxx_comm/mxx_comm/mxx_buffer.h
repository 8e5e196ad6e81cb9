// Chunked transfers through an instrument's data buffer, shared by the
// families that have one (M23 files, M24 numbered items). A read chunk is
// requested as [u32 offset, u32 length] and answered by the bytes; a write
// chunk is [u32 offset, u32 n, n bytes] and answered without data.
#ifndef ORVISK_MXX_BUFFER_H
#define ORVISK_MXX_BUFFER_H

#include "mxx_comm.h"

#define MXX_BUFFER_CHUNK_HEAD 8
#define MXX_BUFFER_MAX_READ_CHUNK 65522  // the largest answer payload
#define MXX_BUFFER_MAX_WRITE_CHUNK 65525 // the largest command payload less the head

// Reads `length` bytes from offset 0 into `destination`, at most `chunk`
// bytes an exchange (0: as many as an answer holds), advancing by what each
// answer brought. Nothing is written past `length` bytes: an answer longer
// than asked for is not taken. 0 when all came, with their number in
// `received`; otherwise the failed exchange's result, or -1 for an answer
// without bytes. `received` is written only on success.
int MXX_buffer_read(int conn, uint16_t code, void* destination, uint32_t length, uint32_t chunk,
                    uint32_t* received, int timeout_ms, int wait);

// Writes `length` bytes from `source` from offset 0, at most `chunk` bytes an
// exchange (0: as many as a command holds). 0, or the failed exchange's result.
int MXX_buffer_write(int conn, uint16_t code, const void* source, uint32_t length, uint32_t chunk,
                     int timeout_ms, int wait);

#endif
