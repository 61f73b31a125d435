#pragma once

// Triangles back into the polygons they were cut from. Formats with only triangles, such as
// glTF, carry our quads, and the n-gons of modelling tools, as fans: the polygon
// (a, b, c, d, e) becomes (a, b, c), (a, c, d), (a, d, e). Consecutive triangles that
// continue one fan, lie in one plane and keep the polygon convex are joined again, so a
// quad written as a fan reads back as exactly that quad. Each triangle is looked at once,
// and a polygon grows to at most MAX_REBUILT_CORNERS corners, so the cost is linear in the
// number of triangles.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "level/level_mesh.h"

namespace bsppvs {

// The most corners a rebuilt polygon gets; a longer fan continues as a new polygon. Bounds
// the cost of the flatness test, which looks at every corner of the polygon so far.
inline constexpr size_t MAX_REBUILT_CORNERS = 64;

// Appends to mesh the polygons rebuilt from the triangles, in order, with the given group
// and material (-1 for none). A triangle (a', b', c') continues the polygon (a, ..., y, z)
// when a' is at a and b' at z, the triangle faces the way the polygon's first triangle
// faces, the polygon with c' added stays flat by the import's rule (its normal against
// that of its first three corners, each component's squared difference below
// FLAT_NORMAL_DIFFERENCE_SQ) and no corner turns against its facing by more than
// REFLEX_SINE. Every polygon is welded with WeldRing and dropped when fewer than three
// corners remain. Triangles index mesh.positions and must name positions that exist.
void AppendRebuiltFans(std::span<const std::array<int32_t, 3>> triangles, int32_t group,
                       int32_t material, LevelMesh& mesh);

}  // namespace bsppvs
