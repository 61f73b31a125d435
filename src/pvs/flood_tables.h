#pragma once

#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <map>
#include <vector>

#include "bsp/classify.h"
#include "core/zeroed_block.h"
#include "geometry/tolerances.h"
#include "pvs/gate.h"

namespace bsppvs {

inline bool IsFrontOrSpanning(PolySide side) {
    return side == FRONT || side == SPANNING;
}
inline bool IsBackOrSpanning(PolySide side) {
    return side == BACK || side == SPANNING;
}

// The extent of every gate's polygon along every distinct gate normal. Whether a polygon
// has a corner beyond a plane at the classification tolerance depends only on the largest
// (or smallest) value over its corners of a*x + b*y + c*z, rounded exactly as the
// classification rounds it, because subtracting d is monotone. So the flood's two tests
// per gate pair become two lookups.
//
// Clipped portals that lie in parallel planes have normals that differ in their last bits,
// so the gates are grouped by their normals rounded to a fine grid, and each group's table
// row is computed along the normal of its first gate. A gate whose normal differs from
// that one carries a margin that bounds how far its own values can lie from the row's,
// rounding included; a lookup within the margin of the tolerance falls back to classifying
// the polygons, so every answer is the one the classification gives. Levels with too many
// groups would make the tables too large; there every test classifies directly.
class GateProjections {
public:
    // Tables over every gate that leads somewhere, unless the level has too many distinct
    // normals for them or useTables is false; then every test classifies the polygons. The
    // front tables' columns are the gates of `columns`, in that order: the flood reads them
    // in the order it walks the leaves' exits, and a row laid out the same way is read
    // front to back.
    GateProjections(std::vector<Gate>& gates, const std::vector<int32_t>& columns,
                    bool useTables = true);

    // False when the level has too many normals for the tables (or none were asked for):
    // then the flood classifies the polygons directly.
    bool HasTables() const { return groupCount_ != 0; }

    // Whether gate j's polygon has a corner in front of gate i's plane (it classifies as
    // front or spanning), and whether gate i's polygon has a corner behind gate j's plane
    // (it classifies as back or spanning), by classifying the polygons.
    // A gate's bounding sphere lying plainly beyond the tolerance (rounding included)
    // decides first: on levels without tables nearly every pair is far apart.
    bool ClassifiesInFront(size_t j, size_t i) const {
        const Plane& plane = gates_[i].polygon.plane;
        const auto [nearest, farthest] = SphereDistances(plane, j);
        if (nearest > POLY_CLASSIFY_EPSILON) {
            return true;
        }
        if (farthest < POLY_CLASSIFY_EPSILON) {
            return false;
        }
        return IsFrontOrSpanning(ClassifyPoly(plane, gates_[j].polygon));
    }
    bool ClassifiesBehind(size_t i, size_t j) const {
        const Plane& plane = gates_[j].polygon.plane;
        const auto [nearest, farthest] = SphereDistances(plane, i);
        if (farthest < -POLY_CLASSIFY_EPSILON) {
            return true;
        }
        if (nearest > -POLY_CLASSIFY_EPSILON) {
            return false;
        }
        return IsBackOrSpanning(ClassifyPoly(plane, gates_[i].polygon));
    }

    // Whether a value looked up in the tables (minus the plane's distance, negated for a
    // test behind) lies beyond the classification tolerance. Plainly beyond the margin
    // either way the lookup decides; within it, classify does.
    template <typename Classify>
    static bool BeyondTolerance(float value, float margin, Classify classify) {
        if (value > POLY_CLASSIFY_EPSILON + margin) {
            return true;
        }
        if (value <= POLY_CLASSIFY_EPSILON - margin) {
            return false;
        }
        return classify();
    }

    // With tables: the largest value of every column's gate's corners along gate i's
    // normal, indexed by column, and the smallest value of gate i's corners along every
    // normal, indexed by normal.
    const float* FrontRow(size_t i) const { return &maxByNormal_[groupOf_[i] * columnCount_]; }
    const float* BehindRow(size_t i) const { return &minByGate_[i * groupCount_]; }
    // Number of distinct normals, the rows of the front table; 0 without tables.
    size_t GroupCount() const { return groupCount_; }
    // Index of gate j's normal; only with tables, and only for a gate that leads somewhere.
    uint32_t GroupOf(size_t j) const { return static_cast<uint32_t>(groupOf_[j]); }
    // How far gate j's values along its own normal may lie from its row's; 0 when its
    // normal is the row's own.
    float Margin(size_t j) const { return margin_[j]; }

private:
    struct Range {
        float min = std::numeric_limits<float>::infinity();
        float max = -std::numeric_limits<float>::infinity();
    };
    static constexpr size_t NO_GROUP = SIZE_MAX;

    // Bounds of the distances from the plane that classifying gate j's corners can give:
    // its sphere's, widened by the rounding of both evaluations.
    std::pair<float, float> SphereDistances(const Plane& plane, size_t j) const {
        const Sphere& sphere = spheres_[j];
        const float middle = plane.SignedDistance(sphere.centre);
        const float slack = sphere.radius + SPHERE_ROUNDING * (2.0f * reach_ + std::fabs(plane.d));
        return {middle - slack, middle + slack};
    }
    struct Sphere {
        Vector3 centre;
        float radius = 0.0f;
    };
    static Sphere SphereAround(const Winding& corners);
    // Per gate: a sphere holding its corners, its radius widened against its own rounding.
    std::vector<Sphere> spheres_;
    // The largest coordinate magnitude of any gate's corner.
    float reach_ = 0.0f;
    // Bound of the rounding of one plane distance a*x + b*y + c*z - d, relative to the
    // coordinates' magnitude and the plane's distance, with room to spare: about five
    // roundings of 2^-24 each, for the sphere's centre and for a corner.
    static constexpr float SPHERE_ROUNDING = 2e-6f;
    static constexpr float SPHERE_RADIUS_SAFETY = 1.0f + 1e-5f;
    // Each table holds one float per gate and normal. An open maze of 256 rooms a side has
    // about 270,000 gates and 200 normals, 220 MiB a table; a level far beyond that
    // classifies instead.
    static constexpr size_t MAX_TABLE_ENTRIES = size_t{1} << 27;
    // A table row costs every gate's corners along one normal, and each row serves only the
    // gates of its normal. Mazes have tens of normals, and their flood runs twice as fast
    // with tables; real meshes have hundreds to thousands, and there building and paging in
    // the tables cost far more than they save (measured on the real-level corpus: 306
    // normals, `hydronex`, 0.15 s with tables against 0.02 s without; 5,793, `suspended`,
    // 19 s against 0.9 s; 105 or fewer within a few milliseconds either way).
    static constexpr size_t MAX_TABLE_NORMALS = 256;

    static Range ExtentAlong(const Plane& normal, const Poly& polygon) {
        Range range;
        for (const Vector3& p : polygon.points) {
            const float t = normal.a * p.x + normal.b * p.y + normal.c * p.z;
            range.min = std::min(range.min, t);
            range.max = std::max(range.max, t);
        }
        return range;
    }

    // Normals are grouped on a grid of this many steps per unit.
    static constexpr double GROUP_GRID = 1 << 20;
    // Bound of the rounding of one value a*x + b*y + c*z of a unit normal, relative to the
    // largest coordinate magnitude: three roundings of at most 2^-24 each of a sum whose
    // terms add up to at most sqrt(3) times that magnitude; twice, for the row's value and
    // the gate's own.
    static constexpr float ROUNDING_BOUND = 2.0f * 1.8e-7f * 1.7321f;
    // Widens every margin against what the bound leaves out (the subtraction of d, which
    // is exact to a relative 2^-24 where it matters, near the tolerance).
    static constexpr float MARGIN_SAFETY = 1.25f;
    static constexpr float MARGIN_FLOOR = 1e-6f;

    static size_t FindGroup(const Plane& plane, std::vector<Plane>& normals,
                            std::map<std::array<int64_t, 3>, size_t>& byKey) {
        const std::array<int64_t, 3> key = {std::llround(double(plane.a) * GROUP_GRID),
                                            std::llround(double(plane.b) * GROUP_GRID),
                                            std::llround(double(plane.c) * GROUP_GRID)};
        const auto [it, added] = byKey.emplace(key, normals.size());
        if (added) {
            normals.push_back(Plane(plane.a, plane.b, plane.c, 0.0f));
        }
        return it->second;
    }

    // For each corner p, |n.p - m.p| <= |n - m|_1 * reach in exact arithmetic; the rounding
    // of both values adds at most ROUNDING_BOUND * reach.
    static float MarginOf(const Plane& own, const Plane& row, float reach) {
        if (own.a == row.a && own.b == row.b && own.c == row.c) {
            return 0.0f;  // the row's values are the gate's own, bit for bit
        }
        const float apart =
            std::fabs(own.a - row.a) + std::fabs(own.b - row.b) + std::fabs(own.c - row.c);
        return MARGIN_SAFETY * (apart + ROUNDING_BOUND) * reach + MARGIN_FLOOR;
    }

    std::vector<Gate>& gates_;
    std::vector<size_t> groupOf_;  // per gate: index of its normal, NO_GROUP for none
    std::vector<float> margin_;    // per gate: see Margin
    size_t groupCount_ = 0;
    size_t columnCount_ = 0;
    ZeroedBlock tables_;            // the storage of the two tables below
    float* maxByNormal_ = nullptr;  // [normal][column]: largest value over the corners
    float* minByGate_ = nullptr;    // [gate][normal]: smallest value over the corners
};

}  // namespace bsppvs
