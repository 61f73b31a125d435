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
    const PolySide side = ClassifyRing(plane, poly.points);
    if (side != COPLANAR_SAME) {
        return side;
    }
    // Only the normals decide the facing; the distances are not compared.
    return FacesSameWay(plane, poly.GetPlane()) ? COPLANAR_SAME : COPLANAR_OPPOSITE;
}

}  // namespace bsppvs
