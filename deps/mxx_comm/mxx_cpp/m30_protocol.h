// M30Protocol: the survey instruments' command set, the transmit-buffer
// download of survey records, and the event stream (m30_events.h) as Qt
// signals.
#pragma once

#include "m30_command_set.h"
#include "m30_events.h"
#include "spectrum.h"

#include <memory>

class M30Protocol : public M30CommandSet
{
    Q_OBJECT

public:
    M30Protocol()
    {
        registerEventTypes();
        mxx_events::registerRecord<M30_spectrum_data>("std::shared_ptr<M30_spectrum_data>");
    }

    int type() const override { return MXX_TYPE_M30; }
    bool receiveData(QVariant& data) override;

    // Every command of the set (m30_command_set.h).
#ifndef Q_MOC_RUN
#define M30_COLUMN(m28, m34, m36) 1
#include "m30_offer.inc"
#endif

signals:
    M30_EVENTS(MXX_EVENT_SIGNAL, M30)

protected:
    void hookEvents(int connection) override;

private:
    static void registerEventTypes();
};

M30_EVENTS(MXX_EVENT_METATYPE, M30)
Q_DECLARE_METATYPE(std::shared_ptr<M30_spectrum_data>)
