// Discovery datagrams: one UDP socket, the registered callback once per
// datagram received, and the redirect that keeps tests on loopback.
#include "comm_internal.h"

#include <sys/socket.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace comm {
namespace {

using asio::ip::udp;

struct Udp
{
    std::mutex m; // socket (for sends from other threads), redirect
    std::unique_ptr<udp::socket> socket;
    bool redirect = false;
    std::string redirect_host;
    int redirect_port = 0;

    std::recursive_mutex cb_mutex; // held while the callback runs, so deregister waits for it
    comm_broadcast_cb_t cb = nullptr;
    void* user = nullptr;

    udp::endpoint from;
    std::vector<uint8_t> buf = std::vector<uint8_t>(65536);
};

Udp& udp_state()
{
    static Udp& u = *new Udp; // never destroyed: the registry closes its socket at the end
    return u;
}

void receive()
{
    Udp& u = udp_state();
    u.socket->async_receive_from(
        asio::buffer(u.buf), u.from, [](std::error_code ec, std::size_t n) {
            Udp& u = udp_state();
            if (ec == asio::error::operation_aborted || !u.socket || !u.socket->is_open())
                return;
            if (!ec) {
                std::lock_guard<std::recursive_mutex> lock(u.cb_mutex);
                if (u.cb)
                    u.cb(u.buf.data(), static_cast<int>(n), u.user);
            }
            receive();
        });
}

// "HOST:PORT" or "[V6]:PORT".
bool parse_host_port(const std::string& s, std::string& host, int& port)
{
    std::size_t colon = s.rfind(':');
    if (colon == std::string::npos || colon == 0)
        return false;
    host = s.substr(0, colon);
    if (host.size() > 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    char* end = nullptr;
    long p = std::strtol(s.c_str() + colon + 1, &end, 10);
    if (*end || p < 1 || p > 65535)
        return false;
    port = static_cast<int>(p);
    return true;
}

bool resolve(const std::string& host, int port, udp::endpoint& out)
{
    std::error_code ec;
    asio::ip::address a = asio::ip::make_address(host, ec);
    if (!ec) {
        out = udp::endpoint(a, static_cast<uint16_t>(port));
        return true;
    }
    asio::io_context io;
    udp::resolver r(io);
    auto results = r.resolve(udp::v4(), host, std::to_string(port), ec);
    if (ec || results.empty())
        return false;
    out = *results.begin();
    return true;
}

} // namespace

void udp_read_redirect_env()
{
    const char* env = std::getenv("ORVISK_BROADCAST_REDIRECT");
    if (!env || !*env)
        return;
    Udp& u = udp_state();
    std::string host;
    int port = 0;
    std::lock_guard<std::mutex> lock(u.m);
    if (parse_host_port(env, host, port)) {
        u.redirect = true;
        u.redirect_host = host;
        u.redirect_port = port;
    } else {
        std::fprintf(stderr, "comm: ignoring ORVISK_BROADCAST_REDIRECT=\"%s\" (want HOST:PORT)\n",
                     env);
    }
}

void udp_start(asio::io_context& io)
{
    Udp& u = udp_state();
    std::lock_guard<std::mutex> lock(u.m);
    std::error_code ec;
    auto s = std::make_unique<udp::socket>(io);
    s->open(udp::v4(), ec);
    // Answers come back to the bound port.
    if (!ec && loopback_only())
        s->bind(udp::endpoint(asio::ip::address_v4::loopback(), 0), ec);
    else if (!ec)
        s->bind(udp::endpoint(udp::v4(), 0), ec);
    if (!ec && !loopback_only())
        s->set_option(asio::socket_base::broadcast(true), ec);
    if (ec) {
        std::fprintf(stderr, "comm: no discovery socket: %s\n", ec.message().c_str());
        return;
    }
    u.socket = std::move(s);
    receive();
}

void udp_stop()
{
    Udp& u = udp_state();
    std::lock_guard<std::mutex> lock(u.m);
    if (u.socket) {
        std::error_code ec;
        u.socket->close(ec);
        u.socket.reset();
    }
}

} // namespace comm

extern "C" {

int comm_net_broadcast_register(comm_broadcast_cb_t cb, void* user)
{
    comm::Udp& u = comm::udp_state();
    std::lock_guard<std::recursive_mutex> lock(u.cb_mutex);
    u.cb = cb;
    u.user = user;
    return 0;
}

int comm_net_broadcast_deregister(void)
{
    return comm_net_broadcast_register(nullptr, nullptr);
}

int comm_net_broadcast_redirect(const char* host, int port)
{
    comm::Udp& u = comm::udp_state();
    std::lock_guard<std::mutex> lock(u.m);
    if (!host) {
        u.redirect = false;
        u.redirect_host.clear();
        return 0;
    }
    if (!*host || port < 1 || port > 65535)
        return COMM_ERR_ARG;
    u.redirect = true;
    u.redirect_host = host;
    u.redirect_port = port;
    return 0;
}

int comm_net_broadcast_send(const void* data, int length, const char* address, int port)
{
    if (!data || length <= 0 || length > 65507)
        return COMM_ERR_ARG;
    comm::Udp& u = comm::udp_state();
    std::string host;
    int to_port;
    {
        std::lock_guard<std::mutex> lock(u.m);
        host = u.redirect ? u.redirect_host : (address ? address : "");
        to_port = u.redirect ? u.redirect_port : port;
    }
    if (host.empty() || to_port < 1 || to_port > 65535)
        return COMM_ERR_ARG;
    asio::ip::udp::endpoint to;
    if (!comm::resolve(host, to_port, to))
        return COMM_ERR_ARG;
    if (comm::loopback_only() && !to.address().is_loopback()) {
        std::fprintf(stderr,
                     "comm: REFUSED discovery datagram to %s:%d: ORVISK_LOOPBACK_ONLY=1 and no "
                     "loopback redirect (comm_net_broadcast_redirect or "
                     "ORVISK_BROADCAST_REDIRECT=HOST:PORT). Nothing was sent.\n",
                     host.c_str(), to_port);
        return COMM_ERR_REFUSED;
    }
    if (!to.address().is_v4())
        return COMM_ERR_ARG; // the discovery socket is IPv4
    std::lock_guard<std::mutex> lock(u.m);
    if (!u.socket)
        return COMM_ERR_FAILED;
    ssize_t n = ::sendto(u.socket->native_handle(), data, static_cast<std::size_t>(length),
                         MSG_NOSIGNAL, to.data(), static_cast<socklen_t>(to.size()));
    return n == length ? 0 : COMM_ERR_IO;
}

} // extern "C"
