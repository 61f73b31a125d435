#include "pvs/polygon_clips.h"

namespace bsppvs {

void ClipToFront(BuildPoly& polygon, const Plane& plane) {
    Winding scratch;
    ClipToFront(polygon, plane, scratch);
}

bool ClipToFront(BuildPoly& polygon, const Plane& plane, Winding& scratch) {
    return polygon.ClipInPlace(plane, EPSILON, false, scratch);
}

bool ClipByPlanes(const Plane* planes, size_t count, BuildPoly& c, int32_t keepBack,
                  Winding& scratch) {
    bool changed = false;
    for (size_t i = 0; i < count && !c.points.empty(); ++i) {
        changed |= c.ClipInPlace(planes[i], EPSILON, keepBack != 0, scratch);
    }
    return changed;
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
