// Orvisk command layer: MXX frames, the command exchange, the receive path with
// event hooks and network discovery, connections and connection strings.
//
// Every function takes the connection id first and, for commands, the wait flag
// last. Results: 0 success, 1 the instrument reported an error, 255 no answer
// within the time-out, -1 a set-up failure, anything else the transport's code.
#ifndef ORVISK_MXX_COMM_H
#define ORVISK_MXX_COMM_H

#include <comm.h>

#include <stdint.h>

#define MXX_FRAME_HEADER_SIZE 12
#define MXX_FRAME_OVERHEAD 13 // header plus payload check
#define MXX_RX_BUFFER_SIZE 65536
#define MXX_MAX_CMD_PAYLOAD 65533
#define MXX_ANSWER_BUFFER_SIZE 65535
#define MXX_SPECIAL_BUFFER_SIZE 1024
#define MXX_HOOK_SLOTS 255
#define MXX_HOOK_CATCH_ALL 0xFFFF
#define MXX_MAX_PROBE_COUNT 6
#define MXX_PROBE_GIVE_UP 6 // attempt number at which identification ends
#define MXX_TIMER_MS 200    // the transport's timer period for instrument connections
#define MXX_DAMAGED_REPEATS 3 // a command whose answer came damaged is written again at once

#define MXX_CODE_REPEAT 12289 // 0x3001: write the command again
#define MXX_CODE_FAILED 12290 // 0x3002: the command failed
#define MXX_CODE_ANSWER_OFFSET 1000
#define MXX_CODE_DISCOVERY_REQUEST 8601
#define MXX_CODE_DISCOVERY_ANSWER 8600
#define MXX_DISCOVERY_TIMEOUT_WORD 3000

#define MXX_MESSAGE_LIST_ENTRIES 20
#define MXX_MESSAGE_ID_SIZE 10
#define MXX_MESSAGE_IPV4_SIZE 16
#define MXX_MESSAGE_IPV6_SIZE 40

// One received frame, as event hooks and identification tests see it. It is a
// view of a connection's receive buffer, so the payload may be up to the
// buffer's size; only length - 1 payload bytes and the check byte are valid.
struct MXX_frame
{
    char start[4]; // "BRNO"
    uint16_t code;
    uint16_t length; // payload bytes + 1
    uint16_t param;
    uint8_t status;
    uint8_t header_check;
    uint8_t payload[MXX_RX_BUFFER_SIZE - MXX_FRAME_HEADER_SIZE];
};
static_assert(sizeof(MXX_frame) == MXX_RX_BUFFER_SIZE, "a frame view spans the receive buffer");

typedef void (*MXX_connected_cb)(int conn, char* name, int device_type, void* user);
typedef void (*MXX_connection_error_cb)(int conn, char* name, void* user);
typedef void (*MXX_disconnected_cb)(int conn, char* name, void* user);
typedef int (*MXX_probe_fn)(int conn, int attempt);
typedef int (*MXX_test_fn)(int conn, MXX_frame* frame, int* device_type, int attempt);
typedef int (*MXX_event_handler)(int conn, char* name, MXX_frame* frame, void* user);
typedef int (*MXX_wait_callback_t)(int conn, int a, int b);
typedef int (*MXX_net_broadcast_handler)(void* data, int length, void* user);

// One per connection, kept by the command layer (mxx_comm_internal.h); the
// public interface names connections by id only.
struct MXX_conn_record;

struct MXX_message_entry
{
    char id[MXX_MESSAGE_ID_SIZE];
    char ipv4[MXX_MESSAGE_IPV4_SIZE];
    char ipv6[MXX_MESSAGE_IPV6_SIZE];
};
static_assert(sizeof(MXX_message_entry) == 66, "discovery entry layout");

struct MXX_message_list
{
    int count;
    MXX_message_entry entries[MXX_MESSAGE_LIST_ENTRIES];
};
static_assert(sizeof(MXX_message_list) == 1324, "discovery list layout");

// Process-wide wait callback, set by MXX_init and cleared by MXX_shut.
extern MXX_wait_callback_t MXX_wait_callback;

// Frames and the command exchange.
int MXX_make_command(uint8_t* frame, uint16_t code, const uint8_t* payload, uint16_t length,
                     uint16_t param);
int MXX_send_cmd(int conn, uint16_t code, const void* in, int in_size, void* out, int out_capacity,
                 uint32_t* out_size, uint32_t* param_out, uint32_t* status_out, int timeout_ms,
                 int wait);
int MXX_test_response(int conn, const uint8_t* answer, int answer_size, const uint8_t* frame12290,
                      int size12290, const uint8_t* frame12289, int size12289, void* out,
                      int out_capacity, uint32_t* out_size, uint32_t* param_out,
                      uint32_t* status_out, uint32_t* kind_out);
void MXX_set_cmd_num_try(int conn, int tries);

// Receive path and event hooks.
int MXX_event_proc(int conn, int kind, const uint8_t* data, int length, void* record);
int MXX_hook_async_event(int conn, uint16_t code, MXX_event_handler handler);

// Network discovery.
int MXX_broadcast_event(uint16_t code, const uint8_t* frame);
int MXX_broadcast_event_proc(const uint8_t* data, int length);
int MXX_send_broadcast_net_message(const char* address, int port);
int MXX_net_broadcast_register(MXX_net_broadcast_handler handler, void* user);
int MXX_net_broadcast_deregister();
int MXX_net_broadcast_reset_list();
int MXX_broadcast_list(void* out);

// Start and stop.
int MXX_init(MXX_wait_callback_t wait_callback, comm_usb_changed_t usb_changed, void* user);
int MXX_shut();
int MXX_idle_wait(int conn, uint16_t a, int b);

// Connections.
int MXX_connect(const char* conn_string, int* conn_out, MXX_connected_cb connected,
                MXX_connection_error_cb connection_error, MXX_disconnected_cb disconnected,
                MXX_probe_fn probe, MXX_test_fn test, void* user);
int MXX_disconnect(int conn);
int MXX_wait_connected(int conn, int n);
int MXX_get_conn_state_id(int conn);

// Connection strings, written into 128-byte buffers.
int MXX_make_usb_conn_string(char* out, const char* usb_id, int x);
int MXX_make_serial_conn_string(char* out, uint16_t port);
int MXX_make_serial_path_conn_string(char* out, const char* path);
int MXX_make_bt_conn_string(char* out, const char* address, const char* name);
int MXX_make_net_conn_string(char* out, const char* host, uint16_t port);
// A listed FTDI bridge (USBF or USBS id) as an ftdi connection string at the
// instruments' line settings; -1, and `out` empty, for any other id.
int MXX_make_ftdi_conn_string(char* out, const char* usb_id);
// The text a person reads for a connection string or listed id.
int MXX_get_devid_string(const char* id, char* text);

// Devices.
int MXX_list_usb_devices(char out[][COMM_STRING_SIZE], int max, int* count);
// Appends `extra` behind the `*count` ids in `out`, never past `max` entries;
// returns how many were appended.
int MXX_append_device_ids(char out[][COMM_STRING_SIZE], int max, int* count,
                          const char extra[][COMM_STRING_SIZE], int extra_count);
int MXX_bt_is_available();
int MXX_comm_bt_discover(comm_bt_discover_cb_t callback, void* user);
int MXX_comm_bt_discover_cancel();
int MXX_comm_bt_discover_wait(int a, int b);

// Caller errors stop the program with this text, also in release builds.
[[noreturn]] void MXX_fail(const char* text);
#define MXX_ASSERT(cond, text)                                                                     \
    do {                                                                                           \
        if (!(cond))                                                                               \
            MXX_fail(text);                                                                        \
    } while (0)

#endif
