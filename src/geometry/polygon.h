#pragma once

// The polygon core shared by every polygon of the compiler: a vertex ring, the triangle fan
// over it for drawing, and its plane, computed on demand and cached until the ring changes.
// Every cut of a polygon by a plane goes through the one Split below.

#include <cstdint>
#include <vector>

#include "geometry/plane.h"
#include "geometry/vector3.h"

namespace bsppvs {

// The vertices of one convex polygon, counter-clockwise seen from the front of its plane.
using Winding = std::vector<Vector3>;

// The unit Newell normal of a ring. A ring without area (fewer than three points, or all
// points collinear) has no normal; it gets the zero vector instead of the NaN that scaling
// by 1 / 0 would give, so that every side test against such a plane says "on" and no
// non-finite value travels on.
Vector3 ComputeNormal(const Winding& ring);

// (ComputeNormal of the ring, normal . first point). An empty ring gives the all-zero plane.
Plane ComputePlane(const Winding& ring);

struct Poly {
    Winding points;
    // Indices into points, three per triangle: always the fan (0, i-1, i) of points.
    std::vector<int32_t> triangleIndices;
    // Meaningful only while planeValid is 1.
    Plane plane;
    // 0: plane must be computed before use; 1: plane matches points.
    int32_t planeValid = 0;

    // Replaces the ring, rebuilds the fan and invalidates the plane.
    void SetPoints(const Winding& ring);
    void SetPoints(Winding&& ring);
    // SetPoints with the other polygon's ring in reverse order.
    void SetReversed(const Poly& other);

    // The plane of the ring, computed once per change of the ring.
    const Plane& GetPlane();

    // Cuts this polygon by the plane with tolerance tol. Fills front with the part in front
    // (when some vertex lies beyond +tol) and back with the part behind (when some vertex
    // lies beyond -tol); vertices within tol go to both. Only points, triangleIndices and
    // planeValid of the outputs are written. Returns true only when both parts were made.
    bool Split(const Plane& plane, Poly& front, Poly& back, float tol) const;

private:
    void RebuildFan();
};

}  // namespace bsppvs
