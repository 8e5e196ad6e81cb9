// A simulator started in-process on loopback with port 0, and a raw client
// for it built on the wire helpers.
#pragma once

#include "sim/simulator.h"
#include "wire.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace session {

using wire::Bytes;

inline sim::SimOptions loopback_options()
{
    sim::SimOptions o;
    o.listen_port = 0;
    o.discovery = false;
    o.events_hz = 0;
    o.epoch = 1796000000; // a fixed "now": reproducible time stamps
    return o;
}

inline std::uint32_t u32(const Bytes& b, std::size_t at)
{
    return b.size() < at + 4
               ? 0
               : static_cast<std::uint32_t>(b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) |
                                            (static_cast<std::uint32_t>(b[at + 3]) << 24));
}

inline Bytes words(std::initializer_list<std::uint32_t> values, std::size_t size = 0)
{
    Bytes out;
    for (std::uint32_t v : values)
        for (int i = 0; i < 4; ++i)
            out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    if (out.size() < size)
        out.resize(size, 0);
    return out;
}

// One raw connection to one simulated instrument.
class Client
{
public:
    explicit Client(std::uint16_t port) : port_(port), fd_(wire::connect_tcp(port)) {}

    bool valid() const { return fd_.valid(); }
    int fd() const { return fd_.get(); }
    void reconnect() { fd_.reset(wire::connect_tcp(port_)); }

    Bytes exchange(std::uint16_t code, const Bytes& payload = {}, std::uint16_t timeout = 1000)
    {
        return wire::write_all(fd_.get(), wire::frame(code, payload, timeout))
                   ? wire::read_frame(fd_.get())
                   : Bytes{};
    }

    // Skips event frames (codes from 10000 on) until an answer-like frame.
    Bytes answer(std::uint16_t code, const Bytes& payload = {})
    {
        if (!wire::write_all(fd_.get(), wire::frame(code, payload, 1000)))
            return {};
        for (;;) {
            Bytes f = wire::read_frame(fd_.get());
            if (f.empty() || wire::code_of(f) < 10000 || wire::code_of(f) > 11000)
                return f;
        }
    }

private:
    std::uint16_t port_;
    wire::Fd fd_;
};

} // namespace session
