// M32Protocol: status, parameters, record deletion and the head information
// as commands; the head parameters, concentration table, energy windows,
// raw card and log information as files of the M23 transfer. No events.
#pragma once

#include "family_methods.h"
#include "protocol.h"

#include <m32_comm.h>

#include <QByteArray>
#include <QPair>
#include <QVector>

#include <cstdint>

class M32Protocol : public Protocol
{
    Q_OBJECT

public:
    // An energy window: lower and upper channel.
    using Window = QPair<quint32, quint32>;

    int type() const override { return MXX_TYPE_M32; }

    // A method per M32_METHOD and M32_FILE_METHOD row; the head information
    // hands out the answer's status byte whenever a frame came.
#ifndef Q_MOC_RUN
#define MXX_METHODS_FAMILY M32
#define M32_COMMAND MXX_NO_METHOD
#define M32_FILE MXX_NO_METHOD
#define M32_METHOD MXX_DECLARE_COMMAND_METHOD
#define M32_FILE_METHOD MXX_DECLARE_FILE_METHOD
#include <m32_commands.def>
#undef M32_COMMAND
#undef M32_FILE
#undef MXX_METHODS_FAMILY
#endif

    bool deleteRecords(quint32 first, quint32 last);
    bool getIpWindows(QVector<Window>& windows);
    // At most eight windows; more are refused with nothing sent.
    bool setIpWindows(const QVector<Window>& windows);
    // The raw card: its size in bytes, and one 512-byte sector.
    bool getSdRawSize(quint32& bytes);
    bool readSdSector(quint32 sector, QByteArray& data);
};
