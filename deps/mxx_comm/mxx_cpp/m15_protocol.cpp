#include "m15_protocol.h"

#include "family_support.h"

MXX_DEFINE_EVENTS(M15)

#define MXX_METHODS_FAMILY M15
#define MXX_METHODS_OWNER M15Protocol
#define M15_COMMAND MXX_NO_METHOD
#define M15_METHOD MXX_DEFINE_COMMAND_METHOD
#include <m15_commands.def>
#undef M15_COMMAND
#undef MXX_METHODS_OWNER
#undef MXX_METHODS_FAMILY
