/* FTDI serial medium: the instrument's FTDI bridge, found in sysfs by its USB
 * location or serial number and opened as the tty the kernel gave it.
 *
 *   ftdi:ID:BAUD:LINE[:FLOW]
 *       The bridge (USB 1781:0C44) by its USB location (bus-ports, as in
 *       sysfs: 3-1.2) or its USB serial number: ftdi:3-1.2:38400:8N1.  LINE
 *       and FLOW as for the serial medium.
 */
#include "comm_internal.h"

#include <dirent.h>

#include <algorithm>
#include <cstring>
#include <fstream>

namespace comm {
namespace {

const char* const sysfs_root = "/sys/bus/usb/devices";

std::string read_line(const std::string& file)
{
    std::ifstream in(file);
    std::string s;
    std::getline(in, s);
    return s;
}

std::vector<std::string> entries(const std::string& dir)
{
    std::vector<std::string> out;
    if (DIR* d = ::opendir(dir.c_str())) {
        while (dirent* e = ::readdir(d))
            if (e->d_name[0] != '.')
                out.emplace_back(e->d_name);
        ::closedir(d);
    }
    std::sort(out.begin(), out.end());
    return out;
}

// The first tty below one of the device's interfaces ("3-1.2:1.0/ttyUSB0"
// or ".../tty/ttyUSB0"), as "/dev/ttyUSB0".
std::string tty_of(const std::string& root, const std::string& device)
{
    for (const std::string& iface : entries(root + '/' + device)) {
        if (iface.rfind(device + ':', 0) != 0)
            continue;
        std::string dir = root + '/' + device + '/' + iface;
        for (const std::string& sub : {dir, dir + "/tty"})
            for (const std::string& e : entries(sub))
                if (e.rfind("tty", 0) == 0 && e != "tty")
                    return "/dev/" + e;
    }
    return {};
}

class FtdiLink : public StreamLink<asio::serial_port>
{
public:
    FtdiLink(asio::io_context& io, std::string id, std::string serial, const SerialLine& line)
        : StreamLink(io, false), id(std::move(id)), serial(std::move(serial)), line(line)
    {
    }

    void async_open(Done done) override
    {
        std::string tty = ftdi_find_tty(sysfs_root, serial.empty() ? id : serial);
        if (tty.empty() && !serial.empty())
            tty = ftdi_find_tty(sysfs_root, id);
        done(tty.empty() ? asio::error::not_found : open_serial(stream, tty, line));
    }

private:
    std::string id, serial;
    SerialLine line;
};

struct FtdiParams
{
    std::string id; // USB location or serial number
    SerialLine line;
};

bool parse(const std::string&, const std::string& rest, FtdiParams& p)
{
    return read_serial_form(rest, p.id, p.line) && plain_field(p.id);
}

std::string format(const FtdiParams& p)
{
    return "ftdi:" + serial_form_text(p.id, p.line);
}

std::string describe(const FtdiParams& p)
{
    return "USB serial bridge " + p.id + ' ' + std::to_string(p.line.baud);
}

std::unique_ptr<Link> create(asio::io_context& io, const FtdiParams& params)
{
    return std::make_unique<FtdiLink>(io, params.id, std::string(), params.line);
}

using Functions = MediumFunctions<FtdiParams, parse, format, describe, create>;

} // namespace

std::unique_ptr<Link> ftdi_link(asio::io_context& io, const std::string& id,
                                const std::string& serial, const SerialLine& line)
{
    return std::make_unique<FtdiLink>(io, id, serial, line);
}

std::vector<FtdiDevice> ftdi_scan(const std::string& root, uint16_t vid, uint16_t pid)
{
    std::vector<FtdiDevice> out;
    for (const std::string& dev : entries(root)) {
        if (dev.find(':') != std::string::npos)
            continue; // an interface, not a device
        std::string base = root + '/' + dev + '/';
        unsigned long v = std::strtoul(read_line(base + "idVendor").c_str(), nullptr, 16);
        unsigned long p = std::strtoul(read_line(base + "idProduct").c_str(), nullptr, 16);
        if (v != vid || p != pid)
            continue;
        out.push_back({dev, read_line(base + "serial"), tty_of(root, dev)});
    }
    return out;
}

std::string ftdi_find_tty(const std::string& root, const std::string& id)
{
    if (id.empty())
        return {};
    for (const FtdiDevice& d : ftdi_scan(root, ftdi_vid, ftdi_pid))
        if (d.location == id || d.serial == id)
            return d.tty;
    return {};
}

const Medium ftdi_medium = Functions::medium("ftdi", {"ftdi"});

} // namespace comm

extern "C" {

int comm_make_conn_string_ftdi_serial(char* out, const char* device_id, int baud, int data_bits,
                                      int stop_bits, int parity, int flow)
{
    if (!device_id)
        return comm::put_nothing(out);
    // A listed id gives its location; anything else is taken as location or serial.
    comm::FtdiParams p;
    comm::UsbId listed;
    p.id = comm::read_usb_id(device_id, listed) ? listed.location : device_id;
    if (!comm::serial_line_of(baud, data_bits, stop_bits, parity, flow, p.line))
        return comm::put_nothing(out);
    return comm::put_conn_string(out, comm::format(p));
}

int comm_list_devices_ftdi(char (*out)[COMM_STRING_SIZE], int max, int* count, uint16_t vid,
                           uint16_t pid)
{
    if (!count || max < 0 || (max > 0 && !out))
        return COMM_ERR_ARG;
    *count = 0;
    for (const comm::FtdiDevice& d : comm::ftdi_scan(comm::sysfs_root, vid, pid)) {
        if (*count >= max)
            break;
        if (comm::put_usb_id(out[*count], "USBF", vid, pid, d.location, d.serial) == 0)
            ++*count;
    }
    return 0;
}

} // extern "C"
