#pragma once

// Meshes from modelling tools and map editors arrive as triangles: a floor of a thousand
// triangles would give the tree a thousand splitters where one or a few do. Coplanar
// triangles that share an edge are joined back into convex polygons first.

#include <cstdint>

#include "level/level_mesh.h"

namespace bsppvs {

// Which polygons as given may be joined: the triangles alone (the polygons of more than
// three corners were made so by the level's author, and generated levels of quads compile
// alike in every format), or every polygon (levels from modelling tools that keep quads,
// whose floors of a thousand quads would otherwise give a thousand splitters).
enum class MergeScope : uint8_t { TRIANGLES, EVERY_POLYGON };

// Joins the mesh's triangles (or, for EVERY_POLYGON, its polygons), greedily and in polygon
// order, into convex polygons: two polygons that share an edge (the same two positions, run
// the opposite way), the same group and the same material are joined when the result is
// flat (IsFlatRing) and convex (IsConvexRing). Polygons the scope leaves out are left
// alone, and the others keep their order, each joined polygon taking the place of its
// first piece. Linear in the corners, but for the joins' convexity tests.
void MergeCoplanarPolygons(LevelMesh& mesh, MergeScope scope = MergeScope::TRIANGLES);

}  // namespace bsppvs
