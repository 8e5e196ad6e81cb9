// The marshalling the protocol objects' methods are made of (family_methods.h
// names one kind of it per table row), M20's and M21's named files,
// model-name tables, and spectrum payloads. Requests and answers have the
// sizes of the family's command table: a value is at the start of its
// request or answer, and the rest of a request is zero.
#pragma once

#include "protocol_bytes.h"
#include "protocol_events.h"
#include "spectrum.h"

#include <mxx_bytes.h>
#include <mxx_comm.h>

#include <QByteArray>
#include <QString>
#include <QVariant>
#include <QVector>

#include <algorithm>
#include <array>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

namespace mxx_family {

// Command functions by form (mxx_command.h), the wait flag last.
using NoneCommand = int (*)(int conn, int wait);
using InCommand = int (*)(int conn, const void* request, int wait);
using OutCommand = int (*)(int conn, void* response, int wait);
using InOutCommand = int (*)(int conn, const void* request, void* response, int wait);
using StatusCommand = int (*)(int conn, uint32_t* status, int wait);
using InStatusCommand = int (*)(int conn, const void* request, uint32_t* status, int wait);
using OutStatusCommand = int (*)(int conn, void* response, uint32_t* status, int wait);
using VaryingInCommand = int (*)(int conn, const void* request, int size, int wait);
using InVaryingOutCommand = int (*)(int conn, const void* request, void* response,
                                    uint32_t* response_size, int wait);

template <int Size> using Bytes = std::array<uint8_t, static_cast<size_t>(Size)>;

// An answer of `Size` bytes, handed to `read` when it came.
template <int Size, class Read> bool readAnswer(OutCommand command, int conn, Read read)
{
    Bytes<Size> answer{};
    if (command(conn, answer.data(), 1) != 0)
        return false;
    read(answer.data());
    return true;
}

// A request of `Size` bytes, zero where `write` puts nothing.
template <int Size, class Write> bool sendRequest(InCommand command, int conn, Write write)
{
    Bytes<Size> request{};
    write(request.data());
    return command(conn, request.data(), 1) == 0;
}

// Both: `write` fills the request, `read` takes the answer when it came.
template <int In, int Out, class Write, class Read>
bool query(InOutCommand command, int conn, Write write, Read read)
{
    Bytes<In> request{};
    Bytes<Out> answer{};
    write(request.data());
    if (command(conn, request.data(), answer.data(), 1) != 0)
        return false;
    read(answer.data());
    return true;
}

// Values outside an unsigned field's range are refused, with nothing sent,
// rather than cut to fit.
inline bool fits(int value, int max)
{
    return value >= 0 && value <= max;
}

inline bool run(NoneCommand command, int conn)
{
    return command(conn, 1) == 0;
}

// Records pass through whole; a settable block is the first bytes of the
// record the instrument answers.
template <class Record> bool readRecord(OutCommand command, int conn, Record& record)
{
    return command(conn, record.bytes, 1) == 0;
}
template <class Record> bool writeRecord(InCommand command, int conn, const Record& record)
{
    return command(conn, record.bytes, 1) == 0;
}

// A u32 index, then (out) the record, or (in) the index and the record.
template <class Record> bool readEntry(InOutCommand command, int conn, int index, Record& record)
{
    uint8_t request[4];
    MXX_put_u32(request, static_cast<uint32_t>(index));
    return command(conn, request, record.bytes, 1) == 0;
}
template <class Record>
bool writeEntry(InCommand command, int conn, int index, const Record& record)
{
    uint8_t request[4 + sizeof record.bytes];
    MXX_put_u32(request, static_cast<uint32_t>(index));
    std::memcpy(request + 4, record.bytes, sizeof record.bytes);
    return command(conn, request, 1) == 0;
}

// A record the caller may leave out (null): the answer is taken all the same.
template <class Record> bool readRecordOptional(OutCommand command, int conn, Record* record)
{
    Record scratch;
    return command(conn, (record ? record : &scratch)->bytes, 1) == 0;
}
// The same with an i32 or a text as the request.
template <int In, class Record>
bool queryRecordOptional(InOutCommand command, int conn, int in, Record* record)
{
    static_assert(In >= 4, "an i32 request");
    Bytes<In> request{};
    MXX_put_u32(request.data(), static_cast<uint32_t>(in));
    Record scratch;
    return command(conn, request.data(), (record ? record : &scratch)->bytes, 1) == 0;
}
template <int In, class Record>
bool queryTextRecordOptional(InOutCommand command, int conn, const QString& in, Record* record)
{
    const auto request = mxx_marshal::textRequest<In>(in);
    Record scratch;
    return command(conn, request.data(), (record ? record : &scratch)->bytes, 1) == 0;
}
// A record the caller must give: nothing is sent for a null one.
template <class Record> bool writeRecordPointer(InCommand command, int conn, const Record* record)
{
    return record && command(conn, record->bytes, 1) == 0;
}

// The answer's status byte reaches `status` whenever a frame was taken.
inline bool readStatus(StatusCommand command, int conn, int& status)
{
    uint32_t byte = mxx_marshal::kNoFrame;
    return mxx_marshal::withStatus(command(conn, &byte, 1), byte, status);
}
template <class Record>
bool readRecordStatus(OutStatusCommand command, int conn, Record& record, int& status)
{
    uint32_t byte = mxx_marshal::kNoFrame;
    return mxx_marshal::withStatus(command(conn, record.bytes, &byte, 1), byte, status);
}
template <class Record>
bool writeRecordStatus(InStatusCommand command, int conn, const Record& record, int& status)
{
    uint32_t byte = mxx_marshal::kNoFrame;
    return mxx_marshal::withStatus(command(conn, record.bytes, &byte, 1), byte, status);
}

// Bytes passed through as they are (a model revision).
template <size_t N> bool readBytes(OutCommand command, int conn, uint8_t (&bytes)[N])
{
    return readAnswer<static_cast<int>(N)>(
        command, conn, [&](const uint8_t* answer) { std::copy(answer, answer + N, bytes); });
}
template <size_t N> bool writeBytes(InCommand command, int conn, const uint8_t (&bytes)[N])
{
    return command(conn, bytes, 1) == 0;
}

// 4-byte words one after another from the start of the answer or request:
// an int as i32, a float as f32.
inline void getWord(const uint8_t* at, int& value)
{
    value = static_cast<int32_t>(MXX_get_u32(at));
}
inline void getWord(const uint8_t* at, float& value)
{
    value = MXX_get_f32(at);
}
inline void putWord(uint8_t* at, int value)
{
    MXX_put_u32(at, static_cast<uint32_t>(value));
}
inline void putWord(uint8_t* at, float value)
{
    MXX_put_f32(at, value);
}
template <int Size, class... Values> bool readWords(OutCommand command, int conn, Values&... values)
{
    static_assert(4 * sizeof...(Values) <= Size, "the answer holds every word");
    return readAnswer<Size>(command, conn, [&](const uint8_t* answer) {
        int at = 0;
        ((getWord(answer + at, values), at += 4), ...);
    });
}
template <int Size, class... Values> bool writeWords(InCommand command, int conn, Values... values)
{
    static_assert(4 * sizeof...(Values) <= Size, "the request holds every word");
    return sendRequest<Size>(command, conn, [&](uint8_t* request) {
        int at = 0;
        ((putWord(request + at, values), at += 4), ...);
    });
}

// A flag as an i32 that is not 0.
template <int Size> bool readFlag(OutCommand command, int conn, bool& on)
{
    int value = 0;
    if (!readWords<Size>(command, conn, value))
        return false;
    on = value != 0;
    return true;
}
template <int Size> bool writeFlag(InCommand command, int conn, bool on)
{
    return writeWords<Size>(command, conn, on ? 1 : 0);
}

// Narrower values at the start: u16, u8, and an i16 in tenths (a
// temperature) as a float.
template <int Size> bool readU16(OutCommand command, int conn, int& value)
{
    static_assert(Size >= 2, "a 2-byte answer");
    return readAnswer<Size>(command, conn,
                            [&](const uint8_t* answer) { value = MXX_get_u16(answer); });
}
template <int Size> bool writeU16(InCommand command, int conn, int value)
{
    static_assert(Size >= 2, "a 2-byte request");
    return fits(value, UINT16_MAX) && sendRequest<Size>(command, conn, [&](uint8_t* request) {
               MXX_put_u16(request, static_cast<uint16_t>(value));
           });
}
template <int Size> bool writeU8(InCommand command, int conn, int value)
{
    static_assert(Size >= 1, "a 1-byte request");
    return fits(value, UINT8_MAX) && sendRequest<Size>(command, conn, [&](uint8_t* request) {
               request[0] = static_cast<uint8_t>(value);
           });
}
template <int Size> bool readTenths(OutCommand command, int conn, float& value)
{
    static_assert(Size >= 2, "a 2-byte answer");
    return readAnswer<Size>(command, conn, [&](const uint8_t* answer) {
        value = static_cast<float>(static_cast<int16_t>(MXX_get_u16(answer)) / 10.0);
    });
}
// As many u16 values as the array holds (voltages in millivolts).
template <int Size, size_t N> bool readU16s(OutCommand command, int conn, int (&values)[N])
{
    static_assert(2 * N <= static_cast<size_t>(Size), "the answer holds every value");
    return readAnswer<Size>(command, conn, [&](const uint8_t* answer) {
        for (size_t i = 0; i < N; ++i)
            values[i] = MXX_get_u16(answer + 2 * i);
    });
}
// A u16 in (a channel), a u16 out.
template <int In, int Out> bool queryU16(InOutCommand command, int conn, int in, int& out)
{
    static_assert(In >= 2 && Out >= 2, "2-byte values");
    return fits(in, UINT16_MAX) &&
           query<In, Out>(
               command, conn,
               [&](uint8_t* request) { MXX_put_u16(request, static_cast<uint16_t>(in)); },
               [&](const uint8_t* answer) { out = MXX_get_u16(answer); });
}
// An i32 in, an i32 out.
template <int In, int Out> bool queryI32(InOutCommand command, int conn, int in, int& out)
{
    static_assert(In >= 4 && Out >= 4, "4-byte values");
    return query<In, Out>(
        command, conn, [&](uint8_t* request) { putWord(request, in); },
        [&](const uint8_t* answer) { getWord(answer, out); });
}

// A text field of the answer's size; empty on failure.
template <int Size> QString readText(OutCommand command, int conn)
{
    Bytes<Size> text{};
    command(conn, text.data(), 1);
    return mxx_marshal::textAt(text.data(), text.size());
}
// A text field of the request's size, cut there and NUL-padded.
template <int Size> bool writeText(InCommand command, int conn, const QString& text)
{
    return command(conn, mxx_marshal::textRequest<Size>(text).data(), 1) == 0;
}

// A list answer: u32 count, then up to `capacity` u32 ids; a count beyond
// the capacity is cut to it.
QVector<uint> idList(const uint8_t* answer, int capacity);
template <class List> bool readIdList(OutCommand command, int conn, QVector<uint>& ids)
{
    List list;
    if (!readRecord(command, conn, list))
        return false;
    ids = idList(list.bytes, (sizeof list.bytes - 4) / 4);
    return true;
}

// Named files of M20 and M21, moved in chunks that carry a 40-byte header
// (name, offset, length). A name longer than its field is refused: cutting it
// would address another file.
bool writeNamedFile(VaryingInCommand write, int conn, const QString& name, const QByteArray& data);
// Reads up to `limit` bytes; the file ends with a chunk shorter than asked for.
bool readNamedFile(InVaryingOutCommand read, int conn, const QString& name, QByteArray& data,
                   int limit);

struct ModelName
{
    int model;
    const char* name;
};
// The display name of `model`, or an empty text for a model not listed.
template <size_t N> QString modelName(const ModelName (&table)[N], int model)
{
    for (const ModelName& m : table)
        if (m.model == model)
            return QString::fromUtf8(m.name);
    return QString();
}

} // namespace mxx_family
