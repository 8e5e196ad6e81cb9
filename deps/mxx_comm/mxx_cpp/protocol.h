// Protocol: the Qt-side handle of one instrument command set, bound to one
// open connection of the command layer.
#pragma once

#include <mxx_family_id.h>

#include <QObject>
#include <QVariant>

#include <atomic>
#include <mutex>

class QThread;

class Protocol : public QObject
{
    Q_OBJECT

public:
    Protocol();

    virtual void bind(int connection, QThread* thread);
    virtual void unbind();
    // The family whose events this object takes: MXX_TYPE_<family>.
    virtual int type() const = 0;

    bool isBound() const { return m_connection != -1; }
    int connection() const { return m_connection; }
    // Asks the command layer to close the bound connection; the device
    // unbinds the protocols once it has closed.
    bool disconnectDevice();

signals:
    void bindStateChanged(bool is_bound);

public slots:
    // An event item of the object's family (MXXDevice hands it only those):
    // emitted as its signal; true when the item is one of the family's kinds.
    virtual bool receiveData(QVariant& data);

protected:
    // Installs the family's event hooks on the connection being bound; none
    // here.
    virtual void hookEvents(int connection);
    // Every exchange of a method made from the command tables runs holding
    // this (family_methods.h): nothing here, the transfer's lock for M23's.
    std::unique_lock<std::mutex> exchangeGuard() const { return {}; }

private:
    // Read by a thread that issues commands while the device unbinds on the
    // main thread.
    std::atomic<int> m_connection{-1};
};
