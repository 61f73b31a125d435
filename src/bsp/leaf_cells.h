#pragma once

// The convex region of every leaf, cut from a box round the level by the node planes on the
// leaf's path. The solid-space analysis needs a point surely inside each leaf (a leaf's own
// polygons lie on its boundary, and may all lie in one plane) and whether the leaf reaches
// the box's sides, the boundary of the world. Costs, per node, a cut of its region's faces:
// about nodes times the faces of a region.

#include <vector>

#include "bsp/bsp_tree.h"
#include "geometry/bounds.h"

namespace bsppvs {

struct LeafCell {
    // The mean of the region's corners: inside it whenever it has volume.
    Vector3 inside;
    // Points from there towards its corners, also inside (see leaf_cells.cpp).
    std::vector<Vector3> probes;
    // The box of the region within the world box.
    Bounds bounds;
    // Whether part of the region's boundary lies on the world box, and then the mean of the
    // corners of that part.
    bool reachesBoundary = false;
    Vector3 boundaryPoint;
    // False when the region has no volume inside the world box.
    bool hasVolume = false;
};

// One cell per leaf of the tree, in leaf order.
std::vector<LeafCell> ComputeLeafCells(const BspTree& tree, const Bounds& world);

// The box of every node's region, in node order.
std::vector<Bounds> ComputeNodeRegionBounds(const BspTree& tree, const Bounds& world);

// A box round every polygon of the list, grown on every side so that no polygon touches it.
Bounds WorldBox(const std::vector<Winding>& polygons);
Bounds WorldBox(const std::vector<Poly>& polygons);

}  // namespace bsppvs
