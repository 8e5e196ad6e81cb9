// Plain-socket helpers for driving the simulator from a test: raw frames in,
// raw frames out, every read bounded by a time-out.
#pragma once

#include <arpa/inet.h>
#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace wire {

using Bytes = std::vector<std::uint8_t>;

constexpr int kTimeoutMs = 5000;

inline Bytes hex(const char* text)
{
    Bytes out;
    unsigned value = 0;
    int digits = 0;
    for (const char* p = text; *p; ++p) {
        const char c = *p;
        int d = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
        if (d < 0)
            continue;
        value = value * 16 + static_cast<unsigned>(d);
        if (++digits == 2) {
            out.push_back(static_cast<std::uint8_t>(value));
            value = 0;
            digits = 0;
        }
    }
    return out;
}

// A frame built by hand, independently of the simulator's encoder.
inline Bytes frame(std::uint16_t code, const Bytes& payload = {}, std::uint16_t param = 0,
                   std::uint8_t status = 0)
{
    const auto length = static_cast<std::uint16_t>(payload.size() + 1);
    Bytes f = {'B',
               'R',
               'N',
               'O',
               static_cast<std::uint8_t>(code),
               static_cast<std::uint8_t>(code >> 8),
               static_cast<std::uint8_t>(length),
               static_cast<std::uint8_t>(length >> 8),
               static_cast<std::uint8_t>(param),
               static_cast<std::uint8_t>(param >> 8),
               status};
    std::uint8_t x = 0;
    for (std::uint8_t b : f)
        x ^= b;
    f.push_back(x);
    x = 0;
    for (std::uint8_t b : payload)
        x ^= b;
    f.insert(f.end(), payload.begin(), payload.end());
    f.push_back(x);
    return f;
}

inline std::uint16_t code_of(const Bytes& f)
{
    return f.size() < 6 ? 0 : static_cast<std::uint16_t>(f[4] | (f[5] << 8));
}

inline std::uint8_t status_of(const Bytes& f)
{
    return f.size() < 11 ? 0 : f[10];
}

inline Bytes payload_of(const Bytes& f)
{
    return f.size() < 13 ? Bytes{} : Bytes(f.begin() + 12, f.end() - 1);
}

class Fd
{
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() { reset(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    void reset(int fd = -1)
    {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = fd;
    }

private:
    int fd_;
};

inline int connect_tcp(std::uint16_t port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0)
        return fd;
    if (fd >= 0)
        ::close(fd);
    return -1;
}

inline int open_path(const std::string& path)
{
    return ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
}

inline bool write_all(int fd, const Bytes& bytes)
{
    std::size_t at = 0;
    while (at < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + at, bytes.size() - at);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        at += static_cast<std::size_t>(n);
    }
    return true;
}

// Reads exactly n bytes; false on time-out, end of stream or error.
inline bool read_exact(int fd, std::size_t n, Bytes& out, int timeout_ms = kTimeoutMs)
{
    out.resize(n);
    std::size_t at = 0;
    while (at < n) {
        pollfd p{fd, POLLIN, 0};
        const int r = ::poll(&p, 1, timeout_ms);
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            return false;
        const ssize_t got = ::read(fd, out.data() + at, n - at);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        at += static_cast<std::size_t>(got);
    }
    return true;
}

// Reads one whole frame by its length field; empty on failure.
inline Bytes read_frame(int fd, int timeout_ms = kTimeoutMs)
{
    Bytes head, rest;
    if (!read_exact(fd, 12, head, timeout_ms))
        return {};
    const std::size_t length = head[6] | (head[7] << 8);
    if (!read_exact(fd, length, rest, timeout_ms))
        return {};
    head.insert(head.end(), rest.begin(), rest.end());
    return head;
}

// True once the peer has hung up (end of stream, reset or pty EIO).
inline bool hung_up(int fd, int timeout_ms = kTimeoutMs)
{
    std::uint8_t skipped[4096]; // whatever was still in flight
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, timeout_ms) <= 0)
            return false;
        const ssize_t n = ::read(fd, skipped, sizeof skipped);
        if (n <= 0)
            return !(n < 0 && errno == EINTR);
    }
}

} // namespace wire
