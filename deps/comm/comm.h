/* Orvisk transport library: byte streams to instruments over TCP, serial
 * ports, FTDI serial bridges, USB and Bluetooth, USB listing and hot-plug,
 * Bluetooth inquiry and UDP discovery datagrams.
 *
 * All calls return 0 on success unless noted.  Connection and id strings are
 * NUL-terminated and live in COMM_STRING_SIZE-byte buffers.  Every callback
 * runs on one of the library's own threads. */
#ifndef ORVISK_COMM_H
#define ORVISK_COMM_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define COMM_STRING_SIZE 128

/* Kinds of connection handler calls (the low 8 bits of `kind`). */
enum comm_event_kind {
  COMM_EV_OPENED = 1,
  COMM_EV_ERROR = 2,
  COMM_EV_CLOSED = 3, /* last call for every accepted connection, exactly once */
  COMM_EV_DATA = 5,
  COMM_EV_TIMER = 6 /* only after a period in which no byte arrived */
};

/* Connection states returned by comm_get_state. */
enum comm_state {
  COMM_STATE_NONE = 0, /* no such connection */
  COMM_STATE_CONNECTING = 1,
  COMM_STATE_OPEN = 2,
  COMM_STATE_CLOSING = 3
};

/* Result codes besides 0. */
enum comm_result {
  COMM_ERR_FAILED = -1,
  COMM_ERR_ARG = -2,     /* malformed connection string or argument */
  COMM_ERR_NO_CONN = -3, /* no open connection with that id */
  COMM_ERR_TIMEOUT = -4,
  COMM_ERR_IO = -5,
  COMM_ERR_REFUSED = -6, /* e.g. a broadcast to a non-loopback address in loopback-only mode */
  COMM_ERR_DAMAGED = -7  /* comm_wait_response: an armed code arrived damaged, nothing else */
};

/* Connection handler: (id, kind, bytes, length, record).  Returning -1 from
 * an OPENED, DATA or TIMER call ends the connection (ERROR, then CLOSED). */
typedef int (*comm_handler_t)(int id, int kind, const uint8_t *data, int length, void *record);

typedef void (*comm_usb_changed_t)(void *user);

typedef struct comm_bt_inquiry_result {
  char address[20]; /* "00:11:22:33:44:55" */
  char name[72];
} comm_bt_inquiry_result_t; /* 92 bytes */

typedef void (*comm_bt_discover_cb_t)(comm_bt_inquiry_result_t *results, int count, int done,
                                      void *user);

typedef int (*comm_broadcast_cb_t)(void *data, int length, void *user);

/* Iterator over open connections. */
typedef struct comm_iter {
  int next_id;
} comm_iter_t;

/* Start and stop. */
int comm_init(void);
int comm_shut(void);
int comm_usb_register(comm_usb_changed_t cb, void *user);
int comm_usb_deregister(void);

/* Connections.  `rx_size` is the largest block handed to one DATA call,
 * `timer_ms` the period of TIMER calls.  On 0, *id is written before the
 * handler's first call. */
int comm_connect(int *id, const char *conn_string, comm_handler_t handler, int rx_size,
                 int timer_ms, void *record);
int comm_disconnect(int id);
/* 0 when `conn_string` is a connection string of a known medium, COMM_ERR_ARG
 * otherwise; nothing is opened. */
int comm_check_conn_string(const char *conn_string);
int comm_get_state(int id);
/* Marks the end of connecting (identified or given up); wakes comm_wait_connected. */
int comm_signal_connected(int id);
/* Waits up to `timeout_ms` for comm_signal_connected or the close of `id`.
 * 0 when signalled, COMM_ERR_TIMEOUT, or COMM_ERR_NO_CONN. */
int comm_wait_connected(int id, int timeout_ms);
int comm_write(int id, const void *data, int length, int flags, int timeout_ms);

/* Iteration: comm_get_data returns 1 with the next open connection's id and
 * record, 0 when done. */
void comm_data_cntr_init(comm_iter_t *it);
int comm_get_data(comm_iter_t *it, int *id, void **record);

/* Response hand-over from the receive path to a waiting command exchange. */
int comm_hook_response(int id, uint16_t code1, void *buf1, int cap1, uint16_t code2, void *buf2,
                       int cap2, uint16_t code3, void *buf3, int cap3);
int comm_unhook_response(int id);
/* Stores a complete frame if its code is armed and wakes the waiter.  A frame
 * larger than its buffer's capacity is not stored. */
int comm_fill_rsp_buff(int id, uint16_t code, const void *frame, int length);
/* Tells a waiting exchange that a frame of `code` arrived with a damaged
 * payload: if the code is armed, the wait ends with COMM_ERR_DAMAGED instead
 * of running out its time-out, so the command can be asked for again. */
int comm_damaged_rsp(int id, uint16_t code);
/* Waits until a frame of an armed code is stored or `timeout_ms` passes; the
 * lengths are those frames' sizes (0 for none) and are consumed by the wait.
 * 0 when a frame came, COMM_ERR_DAMAGED when only a damaged one did (see
 * comm_damaged_rsp), COMM_ERR_TIMEOUT otherwise (COMM_ERR_NO_CONN when the
 * connection closes meanwhile).  Frames stored between the arming and the
 * wait count.  A buffer the wait reported stays as it is (later frames of its
 * code are not taken) until the next comm_write, wait or unhook on `id`, so
 * the caller can read it safely. */
int comm_wait_response(int id, int *len1, int *len2, int *len3, int timeout_ms);

/* Devices. */
int comm_list_devices_usb(char (*out)[COMM_STRING_SIZE], int max, int *count, const char *filter1,
                          const char *filter2, uint16_t vid1, uint16_t vid2, uint16_t pid1,
                          uint16_t pid2);
int comm_list_devices_ftdi(char (*out)[COMM_STRING_SIZE], int max, int *count, uint16_t vid,
                           uint16_t pid);
int comm_get_devid_string(const char *id, char *text);
int comm_make_conn_string_usb(char *out, const char *usb_id, uint16_t vid, uint16_t pid, int flags);
int comm_make_conn_string_serial(char *out, uint16_t port, int baud, int data_bits, int stop_bits,
                                 int parity, int flow);
int comm_make_conn_string_serial_path(char *out, const char *path, int baud, int data_bits,
                                      int stop_bits, int parity, int flow);
int comm_make_conn_string_ftdi_serial(char *out, const char *device_id, int baud, int data_bits,
                                      int stop_bits, int parity, int flow);
int comm_make_conn_string_bt(char *out, const char *address, const char *name,
                             uint32_t class_of_device, int channel, const char *pin,
                             int timeout_ms);
int comm_make_conn_string_net(char *out, const char *host, uint16_t port, int timeout_ms);

/* Bluetooth. */
int comm_bt_is_available(void); /* non-zero when an adapter is up */
int comm_bt_discover(comm_bt_discover_cb_t cb, uint32_t class_of_device, void *user);
int comm_bt_discover_cancel(void);
/* Waits up to `timeout_ms` for a running inquiry to end; cancels it on
 * time-out when `cancel` is non-zero. */
int comm_bt_discover_wait(int timeout_ms, int cancel);

/* UDP discovery datagrams. */
int comm_net_broadcast_register(comm_broadcast_cb_t cb, void *user);
int comm_net_broadcast_deregister(void);
int comm_net_broadcast_send(const void *data, int length, const char *address, int port);
/* Sends every later broadcast to host:port instead (tests: a loopback
 * responder).  A null host removes the redirect.  The environment variable
 * ORVISK_BROADCAST_REDIRECT="HOST:PORT" sets it at comm_init. */
int comm_net_broadcast_redirect(const char *host, int port);

#ifdef __cplusplus
}
#endif

#endif
