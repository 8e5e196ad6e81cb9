// FTDI serial medium: the instrument's FTDI bridge, found in sysfs by its USB
// location or serial number and opened as the tty the kernel gave it.
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
    FtdiLink(asio::io_context& io, const ConnParams& params) : StreamLink(io, false), params(params)
    {
    }

    void async_open(Done done) override
    {
        std::string tty =
            ftdi_find_tty(sysfs_root, params.serial.empty() ? params.path : params.serial);
        if (tty.empty() && !params.serial.empty())
            tty = ftdi_find_tty(sysfs_root, params.path);
        done(tty.empty() ? asio::error::not_found : open_serial(stream, tty, params));
    }

private:
    ConnParams params;
};

std::unique_ptr<Link> create(asio::io_context& io, const ConnParams& params)
{
    return std::make_unique<FtdiLink>(io, params);
}

} // namespace

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

const Medium ftdi_medium = {"ftdi", {"ftdi", "USBF", "USBS"}, nullptr, create};

} // namespace comm

extern "C" int comm_list_devices_ftdi(char (*out)[COMM_STRING_SIZE], int max, int* count,
                                      uint16_t vid, uint16_t pid)
{
    if (!count || max < 0 || (max > 0 && !out))
        return COMM_ERR_ARG;
    *count = 0;
    for (const comm::FtdiDevice& d : comm::ftdi_scan(comm::sysfs_root, vid, pid)) {
        if (*count >= max)
            break;
        comm::ConnParams c;
        c.kind = comm::MediumKind::usb;
        c.prefix = "USBF";
        c.vid = vid;
        c.pid = pid;
        c.location = d.location;
        // A serial number with separators or spaces cannot be a field: leave it out.
        if (d.serial.find_first_of(": \t") == std::string::npos)
            c.serial = d.serial;
        if (comm::format_conn_string(c, out[*count]) == 0)
            ++*count;
    }
    return 0;
}
