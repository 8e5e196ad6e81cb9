#include "family_support.h"

#include <m20_comm.h>

#include <climits>

namespace mxx_family {

using mxx_events::payloadSize;
using mxx_marshal::putText;

namespace {

template <size_t N> using Bytes = std::array<uint8_t, N>;

bool fits(int value, int max)
{
    return value >= 0 && value <= max;
}

} // namespace

bool readU16(OutCommand command, int conn, int& value)
{
    Bytes<2> answer{};
    if (command(conn, answer.data(), 1) != 0)
        return false;
    value = MXX_get_u16(answer.data());
    return true;
}

bool readI16(OutCommand command, int conn, int& value)
{
    int raw = 0;
    if (!readU16(command, conn, raw))
        return false;
    value = static_cast<int16_t>(raw);
    return true;
}

bool readI32(OutCommand command, int conn, int& value)
{
    Bytes<4> answer{};
    if (command(conn, answer.data(), 1) != 0)
        return false;
    value = static_cast<int32_t>(MXX_get_u32(answer.data()));
    return true;
}

bool readF32(OutCommand command, int conn, float& value)
{
    Bytes<4> answer{};
    if (command(conn, answer.data(), 1) != 0)
        return false;
    value = MXX_get_f32(answer.data());
    return true;
}

bool readTenths(OutCommand command, int conn, float& value)
{
    int tenths = 0;
    if (!readI16(command, conn, tenths))
        return false;
    value = static_cast<float>(tenths / 10.0);
    return true;
}

bool readU16s(OutCommand command, int conn, int* values, int n)
{
    uint8_t answer[2 * 16] = {};
    Q_ASSERT(n <= 16);
    if (command(conn, answer, 1) != 0)
        return false;
    for (int i = 0; i < n; ++i)
        values[i] = MXX_get_u16(answer + 2 * i);
    return true;
}

bool writeU8(InCommand command, int conn, int value)
{
    if (!fits(value, UINT8_MAX))
        return false;
    const uint8_t request = static_cast<uint8_t>(value);
    return command(conn, &request, 1) == 0;
}

bool writeU16(InCommand command, int conn, int value)
{
    if (!fits(value, UINT16_MAX))
        return false;
    Bytes<2> request;
    MXX_put_u16(request.data(), static_cast<uint16_t>(value));
    return command(conn, request.data(), 1) == 0;
}

bool writeI32(InCommand command, int conn, int value)
{
    Bytes<4> request;
    MXX_put_u32(request.data(), static_cast<uint32_t>(value));
    return command(conn, request.data(), 1) == 0;
}

bool writeF32(InCommand command, int conn, float value)
{
    Bytes<4> request;
    MXX_put_f32(request.data(), value);
    return command(conn, request.data(), 1) == 0;
}

bool queryU16(InOutCommand command, int conn, int in, int& out)
{
    if (!fits(in, UINT16_MAX))
        return false;
    Bytes<2> request, answer{};
    MXX_put_u16(request.data(), static_cast<uint16_t>(in));
    if (command(conn, request.data(), answer.data(), 1) != 0)
        return false;
    out = MXX_get_u16(answer.data());
    return true;
}

bool readCalibration(OutCommand command, int conn, float& a, float& b, float& c)
{
    Bytes<12> answer{};
    if (command(conn, answer.data(), 1) != 0)
        return false;
    a = MXX_get_f32(answer.data());
    b = MXX_get_f32(answer.data() + 4);
    c = MXX_get_f32(answer.data() + 8);
    return true;
}

bool writeCalibration(InCommand command, int conn, float a, float b, float c)
{
    Bytes<12> request;
    MXX_put_f32(request.data(), a);
    MXX_put_f32(request.data() + 4, b);
    MXX_put_f32(request.data() + 8, c);
    return command(conn, request.data(), 1) == 0;
}

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

QVector<int> counts16(const uint8_t* at, int n)
{
    QVector<int> counts(n);
    for (int i = 0; i < n; ++i)
        counts[i] = MXX_get_u16(at + 2 * i);
    return counts;
}

QVector<int> counts32(const uint8_t* at, int n)
{
    QVector<int> counts(n);
    for (int i = 0; i < n; ++i)
        counts[i] = static_cast<int>(MXX_get_u32(at + 4 * i));
    return counts;
}

bool spectrumCounts(const MXX_frame* frame, int head, int n, QVector<int>& channels)
{
    const int size = payloadSize(frame);
    if (size < head || n > (size - head) / 4)
        return false;
    channels = counts32(frame->payload + head, n);
    if (!channels.isEmpty())
        channels.last() = 0;
    return true;
}

std::shared_ptr<Spectrum> probeSpectrum(const MXX_frame* frame)
{
    constexpr int kHead = 16;
    const uint8_t* p = frame->payload;
    QVector<int> channels;
    if (payloadSize(frame) < kHead || !spectrumCounts(frame, kHead, MXX_get_u16(p + 12), channels))
        return nullptr;
    auto spectrum = std::make_shared<Spectrum>(channels, MXX_get_u32(p), MXX_get_u32(p + 4),
                                               MXX_get_u32(p + 8), MXX_get_u16(p + 14), 0.0f);
    spectrum->setType(1);
    return spectrum;
}

} // namespace mxx_family
