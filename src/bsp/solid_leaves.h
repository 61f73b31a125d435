#pragma once

// Once every region of space is a leaf and each has been judged empty or solid, the tree
// the later stages use keeps the empty leaves only, in the shape they expect: leaves hang on
// front sides, solid space is -1 behind a node, and nothing else changes their order.

#include <cstdint>
#include <vector>

#include "bsp/bsp_tree.h"
#include "geometry/bounds.h"

namespace bsppvs {

// The tree without the leaves whose emptyLeaf entry is 0. Nodes whose whole subtree is
// solid are dropped; a node whose front side is all solid but whose back is not is turned
// round (its plane reversed, its back subtree moved to the front, solid behind). Nodes and
// leaves keep their relative order and are numbered in pre-order again. A kept leaf
// without polygons takes its box from cellBounds (one per leaf of `full`). reshaped is set
// when the result is not the tree the plain rule would have built: a node was turned round
// or a kept leaf is one of backCellLeaves (per leaf of `full`, see TreeBuilder). When
// keptIndex is given, it is set to each leaf of `full`'s index in the result (-1 when not
// kept).
BspTree WithoutSolidLeaves(const BspTree& full, const std::vector<uint8_t>& emptyLeaf,
                           const std::vector<Bounds>& cellBounds,
                           const std::vector<uint8_t>& backCellLeaves, bool& reshaped,
                           std::vector<int32_t>* keptIndex = nullptr);

}  // namespace bsppvs
