// Network medium: a TCP client to an instrument, IPv4 or IPv6, with a
// connect time-out.  In loopback-only mode it reaches loopback addresses only.
#include "comm_internal.h"

#include <cstdio>

namespace comm {
namespace {

using asio::ip::tcp;

class TcpLink : public StreamLink<tcp::socket>
{
public:
    TcpLink(asio::io_context& io, const ConnParams& params)
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
    ConnParams params;
    bool timed_out = false;
    bool closing = false;
    // Set once the attempt has ended (either way) or the link closes; shared
    // with the time-out's handler, which may run after the link is gone.
    std::shared_ptr<bool> settled = std::make_shared<bool>(false);
};

// Literal addresses are judged before the connection is accepted.
int check(const ConnParams& params)
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

std::unique_ptr<Link> create(asio::io_context& io, const ConnParams& params)
{
    return std::make_unique<TcpLink>(io, params);
}

} // namespace

const Medium tcp_medium = {"tcp", {"tcp", nullptr, nullptr}, check, create};

} // namespace comm
