// Bluetooth medium: BlueZ adapter check, inquiry with name look-up on a
// thread of its own, and RFCOMM stream connections.
#include "comm_internal.h"

#include <bluetooth/bluetooth.h>
#include <bluetooth/hci.h>
#include <bluetooth/hci_lib.h>
#include <bluetooth/rfcomm.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

namespace comm {
namespace {

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
    BtLink(asio::io_context& io, const ConnParams& params)
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
    ConnParams params;
    // Set once the attempt has ended or the link closes (see TcpLink).
    std::shared_ptr<bool> settled = std::make_shared<bool>(false);
};

std::unique_ptr<Link> create(asio::io_context& io, const ConnParams& params)
{
    return std::make_unique<BtLink>(io, params);
}

} // namespace

const Medium bt_medium = {"bluetooth", {"bt", nullptr, nullptr}, nullptr, create};

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
