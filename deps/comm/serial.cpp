// Serial medium: a serial port by path, with baud, data bits, stop bits,
// parity and flow control.
#include "comm_internal.h"

namespace comm {

std::error_code open_serial(asio::serial_port& port, const std::string& path,
                            const ConnParams& params)
{
    using sp = asio::serial_port_base;
    std::error_code ec;
    port.open(path, ec);
    if (ec)
        return ec;
    static const sp::parity::type parities[] = {sp::parity::none, sp::parity::odd,
                                                sp::parity::even};
    static const sp::flow_control::type flows[] = {
        sp::flow_control::none, sp::flow_control::hardware, sp::flow_control::software};
    port.set_option(sp::baud_rate(static_cast<unsigned>(params.baud)), ec);
    if (!ec)
        port.set_option(sp::character_size(static_cast<unsigned>(params.data_bits)), ec);
    if (!ec)
        port.set_option(
            sp::stop_bits(params.stop_bits == 2 ? sp::stop_bits::two : sp::stop_bits::one), ec);
    if (!ec)
        port.set_option(sp::parity(parities[params.parity]), ec);
    if (!ec)
        port.set_option(sp::flow_control(flows[params.flow]), ec);
    if (ec) {
        std::error_code ignored;
        port.close(ignored);
    }
    return ec;
}

namespace {

class SerialLink : public StreamLink<asio::serial_port>
{
public:
    SerialLink(asio::io_context& io, const ConnParams& params)
        : StreamLink(io, false), params(params)
    {
    }

    void async_open(Done done) override { done(open_serial(stream, params.path, params)); }

private:
    ConnParams params;
};

std::unique_ptr<Link> create(asio::io_context& io, const ConnParams& params)
{
    return std::make_unique<SerialLink>(io, params);
}

} // namespace

const Medium serial_medium = {"serial", {"serial", nullptr, nullptr}, nullptr, create};

} // namespace comm
