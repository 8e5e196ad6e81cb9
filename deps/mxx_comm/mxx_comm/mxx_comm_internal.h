// The command layer's own view of a connection: its record, as the receive
// path fills it. Only the command layer, its tests and fuzz targets include
// this; everyone else names a connection by its id.
#ifndef ORVISK_MXX_COMM_INTERNAL_H
#define ORVISK_MXX_COMM_INTERNAL_H

#include "mxx_comm.h"

struct MXX_hook
{
    uint16_t code;
    MXX_event_handler handler;
};

// One per connection: created zeroed by MXX_connect, released after the
// transport's close call.
struct MXX_conn_record
{
    char name[COMM_STRING_SIZE];
    int identified;
    void* user;
    MXX_frame rx;     // the frame being assembled, from its start mark on
    int rx_pos;       // bytes stored so far
    int rx_expected;  // length field of the frame, 0 until its header passed
    int rx_payload;   // bytes stored after the header
    uint8_t rx_check; // XOR of the payload bytes stored so far
    int probe_attempt;
    int64_t probe_ms; // steady-clock time of the last probe step
    int num_try;      // attempt count of command exchanges
    int device_type;
    MXX_probe_fn probe;
    MXX_test_fn test;
    MXX_connected_cb connected;
    MXX_connection_error_cb connection_error;
    MXX_disconnected_cb disconnected;
    int hook_count;
    MXX_hook hooks[MXX_HOOK_SLOTS]; // the last slot doubles as the catch-all
};

// The table rules of MXX_hook_async_event applied to one record.
int MXX_record_hook(MXX_conn_record* record, uint16_t code, MXX_event_handler handler);

// Command exchanges on one connection take turns (on by default). Off only
// for the benchmark that prices the turn-taking.
void MXX_set_exchange_turns(int on);

#endif
