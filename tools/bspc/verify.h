#pragma once

// An independent check of a compiled PVS against the level's own polygons: two points in
// empty space joined by a segment that touches no polygon and stays out of the tree's
// solid space can see each other, so their leaves must be in each other's set. It can only
// prove a set too small, never too large.

#include <cstdint>
#include <optional>
#include <vector>

#include "bsp/bsp_compiler.h"
#include "geometry/polygon.h"
#include "geometry/vector3.h"

namespace bsppvs {

// A segment that passes within this distance of a polygon counts as blocked by it. It is
// ten times the point-on-plane tolerance of the compiler, so sight lines that only graze a
// wall, where the compiler's clipping may legitimately cut them off, are never held
// against it.
inline constexpr double TOUCH_DISTANCE = 0.01;

// Answers "where does a segment first come within TOUCH_DISTANCE of a polygon?" through a
// uniform grid of cells over the polygons' boxes, walked cell by cell along the segment.
// Building is linear in the number of polygons and the cells they cover; a query costs the
// cells crossed up to the first touch. All arithmetic is in double precision.
class WallIndex {
public:
    // Takes copies of the polygons it needs; polygons without area are ignored, since they
    // hide nothing.
    explicit WallIndex(const std::vector<Poly>& walls);

    // The smallest t in [0, 1] at which start + t * (end - start) lies within
    // TOUCH_DISTANCE of a polygon, or nothing when the whole segment stays farther away.
    // A polygon counts as touched when the segment enters the slab of half-width
    // TOUCH_DISTANCE around its plane inside its outline pushed out by TOUCH_DISTANCE, a
    // region that holds every point within that distance, so the answer errs only
    // towards "blocked".
    std::optional<double> FirstTouch(Vector3 start, Vector3 end);

    bool IsClear(Vector3 start, Vector3 end) { return !FirstTouch(start, end).has_value(); }

    // The box of all polygons, grown by TOUCH_DISTANCE; all zeros when there are none.
    Vector3 Min() const { return ToFloat(min_); }
    Vector3 Max() const { return ToFloat(max_); }

private:
    // Double-precision points and directions; the index never rounds to float inside.
    struct Point {
        double x = 0.0;
        double y = 0.0;
        double z = 0.0;
    };
    struct Box {
        Point lo;
        Point hi;
    };
    // One convex piece: its plane and one outward plane per edge, normals of unit length.
    struct Piece {
        Point normal;
        double distance = 0.0;
        uint32_t firstEdge = 0;  // into edgeNormals_ and edgeDistances_
        uint32_t edgeCount = 0;
    };

    static Vector3 ToFloat(Point p) {
        return {static_cast<float>(p.x), static_cast<float>(p.y), static_cast<float>(p.z)};
    }
    // A polygon becomes one piece when convex, else one piece per triangle of its fan (the
    // triangles it is drawn with).
    void AddPolygon(const std::vector<Point>& ring, std::vector<Box>& boxes);
    void AddConvex(const std::vector<Point>& ring, std::vector<Box>& boxes);
    void BuildGrid(std::vector<Box>& boxes);
    // Grows every box by TOUCH_DISTANCE and slack, and sets the grid's box around them.
    void GrowBoxes(std::vector<Box>& boxes);
    void SizeCells(size_t pieceCount);
    void FillCells(const std::vector<Box>& boxes);
    // The first parameter in [0, 1] at which the segment a + t * d is inside the piece's
    // touch region, if any.
    std::optional<double> Touch(const Piece& piece, Point a, Point d) const;
    // The first touch along a + t * d for t in [lo, hi], or infinity.
    double WalkCells(Point a, Point d, double lo, double hi);
    // The cell holding coordinate v along axis k, clamped to the grid.
    int CellAlong(int k, double v) const;

    std::vector<Piece> pieces_;
    std::vector<Point> edgeNormals_;
    std::vector<double> edgeDistances_;

    // The grid: the box of all pieces' grown boxes, cut into cells_[k] cells of size
    // cellSize_[k] along axis k (x, y, z).
    Point min_;
    Point max_;
    double cellSize_[3] = {1.0, 1.0, 1.0};
    int cells_[3] = {0, 0, 0};
    // The pieces of cell (x, y, z) are cellPieces_[cellStart_[c]] up to
    // cellPieces_[cellStart_[c + 1] - 1], with c = (z * cells_[1] + y) * cells_[0] + x.
    std::vector<uint32_t> cellStart_;
    std::vector<uint32_t> cellPieces_;
    // Per piece, the last query that tested it, so a piece spanning several cells is
    // tested once per query.
    std::vector<uint32_t> lastQuery_;
    uint32_t query_ = 0;
};

// A pair of points whose segment is clear but whose leaves do not both list each other.
struct VerifyViolation {
    int32_t leafA = -1;
    int32_t leafB = -1;
    Vector3 pointA;       // located in leafA
    Vector3 pointB;       // located in leafB
    bool aSeesB = false;  // leafA's pvs entry for leafB
    bool bSeesA = false;  // leafB's pvs entry for leafA
};

struct VerifyResult {
    // Pairs drawn with both points inside some leaf. Smaller than asked only when points
    // inside leaves are too rare to find (see VerifyPvs).
    int64_t pairs = 0;
    // Pairs whose segment touched no polygon.
    int64_t clearPairs = 0;
    // Every clear pair of two different leaves that do not list each other.
    std::vector<VerifyViolation> violations;
    // Ordered leaf pairs (i, j), i != j, with leaf i's pvs entry j set.
    int64_t visiblePairs = 0;
    // Those of visiblePairs whose two leaves some clear pair joined.
    int64_t confirmedPairs = 0;
};

// Draws pairCount pairs of points from a stream seeded by seed (the same seed gives the
// same pairs with every compiler and standard library) and checks every clear pair against
// the compiled sets. walls are the level's polygons as imported, before the tree
// construction splits them. The compiler must have run its visibility pass.
//
// The distribution: the first point of a pair is drawn by picking a leaf uniformly and a
// point uniformly in that leaf's box; it counts for whatever leaf LocateLeaf gives it, and
// a point in solid space is drawn again. The second point of an even-numbered pair is drawn
// the same way, independently. The second point of an odd-numbered pair lies along a
// direction drawn uniformly on the sphere from the first point, at a distance uniform
// between zero and where that direction first touches a polygon (or leaves the level's
// box), so nearly all of these pairs are clear and they probe what the first point sees.
// A point needing more than a fixed number of draws ends the run early.
VerifyResult VerifyPvs(const BspCompiler& compiler, const std::vector<Poly>& walls,
                       int64_t pairCount, uint64_t seed);

}  // namespace bsppvs
