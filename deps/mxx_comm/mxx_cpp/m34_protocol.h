// M34Protocol: the M30 commands of the M34 set, its pallet and hole
// commands, and the M30 event stream without the on-the-fly assay results,
// in records of its own.
#pragma once

#include "m30_command_set.h"
#include "spectrum.h"

#include <m34_comm.h>

#include <QString>

#include <memory>

class M34Protocol : public M30CommandSet
{
    Q_OBJECT

public:
    M34Protocol();

    int type() const override { return 14; }
    // Hooks the event stream on `connection`; the thread is not used.
    void bind(int connection, QThread* thread) override;
    bool receiveData(QVariant& data) override;

    // The M30 commands of the set (m30_shared.def, column M34).
#ifndef Q_MOC_RUN
#define M30_COLUMN(m28, m34, m36) m34
#include "m30_offer.inc"
#endif

    // The instrument's id for the pallet (a new one, of id 0, gets one) goes to `id`.
    bool savePallet(const M34_pallet& pallet, int& id);
    bool getCurrentPalletId(int& id);
    bool setCurrentHole(int hole, const QString& name);
    bool setAssayDepth(float depth);
    bool getHoleState(M34_hole_state& state);
    bool getLastUnfinishedPallet(M34_pallet& pallet);
    bool getCurrentPalletDepth(float& depth);
    bool recreateDatabase();

signals:
    void spectrumData(std::shared_ptr<Spectrum> spectrum);
    void assaySpectrumData(std::shared_ptr<Spectrum> spectrum);
    void identSpectrumData(std::shared_ptr<Spectrum> spectrum);
    void csStabSpectrumData(std::shared_ptr<Spectrum> spectrum);
    void accumulatedSpectrumData(std::shared_ptr<Spectrum> spectrum);
    void bgCalibSpectrumData(std::shared_ptr<Spectrum> spectrum);
    void keyboardData(std::shared_ptr<M34_keyboard_data> key);
    void totalData(std::shared_ptr<M34_total_data> total);
    void total20HzData(int total20Hz);
    void pulseData(std::shared_ptr<M34_pulse_data> pulseData);
    void statusData(std::shared_ptr<M34_status> statusData);
    void connmanData(std::shared_ptr<M34_connman_data> connmanData);
    void lightSensorMonoData(int monochromatic);
    void alarmData(int alarm);
    void progressData(std::shared_ptr<M34_progress_indication> prog);
    void assayResultsData(std::shared_ptr<M34_assay_results> assay);
    void identifyResultsData(std::shared_ptr<M34_identify_results> identify);
    void csStabResultsData(int status);
    void messageData(std::shared_ptr<M34_message_event> message);
};

M34_EVENT_RECORDS(M30_DERIVED_METATYPE)
