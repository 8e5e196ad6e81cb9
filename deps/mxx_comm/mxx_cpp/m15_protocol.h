// M15Protocol: the oldest spectrometric probes' command set and their
// spectra as a Qt signal, made from m15_commands.def and M15_EVENTS.
#pragma once

#include "family_methods.h"
#include "protocol.h"
#include "protocol_events.h"
#include "spectrum.h"

#include <m15_comm.h>

#include <memory>

// The spectrum, and the totals and button presses, which nothing here shows.
#define M15_EVENTS(X, F)                                                                           \
    X(F, 2020, PROBE_SPECTRUM, spectrumData, ())                                                   \
    X(F, 2030, IGNORED, , ())                                                                      \
    X(F, 2105, IGNORED, , ())

class M15Protocol : public Protocol
{
    Q_OBJECT

public:
    M15Protocol() { registerEventTypes(); }

    int type() const override { return MXX_TYPE_M15; }
    bool receiveData(QVariant& data) override;

    // A method per M15_METHOD row of m15_commands.def: getSWVersion is empty
    // when the instrument did not answer, startMeas(0) measures until stopped.
#ifndef Q_MOC_RUN
#define MXX_METHODS_FAMILY M15
#define M15_COMMAND MXX_NO_METHOD
#define M15_METHOD MXX_DECLARE_COMMAND_METHOD
#include <m15_commands.def>
#undef M15_COMMAND
#undef MXX_METHODS_FAMILY
#endif

signals:
    M15_EVENTS(MXX_EVENT_SIGNAL, M15)

protected:
    void hookEvents(int connection) override;

private:
    static void registerEventTypes();
};
