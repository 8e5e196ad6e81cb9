// Helpers for the transport tests: an event recorder for connection handlers
// and a loopback TCP peer built on plain POSIX sockets.
#ifndef ORVISK_TEST_COMM_UTIL_H
#define ORVISK_TEST_COMM_UTIL_H

#include "comm.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct Event
{
    int id;
    int kind;
    std::vector<uint8_t> data;
    std::chrono::steady_clock::time_point at;
};

// Records every handler call; `react` may answer one (result of the handler).
struct Recorder
{
    std::mutex m;
    std::condition_variable cv;
    std::vector<Event> events;
    bool overlap = false; // two calls for one connection at once
    int busy = 0;
    std::function<int(int id, int kind, const uint8_t* data, int length)> react;
    bool accepted = false;

    // comm_connect with this recorder as handler record.
    int connect(int* id, const std::string& conn, int timer_ms = 200,
                comm_handler_t h = &Recorder::handler)
    {
        int r = comm_connect(id, conn.c_str(), h, 4096, timer_ms, this);
        accepted = accepted || r == 0;
        return r;
    }
    // A test that failed half-way leaves its connection open: end it before
    // the handler could reach a dead recorder.
    ~Recorder()
    {
        bool open;
        {
            std::lock_guard<std::mutex> lock(m);
            open = accepted && count(events, COMM_EV_CLOSED) == 0;
        }
        if (open)
            comm_shut();
    }

    static int handler(int id, int kind, const uint8_t* data, int length, void* record)
    {
        auto* r = static_cast<Recorder*>(record);
        {
            std::lock_guard<std::mutex> lock(r->m);
            if (r->busy++)
                r->overlap = true;
        }
        int result = r->react ? r->react(id, kind, data, length) : 0;
        {
            std::lock_guard<std::mutex> lock(r->m);
            --r->busy;
            r->events.push_back({id, kind, std::vector<uint8_t>(data, data + (data ? length : 0)),
                                 std::chrono::steady_clock::now()});
        }
        r->cv.notify_all();
        return result;
    }

    // Waits (bounded) until `pred` holds over the events.
    bool wait(const std::function<bool(const std::vector<Event>&)>& pred, int ms = 5000)
    {
        std::unique_lock<std::mutex> lock(m);
        return cv.wait_for(lock, std::chrono::milliseconds(ms), [&] { return pred(events); });
    }
    bool wait_kind(int kind, int ms = 5000)
    {
        return wait([kind](const std::vector<Event>& ev) { return count(ev, kind) > 0; }, ms);
    }
    int first_kind()
    {
        std::lock_guard<std::mutex> lock(m);
        return events.empty() ? 0 : events.front().kind;
    }
    static int count(const std::vector<Event>& ev, int kind)
    {
        int n = 0;
        for (const Event& e : ev)
            n += e.kind == kind;
        return n;
    }
    std::vector<int> kinds(bool timers = true)
    {
        std::lock_guard<std::mutex> lock(m);
        std::vector<int> k;
        for (const Event& e : events)
            if (!timers && e.kind == COMM_EV_TIMER)
                continue;
            else if (k.empty() || k.back() != e.kind ||
                     (e.kind != COMM_EV_DATA && e.kind != COMM_EV_TIMER))
                k.push_back(e.kind);
        return k; // runs of data or timer calls folded into one
    }
    std::string received()
    {
        std::lock_guard<std::mutex> lock(m);
        std::string s;
        for (const Event& e : events)
            if (e.kind == COMM_EV_DATA)
                s.append(e.data.begin(), e.data.end());
        return s;
    }
};

// A socket of `type` bound to 127.0.0.1 on a port the system chooses.
inline int bind_loopback(int type, uint16_t& port)
{
    int fd = ::socket(AF_INET, type | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    port = ntohs(a.sin_port);
    return fd;
}

// A listening socket on 127.0.0.1, port chosen by the system.
struct Listener
{
    uint16_t port = 0; // before fd: fd's initialiser writes it
    int fd = -1;
    Listener() : fd(bind_loopback(SOCK_STREAM, port)) { ::listen(fd, 4); }
    ~Listener() { close(); }
    void close()
    {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
    int accept_one() { return ::accept4(fd, nullptr, nullptr, SOCK_CLOEXEC); }
    std::string conn_string() const { return "tcp:127.0.0.1:" + std::to_string(port); }
};

// Reads exactly n bytes (or fewer on end of stream).
inline std::string read_n(int fd, std::size_t n)
{
    std::string s;
    char buf[4096];
    while (s.size() < n) {
        ssize_t r = ::read(fd, buf, std::min(sizeof buf, n - s.size()));
        if (r <= 0)
            break;
        s.append(buf, static_cast<std::size_t>(r));
    }
    return s;
}

inline void write_all(int fd, const std::string& s)
{
    std::size_t off = 0;
    while (off < s.size()) {
        ssize_t r = ::send(fd, s.data() + off, s.size() - off, MSG_NOSIGNAL);
        if (r <= 0)
            return;
        off += static_cast<std::size_t>(r);
    }
}

#endif
