#include "pvs/polygon_clips.h"

#include "bsp/classify.h"
#include "geometry/tolerances.h"

namespace bsppvs {

void ClipToFront(BuildPoly& polygon, const Plane& plane) {
    Winding scratch;
    ClipToFront(polygon, plane, scratch);
}

void ClipToFront(BuildPoly& polygon, const Plane& plane, Winding& scratch) {
    polygon.ClipInPlace(plane, EPSILON, false, scratch);
}

int32_t ClipBySeparatingPlanes(BuildPoly& a, BuildPoly& b, BuildPoly& c, int32_t keepBack) {
    Winding scratch;
    return ClipBySeparatingPlanes(a, b, c, keepBack, scratch);
}

int32_t ClipBySeparatingPlanes(BuildPoly& a, BuildPoly& b, BuildPoly& c, int32_t keepBack,
                               Winding& scratch) {
    const size_t edgeCount = a.points.size();
    for (size_t i = 0; i < edgeCount; ++i) {
        const Vector3 p = a.points[i];
        const Vector3 pNext = a.points[(i + 1) % edgeCount];
        const Vector3 edge = Subtract(pNext, p);
        for (size_t j = 0; j < b.points.size(); ++j) {
            Vector3 n = Cross(edge, Subtract(b.points[j], p));
            if (n == ORIGIN) {
                continue;
            }
            Normalize(n);
            if (Dot(n, n) < SEPARATOR_MIN_LENGTH_SQ) {
                continue;
            }
            Plane plane(n, Dot(n, p));
            // The plane must have a wholly on one side and b wholly on the other; it is
            // then turned so that a lies behind it. Reversing a plane mirrors every
            // distance exactly, so b's side is read before the turn and a polygon b spans
            // costs no look at a.
            const PolySide sideOfB = ClassifyPoly(plane, b);
            if (sideOfB != FRONT && sideOfB != BACK) {
                continue;
            }
            const PolySide sideOfA = ClassifyPoly(plane, a);
            if (sideOfA == sideOfB || (sideOfA != FRONT && sideOfA != BACK)) {
                continue;
            }
            if (sideOfA == FRONT) {
                plane = plane.Reversed();
            }
            c.ClipInPlace(plane, EPSILON, keepBack != 0, scratch);
            if (c.points.empty()) {
                return 0;  // nothing left to cut
            }
        }
    }
    return static_cast<int32_t>(c.points.size());
}

}  // namespace bsppvs
