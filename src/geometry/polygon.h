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

// The vertex counts of a split: how many vertices lay beyond tol on each side.
struct SplitCounts {
    int front = 0;
    int back = 0;
};

// The one split loop. Walks the ring's edges, appending to *front the part in front of the
// plane and to *back the part behind it (either may be null to skip that side); vertices
// within tol go to both, and an edge from one side to the other adds its crossing point to
// both. The rings keep the input's vertex order.
SplitCounts SplitRing(const Winding& ring, const Plane& plane, float tol, Winding* front,
                      Winding* back);

// The unit Newell normal of a ring. A ring without area (fewer than three points, or all
// points collinear) has no normal; it gets the zero vector instead of the NaN that scaling
// by 1 / 0 would give, so that every side test against such a plane says "on" and no
// non-finite value travels on.
Vector3 ComputeNormal(const Winding& ring);

// The average of the ring's corners; the origin for an empty ring.
Vector3 AverageCorner(const Winding& ring);

// How wide a flat convex ring is at its narrowest, about: twice its area over its longest
// side. 0 for a ring without sides.
float RingWidth(const Winding& ring);

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

    // Replaces the ring by its part in front of the plane (keepBack false) or behind it
    // (keepBack true), exactly as Split would make that part; nothing is left when no
    // vertex lies beyond tol on that side. scratch is working space whose buffer is
    // swapped with the ring's, so repeated clips stop allocating once the buffers have
    // grown. A ring with nothing on the other side is kept as it is, cached plane too.
    // Returns whether the ring changed.
    bool ClipInPlace(const Plane& plane, float tol, bool keepBack, Winding& scratch);

private:
    void RebuildFan();
};

// Every corner finite, and the plane too once it has been computed.
inline bool IsFinite(const Poly& poly) {
    for (const Vector3& p : poly.points) {
        if (!IsFinite(p)) {
            return false;
        }
    }
    return poly.planeValid == 0 || IsFinite(poly.plane);
}

// The part of the ring inside the convex face's edges pushed out by margin, seen along the
// face's normal (the ring need not lie in the face's plane). Clipping stops once fewer than
// minPoints corners are left.
Winding InsideFaceEdges(Winding ring, const Winding& face, Vector3 normal, float margin,
                        size_t minPoints);

// The convex hull of the corners of the polygons, in either facing: the corners are projected
// onto the plane of the axes that `normal` leans on least. Empty for fewer than three
// corners.
Winding ConvexHullInPlane(const std::vector<const Poly*>& polys, Vector3 normal);

}  // namespace bsppvs
