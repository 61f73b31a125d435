#pragma once

#include <optional>

#include "geometry/plane.h"
#include "geometry/vector3.h"

namespace bsppvs {

// The points start + t * (end - start), t in [0, 1].
struct Segment {
    Vector3 start;
    Vector3 end;
};

// The parameter t at which the segment's line meets the plane, or nothing when the segment
// is parallel to it (|direction . normal| < tol). t is not clamped: callers only ask when
// the end points lie strictly on opposite sides.
inline std::optional<float> IntersectSegment(const Plane& plane, const Segment& segment,
                                             float tol) {
    const Vector3 normal = plane.Normal();
    const Vector3 dir = Subtract(segment.end, segment.start);
    const float denom = Dot(dir, normal);
    if (std::fabs(denom) < tol) {
        return std::nullopt;
    }
    return Dot(Subtract(Scale(normal, plane.d), segment.start), normal) / denom;
}

}  // namespace bsppvs
