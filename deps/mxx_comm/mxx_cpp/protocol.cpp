#include "protocol.h"

#include <mxx_comm.h>

Protocol::Protocol() = default;

void Protocol::bind(int connection, QThread*)
{
    m_connection = connection;
    hookEvents(connection);
    emit bindStateChanged(true);
}

void Protocol::hookEvents(int) {}

void Protocol::unbind()
{
    m_connection = -1;
    emit bindStateChanged(false);
}

bool Protocol::disconnectDevice()
{
    if (!isBound())
        return false;
    return MXX_disconnect(m_connection) == 0;
}

bool Protocol::receiveData(QVariant&)
{
    return false;
}
