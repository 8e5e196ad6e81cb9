#include "mxx_net_seeker.h"

#include <QTcpSocket>

#include <cstdio>

MXXNetSeeker::MXXNetSeeker(const QString& host, unsigned short port, QObject* parent)
    : QObject(parent), devices(new VirtualDeviceList), socket(new QTcpSocket(this)), host(host),
      port(port)
{
    qRegisterMetaType<QAbstractSocket::SocketError>("QAbstractSocket::SocketError");
    connect(socket, &QTcpSocket::readyRead, this, &MXXNetSeeker::readDeviceList);
    connect(socket, &QTcpSocket::connected, this, &MXXNetSeeker::connected);
    connect(socket, &QTcpSocket::errorOccurred, this, &MXXNetSeeker::connectionError);
}

MXXNetSeeker::~MXXNetSeeker() = default;

void MXXNetSeeker::seekForDevices()
{
    blockSize = 0;
    socket->abort();
    socket->connectToHost(host, port, QIODevice::ReadWrite, QAbstractSocket::AnyIPProtocol);
}

void MXXNetSeeker::connected()
{
    socket->write("list", 5); // with its NUL
}

void MXXNetSeeker::connectionError(QAbstractSocket::SocketError error)
{
    std::printf("Net seeker error %d\n", static_cast<int>(error));
    std::fflush(stdout);
}

int MXXNetSeeker::takeBlock(QIODevice& in, unsigned short& blockSize, QByteArray& block)
{
    if (blockSize == 0) {
        if (in.bytesAvailable() < 2)
            return 0;
        unsigned char head[2];
        if (in.read(reinterpret_cast<char*>(head), 2) != 2)
            return -1;
        blockSize = static_cast<unsigned short>(head[0] << 8 | head[1]);
        // A size of 0 is an empty list, answered at once below.
    }
    if (in.bytesAvailable() < blockSize)
        return 0;
    block = in.read(blockSize);
    return block.size() < blockSize ? -1 : 1;
}

void MXXNetSeeker::parseDeviceList(QByteArray block, VirtualDeviceList& devices)
{
    int end = block.indexOf('\0');
    if (end >= 0)
        block.truncate(end);
    devices.clear();
    const QStringList parts = QString::fromUtf8(block).split(QLatin1Char(' '), Qt::SkipEmptyParts);
    for (const QString& part : parts) {
        const QStringList pieces = part.split(QLatin1Char('|'), Qt::KeepEmptyParts);
        devices.insert(pieces.value(0), pieces.value(1));
    }
}

void MXXNetSeeker::readDeviceList()
{
    QByteArray block;
    const int taken = takeBlock(*socket, blockSize, block);
    if (taken == 0)
        return;
    if (taken < 0) {
        socket->abort();
        return;
    }
    parseDeviceList(block, *devices);
    // One request per connection. Closed before the report, so a receiver
    // may start the next request from it.
    socket->abort();
    emit devicesFound(host, *devices);
}
