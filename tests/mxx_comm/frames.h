// Hand-made frames and a record that captures what its receive path dispatches.
#pragma once

#include <mxx_comm_internal.h>

#include <QByteArray>

#include <memory>
#include <mutex>
#include <vector>

namespace testing {

// Any frame, checks computed; `length_field` -1 means payload + 1.
inline QByteArray frame(uint16_t code, const QByteArray& payload = {}, uint16_t param = 0,
                        uint8_t status = 0, int length_field = -1)
{
    QByteArray f("BRNO");
    uint16_t length = static_cast<uint16_t>(length_field < 0 ? payload.size() + 1 : length_field);
    f.append(char(code & 0xFF)).append(char(code >> 8));
    f.append(char(length & 0xFF)).append(char(length >> 8));
    f.append(char(param & 0xFF)).append(char(param >> 8));
    f.append(char(status));
    char x = 0;
    for (char c : f)
        x ^= c;
    f.append(x);
    if (length == 0)
        return f;
    x = 0;
    for (char c : payload)
        x ^= c;
    return f + payload + QByteArray(1, x);
}

// A discovery answer payload: identity, IPv4 and IPv6 texts in their fields.
inline QByteArray discoveryPayload(const QByteArray& id, const QByteArray& v4 = "127.0.0.1",
                                   const QByteArray& v6 = "")
{
    QByteArray p(66, '\0');
    p.replace(0, qMin(id.size(), 10), id.left(10));
    p.replace(10, qMin(v4.size(), 16), v4.left(16));
    p.replace(26, qMin(v6.size(), 40), v6.left(40));
    return p;
}

struct Seen
{
    uint16_t code;
    uint16_t length;
    uint16_t param;
    uint8_t status;
    QByteArray payload; // length - 1 bytes
};

// Frames seen by a catch-all hook, with the handler's arguments.
struct Capture
{
    std::mutex m;
    std::vector<Seen> frames;
    std::vector<int> conns;

    static int hook(int conn, char*, MXX_frame* f, void* user)
    {
        auto* self = static_cast<Capture*>(user);
        std::lock_guard<std::mutex> lock(self->m);
        int payload = f->length > 0 ? f->length - 1 : 0;
        self->frames.push_back({f->code, f->length, f->param, f->status,
                                QByteArray(reinterpret_cast<const char*>(f->payload), payload)});
        self->conns.push_back(conn);
        return 0;
    }
    std::vector<uint16_t> codes()
    {
        std::lock_guard<std::mutex> lock(m);
        std::vector<uint16_t> c;
        for (auto& s : frames)
            c.push_back(s.code);
        return c;
    }
};

struct RecordDeleter
{
    void operator()(MXX_conn_record* r) const { delete r; }
};
using Record = std::unique_ptr<MXX_conn_record, RecordDeleter>;

// A zeroed record whose catch-all hook feeds `capture`.
inline Record captureRecord(Capture& capture)
{
    Record r(new MXX_conn_record());
    r->num_try = 1;
    r->user = &capture;
    MXX_record_hook(r.get(), MXX_HOOK_CATCH_ALL, Capture::hook);
    return r;
}

// Connection id that the transport never hands out.
constexpr int kNoConn = 1 << 30;

inline void feed(MXX_conn_record* r, const QByteArray& bytes, int chunk = 0)
{
    const auto* p = reinterpret_cast<const uint8_t*>(bytes.constData());
    int n = bytes.size();
    if (chunk <= 0)
        chunk = n ? n : 1;
    for (int i = 0; i < n; i += chunk)
        MXX_event_proc(kNoConn, COMM_EV_DATA, p + i, qMin(chunk, n - i), r);
}

} // namespace testing
