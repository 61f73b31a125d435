#include "bsp/import.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <span>
#include <vector>

#include "geometry/tolerances.h"
#include "level/level_mesh.h"
#include "level/ring_shape.h"

namespace bsppvs {

namespace {

float Squared(float v) {
    return v * v;
}

bool HasArea(const Winding& ring) {
    return ComputeNormal(ring) != ORIGIN;
}

bool IsFlat(const Winding& all, const Winding& firstThree) {
    const Vector3 a = ComputeNormal(all);
    const Vector3 b = ComputeNormal(firstThree);
    // A zero normal means the corners have no area; such a quad is never flat, so it is
    // cut and its area-less triangles dropped.
    if (a == ORIGIN || b == ORIGIN) {
        return false;
    }
    return Squared(a.x - b.x) < FLAT_NORMAL_DIFFERENCE_SQ &&
           Squared(a.y - b.y) < FLAT_NORMAL_DIFFERENCE_SQ &&
           Squared(a.z - b.z) < FLAT_NORMAL_DIFFERENCE_SQ;
}

void AppendPoly(BuildPolyList& list, Winding&& ring) {
    BuildPoly& poly = list.emplace_back();
    poly.SetPoints(std::move(ring));
}

// The two triangles of quad c cut along c0-c2, (c0, c1, c2) then (c0, c2, c3), or along
// c1-c3, (c0, c1, c3) then (c1, c2, c3).
std::array<Winding, 2> CutQuad(const Winding& c, bool alongC0C2) {
    if (alongC0C2) {
        return {Winding{c[0], c[1], c[2]}, Winding{c[0], c[2], c[3]}};
    }
    return {Winding{c[0], c[1], c[3]}, Winding{c[1], c[2], c[3]}};
}

// Appends the triangles that have area.
template <size_t N>
void AppendTriangles(BuildPolyList& list, std::array<Winding, N>&& triangles) {
    for (Winding& triangle : triangles) {
        if (HasArea(triangle)) {
            AppendPoly(list, std::move(triangle));
        }
    }
}

// A non-flat quad is cut along the diagonal c1-c3, giving (c0, c1, c3) then (c1, c2, c3).
// That is the cut a plane-side test at c0 gives when it is evaluated exactly (c0 lies on
// the quad's own plane), and it is stable across machines. Only when that cut would leave
// a triangle without area while the other diagonal, c0-c2, gives two proper triangles
// ((c0, c1, c2) then (c0, c2, c3)) is the other diagonal taken. Triangles without area
// are dropped.
void AppendCutQuad(BuildPolyList& list, const Winding& c) {
    const auto proper = [](const std::array<Winding, 2>& cut) {
        return HasArea(cut[0]) && HasArea(cut[1]);
    };
    const bool alongC0C2 = !proper(CutQuad(c, false)) && proper(CutQuad(c, true));
    AppendTriangles(list, CutQuad(c, alongC0C2));
}

// The corners at which a flat quad turns against its facing. The tree and the polygon
// split take every polygon to be convex: a concave quad splits into folded pieces without
// area, which become splitters without a plane and swallow whole regions of the level.
std::array<bool, 4> ReflexCorners(const Winding& c) {
    const Vector3 normal = ComputeNormal(c);
    return {IsReflexCorner(c, 0, normal), IsReflexCorner(c, 1, normal),
            IsReflexCorner(c, 2, normal), IsReflexCorner(c, 3, normal)};
}

// A flat quad that is not convex is cut into two triangles like a non-flat one, along the
// diagonal that keeps both inside the quad: the one through its reflex corner. c0-c2 is
// taken when the reflex corner is c0 or c2, else c1-c3. A quad that crosses itself has no
// inside diagonal and is cut along c1-c3.
void AppendConcaveQuad(BuildPolyList& list, const Winding& c, const std::array<bool, 4>& reflex) {
    const bool alongC0C2 = (reflex[0] || reflex[2]) && !reflex[1] && !reflex[3];
    AppendTriangles(list, CutQuad(c, alongC0C2));
}

// Twice the signed area of the triangle (a, b, c) seen along normal.
float TurnAlong(Vector3 a, Vector3 b, Vector3 c, Vector3 normal) {
    return Dot(Cross(Subtract(b, a), Subtract(c, b)), normal);
}

bool InsideTriangle(Vector3 p, Vector3 a, Vector3 b, Vector3 c, Vector3 normal) {
    return TurnAlong(a, b, p, normal) >= 0.0f && TurnAlong(b, c, p, normal) >= 0.0f &&
           TurnAlong(c, a, p, normal) >= 0.0f;
}

// Cuts a ring that is not flat or not convex into triangles by clipping ears: a corner
// whose triangle with its neighbours turns with the ring's facing and holds no other
// corner. Quadratic in the corner count, which real faces keep small. Corners left when no
// ear remains (a ring that crosses itself) are given up; the triangles without area are
// dropped.
void AppendEarClipped(BuildPolyList& list, const Winding& ring) {
    const Vector3 normal = ComputeNormal(ring);
    std::vector<size_t> left(ring.size());
    for (size_t i = 0; i < left.size(); ++i) {
        left[i] = i;
    }
    while (left.size() > 3) {
        bool clipped = false;
        for (size_t k = 0; k < left.size() && !clipped; ++k) {
            const size_t a = left[(k + left.size() - 1) % left.size()];
            const size_t b = left[k];
            const size_t c = left[(k + 1) % left.size()];
            if (TurnAlong(ring[a], ring[b], ring[c], normal) <= 0.0f) {
                continue;
            }
            bool holdsAnother = false;
            for (const size_t other : left) {
                holdsAnother = holdsAnother ||
                               (other != a && other != b && other != c &&
                                InsideTriangle(ring[other], ring[a], ring[b], ring[c], normal));
            }
            if (holdsAnother) {
                continue;
            }
            AppendTriangles(list, std::array<Winding, 1>{Winding{ring[a], ring[b], ring[c]}});
            left.erase(left.begin() + static_cast<std::ptrdiff_t>(k));
            clipped = true;
        }
        if (!clipped) {
            return;
        }
    }
    AppendTriangles(list,
                    std::array<Winding, 1>{Winding{ring[left[0]], ring[left[1]], ring[left[2]]}});
}

// One welded ring of corners: dropped without three corners or without area, kept whole
// when flat and convex, else cut into triangles.
void ImportRing(Winding&& welded, BuildPolyList& buildPolys) {
    if (welded.size() < 3) {
        return;
    }
    if (welded.size() == 3) {
        // Three collinear corners have no area: the face is dropped.
        if (HasArea(welded)) {
            AppendPoly(buildPolys, std::move(welded));
        }
        return;
    }
    if (welded.size() > 4) {
        if (IsFlatRing(welded) && IsConvexRing(welded)) {
            AppendPoly(buildPolys, std::move(welded));
        } else {
            AppendEarClipped(buildPolys, welded);
        }
        return;
    }
    const Winding firstThree(welded.begin(), welded.begin() + 3);
    if (IsFlat(welded, firstThree)) {
        const std::array<bool, 4> reflex = ReflexCorners(welded);
        if (std::find(reflex.begin(), reflex.end(), true) == reflex.end()) {
            AppendPoly(buildPolys, std::move(welded));
        } else {
            AppendConcaveQuad(buildPolys, welded, reflex);
        }
    } else {
        AppendCutQuad(buildPolys, welded);
    }
}

// The corners' positions after welding; empty when a corner names no position (the
// readers refuse such files, so this only guards).
Winding WeldedCorners(const std::vector<Vector3>& positions, std::vector<int32_t>& ring) {
    for (const int32_t index : ring) {
        if (index < 0 || static_cast<size_t>(index) >= positions.size()) {
            return {};
        }
    }
    WeldRing(positions, ring);
    Winding corners;
    corners.reserve(ring.size());
    for (const int32_t index : ring) {
        corners.push_back(positions[index]);
    }
    return corners;
}

}  // namespace

void ImportPolys(const LevelMesh& mesh, BuildPolyList& buildPolys) {
    ImportPolys(mesh, {}, buildPolys, buildPolys);
}

void ImportPolys(const LevelMesh& mesh, const std::vector<uint8_t>& isDetail,
                 BuildPolyList& structural, BuildPolyList& detail) {
    std::vector<int32_t> ring;
    for (size_t f = 0; f < mesh.polygons.size(); ++f) {
        const std::span<const int32_t> corners = mesh.Ring(f);
        ring.assign(corners.begin(), corners.end());
        const bool toDetail = f < isDetail.size() && isDetail[f] != 0;
        ImportRing(WeldedCorners(mesh.positions, ring), toDetail ? detail : structural);
    }
}

}  // namespace bsppvs
