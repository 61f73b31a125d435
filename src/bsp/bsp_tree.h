#pragma once

// The tree the construction builds: its nodes, its leaves (the convex empty regions) and
// the leaves' polygons, all held by value and linked by 32-bit index, -1 for none.

#include <cstdint>
#include <vector>

#include "bsp/bsp_leaf.h"
#include "bsp/bsp_node.h"
#include "geometry/polygon.h"
#include "geometry/vector3.h"

namespace bsppvs {

struct BspTree {
    // The polygons of all leaves, leaf after leaf.
    std::vector<Poly> polys;
    // The convex empty regions, numbered in the order they were made.
    std::vector<BspLeaf> leaves;
    // Node 0 is the root and every child's index is greater than its parent's.
    std::vector<BspNode> nodes;

    // The leaf holding point p, walking down from node nodeIndex; -1 for solid space, and
    // -1 when the tree has no nodes.
    int32_t LocateLeaf(Vector3 p, int32_t nodeIndex) const;
};

// The number of triangles of all leaves' polygons, as the leaf drawing counts them.
int64_t LeafTriangleCount(const BspTree& tree);

}  // namespace bsppvs
