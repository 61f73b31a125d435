#pragma once

#include <ostream>

#include "compile/bsp_compiler.h"

namespace bsppvs {

// Writes the compiled result as one JSON object: counts, nodes, leaves (with their
// ascending PVS lists), portals and polys. Floats are written in their shortest form that
// reads back to the same single-precision value; non-finite values as null. The same
// compiler always gives the same bytes.
void WriteCompilerJson(const BspCompiler& compiler, std::ostream& out);

}  // namespace bsppvs
