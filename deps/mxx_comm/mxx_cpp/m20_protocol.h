// M20Protocol: the command set of the dose-rate meters with a measurement
// log, notes and named files, and their live measurement as a Qt signal.
#pragma once

#include "m17_protocol.h"
#include "protocol.h"

#include <m20_comm.h>

#include <QByteArray>
#include <QString>
#include <QVector>

#include <memory>

class M20Protocol : public Protocol
{
    Q_OBJECT

public:
    M20Protocol();

    int type() const override { return 5; }
    // Hooks the live measurement event; the thread is not used.
    void bind(int connection, QThread* thread) override;
    bool receiveData(QVariant& data) override;

    bool getModelRev(M17Protocol::Revision& revision);
    bool setModelRev(const M17Protocol::Revision& revision);
    bool measure(int seconds);
    bool getState(int& state);
    bool setState(int state);
    bool setEvents(int mask); // bit 0: live measurement
    bool getParams(M20_params& params);
    bool setParams(const M20_params& params); // its settable block
    bool getStatus(M20_status& status);
    bool getLogList(QVector<uint>& ids);
    bool getLogEntry(int id, M20_log_entry& entry);
    bool clearLogs();
    bool deleteLogEntry(int id);
    bool getMemoryUsage(M20_memory_usage& usage);
    bool getNoteInfo(int& notes);
    bool getNote(int index, QString& text);
    // In chunks; a name longer than its 32-byte field is refused.
    bool writeFile(const QString& name, const QByteArray& data);
    // At most `limit` bytes; false, with `data` untouched, when a chunk fails.
    bool readFile(const QString& name, QByteArray& data, int limit = 16 * 1024 * 1024);

signals:
    void spectrumData(std::shared_ptr<M20_live_meas_data> data);
};

Q_DECLARE_METATYPE(std::shared_ptr<M20_live_meas_data>)
