#include "mxx_seeker.h"

#include <mxx_comm.h>

#include <QTimer>

#include <cstring>
#include <stdexcept>

namespace {

const int kNetTickMs = 500;
const int kTicksPerBroadcast = 16; // one discovery request every 8 s
const int kMaxUsbDevices = 255;
const char* const kBroadcastAddress = "255.255.255.255";
const int kDiscoveryPort = 4455;

// A fixed-size text field that need not hold a NUL.
QString fieldText(const char* field, std::size_t size)
{
    return QString::fromUtf8(field, static_cast<int>(strnlen(field, size)));
}

namespace detail {

// The transport's callbacks; `user` is the seeker.
void MXXSeekerDeviceListChanged(void* user)
{
    static_cast<MXXSeeker*>(user)->emitDeviceUSBListChanged();
}

void MXXSeekerDiscoverProc(comm_bt_inquiry_result_t* results, int count, int done, void* user)
{
    BTDeviceList list;
    for (int i = 0; results && i < count; ++i)
        list.emplace_back(fieldText(results[i].name, sizeof results[i].name),
                          fieldText(results[i].address, sizeof results[i].address));
    static_cast<MXXSeeker*>(user)->emitDiscoveredBTDevices(list, done != 0);
}

int MXX_event_net_broadcast(void* data, int length, void*)
{
    MXX_broadcast_event_proc(static_cast<const uint8_t*>(data), length);
    return 0;
}

} // namespace detail
} // namespace

MXXSeeker::MXXSeeker() : timer(new QTimer)
{
    if (MXX_init(nullptr, detail::MXXSeekerDeviceListChanged, this) != 0) {
        MXX_shut(); // the transport may have started before the hot-plug registration failed
        delete timer;
        throw std::runtime_error("MXX initialization failed!");
    }
}

MXXSeeker::~MXXSeeker()
{
    timer->stop();
    delete timer;
    MXX_net_broadcast_deregister();
    MXX_shut();
}

void MXXSeeker::listUSBDevices(std::vector<QString>& devices) const
{
    devices.clear();
    std::vector<char> storage(static_cast<std::size_t>(kMaxUsbDevices) * COMM_STRING_SIZE);
    auto ids = reinterpret_cast<char(*)[COMM_STRING_SIZE]>(storage.data());
    int count = 0;
    if (MXX_list_usb_devices(ids, kMaxUsbDevices, &count) != 0)
        return;
    for (int i = 0; i < count && i < kMaxUsbDevices; ++i)
        devices.push_back(fieldText(ids[i], COMM_STRING_SIZE));
}

bool MXXSeeker::isBTAvailable() const
{
    return comm_bt_is_available() != 0;
}

void MXXSeeker::emitDiscoveredBTDevices(const BTDeviceList& devices, bool done)
{
    emit discoveredBTDevices(devices, done);
}

void MXXSeeker::emitDeviceUSBListChanged()
{
    emit deviceUSBListChanged();
}

void MXXSeeker::discoverBT()
{
    // An inquiry that cannot start reports nothing; say it is over, so a
    // waiting search button comes back.
    if (MXX_comm_bt_discover(detail::MXXSeekerDiscoverProc, this) != 0)
        emit discoveredBTDevices(BTDeviceList(), true);
}

void MXXSeeker::cancelDiscoverBT()
{
    MXX_comm_bt_discover_cancel();
}

void MXXSeeker::discoverNet()
{
    connect(timer, &QTimer::timeout, this, &MXXSeeker::updateNetList, Qt::UniqueConnection);
    timer->setInterval(kNetTickMs);
    MXX_net_broadcast_register(detail::MXX_event_net_broadcast, nullptr);
}

void MXXSeeker::cancelDiscoverNet()
{
    MXX_net_broadcast_deregister();
}

void MXXSeeker::settingsChanged(QStringList) {}

void MXXSeeker::setEnabledNetTimer(bool status)
{
    if (status)
        timer->start();
    else
        timer->stop();
}

void MXXSeeker::updateNetList()
{
    ++tick;
    QStringList list;
    MXX_message_list answers;
    MXX_broadcast_list(&answers);
    int count = qBound(0, answers.count, MXX_MESSAGE_LIST_ENTRIES);
    for (int i = 0; i < count; ++i) {
        const MXX_message_entry& entry = answers.entries[i];
        QString ipv4 = fieldText(entry.ipv4, sizeof entry.ipv4);
        QString ipv6 = fieldText(entry.ipv6, sizeof entry.ipv6);
        if (!ipv4.isEmpty())
            list << ipv4;
        else if (!ipv6.isEmpty())
            list << ipv6;
    }
    if (count > 0)
        emit discoveredNetDevices(list);
    if (tick == kTicksPerBroadcast) {
        tick = 0;
        emit discoveredNetDevices(list);
        MXX_net_broadcast_reset_list();
        MXX_send_broadcast_net_message(kBroadcastAddress, kDiscoveryPort);
    }
}
