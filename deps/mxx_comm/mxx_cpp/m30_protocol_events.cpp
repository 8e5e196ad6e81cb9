// The M30 event stream: hooks on the transport thread turn event frames into
// records and spectra and post them to the device; receiveData emits them as
// signals on the main thread. All of it is made from M30_EVENTS.
#include "m30_protocol.h"

MXX_DEFINE_EVENTS(M30)
