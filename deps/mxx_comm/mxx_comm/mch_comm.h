// The MCH command set: text messages to and from the instrument's chat. The
// message is UTF-8 in a 4096-byte field, NUL-padded (a message that fills the
// field has no NUL); the instrument does not answer it. Messages from the
// instrument arrive as event 48878 with the same field as payload, which may
// be shorter (MCHProtocol).
#ifndef ORVISK_MCH_COMM_H
#define ORVISK_MCH_COMM_H

#include "mxx_command.h"

#define MCH_COMMAND(name, code, request, response, timeout, form)                                  \
    MXX_DECLARE_COMMAND(MCH_##name, form)
#include "mch_commands.def"
#undef MCH_COMMAND

extern const MXX_command MCH_commands[];
extern const int MCH_command_count;

#define MCH_MESSAGE_SIZE 4096

#endif
