// M30Protocol: the survey instruments' command set, the transmit-buffer
// download of survey records, and the event stream as Qt signals.
#pragma once

#include "m30_command_set.h"
#include "spectrum.h"

#include <memory>

class M30Protocol : public M30CommandSet
{
    Q_OBJECT

public:
    M30Protocol();

    static constexpr int kTypeId = 12;
    int type() const override { return kTypeId; }
    // Hooks the event stream on `connection`; the thread is not used.
    void bind(int connection, QThread* thread) override;
    bool receiveData(QVariant& data) override;

    // Every command of the set (m30_command_set.h).
#ifndef Q_MOC_RUN
#define M30_COLUMN(m28, m34, m36) 1
#include "m30_offer.inc"
#endif

signals:
    void spectrumData(std::shared_ptr<Spectrum> spectrum);
    void assaySpectrumData(std::shared_ptr<Spectrum> spectrum);
    void identSpectrumData(std::shared_ptr<Spectrum> spectrum);
    void csStabSpectrumData(std::shared_ptr<Spectrum> spectrum);
    void accumulatedSpectrumData(std::shared_ptr<Spectrum> spectrum);
    void bgCalibSpectrumData(std::shared_ptr<Spectrum> spectrum);
    void keyboardData(std::shared_ptr<M30_keyboard_data> key);
    void totalData(std::shared_ptr<M30_total_data> total);
    void total20HzData(int total20Hz);
    void pulseData(std::shared_ptr<M30_pulse_data> pulseData);
    void statusData(std::shared_ptr<M30_status> statusData);
    void connmanData(std::shared_ptr<M30_connman_data> connmanData);
    void lightSensorMonoData(int monochromatic);
    void alarmData(int alarm);
    void progressData(std::shared_ptr<M30_progress_indication> prog);
    void assayResultsData(std::shared_ptr<M30_assay_results> assay);
    void onflyAssayResultsData(std::shared_ptr<M30_assay_results> assay);
    void identifyResultsData(std::shared_ptr<M30_identify_results> identify);
    void csStabResultsData(int status);
    void messageData(std::shared_ptr<M30_message_event> message);
};

Q_DECLARE_METATYPE(std::shared_ptr<M30_spectrum_data>)
Q_DECLARE_METATYPE(std::shared_ptr<M30_keyboard_data>)
Q_DECLARE_METATYPE(std::shared_ptr<M30_total_data>)
Q_DECLARE_METATYPE(std::shared_ptr<M30_pulse_data>)
Q_DECLARE_METATYPE(std::shared_ptr<M30_status>)
Q_DECLARE_METATYPE(std::shared_ptr<M30_progress_indication>)
Q_DECLARE_METATYPE(std::shared_ptr<M30_connman_data>)
Q_DECLARE_METATYPE(std::shared_ptr<M30_assay_results>)
Q_DECLARE_METATYPE(std::shared_ptr<M30_identify_results>)
Q_DECLARE_METATYPE(std::shared_ptr<M30_message_event>)
