// M21Protocol: the command set of the M20's successors, and their live
// measurement as a Qt signal, made as M20Protocol is from m21_commands.def
// and M20's events.
#pragma once

#include "m20_protocol.h"

#include <m21_comm.h>

#include <QDateTime>

#define M21_EVENTS(X, F) M20_EVENTS(X, F)

class M21Protocol : public Protocol
{
    Q_OBJECT

public:
    M21Protocol() { registerEventTypes(); }

    int type() const override { return MXX_TYPE_M21; }
    bool receiveData(QVariant& data) override;

    // A method per M21_METHOD row, as M20Protocol's.
#ifndef Q_MOC_RUN
#define MXX_METHODS_FAMILY M21
#define M21_COMMAND MXX_NO_METHOD
#define M21_METHOD MXX_DECLARE_COMMAND_METHOD
#include <m21_commands.def>
#undef M21_COMMAND
#undef MXX_METHODS_FAMILY
#endif

    // Size and time of the last change (UTC) of a named file.
    bool getFileInfo(const QString& name, int& size, QDateTime& changed);

signals:
    M21_EVENTS(MXX_EVENT_SIGNAL, M21)

protected:
    void hookEvents(int connection) override;

private:
    static void registerEventTypes();
};

M21_EVENTS(MXX_EVENT_METATYPE, M21)
