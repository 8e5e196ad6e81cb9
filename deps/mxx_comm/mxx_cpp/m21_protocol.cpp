#include "m21_protocol.h"

#include "family_support.h"

MXX_DEFINE_EVENTS(M21)

#define MXX_METHODS_FAMILY M21
#define MXX_METHODS_OWNER M21Protocol
#define M21_COMMAND MXX_NO_METHOD
#define M21_METHOD MXX_DEFINE_COMMAND_METHOD
#include <m21_commands.def>
#undef M21_COMMAND
#undef MXX_METHODS_OWNER
#undef MXX_METHODS_FAMILY

bool M21Protocol::getFileInfo(const QString& name, int& size, QDateTime& changed)
{
    if (name.toUtf8().size() > M20_FILE_NAME)
        return false;
    uint8_t request[MXX_REQUEST_SIZE(M21, get_file_info)];
    uint8_t answer[MXX_RESPONSE_SIZE(M21, get_file_info)] = {};
    mxx_marshal::putText(request, sizeof request, name);
    if (M21_get_file_info(connection(), request, answer, 1) != 0)
        return false;
    size = static_cast<int>(MXX_get_u32(answer + M20_FILE_NAME));
    changed = QDateTime::fromSecsSinceEpoch(MXX_get_u32(answer + M20_FILE_NAME + 4), Qt::UTC);
    return true;
}
