// M36Protocol: the M30 commands of the M36 set, the Ethernet list and the
// efficiency lookup table upload, and nine events of the M30 stream in
// records of its own.
#pragma once

#include "m30_command_set.h"
#include "spectrum.h"

#include <m36_comm.h>

#include <QList>
#include <QPair>
#include <QStringList>
#include <QVector>

#include <memory>

class M36Protocol : public M30CommandSet
{
    Q_OBJECT

public:
    M36Protocol();

    int type() const override { return 15; }
    // Hooks the event stream on `connection`; the thread is not used.
    void bind(int connection, QThread* thread) override;
    bool receiveData(QVariant& data) override;

    // The M30 commands of the set (m30_shared.def, column M36).
#ifndef Q_MOC_RUN
#define M30_COLUMN(m28, m34, m36) m36
#include "m30_offer.inc"
#endif

    // One list per interface: name, IPv4 address, IPv6 address, hardware address.
    bool getEthernetList(QList<QStringList>& interfaces);
    // Points of energy in keV and efficiency; more than 512 are refused
    // with nothing sent.
    bool uploadEfficiencyLut(const QVector<QPair<float, float>>& points);

signals:
    void spectrumData(std::shared_ptr<Spectrum> spectrum);
    void assaySpectrumData(std::shared_ptr<Spectrum> spectrum);
    void identSpectrumData(std::shared_ptr<Spectrum> spectrum);
    void csStabSpectrumData(std::shared_ptr<Spectrum> spectrum);
    void accumulatedSpectrumData(std::shared_ptr<Spectrum> spectrum);
    void bgCalibSpectrumData(std::shared_ptr<Spectrum> spectrum);
    void totalData(std::shared_ptr<M36_total_data> total);
    void pulseData(std::shared_ptr<M36_pulse_data> pulseData);
    void statusData(std::shared_ptr<M36_status_data> statusData);
    void connmanData(std::shared_ptr<M36_connman_data> connmanData);
    void progressData(std::shared_ptr<M36_progress_indication> prog);
    void assayResultsData(std::shared_ptr<M36_assay_results> assay);
    void identifyResultsData(std::shared_ptr<M36_identify_results> identify);
    void csStabResultsData(int status);
};

M36_EVENT_RECORDS(M30_DERIVED_METATYPE)
