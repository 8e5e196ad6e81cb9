// Shared between the media, the connection string parser and the registry.
#ifndef ORVISK_COMM_INTERNAL_H
#define ORVISK_COMM_INTERNAL_H

#ifndef ASIO_STANDALONE
#define ASIO_STANDALONE
#endif
#include <asio.hpp>

#include "comm.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

namespace comm {

enum class MediumKind { tcp, serial, ftdi, usb, bt };

// A parsed connection string or listed device id (see conn_string.cpp).
struct ConnParams
{
    MediumKind kind = MediumKind::tcp;
    std::string prefix; // as written: "tcp", "serial", "ftdi", "USBU", "USBF", "USBS", "bt"
    // tcp
    std::string host;
    uint16_t port = 0;
    int timeout_ms = 0; // tcp and bt connect time-out, 0 = default
    // serial and ftdi
    std::string path; // serial: device path; ftdi: location or serial number
    int baud = 0, data_bits = 8, stop_bits = 1, parity = 0, flow = 0;
    // usb (listed ids)
    uint16_t vid = 0, pid = 0;
    std::string location; // "3-1.2": bus, then the port chain
    std::string serial;
    // bt
    std::string address; // "00:11:22:33:44:55"
    int channel = 1;
    std::string pin, name;
};

constexpr int default_connect_timeout_ms = 5000;
constexpr uint16_t ftdi_vid = 0x1781, ftdi_pid = 0x0C44;

int parse_conn_string(const char* text, ConnParams& out);    // 0 or COMM_ERR_ARG
int format_conn_string(const ConnParams& params, char* out); // 0 or COMM_ERR_ARG (too long)
std::string display_text(const ConnParams& params);

using Done = std::function<void(std::error_code)>;
using ReadDone = std::function<void(std::error_code, std::size_t)>;

// One byte stream to a device, made by its medium.  async_open, async_read
// and close run on the I/O thread and complete there; write may run on any
// thread, one writer at a time (the connection's write lock).
class Link
{
public:
    virtual ~Link() = default;
    virtual void async_open(Done done) = 0;
    virtual void async_read(uint8_t* buf, std::size_t size, ReadDone done) = 0;
    // 0, COMM_ERR_TIMEOUT or COMM_ERR_IO; everything written or failed.
    virtual int write(const uint8_t* data, std::size_t size, int timeout_ms) = 0;
    // Writes what the device takes at once, without waiting: the number of
    // bytes written (maybe 0), or COMM_ERR_IO.
    virtual long write_some(const uint8_t* data, std::size_t size) = 0;
    // Wakes a writer blocked in write (any thread, before close takes the write lock).
    virtual void interrupt() {}
    // Cancels an open or read in progress (they complete with an error).
    virtual void close() = 0;
};

// One per medium: the prefixes it answers to and how it makes a link.
struct Medium
{
    const char* name;
    const char* prefixes[3];
    // Refuses a connection before it is accepted (0 = accept).
    int (*check)(const ConnParams& params);
    std::unique_ptr<Link> (*create)(asio::io_context& io, const ConnParams& params);
};

extern const Medium tcp_medium;
extern const Medium serial_medium;
extern const Medium ftdi_medium;
extern const Medium usb_medium;
extern const Medium bt_medium;

bool loopback_only(); // ORVISK_LOOPBACK_ONLY=1 at comm_init
std::error_code io_error(int code);

// Writes all of `size` bytes to a non-blocking descriptor, waiting at most
// `timeout_ms` in total.  Sockets are written without SIGPIPE.
int fd_write(int fd, bool socket, const uint8_t* data, std::size_t size, int timeout_ms);
// Writes what a descriptor takes without blocking: bytes written, or COMM_ERR_IO.
long fd_write_some(int fd, bool socket, const uint8_t* data, std::size_t size);

// Asio stream (socket, serial port, descriptor) as a link.
template <class Stream> class StreamLink : public Link
{
public:
    explicit StreamLink(asio::io_context& io, bool socket) : stream(io), socket(socket) {}
    void async_read(uint8_t* buf, std::size_t size, ReadDone done) override
    {
        stream.async_read_some(asio::buffer(buf, size), std::move(done));
    }
    int write(const uint8_t* data, std::size_t size, int timeout_ms) override
    {
        return stream.is_open() ? fd_write(stream.native_handle(), socket, data, size, timeout_ms)
                                : COMM_ERR_IO;
    }
    long write_some(const uint8_t* data, std::size_t size) override
    {
        return stream.is_open() ? fd_write_some(stream.native_handle(), socket, data, size)
                                : static_cast<long>(COMM_ERR_IO);
    }
    void close() override
    {
        std::error_code ec;
        stream.close(ec);
    }

protected:
    Stream stream;
    bool socket;
};

// Serial line set-up shared by the serial and FTDI media.
std::error_code open_serial(asio::serial_port& port, const std::string& path,
                            const ConnParams& params);

// FTDI bridges found in a sysfs USB device tree (root: /sys/bus/usb/devices).
struct FtdiDevice
{
    std::string location, serial, tty;
};
std::vector<FtdiDevice> ftdi_scan(const std::string& root, uint16_t vid, uint16_t pid);
// The tty path of the bridge whose location or serial number is `id`, or "".
std::string ftdi_find_tty(const std::string& root, const std::string& id);

// Start and stop of the parts with state of their own (called by comm_init/comm_shut).
void udp_start(asio::io_context& io);
void udp_stop(); // on the I/O thread
void udp_read_redirect_env();
void usb_start();
void usb_stop();
void bt_stop();

} // namespace comm

#endif
