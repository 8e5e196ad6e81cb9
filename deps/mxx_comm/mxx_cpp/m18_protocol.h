// M18Protocol: the command set of the survey and assay spectrometers with
// on-board logs and a nuclide library (m18_commands.def). The family sends
// no events.
#pragma once

#include "family_methods.h"
#include "protocol.h"

#include <m18_comm.h>

#include <QString>

class M18Protocol : public Protocol
{
    Q_OBJECT

public:
    int type() const override { return MXX_TYPE_M18; }

    // A method per M18_METHOD row: per log the number of entries and the
    // index of the oldest, and one entry by index; setParams sends the
    // settable block; nuclideLibraryTest gives 0 for a sound library.
#ifndef Q_MOC_RUN
#define MXX_METHODS_FAMILY M18
#define M18_COMMAND MXX_NO_METHOD
#define M18_METHOD MXX_DECLARE_COMMAND_METHOD
#include <m18_commands.def>
#undef M18_COMMAND
#undef MXX_METHODS_FAMILY
#endif

    bool getGps(double& latitude, double& longitude);
    bool setGps(double latitude, double longitude);

    // The display name of a model number; empty for one not known.
    static QString getModelName(int model);
};
