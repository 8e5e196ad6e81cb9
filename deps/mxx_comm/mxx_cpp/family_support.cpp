#include "family_support.h"

#include <m20_comm.h>

#include <climits>

namespace mxx_family {

using mxx_marshal::putText;

QVector<uint> idList(const uint8_t* answer, int capacity)
{
    const uint32_t count = std::min<uint32_t>(MXX_get_u32(answer), static_cast<uint32_t>(capacity));
    QVector<uint> ids(static_cast<int>(count));
    for (uint32_t i = 0; i < count; ++i)
        ids[static_cast<int>(i)] = MXX_get_u32(answer + 4 + 4 * i);
    return ids;
}

namespace {

// The header of one chunk; false when the name does not fit its field.
bool fileHeader(uint8_t* header, const QString& name, uint32_t offset, uint32_t length)
{
    if (name.toUtf8().size() > M20_FILE_NAME)
        return false;
    putText(header, M20_FILE_NAME, name);
    MXX_put_u32(header + M20_FILE_NAME, offset);
    MXX_put_u32(header + M20_FILE_NAME + 4, length);
    return true;
}

} // namespace

bool writeNamedFile(VaryingInCommand write, int conn, const QString& name, const QByteArray& data)
{
    Bytes<M20_FILE_HEADER + M20_FILE_CHUNK> request;
    int offset = 0;
    do { // an empty file is one chunk of no bytes
        const int n = std::min(M20_FILE_CHUNK, static_cast<int>(data.size()) - offset);
        if (!fileHeader(request.data(), name, static_cast<uint32_t>(offset),
                        static_cast<uint32_t>(n)))
            return false;
        std::memcpy(request.data() + M20_FILE_HEADER, data.constData() + offset,
                    static_cast<size_t>(n));
        if (write(conn, request.data(), M20_FILE_HEADER + n, 1) != 0)
            return false;
        offset += n;
    } while (offset < data.size());
    return true;
}

bool readNamedFile(InVaryingOutCommand read, int conn, const QString& name, QByteArray& data,
                   int limit)
{
    QByteArray file;
    Bytes<M20_FILE_HEADER> request;
    Bytes<M20_FILE_CHUNK> chunk;
    while (file.size() < limit) {
        const int wanted = std::min(M20_FILE_CHUNK, limit - static_cast<int>(file.size()));
        if (!fileHeader(request.data(), name, static_cast<uint32_t>(file.size()),
                        static_cast<uint32_t>(wanted)))
            return false;
        uint32_t got = 0; // an empty answer leaves it alone
        if (read(conn, request.data(), chunk.data(), &got, 1) != 0)
            return false;
        if (got > static_cast<uint32_t>(wanted)) // more than asked for: not this file's bytes
            return false;
        file.append(reinterpret_cast<const char*>(chunk.data()), static_cast<int>(got));
        if (got < static_cast<uint32_t>(wanted))
            break;
    }
    data = file;
    return true;
}

} // namespace mxx_family
