#include "m20_protocol.h"

#include "family_support.h"

MXX_DEFINE_EVENTS(M20)

#define MXX_METHODS_FAMILY M20
#define MXX_METHODS_OWNER M20Protocol
#define M20_COMMAND MXX_NO_METHOD
#define M20_METHOD MXX_DEFINE_COMMAND_METHOD
#include <m20_commands.def>
#undef M20_COMMAND
#undef MXX_METHODS_OWNER
#undef MXX_METHODS_FAMILY

bool M20Protocol::getNote(int index, QString& text)
{
    M20_note note;
    if (!mxx_family::readEntry(M20_get_note, connection(), index, note))
        return false;
    text = mxx_marshal::textAt(note.bytes, sizeof note.bytes);
    return true;
}
