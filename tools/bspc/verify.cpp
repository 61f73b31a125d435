#include "verify.h"

// The check draws pairs of points in leaves and asks a grid of polygon boxes whether the
// segment between them is clear; a clear segment between two leaves that do not list each
// other is a violation. Each query walks the grid cells along the segment (a 3D digital
// differential analyser) and tests every polygon piece of a cell once, so a query costs
// the cells it crosses before the first touch, not the polygon count.

#include <algorithm>
#include <cassert>
#include <cmath>
#include <limits>
#include <unordered_set>

namespace bsppvs {

namespace {

// Slack on every piece's box beyond TOUCH_DISTANCE, in units of the largest coordinate, so
// that rounding in the cell walk cannot step past a cell whose piece the segment touches.
constexpr double BOX_SLACK_RELATIVE = 1e-6;
constexpr double BOX_SLACK_ABSOLUTE = 1e-3;
// A normal or edge shorter than this has no direction worth trusting.
constexpr double MIN_LENGTH = 1e-9;
// Grid size: about this many cells per polygon piece, and never more cells than the cap.
constexpr double CELLS_PER_PIECE = 2.0;
constexpr double MAX_CELLS = 4.0e6;
constexpr int MAX_CELLS_PER_AXIS = 4096;
// Draws allowed for one point before the run gives up on the level.
constexpr int MAX_DRAWS_PER_POINT = 1000;

// SplitMix64, written out so that a seed gives the same pairs with every standard library.
// Only the raw 64-bit stream, the 53-bit uniform double and an exact bounded draw are used;
// the other arithmetic on the draws is IEEE-exact (+, -, *, /, sqrt).
class SplitMix64 {
public:
    explicit SplitMix64(uint64_t seed) : state_(seed) {}

    uint64_t Next() {
        state_ += 0x9E3779B97F4A7C15ull;
        uint64_t z = state_;
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }

    // Uniform in [0, 1), from the top 53 bits.
    double Uniform() { return static_cast<double>(Next() >> 11) * 0x1.0p-53; }

    // Uniform in [0, bound), bound > 0: rejection of the biased top of the range.
    uint64_t Below(uint64_t bound) {
        assert(bound > 0 && "a bounded draw needs a non-empty range");
        const uint64_t limit = std::numeric_limits<uint64_t>::max() -
                               std::numeric_limits<uint64_t>::max() % bound;
        uint64_t draw = Next();
        while (draw >= limit) {
            draw = Next();
        }
        return draw % bound;
    }

private:
    uint64_t state_;
};

struct LocatedPoint {
    Vector3 point;
    int32_t leaf = -1;
};

// Draws points in leaves by the rules documented at VerifyPvs.
class PointSampler {
public:
    PointSampler(const BspCompiler& compiler, WallIndex& walls, uint64_t seed)
        : compiler_(compiler), walls_(walls), random_(seed) {}

    std::optional<LocatedPoint> InSomeLeaf() {
        const uint64_t leafCount = compiler_.leaves.size();
        for (int draw = 0; draw < MAX_DRAWS_PER_POINT && leafCount > 0; ++draw) {
            const Bounds& box = compiler_.leaves[random_.Below(leafCount)].bounds;
            const Vector3 p{Coordinate(box.center.x, box.halfExtent.x),
                            Coordinate(box.center.y, box.halfExtent.y),
                            Coordinate(box.center.z, box.halfExtent.z)};
            const int32_t leaf = compiler_.LocateLeaf(p, 0);
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
            const Vector3 p{Lerp(from.x, end.x, t), Lerp(from.y, end.y, t),
                            Lerp(from.z, end.z, t)};
            const int32_t leaf = compiler_.LocateLeaf(p, 0);
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

    const BspCompiler& compiler_;
    WallIndex& walls_;
    SplitMix64 random_;
};

bool Lists(const BspCompiler& compiler, int32_t from, int32_t to) {
    const std::vector<uint8_t>& pvs = compiler.leaves[from].pvs;
    return static_cast<size_t>(to) < pvs.size() && pvs[to] != 0;
}

uint64_t PairKey(int32_t a, int32_t b) {
    const auto low = static_cast<uint32_t>(std::min(a, b));
    const auto high = static_cast<uint32_t>(std::max(a, b));
    return (uint64_t{low} << 32) | high;
}

// Counts the ordered visible pairs, and those of them that a clear segment joined.
void CountConfirmed(const BspCompiler& compiler, const std::unordered_set<uint64_t>& joined,
                    VerifyResult& result) {
    for (size_t i = 0; i < compiler.leaves.size(); ++i) {
        const std::vector<uint8_t>& pvs = compiler.leaves[i].pvs;
        for (size_t j = 0; j < pvs.size(); ++j) {
            result.visiblePairs += (j != i && pvs[j] != 0) ? 1 : 0;
        }
    }
    for (const uint64_t key : joined) {
        const auto a = static_cast<int32_t>(key >> 32);
        const auto b = static_cast<int32_t>(key & 0xFFFFFFFFu);
        result.confirmedPairs += (Lists(compiler, a, b) ? 1 : 0) + (Lists(compiler, b, a) ? 1 : 0);
    }
}

}  // namespace

WallIndex::WallIndex(const std::vector<Poly>& walls) {
    for (const Poly& wall : walls) {
        std::vector<Point> ring;
        ring.reserve(wall.points.size());
        for (const Vector3& p : wall.points) {
            ring.push_back({p.x, p.y, p.z});
        }
        AddPiece(ring);
    }
    std::vector<std::pair<Point, Point>> boxes;
    boxes.reserve(pieces_.size());
    double largest = 0.0;
    for (const Poly& wall : walls) {
        for (const Vector3& p : wall.points) {
            largest = std::max({largest, std::fabs(double(p.x)), std::fabs(double(p.y)),
                                std::fabs(double(p.z))});
        }
    }
    const double grow = TOUCH_DISTANCE + BOX_SLACK_ABSOLUTE + BOX_SLACK_RELATIVE * largest;
    for (const Piece& piece : pieces_) {
        // A piece's corners are recovered from its edge planes only approximately, so the
        // box is taken from the ring the piece was made of, stored alongside.
        (void)piece;
    }
    for (const auto& ring : pieceRings_) {
        Point lo{ring[0]};
        Point hi{ring[0]};
        for (const Point& p : ring) {
            lo = {std::min(lo.x, p.x), std::min(lo.y, p.y), std::min(lo.z, p.z)};
            hi = {std::max(hi.x, p.x), std::max(hi.y, p.y), std::max(hi.z, p.z)};
        }
        boxes.push_back({{lo.x - grow, lo.y - grow, lo.z - grow},
                         {hi.x + grow, hi.y + grow, hi.z + grow}});
    }
    pieceRings_.clear();
    pieceRings_.shrink_to_fit();
    BuildGrid(boxes);
    lastQuery_.assign(pieces_.size(), 0);
}

}  // namespace bsppvs
