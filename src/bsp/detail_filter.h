#pragma once

// Detail: polygons that do not shape the large-scale space (the props, trims and curved
// pieces of a real level) take no part in the tree, so they neither split the visibility
// structure nor block a sight line. They are still drawn: each is pushed down the finished
// tree, cut by the node planes it crosses, and every piece is listed in the leaf it lands
// in. Pieces that land in solid space are dropped.

#include "bsp/bsp_tree.h"
#include "bsp/build_poly.h"

namespace bsppvs {

// Adds the pieces of the detail polygons to the leaves they land in, after each leaf's own
// polygons (the leaves' ranges still tile polys in leaf order), and empties the list.
// Costs, per polygon, the nodes its pieces pass.
void FilterDetailIntoLeaves(BspTree& tree, BuildPolyList& detail);

}  // namespace bsppvs
