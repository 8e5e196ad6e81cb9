// M32Protocol: status, parameters, record deletion and the head information
// as commands; the head parameters, concentration table, energy windows,
// raw card and log information as files of the M23 transfer. No events.
#pragma once

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

    int type() const override { return 13; }

    bool getParams(M32_params& params);
    bool setParams(const M32_params& params);
    bool getStatus(M32_status& status);
    bool deleteRecords(quint32 first, quint32 last);
    // The answer's status byte goes to `status` whenever a frame came.
    bool getHeadInfo(M32_head_info& info, int& status);
    bool setHeadInfo(const M32_head_info& info, int& status);
    bool getHeadParams(M32_head_params& params);
    bool setHeadParams(const M32_head_params& params);
    bool getConcLut(M32_conc_lut& table);
    bool setConcLut(const M32_conc_lut& table);
    bool getIpWindows(QVector<Window>& windows);
    // At most eight windows; more are refused with nothing sent.
    bool setIpWindows(const QVector<Window>& windows);
    // The raw card: its size in bytes, and one 512-byte sector.
    bool getSdRawSize(quint32& bytes);
    bool readSdSector(quint32 sector, QByteArray& data);
    bool getLogInfo(M32_log_info& info);
};
