// An in-process stand-in for the transport, for the fuzz targets: no sockets,
// no threads. Connections exist only as records here; bytes reach a
// connection's handler when the target delivers them, and every write goes to
// the responder the target set, which may deliver an answer at once.
#pragma once

#include <comm.h>

#include <cstdint>
#include <functional>
#include <vector>

namespace fake_comm {

using Responder = std::function<void(int id, const uint8_t* data, int length)>;

// Called for every comm_write; null drops the bytes.
void setResponder(Responder responder);

// Calls the handler of connection `id` (CLOSED ends the connection); the
// handler's result, or COMM_ERR_NO_CONN.
int deliver(int id, int kind, const uint8_t* data = nullptr, int length = 0);

// Adds a connection without a connection string: its handler and record.
int open(comm_handler_t handler, void* record);

// Every frame handed to comm_fill_rsp_buff since the last call, in order.
struct Handed
{
    int id;
    uint16_t code;
    std::vector<uint8_t> frame;
};
void traceFrames(bool on);
std::vector<Handed> takeFrames();

// Ends every connection (CLOSED calls) and forgets the responder.
void reset();

} // namespace fake_comm
