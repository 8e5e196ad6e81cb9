// M26Protocol: status, parameters, spectra and the stabilisation log of an
// M26 instrument, all files of the M23 transfer. Besides the methods, which
// run on the caller's thread, a reader on the thread given to bind reads
// status, spectra and log entries when asked by the signals readStatus and
// stabLogEntryRead, and reports through the other signals, queued to this
// object's thread.
#pragma once

#include "family_methods.h"
#include "m23_protocol.h"
#include "m26_spectrum.h"

#include <m26_comm.h>

#include <QPointer>
#include <QString>

#include <cstdint>
#include <memory>

class M26Reader;

// The buffer's status information, as M23's.
#define M26_EVENTS(X, F) M23_EVENTS(X, F)

class M26Protocol : public M23Protocol
{
    Q_OBJECT

public:
    M26Protocol();
    ~M26Protocol() override;

    int type() const override { return MXX_TYPE_M26; }
    // Creates the reader for `connection` on `thread` (this object's own
    // thread when null) and wires it to the signals.
    void bind(int connection, QThread* thread) override;
    // Forgets the reader.
    void unbind() override;
    bool receiveData(QVariant& data) override;

    static QString getModelName(int model);
    // A record neither erased (all ones) nor never written (0).
    static bool isValidStabEntry(const M26_stab_log_entry& entry);

    // A method per M26_FILE_METHOD row.
#ifndef Q_MOC_RUN
#define MXX_METHODS_FAMILY M26
#define M26_FILE MXX_NO_METHOD
#define M26_FILE_METHOD MXX_DECLARE_FILE_METHOD
#include <m26_commands.def>
#undef M26_FILE
#undef MXX_METHODS_FAMILY
#endif

    bool clearStabLog();
    bool getStabLogEntry(uint32_t index, uint32_t base, M26_stab_log_entry& entry);
    // "sec512", "sec1024" or "stab512".
    bool getSpectrum(const QString& name, std::shared_ptr<M26Spectrum>& spectrum);
    bool energyCalib(float channel, float energyKeV);

signals:
    // "run/spec/sec1024", "run/spec/sec512" and "run/spec/stab512".
    void spectrumSecLin(std::shared_ptr<Spectrum> spectrum);
    void spectrumSecRaw(std::shared_ptr<Spectrum> spectrum);
    void spectrumStab(std::shared_ptr<Spectrum> spectrum);
    // The status whenever it differs from the last one read.
    void statusChanged(M26_status status);
    // A record the log gained since the reader last looked.
    void stabEntryAdded(M26_stab_log_entry entry);
    // The answer to stabLogEntryRead, when the record is valid.
    void stabLogEntry(M26_stab_log_entry entry);
    // Requests to the reader.
    void readStatus();
    void stabLogEntryRead(uint32_t index, uint32_t base);

protected:
    void hookEvents(int connection) override;

private:
    static void registerEventTypes();
    void forgetReader();

    QPointer<M26Reader> m_reader;
};

Q_DECLARE_METATYPE(M26_status)
Q_DECLARE_METATYPE(M26_stab_log_entry)
