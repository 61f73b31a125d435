#pragma once

// Meshes from modelling tools and map editors arrive as triangles: a floor of a thousand
// triangles would give the tree a thousand splitters where one or a few do. Coplanar
// triangles that share an edge are joined back into convex polygons first.

#include "level/level_mesh.h"

namespace bsppvs {

// Joins the mesh's triangles, greedily and in polygon order, into convex polygons: two
// polygons that share an edge (the same two positions, run the opposite way), the same
// group and the same material are joined when the result is flat (IsFlatRing) and convex
// (IsConvexRing). Polygons of more than three corners as given are left alone, and the
// others keep their order, each joined polygon taking the place of its first triangle.
// Linear in the corners, but for the joins' convexity tests.
void MergeCoplanarTriangles(LevelMesh& mesh);

}  // namespace bsppvs
