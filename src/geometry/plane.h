#pragma once

#include <cmath>
#include <cstdint>

#include "geometry/vector3.h"

namespace bsppvs {

// Where a point lies relative to a plane. The values are stored and compared by callers.
enum Side : int32_t {
    SIDE_ON = 0,
    SIDE_FRONT = 1,
    SIDE_BACK = 2,
};

// The plane a*x + b*y + c*z - d = 0. The normal (a, b, c) points to the front side and is
// of unit length wherever the plane was built from geometry.
struct Plane {
    float a = 0.0f;
    float b = 0.0f;
    float c = 0.0f;
    float d = 0.0f;

    Plane() = default;
    Plane(float a_, float b_, float c_, float d_) : a(a_), b(b_), c(c_), d(d_) {}
    Plane(Vector3 normal, float distance) : a(normal.x), b(normal.y), c(normal.z), d(distance) {}

    Vector3 Normal() const { return {a, b, c}; }

    // Positive in front, negative behind; one float rounding per operation.
    float SignedDistance(Vector3 p) const { return a * p.x + b * p.y + c * p.z - d; }

    // Closed tolerance band: a distance of exactly +tol or -tol is on the plane.
    Side ClassifyPoint(Vector3 p, float tol) const {
        const float dist = SignedDistance(p);
        if (dist < -tol) {
            return SIDE_BACK;
        }
        if (dist > tol) {
            return SIDE_FRONT;
        }
        return SIDE_ON;
    }

    // The same plane seen from its back: normal and distance negated.
    Plane Reversed() const { return {-a, -b, -c, -d}; }

    friend bool operator==(const Plane&, const Plane&) = default;
};

inline bool IsFinite(const Plane& p) {
    return std::isfinite(p.a) && std::isfinite(p.b) && std::isfinite(p.c) && std::isfinite(p.d);
}

}  // namespace bsppvs
