#include "mxx_families.h"

#include <string.h>

namespace {

enum FamilyIndex {
#define MXX_FAMILY(name, ...) k##name,
#include "mxx_families.def"
};

int familyProbe(const MXX_family& family, int conn)
{
    int sum = 0;
    for (int i = 0; i < family.query_writes; ++i)
        sum += MXX_send_cmd(conn, family.query_code, nullptr, 0, nullptr, 0, nullptr, nullptr,
                            nullptr, family.query_timeout, 0);
    return sum;
}

bool accepts(const MXX_family& family, const MXX_frame* frame)
{
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(frame);
    int code = bytes[4] | (bytes[5] << 8);
    int length = bytes[6] | (bytes[7] << 8);
    int payload = length - 1;
    if (code != family.answer_code)
        return false;
    if (family.length_field && length != family.length_field)
        return false;
    if (family.payload_word >= 0) {
        if (payload < 4)
            return false;
        const uint8_t* p = frame->payload;
        uint32_t word = p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
        if (word != family.payload_word)
            return false;
    }
    if (family.serial_prefix) {
        int n = static_cast<int>(strlen(family.serial_prefix));
        if (n && (payload < n || memcmp(frame->payload, family.serial_prefix, n) != 0))
            return false;
    }
    return true;
}

int familyTest(const MXX_family& family, int conn, MXX_frame* frame, int* device_type)
{
    *device_type = family.type_id;
    if (family.tries_before_test)
        MXX_set_cmd_num_try(conn, family.tries_before_test);
    if (!accepts(family, frame))
        return 0;
    if (family.tries_on_accept)
        MXX_set_cmd_num_try(conn, family.tries_on_accept);
    return 1;
}

} // namespace

#define MXX_FAMILY(name, ...)                                                                      \
    int name##_probe(int conn, int)                                                                \
    {                                                                                              \
        return familyProbe(MXX_families[k##name], conn);                                           \
    }                                                                                              \
    int name##_test_probe(int conn, MXX_frame* frame, int* device_type, int)                       \
    {                                                                                              \
        return familyTest(MXX_families[k##name], conn, frame, device_type);                        \
    }
#include "mxx_families.def"

const MXX_family MXX_families[] = {
#define MXX_FAMILY(name, type_id, in_mdd, query, writes, timeout, answer, prefix, length, word,    \
                   before, on_accept)                                                              \
    {#name,  type_id, in_mdd, name##_probe, name##_test_probe, query, writes, timeout, answer,     \
     prefix, length,  word,   before,       on_accept},
#include "mxx_families.def"
};

const int MXX_family_count = sizeof MXX_families / sizeof MXX_families[0];

const MXX_family* MXX_family_of(int type_id)
{
    for (int i = 0; i < MXX_family_count; ++i)
        if (MXX_families[i].type_id == type_id)
            return &MXX_families[i];
    return nullptr;
}
