// The MCH command set: text messages to and from the instrument's chat. The
// message is UTF-8 in a 4096-byte field, NUL-padded (a message that fills the
// field has no NUL); the instrument does not answer it. Messages from the
// instrument arrive as event 48878 with the same field as payload, which may
// be shorter (MCHProtocol).
#ifndef ORVISK_MCH_COMM_H
#define ORVISK_MCH_COMM_H

#include "mxx_command.h"

#define MXX_TABLE_FAMILY MCH
#define MXX_TABLE_FILE "mch_commands.def"
#define MCH_COMMAND MXX_TABLE_ROW
#include "mxx_command_table.inc"
#undef MCH_COMMAND

#define MCH_MESSAGE_SIZE MXX_REQUEST_SIZE(MCH, send_msg)

#endif
