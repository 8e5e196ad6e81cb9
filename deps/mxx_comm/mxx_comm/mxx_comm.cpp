#include "mxx_comm.h"
#include "mxx_comm_internal.h"

#include "mxx_xor.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <vector>

MXX_wait_callback_t MXX_wait_callback = nullptr;

namespace {

using mxx::mxxXor;

const uint8_t kStartMark[4] = {'B', 'R', 'N', 'O'};
// The longest length field whose frame still fits the receive buffer.
const int kMaxLengthField = MXX_RX_BUFFER_SIZE - MXX_FRAME_HEADER_SIZE;

// Written by datagram answers on the transport's broadcast thread, read on the
// main thread.
std::mutex messageListLock;
MXX_message_list messageList;

// Serialises datagrams through the one record they share.
std::mutex datagramLock;
MXX_conn_record datagramRecord;

inline uint16_t get16(const uint8_t* p)
{
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

inline void put16(uint8_t* p, uint16_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

inline uint8_t* rxBytes(MXX_conn_record* rec)
{
    return reinterpret_cast<uint8_t*>(&rec->rx);
}

// A record is released on a transport thread when its connection closes,
// while the main thread may be reading its attempt count or filling its hook
// table: both happen under this lock.
std::mutex recordsLock;

MXX_conn_record* findRecord(int conn)
{
    comm_iter_t it;
    comm_data_cntr_init(&it);
    int id = -1;
    void* record = nullptr;
    while (comm_get_data(&it, &id, &record)) {
        if (id == conn)
            return static_cast<MXX_conn_record*>(record);
    }
    return nullptr;
}

// Runs `use` on the record of the open connection `conn`, or returns `absent`.
template <class Use, class T> T withRecord(int conn, T absent, Use use)
{
    std::lock_guard<std::mutex> lock(recordsLock);
    MXX_conn_record* rec = findRecord(conn);
    return rec ? use(rec) : absent;
}

// Command exchanges on one connection take turns: arming the reply slot,
// writing and waiting belong to one thread at a time, so no thread takes
// another's answer. A turn outlives its connection while an exchange holds it.
// Under recordsLock.
std::map<int, std::shared_ptr<std::mutex>> turns;
std::atomic<bool> takeTurns{true};

// The attempt count of `conn` and its turn (null when it is not open).
std::pair<int, std::shared_ptr<std::mutex>> exchangeSetting(int conn)
{
    std::lock_guard<std::mutex> lock(recordsLock);
    MXX_conn_record* rec = findRecord(conn);
    if (!rec)
        return {1, nullptr};
    std::shared_ptr<std::mutex>& turn = turns[conn];
    if (!turn)
        turn = std::make_shared<std::mutex>();
    return {__atomic_load_n(&rec->num_try, __ATOMIC_RELAXED), turn};
}

void storeNumTry(MXX_conn_record* rec, int tries)
{
    __atomic_store_n(&rec->num_try, tries, __ATOMIC_RELAXED);
}

// Copies a text field of a discovery answer, cut so that it stays terminated;
// bytes past the end of the payload count as absent.
void copyText(char* dst, int dst_size, const uint8_t* payload, int payload_size, int offset)
{
    memset(dst, 0, dst_size);
    int avail = std::min(payload_size - offset, dst_size - 1);
    if (avail <= 0)
        return;
    const uint8_t* src = payload + offset;
    int n = 0;
    while (n < avail && src[n] != 0)
        ++n;
    memcpy(dst, src, n);
}

inline void runHooks(int conn, MXX_conn_record* rec, uint16_t code)
{
    int count = __atomic_load_n(&rec->hook_count, __ATOMIC_ACQUIRE);
    for (int i = 0; i < count; ++i) {
        MXX_hook& slot = rec->hooks[i];
        MXX_event_handler handler = __atomic_load_n(&slot.handler, __ATOMIC_RELAXED);
        if (handler && __atomic_load_n(&slot.code, __ATOMIC_RELAXED) == code) {
            handler(conn, rec->name, &rec->rx, rec->user);
            return;
        }
    }
    if (count >= MXX_HOOK_SLOTS)
        return;
    MXX_hook& last = rec->hooks[MXX_HOOK_SLOTS - 1];
    MXX_event_handler handler = __atomic_load_n(&last.handler, __ATOMIC_ACQUIRE);
    if (handler && __atomic_load_n(&last.code, __ATOMIC_RELAXED) == MXX_HOOK_CATCH_ALL)
        handler(conn, rec->name, &rec->rx, rec->user);
}

// `code` comes from the caller: the frame was copied in just before, and
// reading it back from the copy stalls on the store.
void dispatch(int conn, MXX_conn_record* rec, int size, uint16_t code)
{
    const uint8_t* frame = rxBytes(rec);
    if (MXX_broadcast_event(code, frame) == 0)
        return;
    if (!rec->identified && rec->test) {
        if (rec->test(conn, &rec->rx, &rec->device_type, rec->probe_attempt)) {
            rec->identified = 1;
            if (rec->connected)
                rec->connected(conn, rec->name, rec->device_type, rec->user);
            comm_signal_connected(conn);
        }
    }
    runHooks(conn, rec, code);
    comm_fill_rsp_buff(conn, code, frame, size);
}

// Called once the 12 header bytes are stored. Returns true when the frame is
// already complete (length field 0).
inline bool headerStored(MXX_conn_record* rec)
{
    const uint8_t* buf = rxBytes(rec);
    int length = get16(buf + 6);
    if (mxxXor(buf, MXX_FRAME_HEADER_SIZE) != 0 || length > kMaxLengthField) {
        rec->rx_pos = 0;
        return false;
    }
    rec->rx_expected = length;
    rec->rx_payload = 0;
    rec->rx_check = 0;
    return length == 0;
}

inline void completeFrame(int conn, MXX_conn_record* rec)
{
    int size = rec->rx_pos;
    rec->rx_pos = 0;
    if (rec->rx_check == 0)
        dispatch(conn, rec, size, get16(rxBytes(rec) + 4));
    else
        comm_damaged_rsp(conn, get16(rxBytes(rec) + 4)); // its header checked: the code is sound
}

// A frame that lies complete in the received bytes at `p`, header included;
// returns where parsing goes on, as the byte-wise parser would.
inline const uint8_t* wholeFrame(int conn, MXX_conn_record* rec, const uint8_t* p, int length)
{
    if (mxxXor(p, MXX_FRAME_HEADER_SIZE) != 0 || length > kMaxLengthField) {
        rec->rx_pos = 0; // the header's bytes are dropped, the search goes on after them
        return p + MXX_FRAME_HEADER_SIZE;
    }
    const int size = MXX_FRAME_HEADER_SIZE + length;
    rec->rx_pos = 0;
    rec->rx_expected = length;
    rec->rx_payload = length;
    if (mxxXor(p + MXX_FRAME_HEADER_SIZE, length) == 0) {
        memcpy(rxBytes(rec), p, size);
        dispatch(conn, rec, size, get16(p + 4));
    } else {
        comm_damaged_rsp(conn, get16(p + 4));
    }
    return p + size;
}

int64_t nowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// One step of identification: the next probe, or giving up after the last.
int probeStep(int conn, MXX_conn_record* rec)
{
    rec->probe_ms = nowMs();
    if (rec->probe_attempt < MXX_PROBE_GIVE_UP) {
        if (rec->probe && rec->probe(conn, rec->probe_attempt) != 0)
            return -1;
        ++rec->probe_attempt;
        return 0;
    }
    comm_signal_connected(conn);
    return -1;
}

// Cuts received bytes into frames. The observable behaviour is that of a
// byte-at-a-time state machine: a 'B' opens a frame, "RNO" must follow (a
// mismatching byte is dropped, not tried as a new 'B'), the header check and
// length field decide the rest. Runs of header and payload bytes are copied
// and checked in bulk.
void parse(int conn, MXX_conn_record* rec, const uint8_t* p, int length)
{
    uint8_t* buf = rxBytes(rec);
    const uint8_t* end = p + length;
    while (p < end) {
        int pos = rec->rx_pos;
        if (pos == 0) {
            if (*p != 'B') {
                p = static_cast<const uint8_t*>(memchr(p, 'B', end - p));
                if (!p)
                    return;
            }
            rec->rx_expected = 0;
            if (end - p >= MXX_FRAME_HEADER_SIZE && memcmp(p, kStartMark, 4) == 0) {
                int length = get16(p + 6);
                if (length <= end - p - MXX_FRAME_HEADER_SIZE) {
                    // The whole frame is here: check it where it lies and
                    // take it in one copy.
                    p = wholeFrame(conn, rec, p, length);
                    continue;
                }
                memcpy(buf, p, MXX_FRAME_HEADER_SIZE);
                p += MXX_FRAME_HEADER_SIZE;
                rec->rx_pos = MXX_FRAME_HEADER_SIZE;
                if (headerStored(rec))
                    completeFrame(conn, rec);
            } else {
                buf[0] = 'B';
                rec->rx_pos = 1;
                ++p;
            }
        } else if (pos < 4) {
            if (*p == kStartMark[pos]) {
                buf[pos] = *p;
                rec->rx_pos = pos + 1;
            } else {
                rec->rx_pos = 0;
            }
            ++p;
        } else if (pos < MXX_FRAME_HEADER_SIZE) {
            int n = static_cast<int>(std::min<ptrdiff_t>(MXX_FRAME_HEADER_SIZE - pos, end - p));
            memcpy(buf + pos, p, n);
            p += n;
            rec->rx_pos = pos + n;
            if (rec->rx_pos == MXX_FRAME_HEADER_SIZE && headerStored(rec))
                completeFrame(conn, rec);
        } else {
            int n =
                static_cast<int>(std::min<ptrdiff_t>(rec->rx_expected - rec->rx_payload, end - p));
            memcpy(buf + pos, p, n);
            rec->rx_check ^= mxxXor(buf + pos, n);
            p += n;
            rec->rx_pos = pos + n;
            rec->rx_payload += n;
            if (rec->rx_payload == rec->rx_expected)
                completeFrame(conn, rec);
        }
    }
}

} // namespace

void MXX_fail(const char* text)
{
    fprintf(stderr, "%s\n", text);
    fflush(stderr);
    abort();
}

int MXX_make_command(uint8_t* frame, uint16_t code, const uint8_t* payload, uint16_t length,
                     uint16_t param)
{
    memcpy(frame, kStartMark, 4);
    put16(frame + 4, code);
    put16(frame + 6, static_cast<uint16_t>(length + 1));
    put16(frame + 8, param);
    frame[10] = 0;
    frame[11] = mxxXor(frame, 11);
    if (length)
        memcpy(frame + MXX_FRAME_HEADER_SIZE, payload, length);
    frame[MXX_FRAME_HEADER_SIZE + length] = mxxXor(frame + MXX_FRAME_HEADER_SIZE, length);
    return length + MXX_FRAME_OVERHEAD;
}

int MXX_test_response(int, const uint8_t* answer, int answer_size, const uint8_t* frame12290,
                      int size12290, const uint8_t* frame12289, int size12289, void* out,
                      int out_capacity, uint32_t* out_size, uint32_t* param_out,
                      uint32_t* status_out, uint32_t* kind_out)
{
    const uint8_t* frame = nullptr;
    int size = 0;
    uint32_t kind = 0;
    if (answer_size > 0) {
        frame = answer;
        size = answer_size;
        kind = 1;
    } else if (size12290 > 0) {
        frame = frame12290;
        size = size12290;
        kind = 2;
    } else if (size12289 > 0) {
        frame = frame12289;
        size = size12289;
    }
    if (kind_out)
        *kind_out = kind;
    if (!frame)
        return 255;
    uint8_t status = frame[10];
    if (param_out)
        *param_out = get16(frame + 8);
    if (status_out)
        *status_out = status;
    if (kind == 1 && status == 0) {
        int payload = size - MXX_FRAME_OVERHEAD;
        if (payload > 0 && out && payload <= out_capacity) {
            memcpy(out, frame + MXX_FRAME_HEADER_SIZE, payload);
            if (out_size)
                *out_size = static_cast<uint32_t>(payload);
        }
    }
    return (kind == 2 || status != 0) ? 1 : 0;
}

int MXX_send_cmd(int conn, uint16_t code, const void* in, int in_size, void* out, int out_capacity,
                 uint32_t* out_size, uint32_t* param_out, uint32_t* status_out, int timeout_ms,
                 int wait)
{
    MXX_ASSERT(in_size >= 0 && in_size <= MXX_MAX_CMD_PAYLOAD, "Invalid data size for MXX frame!");

    const auto [num_try, turn] = exchangeSetting(conn);
    // A command is written at least once, whatever the record says.
    const int tries = std::max(1, num_try);

    uint8_t frame[MXX_MAX_CMD_PAYLOAD + MXX_FRAME_OVERHEAD];
    int frame_size =
        MXX_make_command(frame, code, static_cast<const uint8_t*>(in),
                         static_cast<uint16_t>(in_size), static_cast<uint16_t>(timeout_ms));
    // Without waiting nothing is armed: probes are written from the receive
    // path itself, which must never wait for a turn.
    if (!wait)
        return comm_write(conn, frame, frame_size, 0, timeout_ms);
    std::unique_lock<std::mutex> myTurn;
    if (turn && takeTurns.load(std::memory_order_relaxed))
        myTurn = std::unique_lock<std::mutex>(*turn);

    uint8_t answer[MXX_ANSWER_BUFFER_SIZE];
    uint8_t failed[MXX_SPECIAL_BUFFER_SIZE];
    uint8_t repeat[MXX_SPECIAL_BUFFER_SIZE];
    uint16_t answer_code = static_cast<uint16_t>(code + MXX_CODE_ANSWER_OFFSET);
    int result = comm_hook_response(conn, answer_code, answer, sizeof answer, MXX_CODE_FAILED,
                                    failed, sizeof failed, MXX_CODE_REPEAT, repeat, sizeof repeat);
    if (result != 0)
        return result;
    int damaged = 0;
    for (int attempt = 0; attempt < tries; ++attempt) {
        result = comm_write(conn, frame, frame_size, 0, timeout_ms);
        if (result != 0)
            break;
        int len_answer = 0, len_failed = 0, len_repeat = 0;
        // An answer known bad on arrival is asked for again at once; only
        // silence waits out the time-out.
        if (comm_wait_response(conn, &len_answer, &len_failed, &len_repeat, timeout_ms) ==
                COMM_ERR_DAMAGED &&
            damaged < MXX_DAMAGED_REPEATS) {
            ++damaged;
            --attempt;
            continue;
        }
        uint32_t kind = 0;
        result = MXX_test_response(conn, answer, len_answer, failed, len_failed, repeat, len_repeat,
                                   out, out_capacity, out_size, param_out, status_out, &kind);
        // Only frame 12289 with status 0 asks for the command again. When the
        // attempts run out on such a request, the instrument never carried
        // the command out: that is a failure, not a success without an answer.
        if (!(result == 0 && kind == 0))
            break;
        if (attempt == tries - 1)
            result = 1;
    }
    comm_unhook_response(conn);
    return result;
}

void MXX_set_exchange_turns(int on)
{
    takeTurns.store(on != 0, std::memory_order_relaxed);
}

void MXX_set_cmd_num_try(int conn, int tries)
{
    withRecord(conn, 0, [tries](MXX_conn_record* rec) {
        storeNumTry(rec, tries);
        return 0;
    });
}

int MXX_record_hook(MXX_conn_record* rec, uint16_t code, MXX_event_handler handler)
{
    int count = __atomic_load_n(&rec->hook_count, __ATOMIC_RELAXED);
    MXX_hook& last = rec->hooks[MXX_HOOK_SLOTS - 1];
    bool catch_all = count < MXX_HOOK_SLOTS &&
                     __atomic_load_n(&last.code, __ATOMIC_RELAXED) == MXX_HOOK_CATCH_ALL &&
                     __atomic_load_n(&last.handler, __ATOMIC_RELAXED) != nullptr;
    for (int i = 0; i < count; ++i) {
        if (rec->hooks[i].code == code && rec->hooks[i].handler == handler)
            return 0;
    }
    if (catch_all && code == MXX_HOOK_CATCH_ALL && last.handler == handler)
        return 0;
    if (count == MXX_HOOK_SLOTS || (count == MXX_HOOK_SLOTS - 1 && catch_all))
        return -1;
    // Code before handler before count: the parser may read the table meanwhile.
    if (code == MXX_HOOK_CATCH_ALL) {
        __atomic_store_n(&last.code, code, __ATOMIC_RELAXED);
        __atomic_store_n(&last.handler, handler, __ATOMIC_RELEASE);
        return 0;
    }
    MXX_hook& slot = rec->hooks[count];
    __atomic_store_n(&slot.code, code, __ATOMIC_RELAXED);
    __atomic_store_n(&slot.handler, handler, __ATOMIC_RELAXED);
    __atomic_store_n(&rec->hook_count, count + 1, __ATOMIC_RELEASE);
    return 0;
}

int MXX_hook_async_event(int conn, uint16_t code, MXX_event_handler handler)
{
    return withRecord(conn, 0, [code, handler](MXX_conn_record* rec) {
        return MXX_record_hook(rec, code, handler);
    });
}

int MXX_event_proc(int conn, int kind, const uint8_t* data, int length, void* record)
{
    MXX_conn_record* rec = static_cast<MXX_conn_record*>(record);
    switch (kind & 0xFF) {
    case COMM_EV_OPENED:
        rec->probe_ms = nowMs();
        return (rec->probe && rec->probe(conn, rec->probe_attempt) != 0) ? -1 : 0;
    case COMM_EV_ERROR:
        if (rec->connection_error)
            rec->connection_error(conn, rec->name, rec->user);
        return 0;
    case COMM_EV_CLOSED:
        if (rec->disconnected)
            rec->disconnected(conn, rec->name, rec->user);
        {
            std::lock_guard<std::mutex> lock(recordsLock);
            turns.erase(conn);
            delete rec;
        }
        return 0;
    case COMM_EV_DATA:
        if (data && length > 0)
            parse(conn, rec, data, length);
        // The transport makes no timer call in a period that saw bytes: an
        // instrument that streams events before it is identified would
        // otherwise never be probed further, nor given up.
        if (!rec->identified && rec->test && nowMs() - rec->probe_ms >= MXX_TIMER_MS)
            return probeStep(conn, rec);
        return 0;
    case COMM_EV_TIMER:
        if (rec->identified) {
            rec->rx_pos = 0;
            return 0;
        }
        return probeStep(conn, rec);
    default:
        return 0;
    }
}

int MXX_broadcast_event(uint16_t code, const uint8_t* frame)
{
    if (code != MXX_CODE_DISCOVERY_ANSWER)
        return 1;
    const uint8_t* payload = frame + MXX_FRAME_HEADER_SIZE;
    int payload_size = get16(frame + 6) - 1;
    MXX_message_entry entry;
    copyText(entry.id, MXX_MESSAGE_ID_SIZE, payload, payload_size, 0);
    copyText(entry.ipv4, MXX_MESSAGE_IPV4_SIZE, payload, payload_size, MXX_MESSAGE_ID_SIZE);
    copyText(entry.ipv6, MXX_MESSAGE_IPV6_SIZE, payload, payload_size,
             MXX_MESSAGE_ID_SIZE + MXX_MESSAGE_IPV4_SIZE);

    std::lock_guard<std::mutex> lock(messageListLock);
    MXX_message_list& list = messageList;
    for (int i = 0; i < list.count; ++i) {
        if (strcmp(list.entries[i].id, entry.id) == 0)
            return 0;
    }
    // A full list keeps its first answers until the next discovery period.
    if (list.count < MXX_MESSAGE_LIST_ENTRIES)
        list.entries[list.count++] = entry;
    return 0;
}

int MXX_broadcast_event_proc(const uint8_t* data, int length)
{
    std::lock_guard<std::mutex> lock(datagramLock);
    memset(&datagramRecord, 0, sizeof datagramRecord);
    return MXX_event_proc(0, COMM_EV_DATA, data, length, &datagramRecord);
}

int MXX_send_broadcast_net_message(const char* address, int port)
{
    uint8_t frame[MXX_FRAME_OVERHEAD];
    int size =
        MXX_make_command(frame, MXX_CODE_DISCOVERY_REQUEST, nullptr, 0, MXX_DISCOVERY_TIMEOUT_WORD);
    return comm_net_broadcast_send(frame, size, address, port);
}

int MXX_net_broadcast_register(MXX_net_broadcast_handler handler, void* user)
{
    MXX_net_broadcast_reset_list();
    return comm_net_broadcast_register(handler, user);
}

int MXX_net_broadcast_deregister()
{
    return comm_net_broadcast_deregister();
}

int MXX_net_broadcast_reset_list()
{
    std::lock_guard<std::mutex> lock(messageListLock);
    memset(&messageList, 0, sizeof messageList);
    return 0;
}

int MXX_broadcast_list(void* out)
{
    std::lock_guard<std::mutex> lock(messageListLock);
    memcpy(out, &messageList, sizeof messageList);
    return 0;
}

int MXX_init(MXX_wait_callback_t wait_callback, comm_usb_changed_t usb_changed, void* user)
{
    if (comm_init() != 0)
        return -1;
    MXX_wait_callback = wait_callback;
    return comm_usb_register(usb_changed, user);
}

int MXX_shut()
{
    comm_usb_deregister();
    comm_shut();
    MXX_wait_callback = nullptr;
    return 0;
}

int MXX_idle_wait(int conn, uint16_t a, int b)
{
    return MXX_wait_callback ? MXX_wait_callback(conn, a, b) : 0;
}

int MXX_connect(const char* conn_string, int* conn_out, MXX_connected_cb connected,
                MXX_connection_error_cb connection_error, MXX_disconnected_cb disconnected,
                MXX_probe_fn probe, MXX_test_fn test, void* user)
{
    if (!conn_string || !*conn_string)
        return -1;
    MXX_conn_record* rec = new MXX_conn_record();
    rec->connected = connected;
    rec->connection_error = connection_error;
    rec->disconnected = disconnected;
    rec->probe = probe;
    rec->test = test;
    rec->user = user;
    rec->num_try = 1;
    // The transport writes the id before the handler's first call, so the
    // callbacks may already find it in the caller's variable.
    int id = -1;
    if (comm_connect(conn_out ? conn_out : &id, conn_string, MXX_event_proc, 4096, MXX_TIMER_MS,
                     rec) != 0) {
        delete rec;
        return -1;
    }
    return 0;
}

int MXX_disconnect(int conn)
{
    return comm_disconnect(conn);
}

int MXX_wait_connected(int conn, int n)
{
    return comm_wait_connected(conn, n);
}

int MXX_get_conn_state_id(int conn)
{
    return comm_get_state(conn);
}

int MXX_bt_is_available()
{
    return comm_bt_is_available();
}

int MXX_comm_bt_discover(comm_bt_discover_cb_t callback, void* user)
{
    return comm_bt_discover(callback, 0xFFE050, user);
}

int MXX_comm_bt_discover_cancel()
{
    return comm_bt_discover_cancel();
}

int MXX_comm_bt_discover_wait(int a, int b)
{
    return comm_bt_discover_wait(a, b);
}
