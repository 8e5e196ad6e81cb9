// M24Protocol: the test command, the numbered items of the data buffer
// (status, parameters, MCA parameters, memory), and the MCA spectrum event.
#pragma once

#include "protocol.h"

#include <m24_comm.h>

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <memory>

class M24Protocol : public Protocol
{
    Q_OBJECT

public:
    M24Protocol();

    int type() const override { return 8; }
    // Hooks the spectrum event (8601).
    void bind(int connection, QThread* thread) override;
    bool receiveData(QVariant& data) override;

    static QString getModelName(int model);

    // Sends the block and puts the instrument's answer in its place.
    bool test(M24_test_data& data);
    bool getStatus(M24_status& status);
    bool getParams(M24_params& params);
    bool setParams(const M24_params& params);
    bool getMcaParams(M24_mca_params& params);
    bool setMcaParams(const M24_mca_params& params);
    bool readMemory(uint32_t address, uint32_t length, QByteArray& data);
    bool writeMemory(uint32_t address, const QByteArray& data);
    // Any item by number: at most `maxLength` bytes of it.
    bool dataBuffRead(uint32_t item, uint32_t argument1, uint32_t argument2, uint32_t maxLength,
                      QByteArray& data);
    bool dataBuffWrite(uint32_t item, uint32_t argument1, uint32_t argument2,
                       const QByteArray& data);

signals:
    void spectrumData(std::shared_ptr<M24_mca_spect> spectrum);
};

Q_DECLARE_METATYPE(std::shared_ptr<M24_mca_spect>)
