// Marshalling shared by the protocol objects: texts in fixed fields, i32
// answers, and the status byte an answer hands out.
#pragma once

#include <mxx_bytes.h>

#include <QByteArray>
#include <QString>

#include <array>
#include <climits>
#include <cstddef>
#include <cstdint>

namespace mxx_marshal {

constexpr uint32_t kNoFrame = UINT32_MAX; // a status byte never reads as this

using Word = std::array<uint8_t, 4>;

// The text's UTF-8 bytes, cut at the field and NUL-padded.
inline void putText(uint8_t* at, size_t field, const QString& text)
{
    const QByteArray utf8 = text.toUtf8();
    MXX_put_text(at, field, utf8.constData(), static_cast<size_t>(utf8.size()));
}

// A field's text, up to its first NUL.
inline QString textAt(const uint8_t* at, size_t field)
{
    size_t n = 0;
    while (n < field && at[n])
        ++n;
    return QString::fromUtf8(reinterpret_cast<const char*>(at), static_cast<int>(n));
}

// A text request of `Field` bytes.
template <size_t Field> std::array<uint8_t, Field> textRequest(const QString& text)
{
    std::array<uint8_t, Field> r;
    putText(r.data(), Field, text);
    return r;
}

// The answer's status byte reaches the caller whenever a frame was taken.
// `status` is read here, after the command has run.
inline bool withStatus(int result, const uint32_t& status, int& out)
{
    if (status != kNoFrame)
        out = static_cast<int>(status);
    return result == 0;
}

// A 4-byte answer read as one i32 into `out`, on success only.
inline bool intAnswer(int result, const Word& answer, int& out)
{
    if (result != 0)
        return false;
    out = static_cast<int32_t>(MXX_get_u32(answer.data()));
    return true;
}

// A variable amount of bytes, at most `length`: `read(destination,
// &received)` fills them; `data` gets what came, on success only.
template <class Read> bool readInto(QByteArray& data, uint32_t length, Read read)
{
    if (length > static_cast<uint32_t>(INT_MAX))
        return false;
    QByteArray bytes(static_cast<int>(length), 0);
    uint32_t got = 0;
    if (read(bytes.data(), &got) != 0)
        return false;
    bytes.truncate(static_cast<int>(got));
    data = bytes;
    return true;
}

// A model's display name from a family's table by model number.
template <size_t N> QString modelName(const char* const (&names)[N], const char* family, int model)
{
    if (model >= 0 && static_cast<size_t>(model) < N)
        return QString::fromLatin1(names[model]);
    return QStringLiteral("%1 (model %2)").arg(QLatin1String(family)).arg(model);
}

} // namespace mxx_marshal
