// M15Protocol: the oldest spectrometric probes' command set and their
// spectra as a Qt signal.
#pragma once

#include "protocol.h"
#include "spectrum.h"

#include <m15_comm.h>

#include <QString>

#include <memory>

class M15Protocol : public Protocol
{
    Q_OBJECT

public:
    M15Protocol();

    int type() const override { return 1; }
    // Hooks the spectrum, totals and button events; the thread is not used.
    void bind(int connection, QThread* thread) override;
    bool receiveData(QVariant& data) override;

    QString getSWVersion(); // empty when the instrument did not answer
    bool getTemperature(float& celsius);
    bool getParam(M15_params& params);
    bool setParam(const M15_params& params);
    bool startMeas(int seconds); // 0: until stopped
    bool stopMeas(bool clear);
    bool set12BitMode(bool on);
    bool testBuzzer();
    bool testButtons(int& buttons);
    bool getVoltage(int channel, int& millivolts);
    bool getCurrent(int channel, int& microamperes);
    bool getAdcOffset(int& offset);
    bool setAdcOffset(int offset);
    bool getHv(int& volts);
    bool setHv(int volts);
    bool setBacklight(int level);
    bool setLld(int channel);
    bool getVoltages(int (&millivolts)[4]);
    bool getEnergyCalib(float& a, float& b, float& c);
    bool setEnergyCalib(float a, float b, float c);

signals:
    void spectrumData(std::shared_ptr<Spectrum> spectrum);
};
