#include "fake_comm.h"

#include <cstring>
#include <map>

namespace fake_comm {
namespace {

struct Slot
{
    uint16_t code = 0;
    uint8_t* buf = nullptr;
    int cap = 0;
    int len = 0;
    bool held = false;
};

struct Conn
{
    comm_handler_t handler = nullptr;
    void* record = nullptr;
    bool armed = false;
    bool damaged = false; // an armed code arrived damaged since the last wait
    Slot slots[3];
    int depth = 0;        // handler calls in progress
    bool closing = false; // disconnected from inside a handler
};

struct State
{
    std::map<int, Conn> conns;
    int nextId = 1;
    Responder responder;
    bool tracing = false;
    std::vector<Handed> handed;
};

State& state()
{
    static State s;
    return s;
}

Conn* find(int id)
{
    auto it = state().conns.find(id);
    return it == state().conns.end() ? nullptr : &it->second;
}

void close(int id)
{
    Conn* c = find(id);
    if (!c)
        return;
    comm_handler_t handler = c->handler;
    void* record = c->record;
    state().conns.erase(id);
    handler(id, COMM_EV_CLOSED, nullptr, 0, record);
}

} // namespace

void setResponder(Responder responder)
{
    state().responder = std::move(responder);
}

int deliver(int id, int kind, const uint8_t* data, int length)
{
    Conn* c = find(id);
    if (!c)
        return COMM_ERR_NO_CONN;
    if (kind == COMM_EV_CLOSED) {
        close(id);
        return 0;
    }
    ++c->depth;
    int result = c->handler(id, kind, data, length, c->record);
    c = find(id);
    if (c && --c->depth == 0 && c->closing)
        close(id);
    return result;
}

int open(comm_handler_t handler, void* record)
{
    State& s = state();
    int id = s.nextId++;
    Conn& c = s.conns[id];
    c.handler = handler;
    c.record = record;
    return id;
}

void traceFrames(bool on)
{
    state().tracing = on;
    state().handed.clear();
}

std::vector<Handed> takeFrames()
{
    std::vector<Handed> out;
    out.swap(state().handed);
    return out;
}

void reset()
{
    while (!state().conns.empty())
        close(state().conns.begin()->first);
    state().responder = nullptr;
}

} // namespace fake_comm

using fake_comm::find;

extern "C" {

int comm_init(void)
{
    return 0;
}

int comm_shut(void)
{
    fake_comm::reset();
    return 0;
}

int comm_usb_register(comm_usb_changed_t, void*)
{
    return 0;
}

int comm_usb_deregister(void)
{
    return 0;
}

int comm_connect(int* id, const char* conn_string, comm_handler_t handler, int rx_size, int,
                 void* record)
{
    if (!id || !handler || rx_size <= 0 || !conn_string || !*conn_string)
        return COMM_ERR_ARG;
    *id = fake_comm::open(handler, record);
    return 0;
}

int comm_disconnect(int id)
{
    fake_comm::Conn* c = find(id);
    if (!c)
        return COMM_ERR_NO_CONN;
    if (c->depth > 0)
        c->closing = true;
    else
        fake_comm::close(id);
    return 0;
}

int comm_get_state(int id)
{
    return find(id) ? COMM_STATE_OPEN : COMM_STATE_NONE;
}

int comm_signal_connected(int id)
{
    return find(id) ? 0 : COMM_ERR_NO_CONN;
}

int comm_wait_connected(int id, int)
{
    return find(id) ? 0 : COMM_ERR_NO_CONN;
}

int comm_write(int id, const void* data, int length, int, int)
{
    fake_comm::Conn* c = find(id);
    if (!c || length < 0 || (length > 0 && !data))
        return c ? COMM_ERR_ARG : COMM_ERR_NO_CONN;
    for (fake_comm::Slot& s : c->slots)
        s.held = false;
    // A copy: the responder may end the connection or set another responder.
    fake_comm::Responder responder = fake_comm::state().responder;
    if (responder)
        responder(id, static_cast<const uint8_t*>(data), length);
    return 0;
}

void comm_data_cntr_init(comm_iter_t* it)
{
    if (it)
        it->next_id = 1;
}

int comm_get_data(comm_iter_t* it, int* id, void** record)
{
    if (!it)
        return 0;
    auto& conns = fake_comm::state().conns;
    auto e = conns.lower_bound(it->next_id);
    if (e == conns.end())
        return 0;
    it->next_id = e->first + 1;
    if (id)
        *id = e->first;
    if (record)
        *record = e->second.record;
    return 1;
}

int comm_hook_response(int id, uint16_t code1, void* buf1, int cap1, uint16_t code2, void* buf2,
                       int cap2, uint16_t code3, void* buf3, int cap3)
{
    fake_comm::Conn* c = find(id);
    if (!c)
        return COMM_ERR_NO_CONN;
    const uint16_t codes[3] = {code1, code2, code3};
    void* bufs[3] = {buf1, buf2, buf3};
    const int caps[3] = {cap1, cap2, cap3};
    for (int i = 0; i < 3; ++i) {
        bool use = bufs[i] && caps[i] > 0;
        c->slots[i] = fake_comm::Slot{codes[i], use ? static_cast<uint8_t*>(bufs[i]) : nullptr,
                                      use ? caps[i] : 0, 0, false};
    }
    c->damaged = false;
    c->armed = true;
    return 0;
}

int comm_unhook_response(int id)
{
    fake_comm::Conn* c = find(id);
    if (!c)
        return COMM_ERR_NO_CONN;
    c->armed = false;
    for (fake_comm::Slot& s : c->slots)
        s = fake_comm::Slot{};
    return 0;
}

int comm_fill_rsp_buff(int id, uint16_t code, const void* frame, int length)
{
    if (length <= 0 || !frame)
        return COMM_ERR_ARG;
    fake_comm::State& s = fake_comm::state();
    if (s.tracing) {
        const auto* p = static_cast<const uint8_t*>(frame);
        s.handed.push_back({id, code, std::vector<uint8_t>(p, p + length)});
    }
    fake_comm::Conn* c = find(id);
    if (!c)
        return COMM_ERR_NO_CONN;
    if (!c->armed)
        return 0;
    for (fake_comm::Slot& slot : c->slots) {
        if (!slot.buf || slot.code != code)
            continue;
        if (!slot.held && length <= slot.cap) {
            std::memcpy(slot.buf, frame, static_cast<size_t>(length));
            slot.len = length;
        }
        break;
    }
    return 0;
}

int comm_damaged_rsp(int id, uint16_t code)
{
    fake_comm::Conn* c = find(id);
    if (!c)
        return COMM_ERR_NO_CONN;
    for (const fake_comm::Slot& slot : c->slots)
        if (c->armed && slot.buf && slot.code == code && !slot.held)
            c->damaged = true;
    return 0;
}

// Answers come during the write, so there is never anything to wait for.
int comm_wait_response(int id, int* len1, int* len2, int* len3, int)
{
    int* lens[3] = {len1, len2, len3};
    for (int* l : lens)
        if (l)
            *l = 0;
    fake_comm::Conn* c = find(id);
    if (!c)
        return COMM_ERR_NO_CONN;
    bool got = false;
    for (int i = 0; i < 3; ++i) {
        fake_comm::Slot& s = c->slots[i];
        if (lens[i])
            *lens[i] = s.len;
        if (s.len) {
            got = true;
            s.held = true;
            s.len = 0;
        }
    }
    const bool damaged = c->damaged;
    c->damaged = false;
    return got ? 0 : damaged ? COMM_ERR_DAMAGED : COMM_ERR_TIMEOUT;
}

int comm_list_devices_usb(char (*)[COMM_STRING_SIZE], int, int* count, const char*, const char*,
                          uint16_t, uint16_t, uint16_t, uint16_t)
{
    if (count)
        *count = 0;
    return 0;
}

int comm_list_devices_ftdi(char (*)[COMM_STRING_SIZE], int, int* count, uint16_t, uint16_t)
{
    if (count)
        *count = 0;
    return 0;
}

int comm_get_devid_string(const char*, char* text)
{
    if (text)
        std::strcpy(text, "fake");
    return 0;
}

int comm_make_conn_string_usb(char*, const char*, uint16_t, uint16_t, int)
{
    return COMM_ERR_FAILED;
}

int comm_make_conn_string_serial(char*, uint16_t, int, int, int, int, int)
{
    return COMM_ERR_FAILED;
}

int comm_make_conn_string_serial_path(char*, const char*, int, int, int, int, int)
{
    return COMM_ERR_FAILED;
}

int comm_make_conn_string_ftdi_serial(char*, const char*, int, int, int, int, int)
{
    return COMM_ERR_FAILED;
}

int comm_make_conn_string_bt(char*, const char*, const char*, uint32_t, int, const char*, int)
{
    return COMM_ERR_FAILED;
}

int comm_make_conn_string_net(char*, const char*, uint16_t, int)
{
    return COMM_ERR_FAILED;
}

int comm_bt_is_available(void)
{
    return 0;
}

int comm_bt_discover(comm_bt_discover_cb_t, uint32_t, void*)
{
    return COMM_ERR_FAILED;
}

int comm_bt_discover_cancel(void)
{
    return 0;
}

int comm_bt_discover_wait(int, int)
{
    return 0;
}

int comm_net_broadcast_register(comm_broadcast_cb_t, void*)
{
    return 0;
}

int comm_net_broadcast_deregister(void)
{
    return 0;
}

int comm_net_broadcast_send(const void*, int, const char*, int)
{
    return COMM_ERR_REFUSED; // nothing leaves the process
}

int comm_net_broadcast_redirect(const char*, int)
{
    return 0;
}

} // extern "C"
