// MXXNetSeeker: asks one list server over TCP which instruments it knows.
#pragma once

#include <QAbstractSocket>
#include <QHash>
#include <QObject>
#include <QString>

#include <memory>

class QIODevice;
class QTcpSocket;

// Device key to its value, as the list server gives them.
using VirtualDeviceList = QHash<QString, QString>;

class MXXNetSeeker : public QObject
{
    Q_OBJECT

public:
    MXXNetSeeker(const QString& host, unsigned short port, QObject* parent = nullptr);
    ~MXXNetSeeker() override;

    // The list server's answer: a big-endian 16-bit size, then a block of that
    // many bytes. Takes the block from `in` once it is all there: 1, with the
    // block; 0 while waiting for more (`blockSize` keeps the size read); -1
    // when `in` delivered less than it said it had.
    static int takeBlock(QIODevice& in, unsigned short& blockSize, QByteArray& block);
    // The block's "key|value" parts, separated by spaces, into `devices`.
    static void parseDeviceList(QByteArray block, VirtualDeviceList& devices);

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
