// M22Protocol: the command set of the spectrometers with their own
// multichannel analyser, and their spectra (M22Spectrum) as a Qt signal.
#pragma once

#include "family_methods.h"
#include "protocol.h"
#include "protocol_events.h"
#include "spectrum.h"

#include <m22_comm.h>

#include <QString>

#include <memory>

// A spectrum with the two totals and the number of the ADC it came from.
class M22Spectrum : public Spectrum
{
    Q_OBJECT
    Q_PROPERTY(uint total1 READ total1 WRITE setTotal1)
    Q_PROPERTY(uint total2 READ total2 WRITE setTotal2)
    Q_PROPERTY(uint adc_num READ adcNum WRITE setAdcNum)

public:
    using Spectrum::Spectrum;

    // Adds as a Spectrum does, then takes the other's totals and ADC number,
    // each where the other has it, in place of its own.
    M22Spectrum& operator+=(const Spectrum& other) override;

    uint total1() const { return m_total1; }
    void setTotal1(uint total) { m_total1 = total; }
    uint total2() const { return m_total2; }
    void setTotal2(uint total) { m_total2 = total; }
    uint adcNum() const { return m_adcNum; }
    void setAdcNum(uint adc) { m_adcNum = adc; }

private:
    uint m_total1 = 0;
    uint m_total2 = 0;
    uint m_adcNum = 0;
};

// The spectrum event, with a hook and a taking of its own (M22Spectrum).
#define M22_EVENTS(X, F) X(F, 8350, CUSTOM, , (detail::M22SpectrumEvent, takeSpectrum))

class M22Protocol : public Protocol
{
    Q_OBJECT

public:
    M22Protocol() { registerEventTypes(); }

    int type() const override { return MXX_TYPE_M22; }
    // Emits spectrumData for an M22Spectrum; other items are not its own.
    bool receiveData(QVariant& data) override;

    // A method per M22_METHOD row: the set methods send their settable
    // blocks, setMeasFlags one byte.
#ifndef Q_MOC_RUN
#define MXX_METHODS_FAMILY M22
#define M22_COMMAND MXX_NO_METHOD
#define M22_METHOD MXX_DECLARE_COMMAND_METHOD
#include <m22_commands.def>
#undef M22_COMMAND
#undef MXX_METHODS_FAMILY
#endif

    bool createRecord(const QString& name); // at most 7 bytes of it are sent

    // The display name of a model number; empty for one not known.
    static QString getModelName(int model);

signals:
    void spectrumData(std::shared_ptr<Spectrum> spectrum);

protected:
    void hookEvents(int connection) override;

private:
    static void registerEventTypes();
    bool takeSpectrum(QVariant& data);
};
