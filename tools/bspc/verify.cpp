#include "verify.h"

// The check draws pairs of points in leaves and asks a grid of polygon boxes whether the
// segment between them is clear; a clear segment between two leaves that do not list each
// other is a violation. Each query walks the grid cells along the segment (a 3D digital
// differential analyser) and tests every polygon piece of a cell once, so a query costs
// the cells it crosses before the first touch, not the polygon count.

#include <algorithm>
#include <array>
#include <cassert>
#include <cmath>
#include <limits>
#include <unordered_set>

#include "geometry/tolerances.h"

namespace bsppvs {

namespace {

// Slack on every piece's box beyond TOUCH_DISTANCE (a fixed part and a part proportional to
// the largest coordinate), so that rounding in the cell walk cannot step past a cell
// whose piece the segment touches.
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
        const uint64_t limit =
            std::numeric_limits<uint64_t>::max() - std::numeric_limits<uint64_t>::max() % bound;
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
            const Vector3 p{Lerp(from.x, end.x, t), Lerp(from.y, end.y, t), Lerp(from.z, end.z, t)};
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
    const LeafBytes& pvs = compiler.leaves[from].pvs;
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
        const LeafBytes& pvs = compiler.leaves[i].pvs;
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

// Double-precision vector arithmetic on the index's points; templates, so that they apply
// to the index's own point type.
template <typename P>
P Minus(const P& a, const P& b) {
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}
template <typename P>
double DotOf(const P& a, const P& b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}
template <typename P>
P CrossOf(const P& a, const P& b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
template <typename P>
double Coord(const P& p, int k) {
    return k == 0 ? p.x : (k == 1 ? p.y : p.z);
}
// The unit Newell normal of a ring, or nothing when the ring has no area.
template <typename P>
std::optional<P> RingNormal(const std::vector<P>& ring) {
    P sum{};
    for (size_t i = 0; i < ring.size(); ++i) {
        const P& u = ring[i];
        const P& v = ring[(i + 1) % ring.size()];
        sum.x += (u.y - v.y) * (u.z + v.z);
        sum.y += (u.z - v.z) * (u.x + v.x);
        sum.z += (u.x - v.x) * (u.y + v.y);
    }
    const double length = std::sqrt(DotOf(sum, sum));
    if (!(length > MIN_LENGTH)) {
        return std::nullopt;
    }
    return P{sum.x / length, sum.y / length, sum.z / length};
}

// Narrows [lo, hi] to the t where f0 + t * slope <= limit.
void KeepBelow(double f0, double slope, double limit, double& lo, double& hi) {
    if (slope == 0.0) {
        if (f0 > limit) {
            hi = -1.0;  // empty
        }
        return;
    }
    const double t = (limit - f0) / slope;
    if (slope > 0.0) {
        hi = std::min(hi, t);
    } else {
        lo = std::max(lo, t);
    }
}

}  // namespace

WallIndex::WallIndex(const std::vector<Poly>& walls) {
    std::vector<Box> boxes;
    boxes.reserve(walls.size());
    std::vector<Point> ring;
    for (const Poly& wall : walls) {
        ring.clear();
        for (const Vector3& p : wall.points) {
            ring.push_back({p.x, p.y, p.z});
        }
        AddPolygon(ring, boxes);
    }
    BuildGrid(boxes);
    lastQuery_.assign(pieces_.size(), 0);
}

void WallIndex::AddPolygon(const std::vector<Point>& ring, std::vector<Box>& boxes) {
    const std::optional<Point> normal = RingNormal(ring);
    if (!normal) {
        return;
    }
    bool convex = true;
    for (size_t i = 0; i < ring.size() && convex; ++i) {
        const Point& prev = ring[(i + ring.size() - 1) % ring.size()];
        const Point& next = ring[(i + 1) % ring.size()];
        const Point turn = CrossOf(Minus(ring[i], prev), Minus(next, ring[i]));
        convex = DotOf(turn, *normal) >= -MIN_LENGTH;
    }
    if (convex) {
        AddConvex(ring, boxes);
        return;
    }
    for (size_t i = 2; i < ring.size(); ++i) {
        AddConvex({ring[0], ring[i - 1], ring[i]}, boxes);
    }
}

void WallIndex::AddConvex(const std::vector<Point>& ring, std::vector<Box>& boxes) {
    const std::optional<Point> normal = RingNormal(ring);
    if (!normal) {
        return;
    }
    Piece piece;
    piece.normal = *normal;
    piece.distance = DotOf(*normal, ring[0]);
    piece.firstEdge = static_cast<uint32_t>(edgeNormals_.size());
    Box box{ring[0], ring[0]};
    for (size_t i = 0; i < ring.size(); ++i) {
        const Point& p = ring[i];
        box.lo = {std::min(box.lo.x, p.x), std::min(box.lo.y, p.y), std::min(box.lo.z, p.z)};
        box.hi = {std::max(box.hi.x, p.x), std::max(box.hi.y, p.y), std::max(box.hi.z, p.z)};
        // The ring runs counter-clockwise about the normal, so edge x normal points out.
        Point out = CrossOf(Minus(ring[(i + 1) % ring.size()], p), *normal);
        const double length = std::sqrt(DotOf(out, out));
        if (!(length > MIN_LENGTH)) {
            continue;  // a repeated corner bounds nothing
        }
        out = {out.x / length, out.y / length, out.z / length};
        edgeNormals_.push_back(out);
        edgeDistances_.push_back(DotOf(out, p));
    }
    piece.edgeCount = static_cast<uint32_t>(edgeNormals_.size()) - piece.firstEdge;
    pieces_.push_back(piece);
    boxes.push_back(box);
}

void WallIndex::BuildGrid(std::vector<Box>& boxes) {
    if (boxes.empty()) {
        return;
    }
    GrowBoxes(boxes);
    SizeCells(boxes.size());
    FillCells(boxes);
}

void WallIndex::GrowBoxes(std::vector<Box>& boxes) {
    double largest = 0.0;
    for (const Box& box : boxes) {
        for (int k = 0; k < 3; ++k) {
            largest = std::max({largest, std::fabs(Coord(box.lo, k)), std::fabs(Coord(box.hi, k))});
        }
    }
    // Every box holds all points within TOUCH_DISTANCE of its piece, and some slack more.
    const double grow = TOUCH_DISTANCE + BOX_SLACK_ABSOLUTE + BOX_SLACK_RELATIVE * largest;
    min_ = {std::numeric_limits<double>::infinity(), std::numeric_limits<double>::infinity(),
            std::numeric_limits<double>::infinity()};
    max_ = {-min_.x, -min_.y, -min_.z};
    for (Box& box : boxes) {
        box.lo = {box.lo.x - grow, box.lo.y - grow, box.lo.z - grow};
        box.hi = {box.hi.x + grow, box.hi.y + grow, box.hi.z + grow};
        min_ = {std::min(min_.x, box.lo.x), std::min(min_.y, box.lo.y), std::min(min_.z, box.lo.z)};
        max_ = {std::max(max_.x, box.hi.x), std::max(max_.y, box.hi.y), std::max(max_.z, box.hi.z)};
    }
}

// Cubic cells of the size that gives the wanted count; an axis thinner than a cell gets
// one cell and leaves its share to the others. The layout only affects speed: a query's
// answer is the same for every layout.
void WallIndex::SizeCells(size_t pieceCount) {
    const double extent[3] = {max_.x - min_.x, max_.y - min_.y, max_.z - min_.z};
    const double wanted = std::clamp(CELLS_PER_PIECE * double(pieceCount), 1.0, MAX_CELLS);
    bool thin[3] = {false, false, false};
    double side = 0.0;
    for (int pass = 0; pass < 3; ++pass) {
        double volume = 1.0;
        int free = 0;
        for (int k = 0; k < 3; ++k) {
            if (!thin[k]) {
                volume *= extent[k];
                ++free;
            }
        }
        side = free == 0 ? 0.0 : std::pow(volume / wanted, 1.0 / free);
        for (int k = 0; k < 3; ++k) {
            thin[k] = thin[k] || extent[k] < side;
        }
    }
    for (int k = 0; k < 3; ++k) {
        const double count = thin[k] || side <= 0.0 ? 1.0 : std::ceil(extent[k] / side);
        cells_[k] = static_cast<int>(std::clamp(count, 1.0, double(MAX_CELLS_PER_AXIS)));
        cellSize_[k] = extent[k] / cells_[k];
    }
}

// Two passes over the boxes: count the pieces of every cell, then place them.
void WallIndex::FillCells(const std::vector<Box>& boxes) {
    const size_t cellCount = size_t(cells_[0]) * size_t(cells_[1]) * size_t(cells_[2]);
    cellStart_.assign(cellCount + 1, 0);
    std::vector<uint32_t> next;
    for (int pass = 0; pass < 2; ++pass) {
        if (pass == 1) {
            for (size_t c = 0; c < cellCount; ++c) {
                cellStart_[c + 1] += cellStart_[c];
            }
            cellPieces_.resize(cellStart_[cellCount]);
            next.assign(cellStart_.begin(), cellStart_.end() - 1);
        }
        for (size_t i = 0; i < boxes.size(); ++i) {
            int lo[3];
            int hi[3];
            for (int k = 0; k < 3; ++k) {
                lo[k] = CellAlong(k, Coord(boxes[i].lo, k));
                hi[k] = CellAlong(k, Coord(boxes[i].hi, k));
            }
            for (int z = lo[2]; z <= hi[2]; ++z) {
                for (int y = lo[1]; y <= hi[1]; ++y) {
                    for (int x = lo[0]; x <= hi[0]; ++x) {
                        const size_t c = (size_t(z) * cells_[1] + y) * cells_[0] + x;
                        if (pass == 0) {
                            ++cellStart_[c + 1];
                        } else {
                            cellPieces_[next[c]++] = static_cast<uint32_t>(i);
                        }
                    }
                }
            }
        }
    }
}

int WallIndex::CellAlong(int k, double v) const {
    const double cell = std::floor((v - Coord(min_, k)) / cellSize_[k]);
    return static_cast<int>(std::clamp(cell, 0.0, double(cells_[k] - 1)));
}

std::optional<double> WallIndex::Touch(const Piece& piece, Point a, Point d) const {
    double lo = 0.0;
    double hi = 1.0;
    // Within the slab around the plane...
    const double s0 = DotOf(piece.normal, a) - piece.distance;
    const double slope = DotOf(piece.normal, d);
    KeepBelow(s0, slope, TOUCH_DISTANCE, lo, hi);
    KeepBelow(-s0, -slope, TOUCH_DISTANCE, lo, hi);
    // ...and inside every edge pushed out by the same distance.
    for (uint32_t e = piece.firstEdge; e < piece.firstEdge + piece.edgeCount && lo <= hi; ++e) {
        const Point& m = edgeNormals_[e];
        KeepBelow(DotOf(m, a) - edgeDistances_[e], DotOf(m, d), TOUCH_DISTANCE, lo, hi);
    }
    if (lo > hi) {
        return std::nullopt;
    }
    return lo;
}

std::optional<double> WallIndex::FirstTouch(Vector3 start, Vector3 end) {
    if (pieces_.empty()) {
        return std::nullopt;
    }
    const Point a{start.x, start.y, start.z};
    const Point d = Minus(Point{end.x, end.y, end.z}, a);
    // The part of the segment inside the grid; nothing outside it can touch a piece.
    double lo = 0.0;
    double hi = 1.0;
    for (int k = 0; k < 3; ++k) {
        KeepBelow(Coord(a, k) - Coord(max_, k), Coord(d, k), 0.0, lo, hi);
        KeepBelow(Coord(min_, k) - Coord(a, k), -Coord(d, k), 0.0, lo, hi);
    }
    if (lo > hi) {
        return std::nullopt;
    }
    if (++query_ == 0) {
        std::fill(lastQuery_.begin(), lastQuery_.end(), 0);
        query_ = 1;
    }
    const double best = WalkCells(a, d, lo, hi);
    if (best > 1.0) {
        return std::nullopt;
    }
    return best;
}

// Walks the cells in the order the segment enters them, from parameter lo until the first
// touch is known or the segment leaves the grid at hi; returns the first touch, or infinity.
// The parameter at which the segment leaves the current cell along axis k is recomputed
// from the cell boundary each step rather than accumulated, so no drift builds up.
double WallIndex::WalkCells(Point a, Point d, double lo, double hi) {
    int cell[3];
    int step[3];
    for (int k = 0; k < 3; ++k) {
        cell[k] = CellAlong(k, Coord(a, k) + lo * Coord(d, k));
        step[k] = Coord(d, k) > 0.0 ? 1 : (Coord(d, k) < 0.0 ? -1 : 0);
    }
    auto leaveAlong = [&](int k) {
        if (step[k] == 0) {
            return std::numeric_limits<double>::infinity();
        }
        const double boundary = Coord(min_, k) + (cell[k] + (step[k] > 0 ? 1 : 0)) * cellSize_[k];
        return (boundary - Coord(a, k)) / Coord(d, k);
    };
    double best = std::numeric_limits<double>::infinity();
    for (;;) {
        const size_t c = (size_t(cell[2]) * cells_[1] + cell[1]) * cells_[0] + cell[0];
        for (uint32_t s = cellStart_[c]; s < cellStart_[c + 1]; ++s) {
            const uint32_t i = cellPieces_[s];
            if (lastQuery_[i] == query_) {
                continue;
            }
            lastQuery_[i] = query_;
            const std::optional<double> t = Touch(pieces_[i], a, d);
            if (t && *t < best) {
                best = *t;
            }
        }
        const double leave[3] = {leaveAlong(0), leaveAlong(1), leaveAlong(2)};
        const int k = static_cast<int>(std::min_element(leave, leave + 3) - leave);
        // Every piece touching the segment before the cell is left was in this cell or
        // an earlier one.
        if (best <= leave[k] || leave[k] > hi) {
            return best;
        }
        cell[k] += step[k];
        if (cell[k] < 0 || cell[k] >= cells_[k]) {
            return best;
        }
    }
}

namespace {

// Pieces of a segment in solid space shorter than this are ignored: a sight line that
// grazes a corner of solid space also passes within TOUCH_DISTANCE of a polygon there.
constexpr double SOLID_SLACK = TOUCH_DISTANCE;

// Whether some stretch of the segment from p to q lies in the tree's solid space. In a
// closed level solid space lies behind the walls, so a segment that enters it also crosses
// a polygon; in a level that is not closed, the space behind a face's plane is solid well
// beyond the face's outline, and no set can see through it. The segment is pushed down the
// tree and cut at each plane it crosses; a stretch within the point tolerance of a plane
// goes to the front side, as point location tries first.
bool CrossesSolid(const BspCompiler& compiler, Vector3 p, Vector3 q) {
    if (compiler.nodes.empty()) {
        return false;
    }
    struct Piece {
        int32_t node;
        double t0;
        double t1;
    };
    const double start[3] = {p.x, p.y, p.z};
    const double step[3] = {double(q.x) - p.x, double(q.y) - p.y, double(q.z) - p.z};
    const double length = std::sqrt(step[0] * step[0] + step[1] * step[1] + step[2] * step[2]);
    const auto distance = [&](const Plane& plane, double t) {
        return plane.a * (start[0] + t * step[0]) + plane.b * (start[1] + t * step[1]) +
               plane.c * (start[2] + t * step[2]) - plane.d;
    };
    std::vector<Piece> pending = {{0, 0.0, 1.0}};
    while (!pending.empty()) {
        const Piece piece = pending.back();
        pending.pop_back();
        const BspNode& node = compiler.nodes[piece.node];
        const double s0 = distance(node.plane, piece.t0);
        const double s1 = distance(node.plane, piece.t1);
        const auto toFront = [&](double t0, double t1) {
            if (node.frontIsLeaf == 0) {
                pending.push_back({node.front, t0, t1});
            }
        };
        const auto toBack = [&](double t0, double t1) {
            if (node.back != -1) {
                pending.push_back({node.back, t0, t1});
            } else if ((t1 - t0) * length > SOLID_SLACK) {
                return true;
            }
            return false;
        };
        if (s0 >= -EPSILON && s1 >= -EPSILON) {
            toFront(piece.t0, piece.t1);
        } else if (s0 < -EPSILON && s1 < -EPSILON) {
            if (toBack(piece.t0, piece.t1)) {
                return true;
            }
        } else {
            // One end behind the band, the other in front of or within it: cut where the
            // segment leaves the back side.
            const double cut = piece.t0 + (piece.t1 - piece.t0) * (-EPSILON - s0) / (s1 - s0);
            const bool backFirst = s0 < -EPSILON;
            if (toBack(backFirst ? piece.t0 : cut, backFirst ? cut : piece.t1)) {
                return true;
            }
            toFront(backFirst ? cut : piece.t0, backFirst ? piece.t1 : cut);
        }
    }
    return false;
}

}  // namespace

VerifyResult VerifyPvs(const BspCompiler& compiler, const std::vector<Poly>& walls,
                       int64_t pairCount, uint64_t seed) {
    VerifyResult result;
    WallIndex index(walls);
    PointSampler sampler(compiler, index, seed);
    std::unordered_set<uint64_t> joined;
    for (int64_t n = 0; n < pairCount; ++n) {
        const std::optional<LocatedPoint> first = sampler.InSomeLeaf();
        if (!first) {
            break;
        }
        const bool alongRay = n % 2 == 1;
        const std::optional<LocatedPoint> second =
            alongRay ? sampler.AlongRay(first->point) : sampler.InSomeLeaf();
        if (!second) {
            break;
        }
        ++result.pairs;
        if (!index.IsClear(first->point, second->point) ||
            CrossesSolid(compiler, first->point, second->point)) {
            continue;
        }
        ++result.clearPairs;
        const int32_t a = first->leaf;
        const int32_t b = second->leaf;
        if (a == b) {
            continue;
        }
        joined.insert(PairKey(a, b));
        const bool aSeesB = Lists(compiler, a, b);
        const bool bSeesA = Lists(compiler, b, a);
        if (!aSeesB || !bSeesA) {
            result.violations.push_back({a, b, first->point, second->point, aSeesB, bSeesA});
        }
    }
    CountConfirmed(compiler, joined, result);
    return result;
}

}  // namespace bsppvs
