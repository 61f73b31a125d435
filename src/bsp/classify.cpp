#include "bsp/classify.h"

#include "geometry/tolerances.h"

namespace bsppvs {

namespace {

float Squared(float v) {
    return v * v;
}

}  // namespace

bool FacesSameWay(const Plane& plane, const Plane& own) {
    return Squared(plane.a - own.a) < NORMAL_MATCH_EPSILON_SQ &&
           Squared(plane.b - own.b) < NORMAL_MATCH_EPSILON_SQ &&
           Squared(plane.c - own.c) < NORMAL_MATCH_EPSILON_SQ;
}

PolySide ClassifyPoly(const Plane& plane, Poly& poly) {
    int front = 0;
    int back = 0;
    int on = 0;
    for (const Vector3& p : poly.points) {
        const float s = plane.SignedDistance(p);
        if (s < -POLY_CLASSIFY_EPSILON) {
            ++back;
        } else if (s > POLY_CLASSIFY_EPSILON) {
            ++front;
        } else {
            ++on;
        }
        if (front > 0 && back > 0) {
            return SPANNING;
        }
    }
    const int n = static_cast<int>(poly.points.size());
    if (on == n) {
        // Only the normals decide the facing; the distances are not compared.
        return FacesSameWay(plane, poly.GetPlane()) ? COPLANAR_SAME : COPLANAR_OPPOSITE;
    }
    if (on + front == n) {
        return FRONT;
    }
    if (on + back == n) {
        return BACK;
    }
    return SPANNING;
}

}  // namespace bsppvs
