// MXXDevice: the Qt-side handle of one instrument connection. It opens the
// connection, learns the family, reports connected / error / disconnected as
// signals on the main thread, keeps the protocol objects registered for the
// connection and hands each item that a family's event hooks post to the
// protocols of that family.
#pragma once

#include "protocol.h"

#include <mxx_comm.h>

#include <QEvent>
#include <QList>
#include <QObject>
#include <QString>
#include <QVariant>

#include <memory>
#include <vector>

class QThread;
struct MXXDeviceLink;

// Carries one event item from a transport thread to the device object,
// tagged with the family (MXX_TYPE_...) of the hook that made it.
class MXXDeviceEvent : public QEvent
{
public:
    static constexpr QEvent::Type kType = static_cast<QEvent::Type>(QEvent::User + 1);

    MXXDeviceEvent(int protocolType, QVariant& data);
    MXXDeviceEvent(const MXXDeviceEvent& other) = default;

    int protocolType() const { return m_protocolType; }
    QVariant& data() { return m_data; }

private:
    int m_protocolType;
    QVariant m_data;
};

class MXXDevice : public QObject
{
    Q_OBJECT

public:
    MXXDevice();
    ~MXXDevice() override;

    // True when the transport accepted the string; the outcome follows as a
    // signal. A connection that is open or opening is closed first. The
    // family walk identifies every family but MVD, which answers only its
    // own query: `probe` and `test` name another identification.
    bool connect(const QString& connString);
    bool connect(const QString& connString, MXX_probe_fn probe, MXX_test_fn test);
    void disconnect();

    int type() const { return m_type; }
    int connId() const { return m_connId; }
    const QString& connString() const { return m_connString; }
    QString name() const;

    // Only while identified, and once per object per connection.
    bool registerProtocol(std::shared_ptr<Protocol> protocol);

    bool event(QEvent* e) override;

    // For family event hooks on a transport thread: posts the item to the
    // device that owns the connection whose user pointer is `user`, if that
    // device still exists.
    static void post(void* user, int protocolType, QVariant data);

signals:
    void connected();
    void connectionError();
    void disconnected();

public slots:
    int onConnected(int type);
    int onConnectionError();
    int onDisconnected();

private:
    friend struct MXXDeviceLink;
    void detachLink();
    void dropProtocols();

    int m_type = 0;
    int m_connId = -1;
    QString m_connString;
    std::vector<std::shared_ptr<Protocol>> m_protocols;
    QList<MXXDeviceEvent> m_pending;
    bool m_dispatching = false;
    QThread* m_worker;
    std::shared_ptr<MXXDeviceLink> m_link; // of the current connection
};
