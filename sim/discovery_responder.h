// Answers network discovery requests on a loopback UDP port.
#pragma once

#include "sim/frame.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace sim {

namespace detail {
class DiscoveryCore;
}

// One instrument as the discovery answer announces it.
struct DiscoveryEntry
{
    std::string identity;           // 10-byte field
    std::string ipv4 = "127.0.0.1"; // 16-byte field
    std::string ipv6;               // 40-byte field
    Bytes tail;                     // payload bytes after the entry
};

// Answers each request frame (8601) with one answer frame (8600) per entry,
// sent only back to the address the request came from, and only if that
// address is loopback.
class DiscoveryResponder
{
public:
    static constexpr std::size_t kEntrySize = 66;

    DiscoveryResponder(); // binds 127.0.0.1 with a port the system picks
    // Binds a numeric address and port (0: the system picks); std::system_error
    // when it cannot. Answers still go to loopback senders only.
    DiscoveryResponder(const std::string& host, std::uint16_t port);
    ~DiscoveryResponder();
    DiscoveryResponder(const DiscoveryResponder&) = delete;
    DiscoveryResponder& operator=(const DiscoveryResponder&) = delete;

    std::uint16_t port() const;

    void add(DiscoveryEntry entry);
    void clear();
    // true: all answers to one request in one datagram; false: one datagram each.
    void set_packed(bool packed);

    void start();
    void stop(); // idempotent; the destructor stops too

    // Requests answered so far.
    std::size_t requests() const;
    bool wait_requests(std::size_t n, std::chrono::milliseconds timeout) const;

    // The payload of the answer for `entry`: the three NUL-padded texts, then the tail.
    static Bytes answer_payload(const DiscoveryEntry& entry);

private:
    std::unique_ptr<detail::DiscoveryCore> core_;
};

} // namespace sim
