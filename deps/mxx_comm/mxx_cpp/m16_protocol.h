// M16Protocol: the command set of the probes with a programmable lookup
// table, and their spectra and Geiger and neutron totals as Qt signals.
#pragma once

#include "protocol.h"
#include "spectrum.h"

#include <m16_comm.h>

#include <QString>
#include <QVector>

#include <memory>

class M16Protocol : public Protocol
{
    Q_OBJECT

public:
    M16Protocol();

    int type() const override { return 2; }
    // Hooks the spectrum and totals events; the thread is not used.
    void bind(int connection, QThread* thread) override;
    bool receiveData(QVariant& data) override;

    QString getSWVersion(); // empty when the instrument did not answer
    // Sends a test pattern; true when it came back unchanged.
    bool usbTest();
    bool getTemperature(float& celsius);
    bool getVoltages(int (&millivolts)[3]);
    bool getParam(M16_params& params);
    bool setParam(const M16_params& params);
    bool getAdc0(int& value);
    bool getOffset(int& offset);
    bool setOffset(int offset);
    bool getGain(int& gain);
    bool setGain(int gain);
    bool getHv(int& volts);
    bool setHv(int volts);
    bool getDiscriminator(int& channel);
    bool setDiscriminator(int channel);
    // The table must have 256 entries of 0 to 65535 (else nothing is sent);
    // true only when the instrument's checksum of what it took is ours.
    bool writeLut(int slot, const QVector<int>& table);
    bool getLutChecksum(int& checksum);
    bool makeLinearLut();
    bool makeSquareLut();
    bool loadLut(int slot);
    bool get16BitMode(bool& on);
    bool set16BitMode(bool on);
    bool getCalib(M16_calib& calib);
    bool setCalib(const M16_calib& calib);
    bool startScan(int seconds); // 0: until stopped
    bool stopScan();
    bool getEnergyCalib(float& a, float& b, float& c);
    bool setEnergyCalib(float a, float b, float c);

    // The sum of the entries, modulo 65536, as the instrument computes it.
    static int lutChecksum(const QVector<int>& table);

signals:
    void spectrumData(std::shared_ptr<Spectrum> spectrum);
    void gmNeutData(std::shared_ptr<M16_gm_neut_total> total);
};

Q_DECLARE_METATYPE(std::shared_ptr<M16_gm_neut_total>)
