// M17Protocol: the service command set every instrument answers: identity,
// clock, model revision, external flash and firmware (m17_commands.def).
#pragma once

#include "family_methods.h"
#include "protocol.h"

#include <m17_comm.h>

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

    int type() const override { return MXX_TYPE_M17; }

    // A const method per M17_METHOD row; the texts are empty when the
    // instrument did not answer.
#define MXX_METHODS_FAMILY M17
#define M17_COMMAND MXX_NO_METHOD
#define M17_METHOD MXX_DECLARE_CONST_COMMAND_METHOD
#include <m17_commands.def>
#undef M17_COMMAND
#undef MXX_METHODS_FAMILY

    bool getTime(QDateTime& time) const;
    bool setTime(const QDateTime& time) const;
    bool eraseExtFlash(int& result) const;
    bool readExtFlash(short page, unsigned char* data) const; // 64 bytes
    // Refused, with nothing sent, when the data does not fit one frame.
    bool writeExtFlash(short page, const unsigned char* data, unsigned int size) const;
    bool flashFW(bool flag, unsigned int value) const;
    bool restart() const; // written without waiting for the answer
};
