// M28Protocol: the M30 commands of the M28 set, its own clock, user, mass
// storage, file, export and calibration commands, and its event stream.
#pragma once

#include "m30_command_set.h"
#include "spectrum.h"

#include <m28_comm.h>

#include <QDate>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTime>

#include <memory>

class M28Protocol : public M30CommandSet
{
    Q_OBJECT

public:
    struct FileEntry
    {
        QString name;
        quint32 size = 0;
        bool folder = false;
    };

    M28Protocol();

    int type() const override { return 11; }
    // Hooks the event stream on `connection`; the thread is not used.
    void bind(int connection, QThread* thread) override;
    bool receiveData(QVariant& data) override;

    // The M30 commands of the set (m30_shared.def, column M28).
#ifndef Q_MOC_RUN
#define M30_COLUMN(m28, m34, m36) m28
#include "m30_offer.inc"
#endif

    // An invalid date or time is refused with nothing sent; an answer that
    // is none leaves the output as it was and reads false.
    bool getDate(QDate& date);
    bool setDate(const QDate& date);
    bool getTime(QTime& time);
    bool setTime(const QTime& time);
    bool modifyUser(int number, const QString& name, const QString& pin);
    bool setLoggedUser(int number, const QString& pin);
    bool getLoggedUser(int& number, QString& name);
    bool storeMeasurement();
    bool storeMetadata(const QString& text);
    bool startCsCalibration();
    bool stopCsCalibration();
    bool setStabilization(int on);
    bool checkMassStorage(int& state, quint32& totalKiB, quint32& freeKiB);
    bool formatMassStorage();
    bool listFiles(const QString& folder, QList<FileEntry>& files);
    bool loadParamsFromFile(const QString& path);
    bool loadNuclideLibraryFromFile(const QString& path);
    bool exportData(int what, int format, const QString& target);
    // One list per nuclide found: name, category, confidence in percent;
    // also announced as identResultsData.
    bool getIdentResults(QList<QStringList>& results);
    bool removeDatabase();

signals:
    void spectrumData(std::shared_ptr<Spectrum> spectrum);
    void accSpectrumData(std::shared_ptr<Spectrum> spectrum);
    void keyboardData(std::shared_ptr<M28_keyboard_data> key);
    void totalData(std::shared_ptr<M28_total_data> total);
    void total20HzData(int total20Hz);
    void pulseData(std::shared_ptr<M28_pulse_data> pulseData);
    void statusData(std::shared_ptr<M28_status> statusData);
    void identResultsData(std::shared_ptr<QList<QStringList>> results);
    void connmanData(std::shared_ptr<M28_connman_data> connmanData);
    void lightSensorMonoData(int monochromatic);
    void alarmData(int alarm);
    void progressData(std::shared_ptr<M28_progress_indication> prog);
    void messageData(int type);
    void csCalibData(std::shared_ptr<M28_cs_calib_data> calibration);
};

M28_EVENT_RECORDS(M30_DERIVED_METATYPE)
Q_DECLARE_METATYPE(std::shared_ptr<M28_cs_calib_data>)
Q_DECLARE_METATYPE(std::shared_ptr<QList<QStringList>>)
