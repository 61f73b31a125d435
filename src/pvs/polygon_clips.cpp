#include "pvs/polygon_clips.h"

namespace bsppvs {

void ClipToFront(BuildPoly& polygon, const Plane& plane) {
    Winding scratch;
    ClipToFront(polygon, plane, scratch);
}

void ClipToFront(BuildPoly& polygon, const Plane& plane, Winding& scratch) {
    polygon.ClipInPlace(plane, EPSILON, false, scratch);
}

void FindSeparatingPlanes(const Winding& a, const Winding& b, std::vector<Plane>& planes) {
    planes.clear();
    ForEachSeparatingPlane(a, b, [&](const Plane& plane) {
        planes.push_back(plane);
        return true;
    });
}

int32_t ClipByPlanes(const std::vector<Plane>& planes, BuildPoly& c, int32_t keepBack,
                     Winding& scratch) {
    for (const Plane& plane : planes) {
        c.ClipInPlace(plane, EPSILON, keepBack != 0, scratch);
        if (c.points.empty()) {
            return 0;  // nothing left to cut
        }
    }
    return static_cast<int32_t>(c.points.size());
}

int32_t ClipBySeparatingPlanes(BuildPoly& a, BuildPoly& b, BuildPoly& c, int32_t keepBack) {
    Winding scratch;
    return ClipBySeparatingPlanes(a, b, c, keepBack, scratch);
}

int32_t ClipBySeparatingPlanes(BuildPoly& a, BuildPoly& b, BuildPoly& c, int32_t keepBack,
                               Winding& scratch) {
    ForEachSeparatingPlane(a.points, b.points, [&](const Plane& plane) {
        c.ClipInPlace(plane, EPSILON, keepBack != 0, scratch);
        return !c.points.empty();  // once nothing is left, there is nothing to cut
    });
    return static_cast<int32_t>(c.points.size());
}

}  // namespace bsppvs
