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

void MXXNetSeeker::readDeviceList()
{
    // A block: its size as a big-endian 16-bit word, then that many bytes.
    if (blockSize == 0) {
        if (socket->bytesAvailable() < 2)
            return;
        unsigned char head[2];
        if (socket->read(reinterpret_cast<char*>(head), 2) != 2) {
            socket->abort();
            return;
        }
        blockSize = static_cast<unsigned short>(head[0] << 8 | head[1]);
        // A size of 0 is an empty list, answered at once below.
    }
    if (socket->bytesAvailable() < blockSize)
        return;
    QByteArray block = socket->read(blockSize);
    if (block.size() < blockSize) {
        socket->abort();
        return;
    }
    int end = block.indexOf('\0');
    if (end >= 0)
        block.truncate(end);

    devices->clear();
    const QStringList parts = QString::fromUtf8(block).split(QLatin1Char(' '), Qt::SkipEmptyParts);
    for (const QString& part : parts) {
        const QStringList pieces = part.split(QLatin1Char('|'), Qt::KeepEmptyParts);
        devices->insert(pieces.value(0), pieces.value(1));
    }
    // One request per connection. Closed before the report, so a receiver
    // may start the next request from it.
    socket->abort();
    emit devicesFound(host, *devices);
}
