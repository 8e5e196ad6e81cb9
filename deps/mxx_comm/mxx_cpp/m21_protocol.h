// M21Protocol: the command set of the M20's successors, and their live
// measurement as a Qt signal.
#pragma once

#include "protocol.h"

#include <m21_comm.h>

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QVector>

#include <memory>

class M21Protocol : public Protocol
{
    Q_OBJECT

public:
    M21Protocol();

    int type() const override { return 10; }
    // Hooks the live measurement event; the thread is not used.
    void bind(int connection, QThread* thread) override;
    bool receiveData(QVariant& data) override;

    bool getScreen(M21_screen& screen);
    bool getState(int& state);
    bool setState(int state);
    bool getParams(M21_params& params);
    bool setParams(const M21_params& params); // its settable block
    bool getStatus(M21_status& status);
    bool getLogList(QVector<uint>& ids);
    bool getLogEntry(int id, M21_log_entry& entry);
    bool clearLogs();
    bool deleteLogEntry(int id);
    bool getMemoryUsage(M21_memory_usage& usage);
    // As M20Protocol's.
    bool writeFile(const QString& name, const QByteArray& data);
    bool readFile(const QString& name, QByteArray& data, int limit = 16 * 1024 * 1024);
    // Size and time of the last change (UTC) of a named file.
    bool getFileInfo(const QString& name, int& size, QDateTime& changed);

signals:
    void spectrumData(std::shared_ptr<M21_live_meas_data> data);
};

Q_DECLARE_METATYPE(std::shared_ptr<M21_live_meas_data>)
