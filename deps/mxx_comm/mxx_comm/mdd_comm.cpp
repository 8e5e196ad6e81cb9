#include "mdd_comm.h"

#include "mxx_families.h"

namespace {

const MXX_probe_fn kMddProbes[] = {M17_probe, M15_probe, M16_probe};

} // namespace

int MDD_probe_list(int conn, int attempt, const MXX_probe_fn* probes, int count)
{
    MXX_ASSERT(count > 0 && count <= MXX_MAX_PROBE_COUNT,
               "Not enough tries to probe all the protocols!");
    int per_entry = MXX_MAX_PROBE_COUNT / count;
    int entry = (attempt % MXX_MAX_PROBE_COUNT) / per_entry;
    // Slots left over when the cycle does not divide evenly send nothing.
    if (entry >= count)
        return 0;
    return probes[entry](conn, attempt);
}

int MDD_probe(int conn, int attempt)
{
    return MDD_probe_list(conn, attempt, kMddProbes, sizeof kMddProbes / sizeof kMddProbes[0]);
}

int MDD_test_probe(int conn, MXX_frame* frame, int* device_type, int attempt)
{
    for (int i = 0; i < MXX_family_count; ++i) {
        const MXX_family& f = MXX_families[i];
        if (f.in_mdd_walk && f.test(conn, frame, device_type, attempt))
            return 1;
    }
    *device_type = MXX_TYPE_NONE;
    return 0;
}
