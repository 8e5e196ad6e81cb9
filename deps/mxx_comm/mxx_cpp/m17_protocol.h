// M17Protocol: the service command set every instrument answers: identity,
// clock, model revision, external flash and firmware.
#pragma once

#include "protocol.h"

#include <QDateTime>
#include <QString>

#include <cstdint>

class M17Protocol : public Protocol
{
public:
    // Four bytes; on the wire one u32 whose low byte is byte 0.
    struct Revision
    {
        uint8_t byte[4] = {};
    };

    int type() const override { return 3; }

    QString getFWVersion() const;
    QString getSerial() const; // empty when the instrument did not answer
    bool setSerial(const QString& serial) const;
    bool getTime(QDateTime& time) const;
    bool setTime(const QDateTime& time) const;
    bool getModelRev(Revision& revision) const;
    bool setModelRev(const Revision& revision) const;
    bool eraseExtFlash(int& result) const;
    bool readExtFlash(short page, unsigned char* data) const; // 64 bytes
    // Refused, with nothing sent, when the data does not fit one frame.
    bool writeExtFlash(short page, const unsigned char* data, unsigned int size) const;
    bool flashFW(bool flag, unsigned int value) const;
    bool restart() const; // written without waiting for the answer
};
