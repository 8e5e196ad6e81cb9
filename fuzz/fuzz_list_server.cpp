// The list server's answer to MXXNetSeeker: the size word and the block,
// arriving in pieces of any size, then the block's parts.
#include <mxx_net_seeker.h>

#include <QBuffer>

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider in(data, size);
    QBuffer socket;
    socket.open(QIODevice::ReadWrite);
    unsigned short blockSize = 0;
    QByteArray block;
    int taken = 0;
    while (taken == 0 && in.remaining_bytes() > 0) {
        const std::string piece = in.ConsumeRandomLengthString(512);
        socket.buffer().append(piece.data(), static_cast<int>(piece.size()));
        taken = MXXNetSeeker::takeBlock(socket, blockSize, block);
    }
    if (taken < 0)
        std::abort(); // a buffer never delivers less than it has
    if (taken == 0)
        return 0;
    if (block.size() != blockSize)
        std::abort();
    VirtualDeviceList devices;
    devices.insert(QStringLiteral("\n"), QString()); // an answer replaces the list
    MXXNetSeeker::parseDeviceList(block, devices);
    if (devices.contains(QStringLiteral("\n")) && !block.contains('\n'))
        std::abort();
    for (auto it = devices.cbegin(); it != devices.cend(); ++it)
        if (it.key().contains(QLatin1Char(' ')) || it.key().contains(QLatin1Char('|')) ||
            it.value().contains(QLatin1Char(' ')))
            std::abort();
    return 0;
}
