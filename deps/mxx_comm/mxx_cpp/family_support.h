// What the protocol objects of the families M15 to M48 share beyond
// protocol_bytes.h and protocol_events.h: the small requests and answers of
// their command sets, M20's and M21's named files, model-name tables, and
// their spectrum payloads.
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
using VaryingInCommand = int (*)(int conn, const void* request, int size, int wait);
using InVaryingOutCommand = int (*)(int conn, const void* request, void* response,
                                    uint32_t* response_size, int wait);

inline bool run(NoneCommand command, int conn)
{
    return command(conn, 1) == 0;
}

// Records pass through whole; a settable block is the first `size` bytes of
// the record the instrument answers.
template <class Record> bool readRecord(OutCommand command, int conn, Record& record)
{
    return command(conn, record.bytes, 1) == 0;
}
template <class Record> bool writeRecord(InCommand command, int conn, const Record& record)
{
    return command(conn, record.bytes, 1) == 0;
}
template <class Record> bool readEntry(InOutCommand command, int conn, int index, Record& record)
{
    uint8_t request[4];
    MXX_put_u32(request, static_cast<uint32_t>(index));
    return command(conn, request, record.bytes, 1) == 0;
}

// A u32 index, then the record.
template <class Record>
bool writeEntry(InCommand command, int conn, int index, const Record& record)
{
    uint8_t request[4 + sizeof record.bytes];
    MXX_put_u32(request, static_cast<uint32_t>(index));
    std::memcpy(request + 4, record.bytes, sizeof record.bytes);
    return command(conn, request, 1) == 0;
}

// One little-endian value. Values outside an unsigned field's range are
// refused, with nothing sent, rather than cut to fit.
bool readU16(OutCommand command, int conn, int& value);
bool readI16(OutCommand command, int conn, int& value);
bool readI32(OutCommand command, int conn, int& value);
bool readF32(OutCommand command, int conn, float& value);
// An i16 in tenths (a temperature), as a float.
bool readTenths(OutCommand command, int conn, float& value);
// `n` u16 values (voltages in millivolts).
bool readU16s(OutCommand command, int conn, int* values, int n);
bool writeU8(InCommand command, int conn, int value);
bool writeU16(InCommand command, int conn, int value);
bool writeI32(InCommand command, int conn, int value);
bool writeF32(InCommand command, int conn, float value);
// A u16 in (a channel), a u16 out.
bool queryU16(InOutCommand command, int conn, int in, int& out);

// Energy calibration: three f32 a, b, c with keV = a + b·channel + c·channel².
bool readCalibration(OutCommand command, int conn, float& a, float& b, float& c);
bool writeCalibration(InCommand command, int conn, float a, float b, float c);

// A command whose answer is a text field of `Field` bytes; empty on failure.
template <size_t Field> QString readText(OutCommand command, int conn)
{
    uint8_t text[Field] = {};
    command(conn, text, 1);
    return mxx_marshal::textAt(text, Field);
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

// Spectrum payloads. Handlers run on the transport thread and never read
// beyond the payload the frame carries (mxx_events::payloadSize).

// `n` channel counts of 16 or 32 bits from `at`, as ints.
QVector<int> counts16(const uint8_t* at, int n);
QVector<int> counts32(const uint8_t* at, int n);
// The u32 counts of a spectrum payload, `n` of them from byte `head` on, the
// last one cleared as in every family's spectra; false when the payload
// cannot hold them.
bool spectrumCounts(const MXX_frame* frame, int head, int n, QVector<int>& channels);
// The spectrum of event 2020 of M15 and M16 (m15_comm.h); null when the
// payload cannot hold its channel count.
std::shared_ptr<Spectrum> probeSpectrum(const MXX_frame* frame);

} // namespace mxx_family
