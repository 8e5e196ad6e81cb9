/* Network medium: a TCP client to an instrument, IPv4 or IPv6, with a
 * connect time-out.  In loopback-only mode it reaches loopback addresses only.
 *
 *   tcp:HOST:PORT[:TIMEOUT_MS]
 *       HOST is a name, an IPv4 address or an IPv6 address in brackets:
 *       tcp:127.0.0.1:4444, tcp:[::1]:4444:1000.  TIMEOUT_MS bounds the
 *       connect (default 5000; 0 is the default and is not written).
 */
#include "comm_internal.h"

#include <cstdio>

namespace comm {
namespace {

using asio::ip::tcp;

struct TcpParams
{
    std::string host; // an IPv6 address without its brackets
    uint16_t port = 0;
    int timeout_ms = 0; // 0: the default
};

bool parse(const std::string&, const std::string& rest, TcpParams& p)
{
    std::string tail;
    if (!rest.empty() && rest[0] == '[') {
        std::size_t close = rest.find(']');
        if (close == std::string::npos || close < 2 || close + 1 >= rest.size() ||
            rest[close + 1] != ':')
            return false;
        p.host = rest.substr(1, close - 1);
        if (p.host.find_first_not_of("0123456789abcdefABCDEF:.") != std::string::npos)
            return false;
        tail = rest.substr(close + 2);
    } else {
        std::size_t colon = rest.find(':');
        if (colon == std::string::npos)
            return false;
        p.host = rest.substr(0, colon);
        if (!plain_field(p.host))
            return false;
        tail = rest.substr(colon + 1);
    }
    std::vector<std::string> parts = split_fields(tail);
    int port = 0;
    if (parts.size() > 2 || !read_number(parts[0], 1, 65535, port))
        return false;
    p.port = static_cast<uint16_t>(port);
    return parts.size() == 1 || read_number(parts[1], 0, 600000, p.timeout_ms);
}

// HOST:PORT, an IPv6 address in brackets.
std::string endpoint_text(const TcpParams& p)
{
    bool v6 = p.host.find(':') != std::string::npos;
    return (v6 ? '[' + p.host + ']' : p.host) + ':' + std::to_string(p.port);
}

std::string format(const TcpParams& p)
{
    return "tcp:" + endpoint_text(p) + (p.timeout_ms ? ':' + std::to_string(p.timeout_ms) : "");
}

std::string describe(const TcpParams& p)
{
    return "TCP " + endpoint_text(p);
}

class TcpLink : public StreamLink<tcp::socket>
{
public:
    TcpLink(asio::io_context& io, const TcpParams& params)
        : StreamLink(io, true), resolver(io), timer(io), params(params)
    {
    }

    void async_open(Done done) override
    {
        int ms = params.timeout_ms ? params.timeout_ms : default_connect_timeout_ms;
        timer.expires_after(std::chrono::milliseconds(ms));
        // The time-out may fire just as the connect completes, or after the
        // link is gone: it acts only while the attempt is still open.
        timer.async_wait([this, settled = settled](std::error_code ec) {
            if (!ec && !*settled) { // time-out: whatever is in progress ends with an error
                timed_out = true;
                resolver.cancel();
                std::error_code ignored;
                stream.close(ignored);
            }
        });
        resolver.async_resolve(
            params.host, std::to_string(params.port),
            [this, done](std::error_code ec, tcp::resolver::results_type results) {
                if (ec || closing)
                    return end(done, ec ? ec : asio::error::operation_aborted);
                std::vector<tcp::endpoint> endpoints;
                for (const auto& r : results)
                    if (!loopback_only() || r.endpoint().address().is_loopback())
                        endpoints.push_back(r.endpoint());
                if (endpoints.empty()) {
                    std::fprintf(stderr,
                                 "comm: REFUSED tcp connection to %s: loopback-only mode "
                                 "(ORVISK_LOOPBACK_ONLY=1) and no loopback address\n",
                                 params.host.c_str());
                    return end(done, asio::error::host_not_found);
                }
                asio::async_connect(
                    stream, endpoints, [this, done](std::error_code ec, const tcp::endpoint&) {
                        if (!ec && !closing) {
                            std::error_code ignored;
                            stream.set_option(tcp::no_delay(true), ignored);
                        }
                        end(done, closing && !ec ? asio::error::operation_aborted : ec);
                    });
            });
    }

    void interrupt() override
    {
        if (stream.is_open())
            ::shutdown(stream.native_handle(), SHUT_RDWR);
    }

    void close() override
    {
        closing = true;
        *settled = true;
        timer.cancel();
        resolver.cancel();
        StreamLink::close();
    }

private:
    void end(const Done& done, std::error_code ec)
    {
        *settled = true;
        timer.cancel();
        done(timed_out && ec ? asio::error::timed_out : ec);
    }

    tcp::resolver resolver;
    asio::steady_timer timer;
    TcpParams params;
    bool timed_out = false;
    bool closing = false;
    // Set once the attempt has ended (either way) or the link closes; shared
    // with the time-out's handler, which may run after the link is gone.
    std::shared_ptr<bool> settled = std::make_shared<bool>(false);
};

// Literal addresses are judged before the connection is accepted.
int check(const TcpParams& params)
{
    if (!loopback_only())
        return 0;
    std::error_code ec;
    asio::ip::address a = asio::ip::make_address(params.host, ec);
    if (ec || a.is_loopback())
        return 0; // names are filtered once resolved
    std::fprintf(
        stderr, "comm: REFUSED tcp connection to %s: loopback-only mode (ORVISK_LOOPBACK_ONLY=1)\n",
        params.host.c_str());
    return COMM_ERR_REFUSED;
}

std::unique_ptr<Link> create(asio::io_context& io, const TcpParams& params)
{
    return std::make_unique<TcpLink>(io, params);
}

using Functions = MediumFunctions<TcpParams, parse, format, describe, create>;

} // namespace

const Medium tcp_medium = Functions::medium("tcp", {"tcp"}, Functions::check<check>);

} // namespace comm

extern "C" int comm_make_conn_string_net(char* out, const char* host, uint16_t port, int timeout_ms)
{
    comm::TcpParams p;
    p.host = host ? host : "";
    if (p.host.size() > 2 && p.host.front() == '[' && p.host.back() == ']')
        p.host = p.host.substr(1, p.host.size() - 2);
    p.port = port;
    p.timeout_ms = timeout_ms;
    return comm::put_conn_string(out, comm::format(p));
}
