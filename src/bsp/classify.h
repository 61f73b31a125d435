#pragma once

#include <cstdint>

#include "geometry/plane.h"
#include "geometry/polygon.h"
#include "geometry/tolerances.h"

namespace bsppvs {

// Where a polygon lies relative to a plane, at the polygon tolerance.
enum PolySide : int32_t {
    COPLANAR_SAME = 0,      // every corner on the plane, facing the plane's way
    COPLANAR_OPPOSITE = 1,  // every corner on the plane, normal differs from the plane's
    BACK = 2,               // no corner in front, at least one behind
    FRONT = 3,              // no corner behind, at least one in front
    SPANNING = 4,           // corners on both sides
};

// Classifies the ring's corners against the plane, without looking at its facing: a ring
// with every corner on the plane (or none) is COPLANAR_SAME. For callers that treat both
// coplanar cases alike.
inline PolySide ClassifyRing(const Plane& plane, const Winding& ring) {
    // Every corner is looked at: rings are short, and a loop without early exits runs
    // faster than one that tests for them.
    bool front = false;
    bool back = false;
    for (const Vector3& p : ring) {
        const float s = plane.SignedDistance(p);
        front |= s > POLY_CLASSIFY_EPSILON;
        back |= s < -POLY_CLASSIFY_EPSILON;
    }
    if (front) {
        return back ? SPANNING : FRONT;
    }
    return back ? BACK : COPLANAR_SAME;
}

// Classifies the polygon's corners against the plane. In the coplanar case it compares the
// normals, asking the polygon for its plane (which may fill its cache). A polygon without
// corners counts as coplanar.
PolySide ClassifyPoly(const Plane& plane, Poly& poly);

// Whether a polygon whose own plane is `own` faces the way of `plane`, judged by the normals
// alone; the test ClassifyPoly applies to coplanar polygons.
bool FacesSameWay(const Plane& plane, const Plane& own);

}  // namespace bsppvs
