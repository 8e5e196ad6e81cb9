// MCHProtocol: text messages to and from an instrument's chat.
#pragma once

#include "protocol.h"

#include <mch_comm.h>

#include <QString>

#include <memory>

// One message from the instrument, as its event handler posts it.
struct MCH_message
{
    QString text;
};

class MCHProtocol : public Protocol
{
    Q_OBJECT

public:
    MCHProtocol();

    int type() const override { return 254; }
    // Hooks the message event; the thread is not used.
    void bind(int connection, QThread* thread) override;
    bool receiveData(QVariant& data) override;

public slots:
    // Written without waiting: true once the frame is on its way. A message
    // longer than its 4096-byte field is cut there.
    bool sendMessage(QString msg);

signals:
    void message(QString msg);
};

Q_DECLARE_METATYPE(std::shared_ptr<MCH_message>)
