#pragma once

#include <cstdint>
#include <list>

#include "geometry/polygon.h"

namespace bsppvs {

// A polygon of the tree construction's work lists.
struct BuildPoly : Poly {
    // 1 once this polygon, or the polygon it was split from, has split a node above it.
    int32_t usedAsSplitter = 0;
};

// The work lists of the tree construction: doubly linked, so the head and the chosen
// splitter unlink in constant time and whole lists move by splicing.
using BuildPolyList = std::list<BuildPoly>;

}  // namespace bsppvs
