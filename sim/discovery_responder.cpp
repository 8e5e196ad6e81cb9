#include "sim/discovery_responder.h"

#include <asio.hpp>

#include <algorithm>
#include <array>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace sim {

namespace detail {

void put_text(Bytes& out, const std::string& text, std::size_t field)
{
    const std::size_t n = std::min(text.size(), field);
    out.insert(out.end(), text.begin(), text.begin() + static_cast<std::ptrdiff_t>(n));
    out.insert(out.end(), field - n, 0);
}

class DiscoveryCore
{
public:
    explicit DiscoveryCore(const asio::ip::udp::endpoint& at)
        : socket_(io_, at), port_(socket_.local_endpoint().port())
    {
    }

    ~DiscoveryCore() { stop(); }

    std::uint16_t port() const { return port_; }

    void add(DiscoveryEntry entry)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        entries_.push_back(std::move(entry));
    }

    void clear()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        entries_.clear();
    }

    void set_packed(bool packed)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        packed_ = packed;
    }

    void start()
    {
        std::lock_guard<std::mutex> lock(run_mutex_);
        if (started_ || stopped_)
            return;
        started_ = true;
        receive();
        thread_ = std::thread([this] { io_.run(); });
    }

    void stop()
    {
        std::lock_guard<std::mutex> lock(run_mutex_);
        if (stopped_)
            return;
        stopped_ = true;
        asio::post(io_, [this] {
            asio::error_code ignored;
            socket_.close(ignored);
        });
        if (started_)
            thread_.join();
        else
            io_.run();
    }

    std::size_t requests() const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return requests_;
    }

    bool wait_requests(std::size_t n, std::chrono::milliseconds timeout) const
    {
        std::unique_lock<std::mutex> lock(mutex_);
        return requests_cv_.wait_for(lock, timeout, [&] { return requests_ >= n; });
    }

private:
    void receive()
    {
        socket_.async_receive_from(
            asio::buffer(buffer_), sender_, [this](const asio::error_code& ec, std::size_t n) {
                if (ec == asio::error::operation_aborted || !socket_.is_open())
                    return;
                if (!ec)
                    answer(n);
                receive();
            });
    }

    void answer(std::size_t n)
    {
        if (!sender_.address().is_loopback())
            return;
        FrameParser parser; // a datagram holds whole frames; nothing carries over
        for (const Frame& f : parser.feed(buffer_.data(), n)) {
            if (f.code != code::discovery_request)
                continue;
            for (const Bytes& datagram : datagrams())
                socket_.send_to(asio::buffer(datagram), sender_, 0, ignored_);
            {
                std::lock_guard<std::mutex> lock(mutex_);
                ++requests_;
            }
            requests_cv_.notify_all();
        }
    }

    std::vector<Bytes> datagrams() const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        std::vector<Bytes> out;
        for (const DiscoveryEntry& e : entries_) {
            if (out.empty() || !packed_)
                out.emplace_back();
            const Bytes payload = DiscoveryResponder::answer_payload(e);
            encode_into(out.back(), code::discovery_answer, 0, 0, payload.data(), payload.size());
        }
        return out;
    }

    asio::io_context io_;
    asio::ip::udp::socket socket_;
    const std::uint16_t port_;
    asio::ip::udp::endpoint sender_;
    std::array<std::uint8_t, 65536> buffer_{};
    asio::error_code ignored_;
    std::thread thread_;
    std::mutex run_mutex_;
    bool started_ = false;
    bool stopped_ = false;

    mutable std::mutex mutex_;
    mutable std::condition_variable requests_cv_;
    std::vector<DiscoveryEntry> entries_;
    bool packed_ = false;
    std::size_t requests_ = 0;
};

} // namespace detail

DiscoveryResponder::DiscoveryResponder()
    : core_(std::make_unique<detail::DiscoveryCore>(
          asio::ip::udp::endpoint(asio::ip::address_v4::loopback(), 0)))
{
}

DiscoveryResponder::DiscoveryResponder(const std::string& host, std::uint16_t port)
{
    asio::error_code ec;
    const asio::ip::address address = asio::ip::make_address(host, ec);
    if (ec)
        throw std::system_error(ec, "discovery address " + host);
    core_ = std::make_unique<detail::DiscoveryCore>(asio::ip::udp::endpoint(address, port));
}
DiscoveryResponder::~DiscoveryResponder() = default;

std::uint16_t DiscoveryResponder::port() const
{
    return core_->port();
}
void DiscoveryResponder::add(DiscoveryEntry entry)
{
    core_->add(std::move(entry));
}
void DiscoveryResponder::clear()
{
    core_->clear();
}
void DiscoveryResponder::set_packed(bool packed)
{
    core_->set_packed(packed);
}
void DiscoveryResponder::start()
{
    core_->start();
}
void DiscoveryResponder::stop()
{
    core_->stop();
}
std::size_t DiscoveryResponder::requests() const
{
    return core_->requests();
}

bool DiscoveryResponder::wait_requests(std::size_t n, std::chrono::milliseconds timeout) const
{
    return core_->wait_requests(n, timeout);
}

Bytes DiscoveryResponder::answer_payload(const DiscoveryEntry& entry)
{
    Bytes out;
    out.reserve(kEntrySize + entry.tail.size());
    detail::put_text(out, entry.identity, 10);
    detail::put_text(out, entry.ipv4, 16);
    detail::put_text(out, entry.ipv6, 40);
    out.insert(out.end(), entry.tail.begin(), entry.tail.end());
    return out;
}

} // namespace sim
