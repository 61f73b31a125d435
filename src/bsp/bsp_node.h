#pragma once

#include <cstdint>

#include "geometry/bounds.h"
#include "geometry/plane.h"

namespace bsppvs {

// One node of the tree. Leaves hang only on front sides; a back side is another node or
// solid space.
struct BspNode {
    // The splitter's plane; the front side is where a*x + b*y + c*z - d > 0.
    Plane plane;
    // Box around every corner of every polygon that reached this node, splitter included.
    Bounds bounds;
    // Index into leaves when frontIsLeaf is 1, else into nodes; -1 until set.
    int32_t front = -1;
    // Index into nodes, or -1 for solid space behind the plane.
    int32_t back = -1;
    int32_t frontIsLeaf = 0;
};

}  // namespace bsppvs
