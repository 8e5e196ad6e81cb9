// M24Protocol: the test command, the numbered items of the data buffer
// (status, parameters, MCA parameters, memory), and the MCA spectrum event.
#pragma once

#include "family_methods.h"
#include "protocol.h"
#include "protocol_events.h"

#include <m24_comm.h>

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <memory>

// The MCA spectrum event.
#define M24_EVENTS(X, F) X(F, M24_SPECTRUM_EVENT, RECORD, spectrumData, (mca_spect))

class M24Protocol : public Protocol
{
    Q_OBJECT

public:
    M24Protocol() { registerEventTypes(); }

    int type() const override { return MXX_TYPE_M24; }
    bool receiveData(QVariant& data) override;

    static QString getModelName(int model);

    // A method per M24_METHOD row: the fixed-size items, whole.
#ifndef Q_MOC_RUN
#define MXX_METHODS_FAMILY M24
#define M24_COMMAND MXX_NO_METHOD
#define M24_METHOD MXX_DECLARE_COMMAND_METHOD
#include <m24_commands.def>
#undef M24_COMMAND
#undef MXX_METHODS_FAMILY
#endif

    // Sends the block and puts the instrument's answer in its place.
    bool test(M24_test_data& data);
    bool readMemory(uint32_t address, uint32_t length, QByteArray& data);
    bool writeMemory(uint32_t address, const QByteArray& data);
    // Any item by number: at most `maxLength` bytes of it.
    bool dataBuffRead(uint32_t item, uint32_t argument1, uint32_t argument2, uint32_t maxLength,
                      QByteArray& data);
    bool dataBuffWrite(uint32_t item, uint32_t argument1, uint32_t argument2,
                       const QByteArray& data);

signals:
    M24_EVENTS(MXX_EVENT_SIGNAL, M24)

protected:
    void hookEvents(int connection) override;

private:
    static void registerEventTypes();
};

M24_EVENTS(MXX_EVENT_METATYPE, M24)
