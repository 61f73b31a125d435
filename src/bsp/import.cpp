#include <algorithm>
#include <array>
#include <cmath>

#include "bsp/import.h"

#include "level/level_mesh.h"
#include "geometry/tolerances.h"
#include "model/ply_model.h"

namespace bsppvs {

namespace {

float Squared(float v) {
    return v * v;
}

bool HasArea(const Winding& ring) {
    return ComputeNormal(ring) != ORIGIN;
}

// Of a group of coincident corners the last one survives, in its place: (A, B, A, C)
// welds to (B, A, C). Returns false when a corner names no position; such a face is
// skipped (the model reader already rejects these files).
bool WeldCorners(const PlyModel& model, const PlyFace& face, Winding& welded) {
    std::array<Vector3, 4> corner;
    for (int i = 0; i < 4; ++i) {
        const int32_t index = face.positionIndex[i];
        if (index < 0 || static_cast<size_t>(index) >= model.positions.size()) {
            return false;
        }
        corner[i] = model.positions[index];
    }
    for (int i = 0; i < 4; ++i) {
        bool dropped = false;
        for (int j = i + 1; j < 4 && i < 3; ++j) {
            if (SameWithinWeldDistance(corner[i], corner[j])) {
                dropped = true;
                break;
            }
        }
        if (!dropped) {
            welded.push_back(corner[i]);
        }
    }
    return true;
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
void AppendTriangles(BuildPolyList& list, std::array<Winding, 2>&& triangles) {
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

// Whether the quad turns against its facing at corner i.
bool IsReflex(const Winding& c, size_t i, Vector3 normal) {
    const Vector3 in = Subtract(c[i], c[(i + 3) % 4]);
    const Vector3 out = Subtract(c[(i + 1) % 4], c[i]);
    const float lengths = std::sqrt(Dot(in, in) * Dot(out, out));
    return Dot(Cross(in, out), normal) < -REFLEX_SINE * lengths;
}

// The corners at which a flat quad turns against its facing. The tree and the polygon
// split take every polygon to be convex: a concave quad splits into folded pieces without
// area, which become splitters without a plane and swallow whole regions of the level.
std::array<bool, 4> ReflexCorners(const Winding& c) {
    const Vector3 normal = ComputeNormal(c);
    return {IsReflex(c, 0, normal), IsReflex(c, 1, normal), IsReflex(c, 2, normal),
            IsReflex(c, 3, normal)};
}

// A flat quad that is not convex is cut into two triangles like a non-flat one, along the
// diagonal that keeps both inside the quad: the one through its reflex corner. c0-c2 is
// taken when the reflex corner is c0 or c2, else c1-c3. A quad that crosses itself has no
// inside diagonal and is cut along c1-c3.
void AppendConcaveQuad(BuildPolyList& list, const Winding& c, const std::array<bool, 4>& reflex) {
    const bool alongC0C2 = (reflex[0] || reflex[2]) && !reflex[1] && !reflex[3];
    AppendTriangles(list, CutQuad(c, alongC0C2));
}

}  // namespace

void ImportPolys(const PlyModel& model, BuildPolyList& buildPolys) {
    for (const PlyFace& face : model.faces) {
        Winding welded;
        welded.reserve(4);
        if (!WeldCorners(model, face, welded) || welded.size() < 3) {
            continue;
        }
        if (welded.size() == 3) {
            // Three collinear corners have no area: the face is dropped.
            if (HasArea(welded)) {
                AppendPoly(buildPolys, std::move(welded));
            }
            continue;
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
}

}  // namespace bsppvs
