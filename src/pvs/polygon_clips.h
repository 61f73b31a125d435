#pragma once

// The polygon clips the visibility recursion is made of: keeping the part of a polygon in
// front of a plane, and cutting a polygon by the planes that separate two others.

#include <cstdint>
#include <vector>

#include "bsp/build_poly.h"
#include "bsp/classify.h"
#include "geometry/plane.h"
#include "geometry/tolerances.h"

namespace bsppvs {

// Keeps the part of polygon in front of plane (beyond EPSILON); nothing is left when no
// vertex lies that far in front.
void ClipToFront(BuildPoly& polygon, const Plane& plane);
// The same with caller-owned working space, which keeps repeated clips from allocating.
// Returns whether the polygon changed.
bool ClipToFront(BuildPoly& polygon, const Plane& plane, Winding& scratch);

// Calls use(plane) for every plane through an edge of a and a vertex of b that has a wholly
// on one side and b wholly on the other, turned so that a lies behind it, edge by edge of
// a and vertex by vertex of b; stops early when use returns false.
template <typename Use>
void ForEachSeparatingPlane(const Winding& a, const Winding& b, Use&& use) {
    const size_t edgeCount = a.size();
    for (size_t i = 0; i < edgeCount; ++i) {
        const Vector3 p = a[i];
        const Vector3 edge = Subtract(a[i + 1 < edgeCount ? i + 1 : 0], p);
        for (const Vector3& q : b) {
            Vector3 n = Cross(edge, Subtract(q, p));
            if (n == ORIGIN) {
                continue;
            }
            Normalize(n);
            if (Dot(n, n) < SEPARATOR_MIN_LENGTH_SQ) {
                continue;
            }
            const Plane plane(n, Dot(n, p));
            // Reversing a plane mirrors every distance exactly, so b's side is read before
            // the turn, and a polygon b does not lie wholly beside costs no look at a.
            const PolySide sideOfB = ClassifyRing(plane, b);
            if (sideOfB != FRONT && sideOfB != BACK) {
                continue;
            }
            const PolySide sideOfA = ClassifyRing(plane, a);
            if ((sideOfA != FRONT && sideOfA != BACK) || sideOfA == sideOfB) {
                continue;
            }
            if (!use(sideOfA == FRONT ? plane.Reversed() : plane)) {
                return;
            }
        }
    }
}

// The planes of ForEachSeparatingPlane(a, b), in its order, in planes (replaced).
void FindSeparatingPlanes(const Winding& a, const Winding& b, std::vector<Plane>& planes);

// Cuts c by planes[0] to planes[count - 1] in turn, keeping the back part when keepBack is
// 1 and the front part when 0, until nothing is left. Returns whether c changed.
bool ClipByPlanes(const Plane* planes, size_t count, BuildPoly& c, int32_t keepBack,
                  Winding& scratch);

// For every plane through an edge of a and a vertex of b that has a wholly behind it and b
// wholly in front, cuts c by it, keeping the back part when keepBack is 1 and the front
// part when 0. Returns c's point count afterwards.
int32_t ClipBySeparatingPlanes(BuildPoly& a, BuildPoly& b, BuildPoly& c, int32_t keepBack);
int32_t ClipBySeparatingPlanes(BuildPoly& a, BuildPoly& b, BuildPoly& c, int32_t keepBack,
                               Winding& scratch);

}  // namespace bsppvs
