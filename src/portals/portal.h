#pragma once

#include <cstdint>
#include <vector>

#include "bsp/build_poly.h"

namespace bsppvs {

// A convex opening on a node plane. usedAsSplitter is always 0 for a portal.
struct Portal : BuildPoly {
    // Indices into leaves of the leaves the polygon reached, in the order reached. Every
    // stored portal holds exactly two, and no two stored portals join the same pair.
    std::vector<int32_t> leafIndices;
};

}  // namespace bsppvs
