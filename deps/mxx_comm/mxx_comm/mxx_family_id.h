// The families by type id, as mxx_families.def names them: MXX_TYPE_M30 is
// the type id identification reports for an M30, and the tag its protocol
// object's events carry. Needs nothing else of the command layer, so the
// simulator takes its families from here too.
#ifndef ORVISK_MXX_FAMILY_ID_H
#define ORVISK_MXX_FAMILY_ID_H

enum MXX_family_id {
    MXX_TYPE_NONE = 0, // not identified (yet)
#define MXX_FAMILY(name, type_id, ...) MXX_TYPE_##name = type_id,
#define MXX_COMMAND_SET(name, type_id) MXX_TYPE_##name = type_id,
#include "mxx_families.def"
};

// The family's name ("M30" for MXX_TYPE_M30), or nullptr for a type id that
// no family or command set has.
constexpr const char* MXX_family_name(int type_id)
{
    switch (type_id) {
#define MXX_FAMILY(name, id, ...)                                                                  \
    case id:                                                                                       \
        return #name;
#define MXX_COMMAND_SET(name, id)                                                                  \
    case id:                                                                                       \
        return #name;
#include "mxx_families.def"
    default:
        return nullptr;
    }
}

#endif
