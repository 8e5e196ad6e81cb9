// Shared between the media, the table of media and the registry.
#ifndef ORVISK_COMM_INTERNAL_H
#define ORVISK_COMM_INTERNAL_H

#ifndef ASIO_STANDALONE
#define ASIO_STANDALONE
#endif
#include <asio.hpp>

#include "comm.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

namespace comm {

constexpr int default_connect_timeout_ms = 5000;
constexpr uint16_t ftdi_vid = 0x1781, ftdi_pid = 0x0C44;

struct Medium;

// A connection string as its medium read it: the medium, and the medium's
// own parameters (a struct of its file, read through its descriptor).
struct ConnParams
{
    const Medium* medium = nullptr;
    std::shared_ptr<const void> params;
};

// PREFIX:REST, at most 127 bytes; the medium that answers to PREFIX reads REST.
int parse_conn_string(const char* text, ConnParams& out);    // 0 or COMM_ERR_ARG
int format_conn_string(const ConnParams& params, char* out); // 0 or COMM_ERR_ARG (too long)
std::string display_text(const ConnParams& params);
const Medium* find_medium(const std::string& prefix); // null: no such medium
// Writes `text` to `out` when it is a connection string that reads back; an
// empty `out` and COMM_ERR_ARG otherwise.  Every maker ends here.
int put_conn_string(char* out, const std::string& text);
int put_nothing(char* out); // COMM_ERR_ARG, with `out` empty

// Fields of the media's strings.
std::vector<std::string> split_fields(const std::string& s, std::size_t max_parts = 0);
// A number of at most 9 digits within lo..hi.
bool read_number(const std::string& s, long lo, long hi, int& out, int base = 10);
bool plain_field(const std::string& s); // not empty, no separators or spaces

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

// One per medium, in the medium's own file: the prefixes it answers to, its
// connection strings read, written and shown, and how it makes a link.
struct Medium
{
    const char* name;
    std::array<const char*, 3> prefixes; // unused ones null
    // Reads REST, the text after "PREFIX:", into out.params; false when malformed.
    bool (*parse)(const std::string& prefix, const std::string& rest, ConnParams& out);
    std::string (*format)(const ConnParams& params);   // the whole string, prefix too
    std::string (*describe)(const ConnParams& params); // the text a person reads
    std::unique_ptr<Link> (*create)(asio::io_context& io, const ConnParams& params);
    // Refuses a connection before it is accepted (0 = accept); may be null.
    int (*check)(const ConnParams& params);
};

// A medium's functions on its own parameters P as descriptor entries.
template <class P, bool (*Parse)(const std::string&, const std::string&, P&),
          std::string (*Format)(const P&), std::string (*Describe)(const P&),
          std::unique_ptr<Link> (*Create)(asio::io_context&, const P&)>
struct MediumFunctions
{
    // Only ever called with params this medium's parse made.
    static const P& of(const ConnParams& c) { return *static_cast<const P*>(c.params.get()); }
    static bool parse(const std::string& prefix, const std::string& rest, ConnParams& out)
    {
        auto p = std::make_shared<P>();
        if (!Parse(prefix, rest, *p))
            return false;
        out.params = std::move(p);
        return true;
    }
    static std::string format(const ConnParams& c) { return Format(of(c)); }
    static std::string describe(const ConnParams& c) { return Describe(of(c)); }
    static std::unique_ptr<Link> create(asio::io_context& io, const ConnParams& c)
    {
        return Create(io, of(c));
    }
    template <int (*Check)(const P&)> static int check(const ConnParams& c) { return Check(of(c)); }
    // The medium's descriptor; `check` is check<...> or null.
    static constexpr Medium medium(const char* name, std::array<const char*, 3> prefixes,
                                   int (*check)(const ConnParams&) = nullptr)
    {
        return Medium{name, prefixes, parse, format, describe, create, check};
    }
};

// The media, declared from the table (media.def).
#define COMM_MEDIUM(name) extern const Medium name##_medium;
#include "media.def"
#undef COMM_MEDIUM

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

// Line settings of a serial port, shared by the serial and FTDI media.
struct SerialLine
{
    int baud = 0, data_bits = 8, stop_bits = 1;
    int parity = 0; // 0 none, 1 odd, 2 even
    int flow = 0;   // 0 none, 1 RTS/CTS, 2 XON/XOFF
};
// ID:BAUD:LINE[:FLOW], where ID (a serial port's path) may hold ':'.
bool read_serial_form(const std::string& rest, std::string& id, SerialLine& line);
std::string serial_form_text(const std::string& id, const SerialLine& line);
// A maker's line settings; false when one is out of range.
bool serial_line_of(int baud, int data_bits, int stop_bits, int parity, int flow, SerialLine& out);
std::error_code open_serial(asio::serial_port& port, const std::string& path,
                            const SerialLine& line);

// A listed USB id, USBU|USBF|USBS:VVVV:PPPP:LOCATION[:SERIAL]: the USB
// medium's parameters.  USBF and USBS name an FTDI bridge.
struct UsbId
{
    std::string prefix;
    uint16_t vid = 0, pid = 0;
    std::string location; // "3-1.2": bus, then the port chain
    std::string serial;
};
bool read_usb_id(const char* text, UsbId& out);
// A listing's id; a serial number that cannot be a field is left out.
int put_usb_id(char* out, const char* prefix, uint16_t vid, uint16_t pid,
               const std::string& location, const std::string& serial);
// The FTDI bridge with USB serial number `serial` (if any) or location or
// serial number `id`, opened as its tty.
std::unique_ptr<Link> ftdi_link(asio::io_context& io, const std::string& id,
                                const std::string& serial, const SerialLine& line);

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
