/* Serial medium: a serial port by path, with baud, data bits, stop bits,
 * parity and flow control.
 *
 *   serial:PATH:BAUD:LINE[:FLOW]
 *       LINE is data bits (5-8), parity (N none, O odd, E even) and stop bits
 *       (1 or 2), e.g. serial:/dev/ttyUSB0:115200:8N1.  FLOW: 0 none (the
 *       default, not written), 1 hardware (RTS/CTS), 2 software (XON/XOFF).
 *       PATH may hold ':'.  Serial port number n names the path /dev/ttyS<n>.
 *
 * The line settings and their text are shared with the FTDI medium.
 */
#include "comm_internal.h"

#include <cstring>

namespace comm {
namespace {

const char parity_letters[] = "NOE";

bool read_line(const std::string& s, SerialLine& line)
{
    if (s.size() != 3 || s[0] < '5' || s[0] > '8' || (s[2] != '1' && s[2] != '2'))
        return false;
    const char* p = std::strchr(parity_letters, s[1]);
    if (!p || !*p)
        return false;
    line.data_bits = s[0] - '0';
    line.parity = static_cast<int>(p - parity_letters);
    line.stop_bits = s[2] - '0';
    return true;
}

} // namespace

bool read_serial_form(const std::string& rest, std::string& id, SerialLine& line)
{
    std::vector<std::string> parts = split_fields(rest);
    // The id is everything before BAUD:LINE[:FLOW]; find LINE from the right.
    std::size_t at =
        parts.size() >= 3 && parts.back().size() == 1 ? parts.size() - 2 : parts.size() - 1;
    if (at < 2)
        return false;
    id.clear();
    for (std::size_t i = 0; i + 1 < at; ++i)
        id += (i ? ":" : "") + parts[i];
    if (id.empty() || !read_number(parts[at - 1], 50, 4000000, line.baud) ||
        !read_line(parts[at], line))
        return false;
    return at + 1 == parts.size() || read_number(parts[at + 1], 0, 2, line.flow);
}

std::string serial_form_text(const std::string& id, const SerialLine& line)
{
    return id + ':' + std::to_string(line.baud) + ':' + static_cast<char>('0' + line.data_bits) +
           parity_letters[line.parity] + static_cast<char>('0' + line.stop_bits) +
           (line.flow ? ':' + std::to_string(line.flow) : "");
}

bool serial_line_of(int baud, int data_bits, int stop_bits, int parity, int flow, SerialLine& out)
{
    if (data_bits < 5 || data_bits > 8 || (stop_bits != 1 && stop_bits != 2) || parity < 0 ||
        parity > 2 || flow < 0 || flow > 2)
        return false;
    out = SerialLine{baud, data_bits, stop_bits, parity, flow};
    return true;
}

std::error_code open_serial(asio::serial_port& port, const std::string& path,
                            const SerialLine& line)
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
    port.set_option(sp::baud_rate(static_cast<unsigned>(line.baud)), ec);
    if (!ec)
        port.set_option(sp::character_size(static_cast<unsigned>(line.data_bits)), ec);
    if (!ec)
        port.set_option(
            sp::stop_bits(line.stop_bits == 2 ? sp::stop_bits::two : sp::stop_bits::one), ec);
    if (!ec)
        port.set_option(sp::parity(parities[line.parity]), ec);
    if (!ec)
        port.set_option(sp::flow_control(flows[line.flow]), ec);
    if (ec) {
        std::error_code ignored;
        port.close(ignored);
    }
    return ec;
}

namespace {

struct SerialParams
{
    std::string path;
    SerialLine line;
};

bool parse(const std::string&, const std::string& rest, SerialParams& p)
{
    return read_serial_form(rest, p.path, p.line);
}

std::string format(const SerialParams& p)
{
    return "serial:" + serial_form_text(p.path, p.line);
}

std::string describe(const SerialParams& p)
{
    return "Serial " + p.path + ' ' + std::to_string(p.line.baud);
}

class SerialLink : public StreamLink<asio::serial_port>
{
public:
    SerialLink(asio::io_context& io, const SerialParams& params)
        : StreamLink(io, false), params(params)
    {
    }

    void async_open(Done done) override { done(open_serial(stream, params.path, params.line)); }

private:
    SerialParams params;
};

std::unique_ptr<Link> create(asio::io_context& io, const SerialParams& params)
{
    return std::make_unique<SerialLink>(io, params);
}

using Functions = MediumFunctions<SerialParams, parse, format, describe, create>;

int make(char* out, const std::string& path, int baud, int data_bits, int stop_bits, int parity,
         int flow)
{
    SerialParams p{path, {}};
    if (!serial_line_of(baud, data_bits, stop_bits, parity, flow, p.line))
        return put_nothing(out);
    return put_conn_string(out, format(p));
}

} // namespace

const Medium serial_medium = Functions::medium("serial", {"serial"});

} // namespace comm

extern "C" {

int comm_make_conn_string_serial(char* out, uint16_t port, int baud, int data_bits, int stop_bits,
                                 int parity, int flow)
{
    return comm::make(out, "/dev/ttyS" + std::to_string(port), baud, data_bits, stop_bits, parity,
                      flow);
}

int comm_make_conn_string_serial_path(char* out, const char* path, int baud, int data_bits,
                                      int stop_bits, int parity, int flow)
{
    if (!path)
        return comm::put_nothing(out);
    return comm::make(out, path, baud, data_bits, stop_bits, parity, flow);
}

} // extern "C"
