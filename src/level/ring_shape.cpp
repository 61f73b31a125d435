#include "level/ring_shape.h"

#include <cmath>

#include "geometry/tolerances.h"

namespace bsppvs {

bool IsFlatRing(const Winding& ring) {
    const Plane plane = ComputePlane(ring);
    if (plane.Normal() == ORIGIN) {
        return false;
    }
    for (const Vector3& p : ring) {
        if (std::fabs(plane.SignedDistance(p)) > FLAT_RING_DISTANCE) {
            return false;
        }
    }
    return true;
}

bool IsReflexCorner(const Winding& ring, size_t i, Vector3 normal) {
    const size_t n = ring.size();
    const Vector3 in = Subtract(ring[i], ring[(i + n - 1) % n]);
    const Vector3 out = Subtract(ring[(i + 1) % n], ring[i]);
    const float lengths = std::sqrt(Dot(in, in) * Dot(out, out));
    return Dot(Cross(in, out), normal) < -REFLEX_SINE * lengths;
}

bool IsConvexRing(const Winding& ring) {
    const Vector3 normal = ComputeNormal(ring);
    for (size_t i = 0; i < ring.size(); ++i) {
        if (IsReflexCorner(ring, i, normal)) {
            return false;
        }
    }
    return true;
}

}  // namespace bsppvs
