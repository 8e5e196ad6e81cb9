#include "proj_adapter.h"

#include <proj.h>

#include <atomic>
#include <cmath>
#include <string>

namespace proj {

struct Projection
{
    PJ* crs = nullptr;
    bool geographic = false;
    unsigned serial = 0;
    // The map converts between the same two systems over and over; building a
    // PROJ operation costs far more than applying it, so keep the last one.
    mutable PJ* operation = nullptr;
    mutable unsigned operationTarget = 0;

    ~Projection()
    {
        if (operation)
            proj_destroy(operation);
        proj_destroy(crs);
    }
};

namespace {

constexpr double degreesPerRadian = 57.29577951308232;

thread_local int lastErrorNumber = 0;

PJ_CONTEXT* context()
{
    struct Context
    {
        PJ_CONTEXT* handle = proj_context_create();
        Context() { proj_log_level(handle, PJ_LOG_NONE); }
        ~Context() { proj_context_destroy(handle); }
    };
    thread_local Context instance;
    return instance.handle;
}

bool isGeographic(PJ* crs)
{
    switch (proj_get_type(crs)) {
    case PJ_TYPE_GEOGRAPHIC_CRS:
    case PJ_TYPE_GEOGRAPHIC_2D_CRS:
    case PJ_TYPE_GEOGRAPHIC_3D_CRS:
        return true;
    default:
        return false;
    }
}

PJ* operationBetween(const Projection& src, const Projection& dst)
{
    if (src.operation && src.operationTarget == dst.serial)
        return src.operation;
    if (src.operation)
        proj_destroy(src.operation);
    src.operation = nullptr;
    PJ* raw = proj_create_crs_to_crs_from_pj(context(), src.crs, dst.crs, nullptr, nullptr);
    if (!raw)
        return nullptr;
    // Longitude (easting) first whatever the axis order of the systems.
    src.operation = proj_normalize_for_visualization(context(), raw);
    proj_destroy(raw);
    src.operationTarget = dst.serial;
    return src.operation;
}

} // namespace

void ProjectionDeleter::operator()(Projection* projection) const
{
    delete projection;
}

ProjectionPtr initPlus(const char* definition)
{
    static std::atomic<unsigned> nextSerial{0};
    // Classic definitions name a system without saying so; the line feed of a
    // definition read from a file is only white space.
    std::string text = std::string(definition) + " +type=crs";
    for (char& c : text)
        if (c == '\n' || c == '\r' || c == '\t')
            c = ' ';
    PJ_CONTEXT* ctx = context();
    PJ* crs = proj_create(ctx, text.c_str());
    if (!crs) {
        lastErrorNumber = proj_context_errno(ctx);
        return nullptr;
    }
    ProjectionPtr projection(new Projection);
    projection->crs = crs;
    projection->geographic = isGeographic(crs);
    projection->serial = ++nextSerial;
    return projection;
}

int transform(const Projection& src, const Projection& dst, double* x, double* y)
{
    return transformAll(src, dst, x, y, 1);
}

int transformAll(const Projection& src, const Projection& dst, double* x, double* y,
                 std::size_t count)
{
    PJ* operation = operationBetween(src, dst);
    if (!operation) {
        lastErrorNumber = proj_context_errno(context());
        for (std::size_t i = 0; i < count; ++i)
            x[i] = y[i] = HUGE_VAL;
        return lastErrorNumber;
    }
    if (src.geographic)
        for (std::size_t i = 0; i < count; ++i) {
            x[i] *= degreesPerRadian;
            y[i] *= degreesPerRadian;
        }
    proj_trans_generic(operation, PJ_FWD, x, sizeof *x, count, y, sizeof *y, count, nullptr, 0, 0,
                       nullptr, 0, 0);
    if (dst.geographic)
        for (std::size_t i = 0; i < count; ++i) {
            x[i] /= degreesPerRadian;
            y[i] /= degreesPerRadian;
        }
    int error = proj_errno(operation);
    if (error) {
        lastErrorNumber = error;
        proj_errno_reset(operation);
    }
    return error;
}

int lastError()
{
    return lastErrorNumber;
}

const char* errorText(int error)
{
    const char* text = proj_context_errno_string(context(), error);
    return text ? text : "";
}

} // namespace proj
