// The families the simulator can pose as, by how the host identifies them.
#pragma once

#include "sim/instrument.h"

#include "deps/mxx_comm/mxx_comm/mxx_family_id.h"

#include <string>

namespace sim {

struct FamilyInfo
{
    const char* name;
    int type;                  // the device type id identification yields: MXX_TYPE_<name>
    Pose pose;                 // which query it answers
    const char* serial_prefix; // identity families: what the serial must begin with
    const char* default_serial;
    bool m30_like; // answers the M30 command set and sends M30 events
};

// nullptr for an unknown name or a family that identification cannot report
// (M23, MCH).
const FamilyInfo* find_family(const std::string& name);
// The family an identity answer with this serial identifies as.
const FamilyInfo& family_of_serial(const std::string& serial);
// The type id of a family find_family knows, else MXX_TYPE_NONE.
int family_type(const std::string& name);
// The names find_family accepts, separated by spaces.
std::string family_names();

} // namespace sim
