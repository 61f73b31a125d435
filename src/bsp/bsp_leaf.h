#pragma once

#include <cstdint>
#include <vector>

#include "bsp/leaf_bytes.h"
#include "geometry/bounds.h"

namespace bsppvs {

// A convex empty region of the tree and the polygons that bound it.
struct BspLeaf {
    // The leaf's polygons are polys[firstPoly] up to polys[endPoly - 1]; the ranges of all
    // leaves tile polys in leaf order. Both -1 until the tree construction sets them.
    int32_t firstPoly = -1;
    int32_t endPoly = -1;
    // Pieces of detail polygons (see FilterDetailIntoLeaves) come last in the range, from
    // firstDetailPoly on; -1 when the leaf lists none.
    int32_t firstDetailPoly = -1;
    // Box around every corner of the leaf's polygons.
    Bounds bounds;
    // Indices into gates of the gates that lead out of this leaf, in the order they were
    // made. Set by the visibility pass.
    std::vector<int32_t> gateIndices;
    // One byte per leaf, indexed by leaf index: 1 where that leaf may be visible from here.
    // Set by the visibility pass, in storage the compiler owns.
    LeafBytes pvs;
};

}  // namespace bsppvs
