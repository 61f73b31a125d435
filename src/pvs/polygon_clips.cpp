#include "pvs/polygon_clips.h"

#include "geometry/polygon.h"

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

void TangentSeparators(const Winding& a, const Winding& b, std::vector<Plane>& out) {
    out.clear();
    if (a.size() < 3 || b.empty()) {
        return;
    }
    const Vector3 inside = AverageCorner(a);
    for (size_t i = 0; i < a.size(); ++i) {
        const Vector3 p = a[i];
        const Vector3 edge = Subtract(a[i + 1 < a.size() ? i + 1 : 0], p);
        const Vector3 towardA = Subtract(inside, p);
        // The plane through the edge and a corner, turned to have a behind it; a corner
        // behind the plane of the best so far tilts further towards a, and becomes the best.
        auto through = [&](const Vector3& q) {
            const Vector3 n = Cross(edge, Subtract(q, p));
            return Dot(n, towardA) > 0.0f ? Negated(n) : n;
        };
        Vector3 normal = through(b[0]);
        for (size_t k = 1; k < b.size(); ++k) {
            if (Dot(normal, Subtract(b[k], p)) < 0.0f) {
                normal = through(b[k]);
            }
        }
        const float lengthSq = Dot(normal, normal);
        if (!(lengthSq > 0.0f)) {
            continue;
        }
        normal = Scale(normal, 1.0f / std::sqrt(lengthSq));
        if (Dot(normal, normal) < SEPARATOR_MIN_LENGTH_SQ) {
            continue;
        }
        // Kept on the search's own terms: a behind and b in front, each with a corner off
        // the plane beyond the tolerance.
        const Plane plane(normal, Dot(normal, p));
        if (ClassifyRing(plane, a) == BACK && ClassifyRing(plane, b) == FRONT) {
            out.push_back(plane);
        }
    }
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
