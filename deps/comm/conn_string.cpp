/* Connection strings and listed device ids.  Every form is parsed here.
 *
 * At most 127 bytes; fields separated by ':'; numbers in decimal unless noted.
 *
 *   tcp:HOST:PORT[:TIMEOUT_MS]
 *       HOST is a name, an IPv4 address or an IPv6 address in brackets:
 *       tcp:127.0.0.1:4444, tcp:[::1]:4444:1000.  TIMEOUT_MS bounds the
 *       connect (default 5000).
 *   serial:PATH:BAUD:LINE[:FLOW]
 *       LINE is data bits (5-8), parity (N none, O odd, E even) and stop bits
 *       (1 or 2), e.g. serial:/dev/ttyUSB0:115200:8N1.  FLOW: 0 none (the
 *       default), 1 hardware (RTS/CTS), 2 software (XON/XOFF).  Serial port
 *       number n names the path /dev/ttyS<n>.
 *   ftdi:ID:BAUD:LINE[:FLOW]
 *       The instrument's FTDI bridge (USB 1781:0C44) by its USB location
 *       (bus-ports, as in sysfs: 3-1.2) or its USB serial number, opened as
 *       the tty the kernel gave it: ftdi:3-1.2:38400:8N1.
 *   USBU:VVVV:PPPP:LOCATION[:SERIAL]
 *       A native USB instrument as listed (vendor and product in hex):
 *       USBU:1781:0C45:3-1.2:C1234.  Bulk transfers on its interface.
 *   USBF:VVVV:PPPP:LOCATION[:SERIAL]   (USBS is the same)
 *       An FTDI bridge as listed; connecting opens it as ftdi at 38400 8N1.
 *   bt:ADDRESS[:CHANNEL[:PIN[:TIMEOUT_MS[:NAME]]]]
 *       RFCOMM to ADDRESS (six hex pairs), CHANNEL 1-30 (default 1):
 *       bt:00:11:22:33:44:55:1:5823:60000:My M30.  NAME is the rest of the
 *       string and only for display; PIN is kept for the system's pairing
 *       agent, the library does not pair.
 */
#include "comm_internal.h"

#include <cstdio>
#include <cstring>

namespace comm {
namespace {

std::vector<std::string> split(const std::string& s, std::size_t max_parts = 0)
{
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (true) {
        if (max_parts && parts.size() + 1 == max_parts) {
            parts.push_back(s.substr(start));
            return parts;
        }
        std::size_t colon = s.find(':', start);
        parts.push_back(s.substr(start, colon - start));
        if (colon == std::string::npos)
            return parts;
        start = colon + 1;
    }
}

bool number(const std::string& s, long lo, long hi, int& out, int base = 10)
{
    if (s.empty() || s.size() > 9)
        return false;
    for (char ch : s)
        if (!(base == 16 ? std::isxdigit(static_cast<unsigned char>(ch))
                         : std::isdigit(static_cast<unsigned char>(ch))))
            return false;
    long v = std::strtol(s.c_str(), nullptr, base);
    if (v < lo || v > hi)
        return false;
    out = static_cast<int>(v);
    return true;
}

bool line_settings(const std::string& s, ConnParams& c)
{
    static const char parities[] = "NOE";
    if (s.size() != 3 || s[0] < '5' || s[0] > '8' || (s[2] != '1' && s[2] != '2'))
        return false;
    const char* p = std::strchr(parities, s[1]);
    if (!p || !*p)
        return false;
    c.data_bits = s[0] - '0';
    c.parity = static_cast<int>(p - parities);
    c.stop_bits = s[2] - '0';
    return true;
}

// BAUD:LINE[:FLOW] from parts[first] on.
bool serial_tail(const std::vector<std::string>& parts, std::size_t first, ConnParams& c)
{
    std::size_t n = parts.size() - first;
    if (n != 2 && n != 3)
        return false;
    if (!number(parts[first], 50, 4000000, c.baud) || !line_settings(parts[first + 1], c))
        return false;
    return n == 2 || number(parts[first + 2], 0, 2, c.flow);
}

bool bt_address(const std::string& s)
{
    if (s.size() != 17)
        return false;
    for (std::size_t i = 0; i < s.size(); ++i)
        if (i % 3 == 2 ? s[i] != ':' : !std::isxdigit(static_cast<unsigned char>(s[i])))
            return false;
    return true;
}

bool plain(const std::string& s) // a field without separators or spaces
{
    if (s.empty())
        return false;
    for (char ch : s)
        if (ch == ':' || static_cast<unsigned char>(ch) <= ' ')
            return false;
    return true;
}

int parse_tcp(const std::string& rest, ConnParams& c)
{
    std::string tail;
    if (!rest.empty() && rest[0] == '[') {
        std::size_t close = rest.find(']');
        if (close == std::string::npos || close < 2 || close + 1 >= rest.size() ||
            rest[close + 1] != ':')
            return COMM_ERR_ARG;
        c.host = rest.substr(1, close - 1);
        if (c.host.find_first_not_of("0123456789abcdefABCDEF:.") != std::string::npos)
            return COMM_ERR_ARG;
        tail = rest.substr(close + 2);
    } else {
        std::size_t colon = rest.find(':');
        if (colon == std::string::npos)
            return COMM_ERR_ARG;
        c.host = rest.substr(0, colon);
        if (!plain(c.host))
            return COMM_ERR_ARG;
        tail = rest.substr(colon + 1);
    }
    std::vector<std::string> parts = split(tail);
    int port = 0;
    if (parts.size() > 2 || !number(parts[0], 1, 65535, port))
        return COMM_ERR_ARG;
    c.port = static_cast<uint16_t>(port);
    if (parts.size() == 2 && !number(parts[1], 0, 600000, c.timeout_ms))
        return COMM_ERR_ARG;
    return 0;
}

int parse_usb(const std::string& rest, ConnParams& c)
{
    std::vector<std::string> parts = split(rest);
    int vid = 0, pid = 0;
    if (parts.size() < 3 || parts.size() > 4 || parts[0].size() != 4 || parts[1].size() != 4 ||
        !number(parts[0], 0, 0xFFFF, vid, 16) || !number(parts[1], 0, 0xFFFF, pid, 16) ||
        !plain(parts[2]) || (parts.size() == 4 && !plain(parts[3])))
        return COMM_ERR_ARG;
    c.vid = static_cast<uint16_t>(vid);
    c.pid = static_cast<uint16_t>(pid);
    c.location = parts[2];
    if (parts.size() == 4)
        c.serial = parts[3];
    if (c.prefix != "USBU") { // a listed FTDI bridge opens as its tty
        c.kind = MediumKind::ftdi;
        c.path = c.location;
        c.baud = 38400;
    }
    return 0;
}

int parse_bt(const std::string& rest, ConnParams& c)
{
    if (rest.size() < 17 || !bt_address(rest.substr(0, 17)))
        return COMM_ERR_ARG;
    c.address = rest.substr(0, 17);
    if (rest.size() == 17)
        return 0;
    if (rest[17] != ':')
        return COMM_ERR_ARG;
    std::vector<std::string> parts = split(rest.substr(18), 4);
    if (!number(parts[0], 1, 30, c.channel))
        return COMM_ERR_ARG;
    if (parts.size() > 1) {
        c.pin = parts[1];
        if (c.pin.size() > 16 || (!c.pin.empty() && !plain(c.pin)))
            return COMM_ERR_ARG;
    }
    if (parts.size() > 2 && !parts[2].empty() && !number(parts[2], 0, 600000, c.timeout_ms))
        return COMM_ERR_ARG;
    if (parts.size() > 3)
        c.name = parts[3];
    return 0;
}

std::string line_text(const ConnParams& c)
{
    return std::to_string(c.baud) + ':' + static_cast<char>('0' + c.data_bits) + "NOE"[c.parity] +
           static_cast<char>('0' + c.stop_bits) + (c.flow ? ':' + std::to_string(c.flow) : "");
}

std::string hex4(uint16_t v)
{
    char b[8];
    std::snprintf(b, sizeof b, "%04X", v);
    return b;
}

int put(char* out, const std::string& s)
{
    if (!out)
        return COMM_ERR_ARG;
    if (s.size() >= COMM_STRING_SIZE) {
        out[0] = '\0';
        return COMM_ERR_ARG;
    }
    std::memcpy(out, s.c_str(), s.size() + 1);
    return 0;
}

bool valid_line(int data_bits, int stop_bits, int parity, int flow)
{
    return data_bits >= 5 && data_bits <= 8 && (stop_bits == 1 || stop_bits == 2) && parity >= 0 &&
           parity <= 2 && flow >= 0 && flow <= 2;
}

int make_serial(char* out, MediumKind kind, const std::string& path, int baud, int data_bits,
                int stop_bits, int parity, int flow)
{
    if (!valid_line(data_bits, stop_bits, parity, flow)) {
        put(out, "");
        return COMM_ERR_ARG;
    }
    ConnParams c;
    c.kind = kind;
    c.prefix = kind == MediumKind::ftdi ? "ftdi" : "serial";
    c.path = path;
    c.baud = baud;
    c.data_bits = data_bits;
    c.stop_bits = stop_bits;
    c.parity = parity;
    c.flow = flow;
    return format_conn_string(c, out);
}

} // namespace

int parse_conn_string(const char* text, ConnParams& c)
{
    if (!text)
        return COMM_ERR_ARG;
    std::size_t len = strnlen(text, COMM_STRING_SIZE);
    if (len == 0 || len >= COMM_STRING_SIZE)
        return COMM_ERR_ARG;
    std::string s(text, len);
    std::size_t colon = s.find(':');
    if (colon == std::string::npos)
        return COMM_ERR_ARG;
    c = ConnParams();
    c.prefix = s.substr(0, colon);
    std::string rest = s.substr(colon + 1);
    if (c.prefix == "tcp") {
        c.kind = MediumKind::tcp;
        return parse_tcp(rest, c);
    }
    if (c.prefix == "serial" || c.prefix == "ftdi") {
        c.kind = c.prefix == "serial" ? MediumKind::serial : MediumKind::ftdi;
        std::vector<std::string> parts = split(rest);
        // The path is everything before BAUD:LINE[:FLOW]; find LINE from the right.
        std::size_t line =
            parts.size() >= 3 && parts.back().size() == 1 ? parts.size() - 2 : parts.size() - 1;
        if (line < 2)
            return COMM_ERR_ARG;
        for (std::size_t i = 0; i + 1 < line; ++i)
            c.path += (i ? ":" : "") + parts[i];
        if (c.path.empty() || !serial_tail(parts, line - 1, c))
            return COMM_ERR_ARG;
        if (c.kind == MediumKind::ftdi && !plain(c.path))
            return COMM_ERR_ARG;
        return 0;
    }
    if (c.prefix == "USBU" || c.prefix == "USBF" || c.prefix == "USBS") {
        c.kind = MediumKind::usb;
        return parse_usb(rest, c);
    }
    if (c.prefix == "bt") {
        c.kind = MediumKind::bt;
        return parse_bt(rest, c);
    }
    return COMM_ERR_ARG;
}

int format_conn_string(const ConnParams& c, char* out)
{
    std::string s;
    bool listed = c.prefix.rfind("USB", 0) == 0; // a listed id keeps its form
    switch (listed ? MediumKind::usb : c.kind) {
    case MediumKind::tcp: {
        bool v6 = c.host.find(':') != std::string::npos;
        s = "tcp:" + (v6 ? '[' + c.host + ']' : c.host) + ':' + std::to_string(c.port);
        if (c.timeout_ms)
            s += ':' + std::to_string(c.timeout_ms);
        break;
    }
    case MediumKind::serial:
    case MediumKind::ftdi:
        s = (c.kind == MediumKind::ftdi ? "ftdi:" : "serial:") + c.path + ':' + line_text(c);
        break;
    case MediumKind::usb:
        s = c.prefix + ':' + hex4(c.vid) + ':' + hex4(c.pid) + ':' + c.location;
        if (!c.serial.empty())
            s += ':' + c.serial;
        break;
    case MediumKind::bt:
        s = "bt:" + c.address + ':' + std::to_string(c.channel);
        if (!c.pin.empty() || c.timeout_ms || !c.name.empty())
            s += ':' + c.pin;
        if (c.timeout_ms || !c.name.empty())
            s += ':' + (c.timeout_ms ? std::to_string(c.timeout_ms) : std::string());
        if (!c.name.empty())
            s += ':' + c.name;
        break;
    }
    ConnParams check;
    if (put(out, s) != 0 || parse_conn_string(out, check) != 0) {
        if (out)
            out[0] = '\0';
        return COMM_ERR_ARG;
    }
    return 0;
}

std::string display_text(const ConnParams& c)
{
    std::string serial = c.serial.empty() ? "" : " (serial " + c.serial + ")";
    switch (c.kind) {
    case MediumKind::tcp: {
        bool v6 = c.host.find(':') != std::string::npos;
        return "TCP " + (v6 ? '[' + c.host + ']' : c.host) + ':' + std::to_string(c.port);
    }
    case MediumKind::serial:
        return "Serial " + c.path + ' ' + std::to_string(c.baud);
    case MediumKind::ftdi:
        if (c.prefix.rfind("USB", 0) == 0)
            return "USB serial bridge " + c.location + serial;
        return "USB serial bridge " + c.path + ' ' + std::to_string(c.baud);
    case MediumKind::usb:
        return "USB instrument " + c.location + serial;
    case MediumKind::bt:
        return c.name.empty() ? "Bluetooth " + c.address
                              : "Bluetooth " + c.name + " (" + c.address + ')';
    }
    return {};
}

} // namespace comm

using comm::ConnParams;

extern "C" {

int comm_get_devid_string(const char* id, char* text)
{
    if (!text)
        return COMM_ERR_ARG;
    ConnParams c;
    if (comm::parse_conn_string(id, c) != 0) {
        // Unknown text: show it as it is rather than nothing.
        std::snprintf(text, COMM_STRING_SIZE, "%s", id ? id : "");
        return COMM_ERR_ARG;
    }
    std::snprintf(text, COMM_STRING_SIZE, "%s", comm::display_text(c).c_str());
    return 0;
}

int comm_make_conn_string_usb(char* out, const char* usb_id, uint16_t vid, uint16_t pid, int flags)
{
    (void)flags; // no options yet
    ConnParams c;
    if (!usb_id || (comm::parse_conn_string(usb_id, c) != 0 || c.location.empty())) {
        // A bare location ("3-1.2") is accepted too.
        c = ConnParams();
        if (!usb_id || !*usb_id || std::strchr(usb_id, ':'))
            return comm::put(out, ""), COMM_ERR_ARG;
        c.location = usb_id;
    }
    ConnParams o;
    o.kind = comm::MediumKind::usb;
    o.prefix = pid == comm::ftdi_pid ? "USBF" : "USBU";
    o.vid = vid;
    o.pid = pid;
    o.location = c.location;
    o.serial = c.serial;
    return comm::format_conn_string(o, out);
}

int comm_make_conn_string_serial(char* out, uint16_t port, int baud, int data_bits, int stop_bits,
                                 int parity, int flow)
{
    return comm::make_serial(out, comm::MediumKind::serial, "/dev/ttyS" + std::to_string(port),
                             baud, data_bits, stop_bits, parity, flow);
}

int comm_make_conn_string_serial_path(char* out, const char* path, int baud, int data_bits,
                                      int stop_bits, int parity, int flow)
{
    if (!path)
        return comm::put(out, ""), COMM_ERR_ARG;
    return comm::make_serial(out, comm::MediumKind::serial, path, baud, data_bits, stop_bits,
                             parity, flow);
}

int comm_make_conn_string_ftdi_serial(char* out, const char* device_id, int baud, int data_bits,
                                      int stop_bits, int parity, int flow)
{
    if (!device_id)
        return comm::put(out, ""), COMM_ERR_ARG;
    // A listed id gives its location; anything else is taken as location or serial.
    ConnParams c;
    std::string id = device_id;
    if (comm::parse_conn_string(device_id, c) == 0 && !c.location.empty())
        id = c.location;
    return comm::make_serial(out, comm::MediumKind::ftdi, id, baud, data_bits, stop_bits, parity,
                             flow);
}

int comm_make_conn_string_bt(char* out, const char* address, const char* name,
                             uint32_t class_of_device, int channel, const char* pin, int timeout_ms)
{
    (void)class_of_device; // only the inquiry filters by class
    ConnParams c;
    c.kind = comm::MediumKind::bt;
    c.prefix = "bt";
    c.address = address ? address : "";
    c.name = name ? name : "";
    c.channel = channel;
    c.pin = pin ? pin : "";
    c.timeout_ms = timeout_ms;
    // A long name is cut rather than losing the connection string.
    std::size_t fixed = 3 + 17 + 3 + 1 + c.pin.size() + 1 + 6 + 1;
    if (c.name.size() + fixed >= COMM_STRING_SIZE) {
        c.name.resize(COMM_STRING_SIZE - 1 > fixed ? COMM_STRING_SIZE - 1 - fixed : 0);
        while (!c.name.empty() && (static_cast<unsigned char>(c.name.back()) & 0xC0) == 0x80)
            c.name.pop_back(); // no half UTF-8 character
        if (!c.name.empty() && (static_cast<unsigned char>(c.name.back()) & 0x80))
            c.name.pop_back();
    }
    return comm::format_conn_string(c, out);
}

int comm_make_conn_string_net(char* out, const char* host, uint16_t port, int timeout_ms)
{
    ConnParams c;
    c.kind = comm::MediumKind::tcp;
    c.prefix = "tcp";
    c.host = host ? host : "";
    if (c.host.size() > 2 && c.host.front() == '[' && c.host.back() == ']')
        c.host = c.host.substr(1, c.host.size() - 2);
    c.port = port;
    c.timeout_ms = timeout_ms;
    return comm::format_conn_string(c, out);
}

} // extern "C"
