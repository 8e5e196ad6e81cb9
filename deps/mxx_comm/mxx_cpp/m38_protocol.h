// M38Protocol: the command set of the FPGA-based probes, and their spectra
// as Qt signals: each spectrum event gives a 1024-channel and a 256-channel
// spectrum.
#pragma once

#include "family_methods.h"
#include "protocol.h"
#include "protocol_events.h"
#include "spectrum.h"

#include <m38_comm.h>

#include <memory>

// One frame, two spectra, with a hook and a taking of their own; pulse
// records, which nothing here reads.
#define M38_EVENTS(X, F)                                                                           \
    X(F, 9000, CUSTOM, , (detail::M38SpectrumEvent, takeSpectrum))                                 \
    X(F, 9001, IGNORED, , ())

class M38Protocol : public Protocol
{
    Q_OBJECT

public:
    M38Protocol() { registerEventTypes(); }

    int type() const override { return MXX_TYPE_M38; }
    // A spectrum of 256 channels goes to spectrumData256, any other to
    // spectrumData.
    bool receiveData(QVariant& data) override;

    // A method per M38_METHOD row.
#ifndef Q_MOC_RUN
#define MXX_METHODS_FAMILY M38
#define M38_COMMAND MXX_NO_METHOD
#define M38_METHOD MXX_DECLARE_COMMAND_METHOD
#include <m38_commands.def>
#undef M38_COMMAND
#undef MXX_METHODS_FAMILY
#endif

    bool getFlashInfo(int& pageSize, int& pages, int& id);

signals:
    void spectrumData(std::shared_ptr<Spectrum> spectrum);
    void spectrumData256(std::shared_ptr<Spectrum> spectrum);

protected:
    void hookEvents(int connection) override;

private:
    static void registerEventTypes();
    bool takeSpectrum(QVariant& data);
};
