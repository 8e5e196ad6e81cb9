#include "mxx_device.h"

#include "mxx_wait.h"

#include <mdd_comm.h>
#include <mxx_comm.h>

#include <QCoreApplication>
#include <QThread>

#include <cstdio>
#include <mutex>

// One per connection, given to the command layer as its user pointer. It
// outlives the device when the device goes first, and a device that has moved
// on to another connection detaches it, so callbacks and events of a
// connection the device no longer owns change nothing.
struct MXXDeviceLink
{
    std::mutex mutex;
    MXXDevice* device = nullptr;
    std::shared_ptr<MXXDeviceLink> self; // held until the connection's close call

    // Runs `work` on the main thread, if this is still the device's connection then.
    template <class Work> void toDevice(Work work)
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (!device)
            return;
        MXXDevice* d = device;
        QMetaObject::invokeMethod(
            d,
            [d, link = self, work] {
                if (d->m_link == link)
                    work(d);
            },
            Qt::QueuedConnection);
    }

    void post(int protocolType, QVariant& data)
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (device)
            QCoreApplication::postEvent(device, new MXXDeviceEvent(protocolType, data),
                                        Qt::NormalEventPriority);
    }
};

namespace {
namespace detail {

MXXDeviceLink* linkOf(void* user)
{
    return static_cast<MXXDeviceLink*>(user);
}

void MXXDevConnected(int, char*, int type, void* user)
{
    linkOf(user)->toDevice([type](MXXDevice* d) { d->onConnected(type); });
}

void MXXDevConnectionError(int, char*, void* user)
{
    linkOf(user)->toDevice([](MXXDevice* d) { d->onConnectionError(); });
}

// The connection's last call: the link lives on only in what it posted.
void MXXDevDisconnected(int, char*, void* user)
{
    MXXDeviceLink* link = linkOf(user);
    link->toDevice([](MXXDevice* d) { d->onDisconnected(); });
    std::shared_ptr<MXXDeviceLink> last;
    {
        std::lock_guard<std::mutex> lock(link->mutex);
        last = std::move(link->self);
    }
}

void trace(const char* what, const QString& connString)
{
    std::printf("%s %s\n", what, connString.toUtf8().constData());
    std::fflush(stdout);
}

} // namespace detail
} // namespace

MXXDeviceEvent::MXXDeviceEvent(int protocolType, QVariant& data)
    : QEvent(kType), m_protocolType(protocolType), m_data(data)
{
}

MXXDevice::MXXDevice() : m_worker(new QThread)
{
    m_worker->start(QThread::InheritPriority);
    m_worker->moveToThread(m_worker);
}

MXXDevice::~MXXDevice()
{
    m_worker->quit();
    m_worker->wait();
    delete m_worker;
    const int conn = m_connId;
    detachLink();
    dropProtocols();
    if (conn != -1)
        MXX_disconnect(conn);
}

bool MXXDevice::connect(const QString& connString)
{
    return connect(connString, MDD_probe, MDD_test_probe);
}

bool MXXDevice::connect(const QString& connString, MXX_probe_fn probe, MXX_test_fn test)
{
    if (m_link) {
        // Open or opening: close it first. Its callbacks no longer reach this
        // object, so the signals that follow are about the new connection.
        const int old = m_connId;
        detachLink();
        dropProtocols();
        m_type = 0;
        m_connId = -1;
        m_connString.clear();
        MXX_disconnect(old);
    }
    if (!m_worker->isRunning())
        m_worker->start(QThread::InheritPriority);
    auto link = std::make_shared<MXXDeviceLink>();
    link->device = this;
    link->self = link;
    const QByteArray text = connString.toLocal8Bit();
    int conn = -1;
    if (MXX_connect(text.constData(), &conn, detail::MXXDevConnected, detail::MXXDevConnectionError,
                    detail::MXXDevDisconnected, probe, test, link.get()) != 0) {
        link->self.reset();
        return false;
    }
    m_link = std::move(link);
    m_connId = conn;
    m_connString = connString;
    return true;
}

void MXXDevice::disconnect()
{
    if (m_connId != -1)
        MXX_disconnect(m_connId);
}

QString MXXDevice::name() const
{
    if (m_connString.isEmpty())
        return QStringLiteral("Unknown");
    const QByteArray id = m_connString.toUtf8().left(COMM_STRING_SIZE - 1);
    char text[COMM_STRING_SIZE] = {};
    comm_get_devid_string(id.constData(), text);
    text[COMM_STRING_SIZE - 1] = 0;
    return QString::fromUtf8(text);
}

bool MXXDevice::registerProtocol(std::shared_ptr<Protocol> protocol)
{
    if (m_type == 0 || !protocol)
        return false;
    for (const auto& p : m_protocols)
        if (p == protocol)
            return false;
    m_protocols.push_back(protocol);
    protocol->bind(m_connId, m_worker);
    return true;
}

int MXXDevice::onConnected(int type)
{
    detail::trace("connected", m_connString);
    m_type = type;
    emit connected();
    return 0;
}

int MXXDevice::onConnectionError()
{
    detail::trace("connection error", m_connString);
    emit connectionError();
    return 0;
}

int MXXDevice::onDisconnected()
{
    detail::trace("disconnected", m_connString);
    for (const auto& p : m_protocols)
        p->unbind();
    m_worker->quit();
    m_worker->wait();
    m_protocols.clear();
    m_connString.clear();
    m_connId = -1;
    m_type = 0;
    m_link.reset();
    emit disconnected();
    return 0;
}

bool MXXDevice::event(QEvent* e)
{
    if (e->type() != MXXDeviceEvent::kType)
        return QObject::event(e);
    m_pending.append(*static_cast<MXXDeviceEvent*>(e));
    if (m_dispatching || MXXWait::idleLoopActive())
        return true;
    m_dispatching = true;
    while (!m_pending.isEmpty()) {
        MXXDeviceEvent next = m_pending.takeFirst();
        // A receiver may register or drop protocols meanwhile. An item is its
        // family's: another family's object may read the same item types
        // (spectra, tagged values) but not this instrument's events.
        const auto protocols = m_protocols;
        for (const auto& p : protocols)
            if (p->type() == next.protocolType())
                p->receiveData(next.data());
    }
    m_dispatching = false;
    return true;
}

void MXXDevice::post(void* user, int protocolType, QVariant data)
{
    if (user)
        detail::linkOf(user)->post(protocolType, data);
}

void MXXDevice::detachLink()
{
    if (!m_link)
        return;
    {
        std::lock_guard<std::mutex> lock(m_link->mutex);
        m_link->device = nullptr;
    }
    m_link.reset();
}

void MXXDevice::dropProtocols()
{
    for (const auto& p : m_protocols)
        p->unbind();
    m_protocols.clear();
}
