#pragma once

// The polygon clips the visibility recursion is made of: keeping the part of a polygon in
// front of a plane, and cutting a polygon by the planes that separate two others.

#include <cstdint>

#include "bsp/build_poly.h"
#include "geometry/plane.h"

namespace bsppvs {

// Keeps the part of polygon in front of plane (beyond EPSILON); nothing is left when no
// vertex lies that far in front.
void ClipToFront(BuildPoly& polygon, const Plane& plane);
// The same with caller-owned working space, which keeps repeated clips from allocating.
void ClipToFront(BuildPoly& polygon, const Plane& plane, Winding& scratch);

// For every plane through an edge of a and a vertex of b that has a wholly behind it and b
// wholly in front, cuts c by it, keeping the back part when keepBack is 1 and the front
// part when 0. Returns c's point count afterwards.
int32_t ClipBySeparatingPlanes(BuildPoly& a, BuildPoly& b, BuildPoly& c, int32_t keepBack);
int32_t ClipBySeparatingPlanes(BuildPoly& a, BuildPoly& b, BuildPoly& c, int32_t keepBack,
                               Winding& scratch);

}  // namespace bsppvs
