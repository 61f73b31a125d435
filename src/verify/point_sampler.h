#pragma once

// Random points in the tree's empty leaves, for the sight-line checks. The same seed gives
// the same points with every compiler and standard library.

#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>

#include "bsp/bsp_tree.h"
#include "core/random.h"
#include "verify/wall_index.h"

namespace bsppvs {

// Draws allowed for one point before the run gives up on the level.
inline constexpr int MAX_DRAWS_PER_POINT = 1000;

struct LocatedPoint {
    Vector3 point;
    int32_t leaf = -1;
};

// Draws points in leaves by the rules documented at VerifyPvs.
class PointSampler {
public:
    PointSampler(const BspTree& tree, WallIndex& walls, uint64_t seed)
        : tree_(tree), walls_(walls), random_(seed) {}

    std::optional<LocatedPoint> InSomeLeaf() {
        const uint64_t leafCount = tree_.leaves.size();
        for (int draw = 0; draw < MAX_DRAWS_PER_POINT && leafCount > 0; ++draw) {
            const Bounds& box = tree_.leaves[random_.BelowWide(leafCount)].bounds;
            const Vector3 p{Coordinate(box.center.x, box.halfExtent.x),
                            Coordinate(box.center.y, box.halfExtent.y),
                            Coordinate(box.center.z, box.halfExtent.z)};
            const int32_t leaf = tree_.LocateLeaf(p, 0);
            if (leaf >= 0) {
                return LocatedPoint{p, leaf};
            }
        }
        return std::nullopt;
    }

    std::optional<LocatedPoint> AlongRay(Vector3 from) {
        for (int draw = 0; draw < MAX_DRAWS_PER_POINT; ++draw) {
            const Vector3 end = RayEnd(from, Direction());
            const double reach = walls_.FirstTouch(from, end).value_or(1.0);
            const double t = random_.Uniform() * reach;
            const Vector3 p{Lerp(from.x, end.x, t), Lerp(from.y, end.y, t), Lerp(from.z, end.z, t)};
            const int32_t leaf = tree_.LocateLeaf(p, 0);
            if (leaf >= 0) {
                return LocatedPoint{p, leaf};
            }
        }
        return std::nullopt;
    }

private:
    float Coordinate(float center, float halfExtent) {
        const double u = 2.0 * random_.Uniform() - 1.0;
        return static_cast<float>(double(center) + u * double(halfExtent));
    }

    static float Lerp(float a, float b, double t) {
        return static_cast<float>(double(a) + t * (double(b) - double(a)));
    }

    // Uniform on the unit sphere: a point uniform in the cube, kept when it falls inside
    // the ball (and not too near its centre), pushed out to the sphere.
    std::array<double, 3> Direction() {
        for (;;) {
            const std::array<double, 3> v = {2.0 * random_.Uniform() - 1.0,
                                             2.0 * random_.Uniform() - 1.0,
                                             2.0 * random_.Uniform() - 1.0};
            const double lengthSq = v[0] * v[0] + v[1] * v[1] + v[2] * v[2];
            if (lengthSq <= 1.0 && lengthSq > 1e-6) {
                const double length = std::sqrt(lengthSq);
                return {v[0] / length, v[1] / length, v[2] / length};
            }
        }
    }

    // Where the ray from `from` along dir leaves the box of all polygons; `from` itself
    // when it is already outside.
    Vector3 RayEnd(Vector3 from, const std::array<double, 3>& dir) const {
        const double p[3] = {from.x, from.y, from.z};
        const Vector3 lo = walls_.Min();
        const Vector3 hi = walls_.Max();
        const double boxLo[3] = {lo.x, lo.y, lo.z};
        const double boxHi[3] = {hi.x, hi.y, hi.z};
        double exit = std::numeric_limits<double>::infinity();
        for (int k = 0; k < 3; ++k) {
            if (dir[k] > 0.0) {
                exit = std::min(exit, (boxHi[k] - p[k]) / dir[k]);
            } else if (dir[k] < 0.0) {
                exit = std::min(exit, (boxLo[k] - p[k]) / dir[k]);
            }
        }
        exit = std::max(exit, 0.0);
        return {static_cast<float>(p[0] + exit * dir[0]), static_cast<float>(p[1] + exit * dir[1]),
                static_cast<float>(p[2] + exit * dir[2])};
    }

    const BspTree& tree_;
    WallIndex& walls_;
    SplitMix64 random_;
};

}  // namespace bsppvs
