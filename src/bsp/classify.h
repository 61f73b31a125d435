#pragma once

#include <cstdint>

#include "geometry/plane.h"
#include "geometry/polygon.h"

namespace bsppvs {

// Where a polygon lies relative to a plane, at the polygon tolerance.
enum PolySide : int32_t {
    COPLANAR_SAME = 0,      // every corner on the plane, facing the plane's way
    COPLANAR_OPPOSITE = 1,  // every corner on the plane, normal differs from the plane's
    BACK = 2,               // no corner in front, at least one behind
    FRONT = 3,              // no corner behind, at least one in front
    SPANNING = 4,           // corners on both sides
};

// Classifies the polygon's corners against the plane. In the coplanar case it compares the
// normals, asking the polygon for its plane (which may fill its cache). A polygon without
// corners counts as coplanar.
PolySide ClassifyPoly(const Plane& plane, Poly& poly);

// Whether a polygon whose own plane is `own` faces the way of `plane`, judged by the normals
// alone; the test ClassifyPoly applies to coplanar polygons.
bool FacesSameWay(const Plane& plane, const Plane& own);

}  // namespace bsppvs
