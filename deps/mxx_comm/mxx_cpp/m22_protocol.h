// M22Protocol: the command set of the spectrometers with their own
// multichannel analyser, and their spectra (M22Spectrum) as a Qt signal.
#pragma once

#include "protocol.h"
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
    void setTotal1(uint v) { m_total1 = v; }
    uint total2() const { return m_total2; }
    void setTotal2(uint v) { m_total2 = v; }
    uint adcNum() const { return m_adcNum; }
    void setAdcNum(uint v) { m_adcNum = v; }

private:
    uint m_total1 = 0;
    uint m_total2 = 0;
    uint m_adcNum = 0;
};

class M22Protocol : public Protocol
{
    Q_OBJECT

public:
    M22Protocol();

    int type() const override { return 6; }
    // Hooks the spectrum event; the thread is not used.
    void bind(int connection, QThread* thread) override;
    // Emits spectrumData for an M22Spectrum; other items are not its own.
    bool receiveData(QVariant& data) override;

    bool getStatus(M22_status& status);
    bool getParams(M22_params& params);
    bool setParams(const M22_params& params); // its settable block
    bool getMcaParams(M22_mca_params& params);
    bool setMcaParams(const M22_mca_params& params); // its settable block
    bool setMeasFlags(int flags);                    // one byte
    bool getLogCount(int& entries);
    bool getLogEntry(int index, M22_log_entry& entry);
    bool clearLogs();
    bool getWp(int& value);
    bool setWp(int value);
    bool getScreen(M22_screen& screen);
    bool createRecord(const QString& name); // at most 7 bytes of it are sent

    // The display name of a model number; empty for one not known.
    static QString getModelName(int model);

signals:
    void spectrumData(std::shared_ptr<Spectrum> spectrum);
};
