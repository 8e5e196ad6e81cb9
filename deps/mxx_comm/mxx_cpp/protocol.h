// Protocol: the Qt-side handle of one instrument command set, bound to one
// open connection of the command layer.
#pragma once

#include <QObject>
#include <QVariant>

#include <atomic>

class QThread;

class Protocol : public QObject
{
    Q_OBJECT

public:
    Protocol();

    virtual void bind(int connection, QThread* thread);
    virtual void unbind();
    virtual int type() const = 0;

    bool isBound() const { return m_connection != -1; }
    int connection() const { return m_connection; }
    // Asks the command layer to close the bound connection; the device
    // unbinds the protocols once it has closed.
    bool disconnectDevice();

signals:
    void bindStateChanged(bool is_bound);

public slots:
    virtual bool receiveData(QVariant& data);

private:
    // Read by a thread that issues commands while the device unbinds on the
    // main thread.
    std::atomic<int> m_connection{-1};
};
