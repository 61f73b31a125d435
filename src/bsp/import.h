#pragma once

// The import turns a level's faces into flat convex polygons for the tree construction:
// coincident corners are welded, faces with fewer than three distinct corners or no area
// are dropped, flat convex faces are kept whole and other faces are cut into triangles.
// Linear in the face count.

#include <cstdint>
#include <vector>

#include "bsp/build_poly.h"

namespace bsppvs {

struct LevelMesh;

// Appends the level's polygons to list, in order.
void ImportPolys(const LevelMesh& mesh, BuildPolyList& list);

// The same, the polygons whose isDetail entry is 1 (one per mesh polygon; missing entries
// are 0) to detail instead.
void ImportPolys(const LevelMesh& mesh, const std::vector<uint8_t>& isDetail,
                 BuildPolyList& structural, BuildPolyList& detail);

}  // namespace bsppvs
