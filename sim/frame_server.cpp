#include "sim/frame_server.h"

#include "sim/instrument.h"

#include <asio.hpp>

#include <array>
#include <cerrno>
#include <condition_variable>
#include <deque>
#include <fcntl.h>
#include <functional>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <system_error>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace sim {

namespace detail {

using Clock = std::chrono::steady_clock;

// One write call. An answer's first chunk carries the moment its request was
// parsed for the hand-over to the write, its last chunk for the write's end.
struct Chunk
{
    Bytes data;
    std::optional<Clock::time_point> handed_since;
    std::optional<Clock::time_point> written_since;
    bool close_after = false;
    std::optional<Clock::time_point> not_before; // an answer held back by latency
};

class Link : public std::enable_shared_from_this<Link>
{
public:
    virtual ~Link() = default;
    virtual void start() = 0;
    virtual void send(std::vector<Bytes> writes) = 0;
    virtual void close() = 0;
};

// Reads commands, answers them through the instrument, writes in order.
// Lives on the I/O thread only.
template <class Stream> class StreamLink final : public Link
{
public:
    StreamLink(Stream stream, std::shared_ptr<Instrument> instrument,
               std::function<void()> on_closed)
        : stream_(std::move(stream)), timer_(stream_.get_executor()),
          instrument_(std::move(instrument)), on_closed_(std::move(on_closed))
    {
    }

    void start() override { read(); }

    // Events for a client that does not read (or a pty nobody opened) are
    // lost once this much waits, as an instrument's full output buffer loses them.
    static constexpr std::size_t kMaxBacklog = 256 * 1024;

    void send(std::vector<Bytes> writes) override
    {
        if (queued_bytes_ > kMaxBacklog)
            return;
        enqueue(std::move(writes), std::nullopt, false, {});
    }

    void close() override
    {
        if (closed_)
            return;
        auto keep = shared_from_this();
        closed_ = true;
        queue_.clear();
        queued_bytes_ = 0;
        asio::error_code ignored;
        timer_.cancel(ignored);
        stream_.close(ignored);
        if (auto done = std::move(on_closed_))
            done();
    }

private:
    std::shared_ptr<StreamLink> self()
    {
        return std::static_pointer_cast<StreamLink>(shared_from_this());
    }

    void read()
    {
        stream_.async_read_some(asio::buffer(buffer_),
                                [self = self()](const asio::error_code& ec, std::size_t n) {
                                    if (ec) {
                                        self->close();
                                        return;
                                    }
                                    self->received(n);
                                    if (!self->closed_)
                                        self->read();
                                });
    }

    void received(std::size_t n)
    {
        for (const Frame& request : parser_.feed(buffer_.data(), n)) {
            const Clock::time_point parsed = Clock::now();
            Response r = instrument_->respond(request);
            enqueue(std::move(r.writes), parsed, r.close_after, r.delay);
        }
    }

    void enqueue(std::vector<Bytes> writes, std::optional<Clock::time_point> parsed,
                 bool close_after, std::chrono::milliseconds delay)
    {
        if (closed_)
            return;
        std::optional<Clock::time_point> not_before;
        if (delay.count() > 0)
            not_before = Clock::now() + delay;
        for (std::size_t i = 0; i < writes.size(); ++i) {
            const bool first = i == 0, last = i + 1 == writes.size();
            queued_bytes_ += writes[i].size();
            queue_.push_back(Chunk{std::move(writes[i]), first ? parsed : std::nullopt,
                                   last ? parsed : std::nullopt, false,
                                   first ? not_before : std::nullopt});
        }
        if (close_after)
            queue_.push_back(Chunk{{}, std::nullopt, std::nullopt, true, not_before});
        if (!writing_)
            write_next();
    }

    void write_next()
    {
        writing_ = !queue_.empty();
        if (!writing_)
            return;
        // Later chunks wait behind a held-back one, so the order stays.
        if (auto& until = queue_.front().not_before; until && Clock::now() < *until) {
            timer_.expires_at(*until);
            timer_.async_wait([self = self()](const asio::error_code& ec) {
                if (ec || self->closed_)
                    return;
                self->queue_.front().not_before.reset();
                self->write_next();
            });
            return;
        }
        if (queue_.front().data.empty()) {
            if (queue_.front().close_after) {
                close();
                return;
            }
            queue_.pop_front();
            write_next();
            return;
        }
        if (const auto& since = queue_.front().handed_since)
            instrument_->note_answer_handed(Clock::now() - *since);
        asio::async_write(stream_, asio::buffer(queue_.front().data),
                          [self = self()](const asio::error_code& ec, std::size_t) {
                              if (ec || self->closed_) {
                                  self->close();
                                  return;
                              }
                              const Chunk& done = self->queue_.front();
                              if (done.written_since)
                                  self->instrument_->note_answer_written(Clock::now() -
                                                                         *done.written_since);
                              self->queued_bytes_ -= done.data.size();
                              self->queue_.pop_front();
                              self->write_next();
                          });
    }

    Stream stream_;
    asio::steady_timer timer_;
    std::shared_ptr<Instrument> instrument_;
    std::function<void()> on_closed_;
    FrameParser parser_;
    std::array<std::uint8_t, 65536> buffer_{};
    std::deque<Chunk> queue_; // deque: the chunk being written keeps its address
    std::size_t queued_bytes_ = 0;
    bool writing_ = false;
    bool closed_ = false;
};

struct PtyPair
{
    int master = -1;
    int slave = -1;
    std::string path;
};

[[noreturn]] void throw_errno(const char* what)
{
    throw std::system_error(errno, std::generic_category(), what);
}

// The slave stays open here too, so that the master never reads a hang-up
// while the serial back-end closes and reopens the path.
PtyPair open_pty_pair()
{
    PtyPair p;
    p.master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (p.master < 0)
        throw_errno("posix_openpt");
    char name[256];
    if (grantpt(p.master) != 0 || unlockpt(p.master) != 0 ||
        ptsname_r(p.master, name, sizeof name) != 0) {
        const int saved = errno;
        ::close(p.master);
        errno = saved;
        throw_errno("pty set-up");
    }
    p.path = name;
    p.slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios t{};
    bool raw = p.slave >= 0 && tcgetattr(p.slave, &t) == 0;
    if (raw) {
        cfmakeraw(&t);
        raw = tcsetattr(p.slave, TCSANOW, &t) == 0;
    }
    if (!raw) {
        const int saved = errno;
        ::close(p.master);
        if (p.slave >= 0)
            ::close(p.slave);
        errno = saved;
        throw_errno("pty slave");
    }
    return p;
}

struct Endpoint
{
    std::shared_ptr<Instrument> instrument;
    std::unique_ptr<asio::ip::tcp::acceptor> acceptor; // TCP endpoints only
    std::shared_ptr<Link> link;                        // I/O thread only
    PtyPair pty;                                       // pty endpoints only
    // Guarded by the core's mutex.
    std::string path;
    std::size_t opened = 0;
    bool open = false;
};

class ServerCore
{
public:
    ~ServerCore() { stop(); }

    std::uint16_t serve_tcp(std::shared_ptr<Instrument> instrument, const asio::ip::address& host,
                            std::uint16_t port)
    {
        refuse_after_stop();
        auto ep = std::make_shared<Endpoint>();
        ep->instrument = std::move(instrument);
        ep->acceptor =
            std::make_unique<asio::ip::tcp::acceptor>(io_, asio::ip::tcp::endpoint(host, port));
        const std::uint16_t bound = ep->acceptor->local_endpoint().port();
        add(ep);
        asio::post(io_, [this, ep] { accept(ep); });
        return bound;
    }

    std::string serve_pty(std::shared_ptr<Instrument> instrument)
    {
        refuse_after_stop();
        auto ep = std::make_shared<Endpoint>();
        ep->instrument = std::move(instrument);
        ep->pty = open_pty_pair();
        ep->path = ep->pty.path;
        const std::string path = ep->path;
        add(ep);
        asio::post(io_, [this, ep] { start_pty(ep); });
        return path;
    }

    void start()
    {
        std::lock_guard<std::mutex> lock(run_mutex_);
        if (started_)
            return;
        started_ = true;
        thread_ = std::thread([this] { io_.run(); });
    }

    void stop()
    {
        std::lock_guard<std::mutex> lock(run_mutex_);
        if (stopped_)
            return;
        stopped_ = true;
        asio::post(io_, [this] {
            stopping_ = true;
            for (const auto& ep : all()) {
                asio::error_code ignored;
                if (ep->acceptor)
                    ep->acceptor->close(ignored);
                if (ep->link)
                    ep->link->close();
                close_slave(*ep);
            }
        });
        work_.reset();
        if (started_)
            thread_.join();
        else
            io_.run(); // runs the close-down right here
    }

    std::string pty_path(const Instrument& instrument) const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (const auto& ep : endpoints_)
            if (ep->instrument.get() == &instrument && !ep->path.empty())
                return ep->path;
        return {};
    }

    void push(const Instrument& instrument, std::vector<Frame> frames)
    {
        if (is_stopped())
            return;
        asio::post(io_, [eps = of(instrument), frames = std::move(frames)] {
            for (const auto& ep : eps)
                if (ep->link)
                    ep->link->send(ep->instrument->unsolicited(frames));
        });
    }

    void drop_link(const Instrument& instrument)
    {
        if (is_stopped())
            return;
        asio::post(io_, [eps = of(instrument)] {
            for (const auto& ep : eps)
                if (ep->link)
                    ep->link->close();
        });
    }

    std::size_t links_opened(const Instrument& instrument) const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return opened_locked(instrument);
    }

    bool wait_links_opened(const Instrument& instrument, std::size_t n,
                           std::chrono::milliseconds timeout) const
    {
        std::unique_lock<std::mutex> lock(mutex_);
        return opened_cv_.wait_for(lock, timeout, [&] { return opened_locked(instrument) >= n; });
    }

    std::size_t links_open(const Instrument& instrument) const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        std::size_t n = 0;
        for (const auto& ep : endpoints_)
            n += ep->instrument.get() == &instrument && ep->open ? 1 : 0;
        return n;
    }

private:
    // Work posted after stop() would never run; refuse it instead.
    bool is_stopped()
    {
        std::lock_guard<std::mutex> lock(run_mutex_);
        return stopped_;
    }

    void refuse_after_stop()
    {
        if (is_stopped())
            throw std::logic_error("sim::FrameServer: serving after stop()");
    }

    void add(const std::shared_ptr<Endpoint>& ep)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        endpoints_.push_back(ep);
    }

    std::vector<std::shared_ptr<Endpoint>> all() const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return endpoints_;
    }

    std::vector<std::shared_ptr<Endpoint>> of(const Instrument& instrument) const
    {
        std::vector<std::shared_ptr<Endpoint>> eps;
        for (const auto& ep : all())
            if (ep->instrument.get() == &instrument)
                eps.push_back(ep);
        return eps;
    }

    std::size_t opened_locked(const Instrument& instrument) const
    {
        std::size_t n = 0;
        for (const auto& ep : endpoints_)
            n += ep->instrument.get() == &instrument ? ep->opened : 0;
        return n;
    }

    void mark(Endpoint& ep, bool open)
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            ep.open = open;
            ep.opened += open ? 1 : 0;
        }
        opened_cv_.notify_all();
    }

    template <class Stream> void begin_link(const std::shared_ptr<Endpoint>& ep, Stream stream)
    {
        ep->link = std::make_shared<StreamLink<Stream>>(std::move(stream), ep->instrument,
                                                        [this, ep] { link_closed(ep); });
        ep->instrument->note_link_opened();
        mark(*ep, true);
        ep->link->start();
    }

    void accept(const std::shared_ptr<Endpoint>& ep)
    {
        if (stopping_)
            return;
        ep->acceptor->async_accept(
            [this, ep](const asio::error_code& ec, asio::ip::tcp::socket socket) {
                if (stopping_ || ec == asio::error::operation_aborted)
                    return;
                if (ec) {
                    accept(ep);
                    return;
                }
                asio::error_code ignored;
                socket.set_option(asio::ip::tcp::no_delay(true), ignored);
                begin_link(ep, std::move(socket));
            });
    }

    void start_pty(const std::shared_ptr<Endpoint>& ep)
    {
        if (stopping_) {
            ::close(ep->pty.master);
            close_slave(*ep);
            return;
        }
        begin_link(ep, asio::posix::stream_descriptor(io_, ep->pty.master));
    }

    void close_slave(Endpoint& ep)
    {
        if (ep.pty.slave >= 0)
            ::close(ep.pty.slave);
        ep.pty.slave = -1;
    }

    // After a TCP client leaves, take the next one; a pty hangs up for good
    // and a fresh pair takes its place.
    void link_closed(const std::shared_ptr<Endpoint>& ep)
    {
        ep->link.reset();
        mark(*ep, false);
        if (stopping_)
            return;
        if (ep->acceptor) {
            accept(ep);
            return;
        }
        close_slave(*ep);
        try {
            ep->pty = open_pty_pair();
        } catch (const std::system_error&) {
            std::lock_guard<std::mutex> lock(mutex_);
            ep->path.clear();
            return;
        }
        {
            std::lock_guard<std::mutex> lock(mutex_);
            ep->path = ep->pty.path;
        }
        start_pty(ep);
    }

    asio::io_context io_;
    asio::executor_work_guard<asio::io_context::executor_type> work_{io_.get_executor()};
    std::thread thread_;
    std::mutex run_mutex_;
    bool started_ = false;
    bool stopped_ = false;
    bool stopping_ = false; // I/O thread only

    mutable std::mutex mutex_;
    mutable std::condition_variable opened_cv_;
    std::vector<std::shared_ptr<Endpoint>> endpoints_;
};

} // namespace detail

FrameServer::FrameServer() : core_(std::make_unique<detail::ServerCore>()) {}
FrameServer::~FrameServer() = default;

std::uint16_t FrameServer::serve_tcp(std::shared_ptr<Instrument> instrument)
{
    return core_->serve_tcp(std::move(instrument), asio::ip::address_v4::loopback(), 0);
}

std::uint16_t FrameServer::serve_tcp(std::shared_ptr<Instrument> instrument,
                                     const std::string& host, std::uint16_t port)
{
    asio::error_code ec;
    const asio::ip::address address = asio::ip::make_address(host, ec);
    if (ec)
        throw std::system_error(ec, "listen address " + host);
    return core_->serve_tcp(std::move(instrument), address, port);
}

std::string FrameServer::serve_pty(std::shared_ptr<Instrument> instrument)
{
    return core_->serve_pty(std::move(instrument));
}

void FrameServer::start()
{
    core_->start();
}
void FrameServer::stop()
{
    core_->stop();
}

std::string FrameServer::pty_path(const Instrument& instrument) const
{
    return core_->pty_path(instrument);
}

void FrameServer::push(const Instrument& instrument, std::vector<Frame> frames)
{
    core_->push(instrument, std::move(frames));
}

void FrameServer::drop_link(const Instrument& instrument)
{
    core_->drop_link(instrument);
}

std::size_t FrameServer::links_opened(const Instrument& instrument) const
{
    return core_->links_opened(instrument);
}

bool FrameServer::wait_links_opened(const Instrument& instrument, std::size_t n,
                                    std::chrono::milliseconds timeout) const
{
    return core_->wait_links_opened(instrument, n, timeout);
}

std::size_t FrameServer::links_open(const Instrument& instrument) const
{
    return core_->links_open(instrument);
}

} // namespace sim
