#include "verify/wall_index.h"

// Each query walks the grid cells along the segment (a 3D digital differential analyser)
// and tests every polygon piece of a cell once, so a query costs the cells it crosses
// before the first touch, not the polygon count.

#include <algorithm>
#include <cmath>
#include <limits>

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

}  // namespace bsppvs
