#include "m18_protocol.h"

#include "family_support.h"

using namespace mxx_family;

namespace {

const ModelName kModels[] = {
    {1, "M18 Survey"},
    {2, "M18 Assay"},
    {3, "M18 Survey GPS"},
    {4, "M18 Air"},
};

void putF64(uint8_t* at, double value)
{
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    MXX_put_u32(at, static_cast<uint32_t>(bits));
    MXX_put_u32(at + 4, static_cast<uint32_t>(bits >> 32));
}

double getF64(const uint8_t* at)
{
    const uint64_t bits = MXX_get_u32(at) | static_cast<uint64_t>(MXX_get_u32(at + 4)) << 32;
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

} // namespace

#define MXX_METHODS_FAMILY M18
#define MXX_METHODS_OWNER M18Protocol
#define M18_COMMAND MXX_NO_METHOD
#define M18_METHOD MXX_DEFINE_COMMAND_METHOD
#include <m18_commands.def>
#undef M18_COMMAND
#undef MXX_METHODS_OWNER
#undef MXX_METHODS_FAMILY

QString M18Protocol::getModelName(int model)
{
    return modelName(kModels, model);
}

bool M18Protocol::getGps(double& latitude, double& longitude)
{
    uint8_t answer[MXX_RESPONSE_SIZE(M18, get_gps)] = {};
    if (M18_get_gps(connection(), answer, 1) != 0)
        return false;
    latitude = getF64(answer);
    longitude = getF64(answer + 8);
    return true;
}

bool M18Protocol::setGps(double latitude, double longitude)
{
    uint8_t request[MXX_REQUEST_SIZE(M18, set_gps)];
    putF64(request, latitude);
    putF64(request + 8, longitude);
    return M18_set_gps(connection(), request, 1) == 0;
}
