// M20Protocol: the command set of the dose-rate meters with a measurement
// log, notes and named files, and their live measurement as a Qt signal,
// made from m20_commands.def and M20_EVENTS. M21Protocol, for their
// successors, is made the same way from its own table.
#pragma once

#include "family_methods.h"
#include "m17_protocol.h"
#include "protocol.h"
#include "protocol_events.h"

#include <m20_comm.h>

#include <QByteArray>
#include <QString>
#include <QVector>

#include <memory>

// The live measurement, M21's as well.
#define M20_EVENTS(X, F) X(F, 9302, RECORD, spectrumData, (live_meas_data))

class M20Protocol : public Protocol
{
    Q_OBJECT

public:
    M20Protocol() { registerEventTypes(); }

    int type() const override { return MXX_TYPE_M20; }
    bool receiveData(QVariant& data) override;

    // A method per M20_METHOD row: setParams sends the settable block,
    // setEvents takes a mask (bit 0: live measurement), writeFile refuses a
    // name longer than its 32-byte field, and readFile leaves `data` alone
    // when a chunk fails.
#ifndef Q_MOC_RUN
#define MXX_METHODS_FAMILY M20
#define M20_COMMAND MXX_NO_METHOD
#define M20_METHOD MXX_DECLARE_COMMAND_METHOD
#include <m20_commands.def>
#undef M20_COMMAND
#undef MXX_METHODS_FAMILY
#endif

    bool getNote(int index, QString& text);

signals:
    M20_EVENTS(MXX_EVENT_SIGNAL, M20)

protected:
    void hookEvents(int connection) override;

private:
    static void registerEventTypes();
};

M20_EVENTS(MXX_EVENT_METATYPE, M20)
