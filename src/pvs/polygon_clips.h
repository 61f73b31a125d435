#pragma once

// The polygon clips the visibility recursion is made of: keeping the part of a polygon in
// front of a plane, and cutting a polygon by the planes that separate two others.

#include <algorithm>
#include <cmath>
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

// The candidate planes through one edge of a polygon and up to four corners of another,
// computed side by side, each lane exactly as the one plane alone would be: the same
// operations in the same order, so the same roundings.
struct CandidatePlanes {
    static constexpr size_t LANES = 4;
    float a[LANES];
    float b[LANES];
    float c[LANES];
    float d[LANES];
    // Nonzero where the cross product was zero or normalised too short to trust.
    int32_t unusable[LANES];
    // Nonzero where some corner of the far polygon lies in front of (behind) the plane.
    int32_t front[LANES];
    int32_t back[LANES];

    // The planes through the edge from p along `edge` and corners first, first + 1, ...
    // of far (the last corner repeated past its end), with far's sides read. Each step is
    // a loop across the lanes, which the compiler runs on vector registers.
    void Make(Vector3 p, Vector3 edge, const Winding& far, size_t first) {
        float x[LANES];
        float y[LANES];
        float z[LANES];
        for (size_t l = 0; l < LANES; ++l) {
            const Vector3& q = far[std::min(first + l, far.size() - 1)];
            x[l] = q.x - p.x;
            y[l] = q.y - p.y;
            z[l] = q.z - p.z;
        }
        // Cross(edge, q - p), then Normalize, as in vector3.h.
        float lengthSq[LANES];
        for (size_t l = 0; l < LANES; ++l) {
            a[l] = edge.y * z[l] - edge.z * y[l];
            b[l] = edge.z * x[l] - edge.x * z[l];
            c[l] = edge.x * y[l] - edge.y * x[l];
            unusable[l] = a[l] == 0.0f && b[l] == 0.0f && c[l] == 0.0f;
            lengthSq[l] = a[l] * a[l] + b[l] * b[l] + c[l] * c[l];
        }
        float scale[LANES];
        for (size_t l = 0; l < LANES; ++l) {
            scale[l] = 1.0f / std::sqrt(lengthSq[l]);
        }
        for (size_t l = 0; l < LANES; ++l) {
            a[l] *= scale[l];
            b[l] *= scale[l];
            c[l] *= scale[l];
            unusable[l] |= a[l] * a[l] + b[l] * b[l] + c[l] * c[l] < SEPARATOR_MIN_LENGTH_SQ;
            d[l] = a[l] * p.x + b[l] * p.y + c[l] * p.z;
            front[l] = 0;
            back[l] = 0;
        }
        for (const Vector3& q : far) {
            for (size_t l = 0; l < LANES; ++l) {
                const float s = a[l] * q.x + b[l] * q.y + c[l] * q.z - d[l];
                front[l] |= s > POLY_CLASSIFY_EPSILON;
                back[l] |= s < -POLY_CLASSIFY_EPSILON;
            }
        }
    }
};

// For edge number edgeIndex of a and the corners of b from `first` (at most LANES of them),
// calls use(plane) for every plane through the edge and one of the corners that has a
// wholly on one side and b wholly on the other, turned so that a lies behind it; false when
// use returned false.
template <typename Use>
bool SeparatingPlanesOfRun(const Winding& a, const Winding& b, size_t edgeIndex, size_t first,
                           Use&& use) {
    const Vector3 p = a[edgeIndex];
    const Vector3 edge = Subtract(a[edgeIndex + 1 < a.size() ? edgeIndex + 1 : 0], p);
    CandidatePlanes planes;
    planes.Make(p, edge, b, first);
    const size_t lanes = std::min(CandidatePlanes::LANES, b.size() - first);
    for (size_t l = 0; l < lanes; ++l) {
        // b must lie wholly on one side; reversing a plane mirrors every distance exactly,
        // so b's side is read before the turn, and a polygon b does not lie wholly beside
        // costs no look at a.
        if (planes.unusable[l] != 0 || planes.front[l] == planes.back[l]) {
            continue;
        }
        const Plane plane(planes.a[l], planes.b[l], planes.c[l], planes.d[l]);
        const PolySide sideOfA = ClassifyRing(plane, a);
        if (sideOfA != (planes.front[l] != 0 ? BACK : FRONT)) {
            continue;
        }
        if (!use(sideOfA == FRONT ? plane.Reversed() : plane)) {
            return false;
        }
    }
    return true;
}

// Calls use(plane) for every plane through an edge of a and a vertex of b that has a wholly
// on one side and b wholly on the other, turned so that a lies behind it, edge by edge of
// a and vertex by vertex of b; stops early when use returns false.
template <typename Use>
void ForEachSeparatingPlane(const Winding& a, const Winding& b, Use&& use) {
    for (size_t i = 0; i < a.size(); ++i) {
        for (size_t first = 0; first < b.size(); first += CandidatePlanes::LANES) {
            if (!SeparatingPlanesOfRun(a, b, i, first, use)) {
                return;
            }
        }
    }
}

// For every edge of a, the plane through it that touches b with a behind and b in front,
// found by wrapping round b's corners once rather than trying each one: |a| times |b|
// steps instead of |a| times |b| squared. A plane is kept only when a classifies behind it
// and b in front (ClassifyRing), as the search keeps them, so a line from a through b
// leaves it on b's side. Where corners of b lie nearly in line with the
// edge, the corner chosen may differ from the one ForEachSeparatingPlane's tolerance
// lets through, so these planes serve culling by reach, not the clips whose results are
// kept.
void TangentSeparators(const Winding& a, const Winding& b, std::vector<Plane>& out);

// A search for the separating planes of ForEachSeparatingPlane(a, b) that can stop and go
// on later: the planes found so far, in its order, and where it stands (the edge of a and
// the first corner of b of the next run of candidates).
struct SeparatorSearch {
    std::vector<Plane> planes;
    size_t edge = 0;
    size_t first = 0;

    void Restart() {
        planes.clear();
        edge = 0;
        first = 0;
    }
    bool Finished(const Winding& a) const { return edge >= a.size(); }
    // Finds the planes at once, by TangentSeparators: the same planes where no corner of b
    // lies within the tolerance of another's plane, at most one per edge of a elsewhere.
    void Wrap(const Winding& a, const Winding& b) {
        TangentSeparators(a, b, planes);
        edge = a.size();
        first = 0;
    }
    // Adds the planes of the next run of candidates. Requires !Finished(a).
    void Step(const Winding& a, const Winding& b) {
        if (!b.empty()) {
            SeparatingPlanesOfRun(a, b, edge, first, [&](const Plane& plane) {
                planes.push_back(plane);
                return true;
            });
        }
        first += CandidatePlanes::LANES;
        if (first >= b.size()) {
            first = 0;
            ++edge;
        }
    }
};

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
