// M38Protocol: the command set of the FPGA-based probes, and their spectra
// as Qt signals: each spectrum event gives a 1024-channel and a 256-channel
// spectrum.
#pragma once

#include "protocol.h"
#include "spectrum.h"

#include <m38_comm.h>

#include <memory>

class M38Protocol : public Protocol
{
    Q_OBJECT

public:
    M38Protocol();

    int type() const override { return 16; }
    // Hooks the spectrum and pulse events; the thread is not used.
    void bind(int connection, QThread* thread) override;
    // A spectrum of 256 channels goes to spectrumData256, any other to
    // spectrumData.
    bool receiveData(QVariant& data) override;

    bool getStatus(M38_status& status);
    bool getParams(M38_params& params);
    bool setParams(const M38_params& params);
    bool getFlashInfo(int& pageSize, int& pages, int& id);
    bool eraseFlash();
    bool readFlashPage(int page, M38_flash_page& data);
    bool writeFlashPage(int page, const M38_flash_page& data);
    bool readCoefficients(M38_coefficients& coefficients);
    bool writeCoefficients(const M38_coefficients& coefficients);
    bool commitCoefficients();
    bool getHv(int& volts);
    bool setHv(int volts);
    bool getGain(float& gain);
    bool setGain(float gain);
    bool startMeasurement();
    bool stopMeasurement();
    bool startPulseAcquisition();
    bool stopPulseAcquisition();
    bool energyCalib(float a, float b, float c);

signals:
    void spectrumData(std::shared_ptr<Spectrum> spectrum);
    void spectrumData256(std::shared_ptr<Spectrum> spectrum);
};
