// M36Protocol: the M30 commands of the M36 set, the Ethernet list and the
// efficiency lookup table upload (m36_commands.def), and nine events of the
// M30 stream (its column of m30_events.h) in records of its own.
#pragma once

#include "m30_command_set.h"
#include "m30_events.h"
#include "spectrum.h"

#include <m36_comm.h>

#include <QList>
#include <QPair>
#include <QStringList>
#include <QVector>

#include <memory>

M30_EVENT_STREAM(MXX_M30_DERIVED, M36)
using M36_status_data = M36_status; // the name its status record has had

#define M36_EVENTS(X, F) M30_EVENT_STREAM(X, F)

class M36Protocol : public M30CommandSet
{
    Q_OBJECT

public:
    M36Protocol() { registerEventTypes(); }

    int type() const override { return MXX_TYPE_M36; }
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
    M36_EVENTS(MXX_EVENT_SIGNAL, M36)

protected:
    void hookEvents(int connection) override;

private:
    static void registerEventTypes();
};

M36_EVENTS(MXX_EVENT_METATYPE, M36)
