/* Bluetooth medium: BlueZ adapter check, inquiry with name look-up on a
 * thread of its own, and RFCOMM stream connections.
 *
 *   bt:ADDRESS[:CHANNEL[:PIN[:TIMEOUT_MS[:NAME]]]]
 *       RFCOMM to ADDRESS (six hex pairs), CHANNEL 1-30 (default 1, always
 *       written): bt:00:11:22:33:44:55:1:5823:60000:My M30.  PIN and
 *       TIMEOUT_MS may be empty.  NAME is the rest of the string, colons and
 *       all, and only for display; PIN is kept for the system's pairing
 *       agent, the library does not pair.
 */
#include "comm_internal.h"

#include <bluetooth/bluetooth.h>
#include <bluetooth/hci.h>
#include <bluetooth/hci_lib.h>
#include <bluetooth/rfcomm.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

namespace comm {
namespace {

struct BtParams
{
    std::string address; // "00:11:22:33:44:55"
    int channel = 1;
    std::string pin;
    int timeout_ms = 0; // 0: the default
    std::string name;
};

bool is_address(const std::string& s)
{
    if (s.size() != 17)
        return false;
    for (std::size_t i = 0; i < s.size(); ++i)
        if (i % 3 == 2 ? s[i] != ':' : !std::isxdigit(static_cast<unsigned char>(s[i])))
            return false;
    return true;
}

bool parse(const std::string&, const std::string& rest, BtParams& p)
{
    if (rest.size() < 17 || !is_address(rest.substr(0, 17)))
        return false;
    p.address = rest.substr(0, 17);
    if (rest.size() == 17)
        return true;
    if (rest[17] != ':')
        return false;
    std::vector<std::string> parts = split_fields(rest.substr(18), 4);
    if (!read_number(parts[0], 1, 30, p.channel))
        return false;
    if (parts.size() > 1) {
        p.pin = parts[1];
        if (p.pin.size() > 16 || (!p.pin.empty() && !plain_field(p.pin)))
            return false;
    }
    if (parts.size() > 2 && !parts[2].empty() && !read_number(parts[2], 0, 600000, p.timeout_ms))
        return false;
    if (parts.size() > 3)
        p.name = parts[3];
    return true;
}

// Empty trailing fields are left out.
std::string format(const BtParams& p)
{
    std::string s = "bt:" + p.address + ':' + std::to_string(p.channel);
    if (!p.pin.empty() || p.timeout_ms || !p.name.empty())
        s += ':' + p.pin;
    if (p.timeout_ms || !p.name.empty())
        s += ':' + (p.timeout_ms ? std::to_string(p.timeout_ms) : std::string());
    if (!p.name.empty())
        s += ':' + p.name;
    return s;
}

std::string describe(const BtParams& p)
{
    return p.name.empty() ? "Bluetooth " + p.address
                          : "Bluetooth " + p.name + " (" + p.address + ')';
}

struct Inquiry
{
    std::mutex m;
    std::condition_variable cv;
    std::thread thread;
    bool running = false;
    bool cancel = false;
    int dev = -1;
};

Inquiry& inquiry()
{
    static Inquiry& q = *new Inquiry; // never destroyed: the registry ends its thread at the end
    return q;
}

bool cancelled()
{
    std::lock_guard<std::mutex> lock(inquiry().m);
    return inquiry().cancel;
}

// Every call carries everything found so far; the last one has done set.
void run_inquiry(int dev, uint32_t class_of_device, comm_bt_discover_cb_t cb, void* user)
{
    std::vector<comm_bt_inquiry_result_t> found;
    int dd = hci_open_dev(dev);
    inquiry_info* info = nullptr;
    int n = dd < 0 ? 0 : hci_inquiry(dev, 8, 255, nullptr, &info, IREQ_CACHE_FLUSH); // ~10 s
    for (int i = 0; i < n && !cancelled(); ++i) {
        uint32_t cls = info[i].dev_class[0] | info[i].dev_class[1] << 8 |
                       static_cast<uint32_t>(info[i].dev_class[2]) << 16;
        if (class_of_device && !(cls & class_of_device))
            continue; // shares no class bit with the wanted ones
        comm_bt_inquiry_result_t r{};
        ba2str(&info[i].bdaddr, r.address);
        if (hci_read_remote_name(dd, &info[i].bdaddr, sizeof r.name - 1, r.name, 5000) < 0)
            r.name[0] = '\0';
        found.push_back(r);
        cb(found.data(), static_cast<int>(found.size()), 0, user);
    }
    bt_free(info);
    if (dd >= 0)
        hci_close_dev(dd);
    cb(found.data(), static_cast<int>(found.size()), 1, user);
    Inquiry& q = inquiry();
    {
        std::lock_guard<std::mutex> lock(q.m);
        q.running = false;
    }
    q.cv.notify_all();
}

class BtLink : public StreamLink<asio::posix::stream_descriptor>
{
public:
    BtLink(asio::io_context& io, const BtParams& params)
        : StreamLink(io, true), timer(io), params(params)
    {
    }

    void async_open(Done done) override
    {
        int fd = ::socket(AF_BLUETOOTH, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, BTPROTO_RFCOMM);
        if (fd < 0)
            return done(io_error(errno)); // no Bluetooth here
        sockaddr_rc addr{};
        addr.rc_family = AF_BLUETOOTH;
        addr.rc_channel = static_cast<uint8_t>(params.channel);
        str2ba(params.address.c_str(), &addr.rc_bdaddr);
        int r = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        if (r < 0 && errno != EINPROGRESS) {
            int e = errno;
            ::close(fd);
            return done(io_error(e));
        }
        stream.assign(fd);
        timer.expires_after(std::chrono::milliseconds(
            params.timeout_ms ? params.timeout_ms : default_connect_timeout_ms));
        // The time-out may fire just as the connect completes, or after the
        // link is gone: it acts only while the attempt is still open.
        timer.async_wait([this, settled = settled](std::error_code ec) {
            if (!ec && !*settled)
                stream.cancel(ec); // time-out
        });
        stream.async_wait(asio::posix::stream_descriptor::wait_write, [this,
                                                                       done](std::error_code ec) {
            *settled = true;
            timer.cancel();
            int err = 0;
            socklen_t len = sizeof err;
            if (!ec &&
                ::getsockopt(stream.native_handle(), SOL_SOCKET, SO_ERROR, &err, &len) == 0 && err)
                ec = io_error(err);
            done(ec);
        });
    }

    void interrupt() override
    {
        if (stream.is_open())
            ::shutdown(stream.native_handle(), SHUT_RDWR);
    }

    void close() override
    {
        *settled = true;
        timer.cancel();
        StreamLink::close();
    }

private:
    asio::steady_timer timer;
    BtParams params;
    // Set once the attempt has ended or the link closes (see TcpLink).
    std::shared_ptr<bool> settled = std::make_shared<bool>(false);
};

std::unique_ptr<Link> create(asio::io_context& io, const BtParams& params)
{
    return std::make_unique<BtLink>(io, params);
}

using Functions = MediumFunctions<BtParams, parse, format, describe, create>;

} // namespace

const Medium bt_medium = Functions::medium("bluetooth", {"bt"});

void bt_stop()
{
    comm_bt_discover_wait(0, 1);
    Inquiry& q = inquiry();
    std::thread t;
    {
        std::lock_guard<std::mutex> lock(q.m);
        t = std::move(q.thread);
    }
    if (t.joinable())
        t.join(); // the cancelled inquiry ends within its name look-up time
}

} // namespace comm

extern "C" {

int comm_make_conn_string_bt(char* out, const char* address, const char* name,
                             uint32_t class_of_device, int channel, const char* pin, int timeout_ms)
{
    (void)class_of_device; // only the inquiry filters by class
    comm::BtParams p;
    p.address = address ? address : "";
    p.name = name ? name : "";
    p.channel = channel;
    p.pin = pin ? pin : "";
    p.timeout_ms = timeout_ms;
    // A long name is cut rather than losing the connection string.
    std::size_t fixed = 3 + 17 + 3 + 1 + p.pin.size() + 1 + 6 + 1;
    if (p.name.size() + fixed >= COMM_STRING_SIZE) {
        p.name.resize(COMM_STRING_SIZE - 1 > fixed ? COMM_STRING_SIZE - 1 - fixed : 0);
        while (!p.name.empty() && (static_cast<unsigned char>(p.name.back()) & 0xC0) == 0x80)
            p.name.pop_back(); // no half UTF-8 character
        if (!p.name.empty() && (static_cast<unsigned char>(p.name.back()) & 0x80))
            p.name.pop_back();
    }
    return comm::put_conn_string(out, comm::format(p));
}

int comm_bt_is_available(void)
{
    int dev = hci_get_route(nullptr); // the first adapter that is up
    if (dev < 0)
        return 0;
    hci_dev_info di{};
    if (hci_devinfo(dev, &di) < 0)
        return 0;
    return hci_test_bit(HCI_UP, &di.flags) ? 1 : 0;
}

int comm_bt_discover(comm_bt_discover_cb_t cb, uint32_t class_of_device, void* user)
{
    if (!cb)
        return COMM_ERR_ARG;
    int dev = hci_get_route(nullptr);
    if (dev < 0)
        return COMM_ERR_FAILED; // no adapter: no inquiry, no callback
    comm::Inquiry& q = comm::inquiry();
    std::unique_lock<std::mutex> lock(q.m);
    if (q.running)
        return COMM_ERR_FAILED;
    if (q.thread.joinable()) { // the previous inquiry has ended
        lock.unlock();
        q.thread.join();
        lock.lock();
    }
    q.running = true;
    q.cancel = false;
    q.dev = dev;
    q.thread = std::thread(comm::run_inquiry, dev, class_of_device, cb, user);
    return 0;
}

int comm_bt_discover_cancel(void)
{
    comm::Inquiry& q = comm::inquiry();
    std::lock_guard<std::mutex> lock(q.m);
    if (!q.running)
        return 0;
    q.cancel = true;
    int dd = hci_open_dev(q.dev);
    if (dd >= 0) { // ends the inquiry scan early
        hci_send_cmd(dd, OGF_LINK_CTL, OCF_INQUIRY_CANCEL, 0, nullptr);
        hci_close_dev(dd);
    }
    return 0;
}

int comm_bt_discover_wait(int timeout_ms, int cancel)
{
    comm::Inquiry& q = comm::inquiry();
    {
        std::unique_lock<std::mutex> lock(q.m);
        if (q.cv.wait_for(lock, std::chrono::milliseconds(timeout_ms < 0 ? 0 : timeout_ms),
                          [&] { return !q.running; }))
            return 0;
    }
    if (cancel)
        comm_bt_discover_cancel();
    return COMM_ERR_TIMEOUT;
}

} // extern "C"
