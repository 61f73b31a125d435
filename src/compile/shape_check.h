#pragma once

// What every compiled level holds whatever its input: the invariants of the stages'
// outputs, for the fuzzer, the hostile-geometry tests and anyone embedding the compiler
// who wants to check a level before trusting it. Each check returns the first broken
// invariant as one line, or nothing.

#include <optional>
#include <string>

#include "compile/bsp_compiler.h"

namespace bsppvs {

// The tree consumed the imported list, every child follows its parent, the leaves'
// polygon ranges tile polys in leaf order, every plane, box and polygon is finite, and
// point location of every leaf's box centre answers a leaf or solid space.
std::optional<std::string> CheckTreeShape(const BspCompiler& compiler);

// Every stored portal joins two different, existing leaves, no pair twice, and is finite.
std::optional<std::string> CheckPortalShape(const BspCompiler& compiler);

// Gates 2k and 2k+1 look both ways through portal k (or lead nowhere), every set holds
// one 0-or-1 byte per leaf, nothing is seen that the flood did not reach, and every leaf
// sees the leaves its gates lead into.
std::optional<std::string> CheckVisibilityShape(const BspCompiler& compiler);

// All three.
std::optional<std::string> CheckCompiledShape(const BspCompiler& compiler);

}  // namespace bsppvs
