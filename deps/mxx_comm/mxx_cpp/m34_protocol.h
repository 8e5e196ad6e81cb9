// M34Protocol: the M30 commands of the M34 set, its pallet and hole commands
// (m34_commands.def), and the M30 event stream without the on-the-fly assay
// results (its column of m30_events.h), in records of its own.
#pragma once

#include "m30_command_set.h"
#include "m30_events.h"
#include "spectrum.h"

#include <m34_comm.h>

#include <QString>

#include <memory>

M30_EVENT_STREAM(MXX_M30_DERIVED, M34)

#define M34_EVENTS(X, F) M30_EVENT_STREAM(X, F)

class M34Protocol : public M30CommandSet
{
    Q_OBJECT

public:
    M34Protocol() { registerEventTypes(); }

    int type() const override { return MXX_TYPE_M34; }
    bool receiveData(QVariant& data) override;

    // The M30 commands of the set (m30_shared.def, column M34), and a method
    // per M34_METHOD row.
#ifndef Q_MOC_RUN
#define M30_COLUMN(m28, m34, m36) m34
#include "m30_offer.inc"
#define MXX_METHODS_FAMILY M34
#define M34_COMMAND MXX_NO_METHOD
#define M34_METHOD MXX_DECLARE_COMMAND_METHOD
#include <m34_commands.def>
#undef M34_COMMAND
#undef MXX_METHODS_FAMILY
#endif

    // The instrument's id for the pallet (a new one, of id 0, gets one) goes to `id`.
    bool savePallet(const M34_pallet& pallet, int& id);
    bool setCurrentHole(int hole, const QString& name);

signals:
    M34_EVENTS(MXX_EVENT_SIGNAL, M34)

protected:
    void hookEvents(int connection) override;

private:
    static void registerEventTypes();
};

M34_EVENTS(MXX_EVENT_METATYPE, M34)
