// Connection registry: the I/O thread, the table of open connections, the
// order of handler calls and the response hand-over to a waiting exchange.
#include "comm_internal.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <future>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

namespace comm {
namespace {

struct Slot
{
    uint16_t code = 0;
    uint8_t* buf = nullptr;
    int cap = 0;
    int len = 0;       // size of the stored frame, 0 = none yet
    bool held = false; // taken by the last wait: the caller is reading it
};

struct Conn
{
    Conn(asio::io_context& io) : timer(io), flush_timer(io) {}

    int id = 0;
    comm_handler_t handler = nullptr;
    void* record = nullptr;
    int timer_ms = 0;
    std::atomic<int> state{COMM_STATE_CONNECTING};

    // I/O thread only.
    bool finished = false;
    bool rx_seen = false; // a byte arrived in the current timer period
    std::vector<uint8_t> rx;
    asio::steady_timer timer;

    std::unique_ptr<Link> link;
    std::mutex write_mutex; // one writer at a time; close waits for it
    bool writable = false;  // guarded by write_mutex

    // Bytes written on the I/O thread that the link did not take at once.
    // The I/O thread never waits for a link: it keeps them here and writes
    // them as the link takes more; other writers wait until they are gone.
    std::mutex out_m;
    std::condition_variable drained;
    std::vector<uint8_t> backlog; // under out_m
    asio::steady_timer flush_timer;

    // Connected signal and response slots.
    std::mutex m;
    std::condition_variable cv;
    bool signalled = false;
    bool closed = false;
    // Written under m; read without it by the receive path to skip frames
    // nobody waits for, which is nearly every frame of an event stream.
    std::atomic<bool> armed{false};
    std::atomic<unsigned> stores{0}; // frames stored into a slot so far, or damaged
    bool damaged = false;            // an armed code arrived damaged; under m
    int answer_us = 0;               // how long the last wait took; under m
    Slot slots[3];
};

using ConnPtr = std::shared_ptr<Conn>;

// An instrument answers within microseconds on loopback and within a
// millisecond or two over USB. Sleeping on the condition variable for that
// adds a wake-up on top of the one that brings the answer to the I/O thread,
// so the waiter first watches for the answer, yielding the processor to the
// threads that bring it, for about as long as the last answers took (at most
// kSpinLimit), and sleeps only when the instrument is slower than that.
constexpr std::chrono::microseconds kSpinLimit{2000};

std::chrono::microseconds spinBudget(const Conn& c)
{
    return std::min(kSpinLimit, std::chrono::microseconds(c.answer_us * 3 / 2 + 50));
}

void spinForAnswer(Conn& c, unsigned before, std::chrono::microseconds budget)
{
    const auto until = std::chrono::steady_clock::now() + budget;
    while (c.stores.load(std::memory_order_acquire) == before &&
           std::chrono::steady_clock::now() < until)
        std::this_thread::yield();
}

void stop_all();

struct Core
{
    std::mutex init_mutex; // serialises comm_init and comm_shut
    std::mutex m;          // conns, next_id, running
    std::map<int, ConnPtr> conns;
    int next_id = 1;
    bool running = false;
    bool loopback_only = false;
    asio::io_context io;
    std::optional<asio::executor_work_guard<asio::io_context::executor_type>> work;
    std::thread thread;
    std::thread::id thread_id;

    // The one owner of the transport's threads: a process that ends without
    // comm_shut is shut down here, in the same order.
    ~Core()
    {
        if (!thread.joinable())
            return;
        if (std::this_thread::get_id() == thread_id) { // exit from inside a handler
            io.stop();
            thread.detach();
            return;
        }
        stop_all();
    }
};

Core& core()
{
    static Core c;
    return c;
}

ConnPtr find(int id)
{
    Core& k = core();
    std::lock_guard<std::mutex> lock(k.m);
    auto it = k.conns.find(id);
    return it == k.conns.end() ? nullptr : it->second;
}

// The connection whose handler runs on this thread: the receive path hands
// every frame back through comm_fill_rsp_buff, which then needs no look-up.
thread_local Conn* calling = nullptr;

int call(Conn& c, int kind, const uint8_t* data = nullptr, int length = 0)
{
    Conn* outer = std::exchange(calling, &c);
    int result = c.handler(c.id, kind, data, length, c.record);
    calling = outer;
    return result;
}

// Ends a connection: ERROR where the link failed, then CLOSED, exactly once.
void finish(const ConnPtr& c, bool error)
{
    if (c->finished)
        return;
    c->finished = true;
    c->state = COMM_STATE_CLOSING;
    c->timer.cancel();
    c->flush_timer.cancel();
    c->link->interrupt();
    {
        std::lock_guard<std::mutex> lock(c->write_mutex);
        c->writable = false;
        c->link->close();
    }
    {
        std::lock_guard<std::mutex> lock(c->out_m);
        c->backlog.clear();
    }
    c->drained.notify_all();
    if (error)
        call(*c, COMM_EV_ERROR);
    {
        // Gone before CLOSED, whose handler releases the record.
        Core& k = core();
        std::lock_guard<std::mutex> lock(k.m);
        k.conns.erase(c->id);
    }
    {
        std::lock_guard<std::mutex> lock(c->m);
        c->closed = true;
        c->armed = false;
    }
    c->cv.notify_all();
    call(*c, COMM_EV_CLOSED);
}

void start_timer(const ConnPtr& c)
{
    if (c->timer_ms <= 0)
        return;
    c->timer.expires_after(std::chrono::milliseconds(c->timer_ms));
    c->timer.async_wait([c](std::error_code ec) {
        if (ec || c->finished)
            return;
        if (c->rx_seen) {
            c->rx_seen = false; // bytes came in this period: no call
        } else if (call(*c, COMM_EV_TIMER) == -1) {
            finish(c, true);
            return;
        }
        if (!c->finished)
            start_timer(c);
    });
}

void start_read(const ConnPtr& c)
{
    c->link->async_read(c->rx.data(), c->rx.size(), [c](std::error_code ec, std::size_t n) {
        if (c->finished)
            return;
        if (ec) {
            finish(c, true);
            return;
        }
        c->rx_seen = true;
        if (call(*c, COMM_EV_DATA, c->rx.data(), static_cast<int>(n)) == -1) {
            finish(c, true);
            return;
        }
        if (!c->finished)
            start_read(c);
    });
}

void opened(const ConnPtr& c, std::error_code ec)
{
    if (c->finished)
        return;
    if (ec) {
        finish(c, true);
        return;
    }
    {
        std::lock_guard<std::mutex> lock(c->write_mutex);
        c->writable = true;
    }
    c->state = COMM_STATE_OPEN;
    if (call(*c, COMM_EV_OPENED) == -1) {
        finish(c, true);
        return;
    }
    if (c->finished) // disconnected from inside the handler
        return;
    start_read(c);
    start_timer(c);
}

// Writes the backlog as far as the link takes it; again shortly while some is
// left. A writer on another thread holding the link means: try again later.
void flush(const ConnPtr& c)
{
    if (c->finished)
        return;
    bool failed = false, left = false;
    if (c->write_mutex.try_lock()) {
        std::lock_guard<std::mutex> wl(c->write_mutex, std::adopt_lock);
        std::lock_guard<std::mutex> lock(c->out_m);
        if (c->writable && !c->backlog.empty()) {
            long n = c->link->write_some(c->backlog.data(), c->backlog.size());
            if (n < 0)
                failed = true;
            else
                c->backlog.erase(c->backlog.begin(), c->backlog.begin() + n);
        }
        left = !failed && c->writable && !c->backlog.empty();
    } else {
        left = true;
    }
    if (failed) {
        finish(c, true);
        return;
    }
    if (!left) {
        c->drained.notify_all();
        return;
    }
    c->flush_timer.expires_after(std::chrono::milliseconds(2));
    c->flush_timer.async_wait([c](std::error_code ec) {
        if (!ec)
            flush(c);
    });
}

// A write on the I/O thread: whatever the link does not take at once waits
// in the backlog. The bytes of one write are never split by another writer.
int write_from_io_thread(const ConnPtr& c, const uint8_t* data, std::size_t size)
{
    constexpr std::size_t kBacklogLimit = 1 << 20;
    {
        std::lock_guard<std::mutex> lock(c->out_m);
        if (!c->backlog.empty()) {
            if (c->backlog.size() + size > kBacklogLimit)
                return COMM_ERR_TIMEOUT;
            c->backlog.insert(c->backlog.end(), data, data + size);
            return 0;
        }
    }
    long n = 0;
    if (c->write_mutex.try_lock()) {
        std::lock_guard<std::mutex> wl(c->write_mutex, std::adopt_lock);
        if (!c->writable)
            return COMM_ERR_NO_CONN;
        n = c->link->write_some(data, size);
        if (n >= 0 && static_cast<std::size_t>(n) < size) {
            // Kept before the link is let go, so no other writer comes between.
            std::lock_guard<std::mutex> lock(c->out_m);
            c->backlog.assign(data + n, data + size);
        }
    } else {
        std::lock_guard<std::mutex> lock(c->out_m);
        c->backlog.insert(c->backlog.end(), data, data + size);
    }
    if (n < 0) {
        asio::post(core().io, [c] { finish(c, true); });
        return COMM_ERR_IO;
    }
    if (static_cast<std::size_t>(n) < size)
        asio::post(core().io, [c] { flush(c); });
    return 0;
}

// Another thread's writer waits (at most until `deadline`) for the bytes the
// I/O thread left, so that its own go after them.
bool wait_for_backlog(Conn& c, std::chrono::steady_clock::time_point deadline)
{
    std::unique_lock<std::mutex> lock(c.out_m);
    return c.drained.wait_until(lock, deadline, [&c] { return c.backlog.empty(); });
}

// Ends every connection (CLOSED calls), then the I/O thread, the inquiry and
// USB, in that order.
void stop_all()
{
    Core& k = core();
    {
        std::lock_guard<std::mutex> lock(k.m);
        k.running = false; // no new connections from here on
    }
    comm::bt_stop();
    std::promise<void> closed;
    asio::post(k.io, [&k, &closed] {
        std::map<int, ConnPtr> all;
        {
            std::lock_guard<std::mutex> lock(k.m);
            all = k.conns;
        }
        for (auto& entry : all)
            comm::finish(entry.second, false);
        comm::udp_stop();
        closed.set_value();
    });
    closed.get_future().wait();
    k.work.reset();
    k.thread.join(); // returns once the cancelled operations have completed
    k.thread_id = std::thread::id();
    comm::usb_stop();
}

} // namespace

bool loopback_only()
{
    return core().loopback_only;
}

std::error_code io_error(int code)
{
    return std::error_code(code, std::generic_category());
}

int fd_write(int fd, bool socket, const uint8_t* data, std::size_t size, int timeout_ms)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (size > 0) {
        ssize_t n = socket ? ::send(fd, data, size, MSG_NOSIGNAL) : ::write(fd, data, size);
        if (n > 0) {
            data += n;
            size -= static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
            return COMM_ERR_IO;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                        deadline - std::chrono::steady_clock::now())
                        .count();
        if (left <= 0)
            return COMM_ERR_TIMEOUT;
        pollfd p{fd, POLLOUT, 0};
        if (::poll(&p, 1, static_cast<int>(left)) < 0 && errno != EINTR)
            return COMM_ERR_IO;
        if (p.revents & (POLLERR | POLLHUP | POLLNVAL))
            return COMM_ERR_IO;
    }
    return 0;
}

long fd_write_some(int fd, bool socket, const uint8_t* data, std::size_t size)
{
    if (!socket) {
        int flags = ::fcntl(fd, F_GETFL);
        if (flags >= 0 && !(flags & O_NONBLOCK))
            ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    }
    std::size_t done = 0;
    while (done < size) {
        ssize_t n = socket ? ::send(fd, data + done, size - done, MSG_NOSIGNAL | MSG_DONTWAIT)
                           : ::write(fd, data + done, size - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
            return COMM_ERR_IO;
        break;
    }
    return static_cast<long>(done);
}

// Runs `take` under the response lock of connection `id` while an exchange
// is armed on it, and wakes the waiter when `take` says so. The receive path
// calls this from the connection's own handler, which has it at hand.
template <class Take> int handToWaiter(int id, Take take)
{
    ConnPtr found;
    comm::Conn* c = comm::calling;
    if (!c || c->id != id) {
        found = comm::find(id);
        if (!found)
            return COMM_ERR_NO_CONN;
        c = found.get();
    }
    if (!c->armed.load(std::memory_order_acquire))
        return 0;
    bool wake = false;
    {
        std::lock_guard<std::mutex> lock(c->m);
        wake = c->armed && take(*c);
    }
    if (wake) {
        c->stores.fetch_add(1, std::memory_order_release);
        c->cv.notify_all();
    }
    return 0;
}

} // namespace comm

using comm::ConnPtr;

extern "C" {

int comm_init(void)
{
    comm::Core& k = comm::core();
    std::lock_guard<std::mutex> init(k.init_mutex);
    if (k.running)
        return 0;
    const char* lo = std::getenv("ORVISK_LOOPBACK_ONLY");
    k.loopback_only = lo && std::strcmp(lo, "1") == 0;
    comm::udp_read_redirect_env();
    k.io.restart();
    k.work.emplace(k.io.get_executor());
    comm::udp_start(k.io);
    comm::usb_start();
    std::promise<void> started;
    k.thread = std::thread([&k, &started] {
        k.thread_id = std::this_thread::get_id();
        started.set_value();
        k.io.run();
    });
    started.get_future().wait();
    std::lock_guard<std::mutex> lock(k.m);
    k.running = true;
    return 0;
}

int comm_shut(void)
{
    comm::Core& k = comm::core();
    std::lock_guard<std::mutex> init(k.init_mutex);
    if (!k.running)
        return 0;
    if (std::this_thread::get_id() == k.thread_id)
        return COMM_ERR_FAILED; // not from a handler: the I/O thread cannot join itself
    comm::stop_all();
    return 0;
}

int comm_check_conn_string(const char* conn_string)
{
    comm::ConnParams params;
    return comm::parse_conn_string(conn_string, params);
}

int comm_connect(int* id, const char* conn_string, comm_handler_t handler, int rx_size,
                 int timer_ms, void* record)
{
    if (!id || !handler || rx_size <= 0)
        return COMM_ERR_ARG;
    comm::ConnParams params;
    if (comm::parse_conn_string(conn_string, params) != 0)
        return COMM_ERR_ARG;
    const comm::Medium* medium = params.medium;
    if (medium->check) {
        int r = medium->check(params);
        if (r != 0)
            return r;
    }
    comm::Core& k = comm::core();
    auto c = std::make_shared<comm::Conn>(k.io);
    c->handler = handler;
    c->record = record;
    c->timer_ms = timer_ms;
    c->rx.resize(static_cast<std::size_t>(rx_size));
    c->link = medium->create(k.io, params);
    if (!c->link)
        return COMM_ERR_FAILED;
    {
        std::lock_guard<std::mutex> lock(k.m);
        if (!k.running)
            return COMM_ERR_FAILED;
        while (k.conns.count(k.next_id) || k.next_id <= 0)
            k.next_id = k.next_id <= 0 ? 1 : k.next_id + 1;
        c->id = k.next_id++;
        *id = c->id; // before the handler can run
        k.conns[c->id] = c;
    }
    asio::post(k.io,
               [c] { c->link->async_open([c](std::error_code ec) { comm::opened(c, ec); }); });
    return 0;
}

int comm_disconnect(int id)
{
    ConnPtr c = comm::find(id);
    if (!c)
        return COMM_ERR_NO_CONN;
    asio::post(comm::core().io, [c] { comm::finish(c, false); });
    return 0;
}

int comm_get_state(int id)
{
    ConnPtr c = comm::find(id);
    return c ? c->state.load() : COMM_STATE_NONE;
}

int comm_signal_connected(int id)
{
    ConnPtr c = comm::find(id);
    if (!c)
        return COMM_ERR_NO_CONN;
    {
        std::lock_guard<std::mutex> lock(c->m);
        c->signalled = true;
    }
    c->cv.notify_all();
    return 0;
}

int comm_wait_connected(int id, int timeout_ms)
{
    ConnPtr c = comm::find(id);
    if (!c)
        return COMM_ERR_NO_CONN;
    std::unique_lock<std::mutex> lock(c->m);
    c->cv.wait_for(lock, std::chrono::milliseconds(timeout_ms < 0 ? 0 : timeout_ms),
                   [&] { return c->signalled || c->closed; });
    if (c->signalled)
        return 0;
    return c->closed ? COMM_ERR_NO_CONN : COMM_ERR_TIMEOUT;
}

int comm_write(int id, const void* data, int length, int flags, int timeout_ms)
{
    (void)flags;
    if (length < 0 || (length > 0 && !data))
        return COMM_ERR_ARG;
    ConnPtr c = comm::find(id);
    if (!c || c->state != COMM_STATE_OPEN)
        return COMM_ERR_NO_CONN;
    {
        // A new command: frames the caller was reading may be replaced again.
        std::lock_guard<std::mutex> lock(c->m);
        for (comm::Slot& s : c->slots)
            s.held = false;
    }
    const auto* bytes = static_cast<const uint8_t*>(data);
    if (std::this_thread::get_id() == comm::core().thread_id)
        return comm::write_from_io_thread(c, bytes, static_cast<std::size_t>(length));
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::milliseconds(timeout_ms < 0 ? 0 : timeout_ms);
    int r;
    {
        std::unique_lock<std::mutex> lock(c->write_mutex);
        while (true) {
            {
                std::lock_guard<std::mutex> out(c->out_m);
                if (c->backlog.empty())
                    break;
            }
            lock.unlock();
            if (!comm::wait_for_backlog(*c, deadline))
                return COMM_ERR_TIMEOUT;
            lock.lock();
        }
        if (!c->writable)
            return COMM_ERR_NO_CONN;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        r = c->link->write(bytes, static_cast<std::size_t>(length),
                           static_cast<int>(std::max<long long>(left, 0)));
    }
    if (r == COMM_ERR_IO)
        asio::post(comm::core().io, [c] { comm::finish(c, true); });
    return r;
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
    comm::Core& k = comm::core();
    std::lock_guard<std::mutex> lock(k.m);
    for (auto e = k.conns.lower_bound(it->next_id); e != k.conns.end(); ++e) {
        int state = e->second->state;
        if (state != COMM_STATE_CONNECTING && state != COMM_STATE_OPEN)
            continue;
        it->next_id = e->first + 1;
        if (id)
            *id = e->first;
        if (record)
            *record = e->second->record;
        return 1;
    }
    it->next_id = INT32_MAX;
    return 0;
}

int comm_hook_response(int id, uint16_t code1, void* buf1, int cap1, uint16_t code2, void* buf2,
                       int cap2, uint16_t code3, void* buf3, int cap3)
{
    ConnPtr c = comm::find(id);
    if (!c)
        return COMM_ERR_NO_CONN;
    const uint16_t codes[3] = {code1, code2, code3};
    void* bufs[3] = {buf1, buf2, buf3};
    const int caps[3] = {cap1, cap2, cap3};
    std::lock_guard<std::mutex> lock(c->m);
    for (int i = 0; i < 3; ++i) {
        bool use = bufs[i] && caps[i] > 0;
        c->slots[i] = comm::Slot{codes[i], use ? static_cast<uint8_t*>(bufs[i]) : nullptr,
                                 use ? caps[i] : 0, 0, false};
    }
    c->damaged = false;
    c->armed = true;
    return 0;
}

int comm_unhook_response(int id)
{
    ConnPtr c = comm::find(id);
    if (!c)
        return COMM_ERR_NO_CONN;
    std::lock_guard<std::mutex> lock(c->m);
    c->armed = false;
    for (comm::Slot& s : c->slots)
        s = comm::Slot{};
    return 0;
}

int comm_fill_rsp_buff(int id, uint16_t code, const void* frame, int length)
{
    if (length <= 0 || !frame)
        return COMM_ERR_ARG;
    return comm::handToWaiter(id, [&](comm::Conn& c) {
        for (comm::Slot& s : c.slots) {
            if (!s.buf || s.code != code)
                continue;
            // A frame over the buffer's capacity is not taken (never cut).
            if (s.held || length > s.cap)
                return false;
            std::memcpy(s.buf, frame, static_cast<std::size_t>(length));
            s.len = length;
            return true;
        }
        return false;
    });
}

int comm_damaged_rsp(int id, uint16_t code)
{
    return comm::handToWaiter(id, [&](comm::Conn& c) {
        for (const comm::Slot& s : c.slots)
            if (s.buf && s.code == code && !s.held)
                return c.damaged = true;
        return false;
    });
}

int comm_wait_response(int id, int* len1, int* len2, int* len3, int timeout_ms)
{
    int* lens[3] = {len1, len2, len3};
    for (int* l : lens)
        if (l)
            *l = 0;
    ConnPtr c = comm::find(id);
    if (!c)
        return COMM_ERR_NO_CONN;
    const auto start = std::chrono::steady_clock::now();
    const auto timeout = std::chrono::milliseconds(timeout_ms < 0 ? 0 : timeout_ms);
    std::unique_lock<std::mutex> lock(c->m);
    for (comm::Slot& s : c->slots)
        s.held = false;
    auto any = [&] {
        return c->closed || c->damaged || c->slots[0].len || c->slots[1].len || c->slots[2].len;
    };
    if (!any() && timeout_ms > 0) {
        const unsigned before = c->stores.load(std::memory_order_relaxed);
        const auto budget = std::min<std::chrono::microseconds>(comm::spinBudget(*c), timeout);
        lock.unlock();
        comm::spinForAnswer(*c, before, budget);
        lock.lock();
    }
    c->cv.wait_until(lock, start + timeout, any);
    c->answer_us = static_cast<int>(std::chrono::duration_cast<std::chrono::microseconds>(
                                        std::chrono::steady_clock::now() - start)
                                        .count());
    bool got = false;
    for (int i = 0; i < 3; ++i) {
        comm::Slot& s = c->slots[i];
        if (lens[i])
            *lens[i] = s.len;
        if (s.len) {
            got = true;
            s.held = true; // until the next write, wait or unhook
            s.len = 0;
        }
    }
    const bool damaged = c->damaged;
    c->damaged = false;
    if (got)
        return 0;
    return c->closed ? COMM_ERR_NO_CONN : damaged ? COMM_ERR_DAMAGED : COMM_ERR_TIMEOUT;
}

} // extern "C"
