// M48Protocol: probes that have no commands; identification finds them, and
// the protocol object reports whether one is connected.
#pragma once

#include "protocol.h"

#include <QString>

class M48Protocol : public Protocol
{
    Q_OBJECT

public:
    int type() const override { return MXX_TYPE_M48; }
    // Binding means the probe was identified on the connection.
    void bind(int connection, QThread* thread) override;
    void unbind() override;

    // The display name of a model number; empty for one not known.
    static QString getModelName(int model);

signals:
    void probeConnectionChanged(bool connected);
};
