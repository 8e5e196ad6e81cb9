#include "sim/families.h"

#include <cctype>

namespace sim {

namespace detail {

// How the simulator poses as each family: the query it answers, the serial
// it starts from, and whether it speaks the M30 set and sends its events.
struct Posing
{
    int type;
    Pose pose;
    const char* default_serial;
    bool m30_like;
};

constexpr Posing kPosings[] = {
    {MXX_TYPE_M48, Pose::identity, "ZN-714KA", false},
    {MXX_TYPE_M38, Pose::identity, "G3800001", false},
    {MXX_TYPE_M36, Pose::identity, "F3600001", true},
    {MXX_TYPE_M34, Pose::identity, "E3400001", true},
    {MXX_TYPE_M32, Pose::identity, "D3200001", false},
    {MXX_TYPE_M30, Pose::identity, "C3000001", true},
    {MXX_TYPE_M28, Pose::identity, "B2800001", true},
    {MXX_TYPE_M26, Pose::identity, "82600001", false},
    {MXX_TYPE_M24, Pose::identity, "72400001", false},
    {MXX_TYPE_M22, Pose::identity, "62200001", false},
    {MXX_TYPE_M21, Pose::identity, "A2100001", false},
    {MXX_TYPE_M20, Pose::identity, "52000001", false},
    {MXX_TYPE_M18, Pose::identity, "21800001", false},
    {MXX_TYPE_M17, Pose::identity, "Z1700001", false},
    {MXX_TYPE_M16, Pose::m16, "16000001", false},
    {MXX_TYPE_M15, Pose::m15, "15000001", false},
    {MXX_TYPE_MVD, Pose::mvd, "V0000001", false},
};

constexpr const char* or_empty(const char* text)
{
    return text ? text : "";
}

constexpr const Posing& posing(int type)
{
    for (const Posing& p : kPosings)
        if (p.type == type)
            return p;
    throw "every family identification knows needs a posing"; // at compile time
}

// The families of the command layer's table (mxx_families.def), in the order
// identification tests them: M48 before the one-character prefixes, M17 (any
// serial) after them. Those whose answer is not looked at have no prefix.
constexpr FamilyInfo kFamilies[] = {
#define MXX_FAMILY(name, type_id, in_walk, query, writes, timeout, answer, prefix, ...)            \
    {#name,                                                                                        \
     type_id,                                                                                      \
     posing(type_id).pose,                                                                         \
     or_empty(prefix),                                                                             \
     posing(type_id).default_serial,                                                               \
     posing(type_id).m30_like},
#include "deps/mxx_comm/mxx_comm/mxx_families.def"
};

std::string upper(std::string s)
{
    for (char& c : s)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

} // namespace detail

const FamilyInfo* find_family(const std::string& name)
{
    const std::string wanted = detail::upper(name);
    for (const FamilyInfo& f : detail::kFamilies)
        if (wanted == f.name)
            return &f;
    return nullptr;
}

const FamilyInfo& family_of_serial(const std::string& serial)
{
    for (const FamilyInfo& f : detail::kFamilies) {
        const std::string prefix = f.serial_prefix;
        if (f.pose == Pose::identity && serial.compare(0, prefix.size(), prefix) == 0)
            return f;
    }
    return *find_family(MXX_family_name(MXX_TYPE_M17));
}

int family_type(const std::string& name)
{
    const FamilyInfo* f = find_family(name);
    return f ? f->type : MXX_TYPE_NONE;
}

std::string family_names()
{
    std::string out;
    for (const FamilyInfo& f : detail::kFamilies)
        out += (out.empty() ? "" : " ") + std::string(f.name);
    return out;
}

} // namespace sim
