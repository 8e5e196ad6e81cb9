// Connections from the command layer to simulated instruments.
#pragma once

#include <mdd_comm.h>
#include <mxx_comm_internal.h>

#include <sim/frame_server.h>
#include <sim/instrument.h>

#include <QByteArray>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

namespace testing {

// What the connection callbacks reported, in order: 1 connected, 2 connection
// error, 3 disconnected.
struct Events
{
    std::mutex m;
    std::condition_variable cv;
    std::vector<int> order;
    int type = -1;

    static void connected(int, char*, int type, void* user)
    {
        auto* e = static_cast<Events*>(user);
        std::lock_guard<std::mutex> lock(e->m);
        e->type = type;
        e->order.push_back(1);
        e->cv.notify_all();
    }
    static void error(int, char*, void* user) { static_cast<Events*>(user)->add(2); }
    static void closed(int, char*, void* user) { static_cast<Events*>(user)->add(3); }

    void add(int kind)
    {
        std::lock_guard<std::mutex> lock(m);
        order.push_back(kind);
        cv.notify_all();
    }
    bool waitFor(int kind, int ms = 5000)
    {
        std::unique_lock<std::mutex> lock(m);
        return cv.wait_for(lock, std::chrono::milliseconds(ms), [&] {
            for (int k : order)
                if (k == kind)
                    return true;
            return false;
        });
    }
    std::vector<int> seen()
    {
        std::lock_guard<std::mutex> lock(m);
        return order;
    }
    int deviceType()
    {
        std::lock_guard<std::mutex> lock(m);
        return type;
    }
};

inline int openLink(const QByteArray& connString, Events& events, int* conn)
{
    return MXX_connect(connString.constData(), conn, Events::connected, Events::error,
                       Events::closed, MDD_probe, MDD_test_probe, &events);
}

inline QByteArray tcpString(uint16_t port)
{
    char s[COMM_STRING_SIZE];
    MXX_make_net_conn_string(s, "127.0.0.1", port);
    return s;
}

inline QByteArray serialString(const std::string& path)
{
    char s[COMM_STRING_SIZE];
    MXX_make_serial_path_conn_string(s, path.c_str());
    return s;
}

// The record the command layer keeps for an open connection.
inline MXX_conn_record* record(int conn)
{
    comm_iter_t it;
    comm_data_cntr_init(&it);
    int id = -1;
    void* r = nullptr;
    while (comm_get_data(&it, &id, &r))
        if (id == conn)
            return static_cast<MXX_conn_record*>(r);
    return nullptr;
}

inline int numTry(int conn)
{
    MXX_conn_record* r = record(conn);
    return r ? __atomic_load_n(&r->num_try, __ATOMIC_RELAXED) : -1;
}

// Closes the connection and waits for its last call, so `events` may go.
inline bool closeAndWait(int conn, Events& events)
{
    MXX_disconnect(conn);
    return events.waitFor(3);
}

inline void noUsbChange(void*) {}

} // namespace testing
