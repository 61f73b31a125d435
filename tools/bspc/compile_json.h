#pragma once

#include <ostream>

#include "bsp/bsp_compiler.h"

namespace bsppvs {

// The number of triangles of all leaves' polygons, as the leaf drawing counts them.
int64_t LeafTriangleCount(const BspCompiler& compiler);

// Writes the compiled result as one JSON object: counts, nodes, leaves (with their
// ascending PVS lists), portals and polys. Floats are written in their shortest form that
// reads back to the same single-precision value; non-finite values as null. The same
// compiler always gives the same bytes.
void WriteCompilerJson(const BspCompiler& compiler, std::ostream& out);

}  // namespace bsppvs
