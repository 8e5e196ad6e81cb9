#include "sim/families.h"

#include <cctype>

namespace sim {

namespace detail {

// In the order identification tests them: M48 before the one-character
// prefixes, M17 (any serial) after them.
constexpr FamilyInfo kFamilies[] = {
    {"M48", 72, Pose::identity, "ZN-714KA", "ZN-714KA", false},
    {"M38", 16, Pose::identity, "G", "G3800001", false},
    {"M36", 15, Pose::identity, "F", "F3600001", true},
    {"M34", 14, Pose::identity, "E", "E3400001", true},
    {"M32", 13, Pose::identity, "D", "D3200001", false},
    {"M30", 12, Pose::identity, "C", "C3000001", true},
    {"M28", 11, Pose::identity, "B", "B2800001", true},
    {"M26", 9, Pose::identity, "8", "82600001", false},
    {"M24", 8, Pose::identity, "7", "72400001", false},
    {"M22", 6, Pose::identity, "6", "62200001", false},
    {"M21", 10, Pose::identity, "A", "A2100001", false},
    {"M20", 5, Pose::identity, "5", "52000001", false},
    {"M18", 4, Pose::identity, "2", "21800001", false},
    {"M17", 3, Pose::identity, "", "Z1700001", false},
    {"M16", 2, Pose::m16, "", "16000001", false},
    {"M15", 1, Pose::m15, "", "15000001", false},
    {"MVD", 255, Pose::mvd, "", "V0000001", false},
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
    return *find_family("M17");
}

std::string family_names()
{
    std::string out;
    for (const FamilyInfo& f : detail::kFamilies)
        out += (out.empty() ? "" : " ") + std::string(f.name);
    return out;
}

} // namespace sim
