/* USB medium: native USB instruments through libusb-1.0: listing by vendor
 * and product, hot-plug reports and bulk transfers on the instrument's
 * interface.  libusb runs its events on a thread of its own; completions are
 * handed to the I/O thread.  Without a USB subsystem (or the rights to it)
 * listing finds nothing and connections fail with an error.
 *
 * The ids the listings return are connection strings as they stand:
 *
 *   USBU:VVVV:PPPP:LOCATION[:SERIAL]
 *       A native USB instrument (vendor and product in hex, written in
 *       capitals): USBU:1781:0C45:3-1.2:C1234.  Bulk transfers on its interface.
 *   USBF:VVVV:PPPP:LOCATION[:SERIAL]   (USBS is the same)
 *       An FTDI bridge; connecting opens it as the FTDI medium does, at
 *       38400 8N1, found by its serial number or else its location.
 *
 * An id keeps the prefix it was written with.
 */
#include "comm_internal.h"

#include <libusb.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <optional>
#include <thread>

namespace comm {
namespace {

bool parse(const std::string& prefix, const std::string& rest, UsbId& id)
{
    std::vector<std::string> parts = split_fields(rest);
    int vid = 0, pid = 0;
    if (parts.size() < 3 || parts.size() > 4 || parts[0].size() != 4 || parts[1].size() != 4 ||
        !read_number(parts[0], 0, 0xFFFF, vid, 16) || !read_number(parts[1], 0, 0xFFFF, pid, 16) ||
        !plain_field(parts[2]) || (parts.size() == 4 && !plain_field(parts[3])))
        return false;
    id.prefix = prefix;
    id.vid = static_cast<uint16_t>(vid);
    id.pid = static_cast<uint16_t>(pid);
    id.location = parts[2];
    if (parts.size() == 4)
        id.serial = parts[3];
    return true;
}

bool is_bridge(const UsbId& id)
{
    return id.prefix != "USBU";
}

std::string hex4(uint16_t v)
{
    char b[8];
    std::snprintf(b, sizeof b, "%04X", v);
    return b;
}

std::string format(const UsbId& id)
{
    return id.prefix + ':' + hex4(id.vid) + ':' + hex4(id.pid) + ':' + id.location +
           (id.serial.empty() ? "" : ':' + id.serial);
}

std::string describe(const UsbId& id)
{
    return (is_bridge(id) ? "USB serial bridge " : "USB instrument ") + id.location +
           (id.serial.empty() ? "" : " (serial " + id.serial + ")");
}

struct Usb
{
    std::mutex m; // ctx life, callback
    libusb_context* ctx = nullptr;
    std::thread events;
    std::atomic<bool> stop{false};
    libusb_hotplug_callback_handle hotplug = 0;
    bool hotplug_on = false;
    comm_usb_changed_t cb = nullptr;
    void* user = nullptr;
};

// Never destroyed: the registry stops its thread however the process ends.
Usb& usb()
{
    static Usb& u = *new Usb;
    return u;
}

int LIBUSB_CALL hotplug_cb(libusb_context*, libusb_device*, libusb_hotplug_event, void*)
{
    Usb& u = usb();
    comm_usb_changed_t cb;
    void* user;
    {
        std::lock_guard<std::mutex> lock(u.m);
        cb = u.cb;
        user = u.user;
    }
    if (cb)
        cb(user);
    return 0; // stay registered
}

std::string location_of(libusb_device* dev)
{
    uint8_t ports[8];
    int n = libusb_get_port_numbers(dev, ports, sizeof ports);
    std::string s = std::to_string(libusb_get_bus_number(dev));
    for (int i = 0; i < n; ++i)
        s += (i ? '.' : '-') + std::to_string(ports[i]);
    return s;
}

std::string string_of(libusb_device* dev, uint8_t index)
{
    if (!index)
        return {};
    libusb_device_handle* h = nullptr;
    if (libusb_open(dev, &h) != 0)
        return {}; // no rights: listed without it
    unsigned char text[128] = {};
    int n = libusb_get_string_descriptor_ascii(h, index, text, sizeof text - 1);
    libusb_close(h);
    return n > 0 ? std::string(reinterpret_cast<char*>(text), static_cast<std::size_t>(n))
                 : std::string();
}

class UsbLink : public Link
{
public:
    UsbLink(asio::io_context& io, const UsbId& params) : io(io), params(params) {}
    ~UsbLink() override
    {
        if (transfer)
            libusb_free_transfer(transfer);
        release();
    }

    void async_open(Done done) override { done(open()); }

    void async_read(uint8_t* buf, std::size_t size, ReadDone done) override
    {
        if (!handle || closing)
            return asio::post(io, [done] { done(asio::error::operation_aborted, 0); });
        if (!transfer)
            transfer = libusb_alloc_transfer(0);
        pending = std::move(done);
        guard.emplace(io.get_executor()); // the I/O thread waits for the completion
        libusb_fill_bulk_transfer(transfer, handle, ep_in, buf, static_cast<int>(size),
                                  &UsbLink::completed, this, 0);
        int r = libusb_submit_transfer(transfer);
        if (r != 0) {
            guard.reset();
            ReadDone d = std::move(pending);
            asio::post(io, [d] { d(io_error(EIO), 0); });
        }
    }

    int write(const uint8_t* data, std::size_t size, int timeout_ms) override
    {
        while (size > 0) {
            int done = 0;
            int chunk = static_cast<int>(std::min<std::size_t>(size, 65536));
            int r = libusb_bulk_transfer(handle, ep_out, const_cast<uint8_t*>(data), chunk, &done,
                                         static_cast<unsigned>(timeout_ms ? timeout_ms : 1));
            if (r == LIBUSB_ERROR_TIMEOUT)
                return COMM_ERR_TIMEOUT;
            if (r != 0)
                return COMM_ERR_IO;
            data += done;
            size -= static_cast<std::size_t>(done);
        }
        return 0;
    }

    // A bulk transfer given a millisecond: what the device took by then.
    long write_some(const uint8_t* data, std::size_t size) override
    {
        int done = 0;
        int chunk = static_cast<int>(std::min<std::size_t>(size, 65536));
        int r = libusb_bulk_transfer(handle, ep_out, const_cast<uint8_t*>(data), chunk, &done, 1);
        if (r != 0 && r != LIBUSB_ERROR_TIMEOUT)
            return COMM_ERR_IO;
        return done;
    }

    void close() override
    {
        closing = true;
        if (guard) // a read is in flight: release the device once it completes
            libusb_cancel_transfer(transfer);
        else
            release();
    }

private:
    static void LIBUSB_CALL completed(libusb_transfer* t)
    {
        // On the libusb event thread.
        auto* self = static_cast<UsbLink*>(t->user_data);
        std::error_code ec;
        if (t->status == LIBUSB_TRANSFER_CANCELLED)
            ec = asio::error::operation_aborted;
        else if (t->status != LIBUSB_TRANSFER_COMPLETED)
            ec = io_error(EIO);
        std::size_t n = static_cast<std::size_t>(t->actual_length);
        asio::post(self->io, [self, ec, n] {
            ReadDone d = std::move(self->pending);
            self->guard.reset();
            if (self->closing)
                self->release();
            d(ec, n);
        });
    }

    std::error_code open()
    {
        Usb& u = usb();
        if (!u.ctx)
            return asio::error::no_such_device;
        libusb_device** list = nullptr;
        ssize_t n = libusb_get_device_list(u.ctx, &list);
        libusb_device* found = nullptr;
        for (ssize_t i = 0; i < n && !found; ++i) {
            libusb_device_descriptor d;
            if (libusb_get_device_descriptor(list[i], &d) == 0 && d.idVendor == params.vid &&
                d.idProduct == params.pid && location_of(list[i]) == params.location)
                found = list[i];
        }
        int r = found ? libusb_open(found, &handle) : LIBUSB_ERROR_NO_DEVICE;
        if (r == 0 && !find_interface(found))
            r = LIBUSB_ERROR_NOT_FOUND;
        if (n >= 0)
            libusb_free_device_list(list, 1);
        if (r == 0) {
            libusb_set_auto_detach_kernel_driver(handle, 1);
            r = libusb_claim_interface(handle, iface);
            claimed = r == 0;
        }
        if (r != 0) {
            release();
            return r == LIBUSB_ERROR_ACCESS ? asio::error::access_denied
                                            : asio::error::no_such_device;
        }
        return {};
    }

    // The first interface with a bulk endpoint each way is the instrument's.
    bool find_interface(libusb_device* dev)
    {
        libusb_config_descriptor* cfg = nullptr;
        if (libusb_get_active_config_descriptor(dev, &cfg) != 0)
            return false;
        bool ok = false;
        for (int i = 0; i < cfg->bNumInterfaces && !ok; ++i) {
            if (cfg->interface[i].num_altsetting < 1)
                continue;
            const libusb_interface_descriptor& alt = cfg->interface[i].altsetting[0];
            uint8_t in = 0, out = 0;
            for (int e = 0; e < alt.bNumEndpoints; ++e) {
                const libusb_endpoint_descriptor& ep = alt.endpoint[e];
                if ((ep.bmAttributes & LIBUSB_TRANSFER_TYPE_MASK) != LIBUSB_TRANSFER_TYPE_BULK)
                    continue;
                (ep.bEndpointAddress & LIBUSB_ENDPOINT_IN ? in : out) = ep.bEndpointAddress;
            }
            if (in && out) {
                iface = alt.bInterfaceNumber;
                ep_in = in;
                ep_out = out;
                ok = true;
            }
        }
        libusb_free_config_descriptor(cfg);
        return ok;
    }

    void release()
    {
        if (!handle)
            return;
        if (claimed)
            libusb_release_interface(handle, iface);
        claimed = false;
        libusb_close(handle);
        handle = nullptr;
    }

    asio::io_context& io;
    UsbId params;
    libusb_device_handle* handle = nullptr;
    libusb_transfer* transfer = nullptr;
    ReadDone pending;
    std::optional<asio::executor_work_guard<asio::io_context::executor_type>> guard;
    int iface = 0;
    uint8_t ep_in = 0, ep_out = 0;
    bool claimed = false;
    bool closing = false;
};

// A listed bridge opens at the instrument's own line settings.
const SerialLine bridge_line{38400, 8, 1, 0, 0};

std::unique_ptr<Link> create(asio::io_context& io, const UsbId& id)
{
    if (is_bridge(id))
        return ftdi_link(io, id.location, id.serial, bridge_line);
    return std::make_unique<UsbLink>(io, id);
}

using Functions = MediumFunctions<UsbId, parse, format, describe, create>;

} // namespace

const Medium usb_medium = Functions::medium("usb", {"USBU", "USBF", "USBS"});

bool read_usb_id(const char* text, UsbId& out)
{
    ConnParams c;
    if (parse_conn_string(text, c) != 0 || c.medium != &usb_medium)
        return false;
    out = Functions::of(c);
    return true;
}

int put_usb_id(char* out, const char* prefix, uint16_t vid, uint16_t pid,
               const std::string& location, const std::string& serial)
{
    UsbId id{prefix, vid, pid, location, {}};
    // A serial number with separators or spaces cannot be a field: leave it out.
    if (serial.find_first_of(": \t") == std::string::npos)
        id.serial = serial;
    return put_conn_string(out, format(id));
}

void usb_start()
{
    Usb& u = usb();
    std::lock_guard<std::mutex> lock(u.m);
    if (u.ctx || libusb_init(&u.ctx) != 0) {
        return; // no USB here: listing finds nothing
    }
    if (libusb_has_capability(LIBUSB_CAP_HAS_HOTPLUG))
        u.hotplug_on =
            libusb_hotplug_register_callback(
                u.ctx,
                static_cast<libusb_hotplug_event>(LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED |
                                                  LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT),
                LIBUSB_HOTPLUG_NO_FLAGS, LIBUSB_HOTPLUG_MATCH_ANY, LIBUSB_HOTPLUG_MATCH_ANY,
                LIBUSB_HOTPLUG_MATCH_ANY, hotplug_cb, nullptr, &u.hotplug) == LIBUSB_SUCCESS;
    u.stop = false;
    libusb_context* ctx = u.ctx;
    u.events = std::thread([ctx] {
        while (!usb().stop) {
            timeval tv{0, 200000};
            libusb_handle_events_timeout_completed(ctx, &tv, nullptr);
        }
    });
}

void usb_stop()
{
    Usb& u = usb();
    std::unique_lock<std::mutex> lock(u.m);
    if (!u.ctx)
        return;
    if (u.hotplug_on)
        libusb_hotplug_deregister_callback(u.ctx, u.hotplug);
    u.hotplug_on = false;
    u.stop = true;
    lock.unlock(); // a hot-plug report may be waiting for the lock
    libusb_interrupt_event_handler(u.ctx);
    u.events.join();
    lock.lock();
    libusb_exit(u.ctx);
    u.ctx = nullptr;
}

} // namespace comm

extern "C" {

int comm_usb_register(comm_usb_changed_t cb, void* user)
{
    comm::Usb& u = comm::usb();
    std::lock_guard<std::mutex> lock(u.m);
    u.cb = cb;
    u.user = user;
    return 0;
}

int comm_usb_deregister(void)
{
    return comm_usb_register(nullptr, nullptr);
}

int comm_list_devices_usb(char (*out)[COMM_STRING_SIZE], int max, int* count, const char* filter1,
                          const char* filter2, uint16_t vid1, uint16_t vid2, uint16_t pid1,
                          uint16_t pid2)
{
    if (!count || max < 0 || (max > 0 && !out))
        return COMM_ERR_ARG;
    *count = 0;
    comm::Usb& u = comm::usb();
    std::lock_guard<std::mutex> lock(u.m);
    if (!u.ctx)
        return 0; // no USB subsystem: nothing attached
    libusb_device** list = nullptr;
    ssize_t n = libusb_get_device_list(u.ctx, &list);
    if (n < 0)
        return 0;
    for (ssize_t i = 0; i < n && *count < max; ++i) {
        libusb_device_descriptor d;
        if (libusb_get_device_descriptor(list[i], &d) != 0)
            continue;
        // Each vendor/product pair has its filter: text the product name must contain.
        const char* filter = nullptr;
        if (d.idVendor == vid1 && d.idProduct == pid1)
            filter = filter1;
        else if (d.idVendor == vid2 && d.idProduct == pid2)
            filter = filter2;
        else
            continue;
        if (filter && *filter &&
            comm::string_of(list[i], d.iProduct).find(filter) == std::string::npos)
            continue;
        if (comm::put_usb_id(out[*count], d.idProduct == comm::ftdi_pid ? "USBF" : "USBU",
                             d.idVendor, d.idProduct, comm::location_of(list[i]),
                             comm::string_of(list[i], d.iSerialNumber)) == 0)
            ++*count;
    }
    libusb_free_device_list(list, 1);
    return 0;
}

int comm_make_conn_string_usb(char* out, const char* usb_id, uint16_t vid, uint16_t pid, int flags)
{
    (void)flags; // no options yet
    comm::UsbId given;
    if (!comm::read_usb_id(usb_id, given)) {
        // A bare location ("3-1.2") is accepted too.
        if (!usb_id || !*usb_id || std::strchr(usb_id, ':'))
            return comm::put_nothing(out);
        given.location = usb_id;
    }
    const char* prefix = pid == comm::ftdi_pid ? "USBF" : "USBU";
    return comm::put_conn_string(out,
                                 comm::format({prefix, vid, pid, given.location, given.serial}));
}

} // extern "C"
