// M16Protocol: the command set of the probes with a programmable lookup
// table, and their spectra and Geiger and neutron totals as Qt signals, made
// from m16_commands.def and M16_EVENTS.
#pragma once

#include "family_methods.h"
#include "protocol.h"
#include "protocol_events.h"
#include "spectrum.h"

#include <m16_comm.h>

#include <QVector>

#include <memory>

#define M16_EVENTS(X, F)                                                                           \
    X(F, 2020, PROBE_SPECTRUM, spectrumData, ())                                                   \
    X(F, 2031, RECORD, gmNeutData, (gm_neut_total))

class M16Protocol : public Protocol
{
    Q_OBJECT

public:
    M16Protocol() { registerEventTypes(); }

    int type() const override { return MXX_TYPE_M16; }
    bool receiveData(QVariant& data) override;

    // A method per M16_METHOD row of m16_commands.def: getSWVersion is empty
    // when the instrument did not answer, startScan(0) scans until stopped.
#ifndef Q_MOC_RUN
#define MXX_METHODS_FAMILY M16
#define M16_COMMAND MXX_NO_METHOD
#define M16_METHOD MXX_DECLARE_COMMAND_METHOD
#include <m16_commands.def>
#undef M16_COMMAND
#undef MXX_METHODS_FAMILY
#endif

    // Sends a test pattern; true when it came back unchanged.
    bool usbTest();
    // The table must have 256 entries of 0 to 65535 (else nothing is sent);
    // true only when the instrument's checksum of what it took is ours.
    bool writeLut(int slot, const QVector<int>& table);
    // The sum of the entries, modulo 65536, as the instrument computes it.
    static int lutChecksum(const QVector<int>& table);

signals:
    M16_EVENTS(MXX_EVENT_SIGNAL, M16)

protected:
    void hookEvents(int connection) override;

private:
    static void registerEventTypes();
};

M16_EVENTS(MXX_EVENT_METATYPE, M16)
