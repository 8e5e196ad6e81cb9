// M28Protocol: the M30 commands of the M28 set, its own clock, user, mass
// storage, file, export and calibration commands, and its event stream.
#pragma once

#include "m30_command_set.h"
#include "m30_events.h"
#include "spectrum.h"

#include <m28_comm.h>

#include <QDate>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTime>

#include <memory>

M30_EVENT_STREAM(MXX_M30_DERIVED, M28)

// Its column of the M30 stream, its spectra typed by their events (10002 a
// spectrum, 10008 the accumulated one), a message type and the Cs
// calibration record in place of M30's events of those codes, and the
// identification results that getIdentResults announces.
#define M28_EVENTS(X, F)                                                                           \
    M30_EVENT_STREAM(X, F)                                                                         \
    X(F, 10002, TYPED_SPECTRUM, spectrumData, (1))                                                 \
    X(F, 10008, TYPED_SPECTRUM, accSpectrumData, (2))                                              \
    X(F, 10014, VALUE, messageData, (Message))                                                     \
    X(F, 10015, RECORD, csCalibData, (cs_calib_data))                                              \
    X(F, 0, ANNOUNCED, identResultsData, (QList<QStringList>))

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

    M28Protocol() { registerEventTypes(); }

    int type() const override { return MXX_TYPE_M28; }
    bool receiveData(QVariant& data) override;

    // The M30 commands of the set (m30_shared.def, column M28), and a method
    // per M28_METHOD row.
#ifndef Q_MOC_RUN
#define M30_COLUMN(m28, m34, m36) m28
#include "m30_offer.inc"
#define MXX_METHODS_FAMILY M28
#define M28_COMMAND MXX_NO_METHOD
#define M28_METHOD MXX_DECLARE_COMMAND_METHOD
#include <m28_commands.def>
#undef M28_COMMAND
#undef MXX_METHODS_FAMILY
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
    bool checkMassStorage(int& state, quint32& totalKiB, quint32& freeKiB);
    bool listFiles(const QString& folder, QList<FileEntry>& files);
    bool exportData(int what, int format, const QString& target);
    // One list per nuclide found: name, category, confidence in percent;
    // also announced as identResultsData.
    bool getIdentResults(QList<QStringList>& results);

signals:
    M28_EVENTS(MXX_EVENT_SIGNAL, M28)

protected:
    void hookEvents(int connection) override;

private:
    static void registerEventTypes();
};

M28_EVENTS(MXX_EVENT_METATYPE, M28)
