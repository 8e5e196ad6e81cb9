// A small adapter over PROJ that keeps the classic projection interface the
// map relies on: a handle (or null) from a "+proj=..." definition, one point
// transformed in place with geographic values in radians, and the last error
// number with its text.
#pragma once

#include <cstddef>
#include <memory>

namespace proj {

struct Projection;

struct ProjectionDeleter
{
    void operator()(Projection* projection) const;
};
using ProjectionPtr = std::unique_ptr<Projection, ProjectionDeleter>;

// Null when PROJ rejects the definition; lastError() then tells why.
ProjectionPtr initPlus(const char* definition);

// Transforms one point from `src` to `dst` in place. Geographic values are in
// radians, longitude in x. Returns 0, or an error number; on failure x and y
// hold what PROJ left there (not finite).
int transform(const Projection& src, const Projection& dst, double* x, double* y);
// The same for `count` points in place, in one call into PROJ; a point that
// fails holds a value that is not finite. Returns 0, or the last error number.
int transformAll(const Projection& src, const Projection& dst, double* x, double* y,
                 std::size_t count);

int lastError();
const char* errorText(int error);

} // namespace proj
