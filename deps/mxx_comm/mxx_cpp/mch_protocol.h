// MCHProtocol: text messages to and from an instrument's chat.
#pragma once

#include "protocol.h"
#include "protocol_events.h"

#include <mch_comm.h>

#include <QString>

#include <memory>

// One message from the instrument, as its event handler posts it.
struct MCH_message
{
    QString text;
};

// A message from the instrument, with a hook and a taking of its own.
#define MCH_EVENTS(X, F) X(F, 48878, CUSTOM, , (detail::MCHMessageEvent, takeMessage))

class MCHProtocol : public Protocol
{
    Q_OBJECT

public:
    MCHProtocol();

    int type() const override { return MXX_TYPE_MCH; }
    bool receiveData(QVariant& data) override;

public slots:
    // Written without waiting: true once the frame is on its way. A message
    // longer than its 4096-byte field is cut there.
    bool sendMessage(QString text);

signals:
    void message(QString text);

protected:
    void hookEvents(int connection) override;

private:
    static void registerEventTypes();
    bool takeMessage(QVariant& data);
};

Q_DECLARE_METATYPE(std::shared_ptr<MCH_message>)
