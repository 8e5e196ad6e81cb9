// MXXNetSeeker: asks one list server over TCP which instruments it knows.
#pragma once

#include <QAbstractSocket>
#include <QHash>
#include <QObject>
#include <QString>

#include <memory>

class QTcpSocket;

// Device key to its value, as the list server gives them.
using VirtualDeviceList = QHash<QString, QString>;

class MXXNetSeeker : public QObject
{
    Q_OBJECT

public:
    MXXNetSeeker(const QString& host, unsigned short port, QObject* parent = nullptr);
    ~MXXNetSeeker() override;

signals:
    void devicesFound(const QString& host, const VirtualDeviceList& dev_addrs);

public slots:
    // One request per call; a request still running is dropped.
    void seekForDevices();

private slots:
    void connected();
    void connectionError(QAbstractSocket::SocketError error);
    void readDeviceList();

private:
    std::unique_ptr<VirtualDeviceList> devices;
    QTcpSocket* socket;
    QString host;
    unsigned short port;
    unsigned short blockSize = 0;
};
