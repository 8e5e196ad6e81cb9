// Serves instruments over loopback TCP and pseudo-terminals on one I/O thread.
#pragma once

#include "sim/frame.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace sim {

class Instrument;

namespace detail {
class ServerCore;
}

// Each endpoint serves one client at a time and accepts again after a close.
// serve_tcp and serve_pty may be called before or after start(), not after
// stop() (std::logic_error); std::system_error when no port or pty can be had.
class FrameServer
{
public:
    FrameServer();
    ~FrameServer(); // stops and joins
    FrameServer(const FrameServer&) = delete;
    FrameServer& operator=(const FrameServer&) = delete;

    // Listens on 127.0.0.1 with a port the system picks; returns that port.
    std::uint16_t serve_tcp(std::shared_ptr<Instrument> instrument);
    // Listens on a numeric address and port (0: the system picks); returns the port.
    std::uint16_t serve_tcp(std::shared_ptr<Instrument> instrument, const std::string& host,
                            std::uint16_t port);
    // Opens a raw pseudo-terminal pair; returns the slave path for a serial back-end.
    std::string serve_pty(std::shared_ptr<Instrument> instrument);

    void start(); // runs the I/O thread; once per server
    void stop();  // closes every link and joins; idempotent

    // The current slave path of the instrument's pty endpoint ("" if none);
    // it changes when the link is dropped.
    std::string pty_path(const Instrument& instrument) const;

    // Writes frames to the instrument's open links, shaped by its delivery;
    // with no link open they are lost, as an instrument's events would be.
    void push(const Instrument& instrument, std::vector<Frame> frames);
    // Closes the instrument's open links, as a restart or a pulled cable does.
    // TCP accepts the next client; a pty hangs up and opens a fresh pair.
    void drop_link(const Instrument& instrument);

    // Links opened for the instrument so far (a pty counts once it is open).
    std::size_t links_opened(const Instrument& instrument) const;
    bool wait_links_opened(const Instrument& instrument, std::size_t n,
                           std::chrono::milliseconds timeout) const;
    // Links currently open (a TCP client is connected, or the pty pair is open).
    std::size_t links_open(const Instrument& instrument) const;

private:
    std::unique_ptr<detail::ServerCore> core_;
};

} // namespace sim
