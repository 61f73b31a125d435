#pragma once

// Where does a segment first come near one of the level's polygons? The sight-line checks
// ask this of many segments, so the polygons are indexed in a uniform grid.

#include <cstdint>
#include <optional>
#include <vector>

#include "geometry/polygon.h"
#include "geometry/tolerances.h"
#include "geometry/vector3.h"

namespace bsppvs {

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

}  // namespace bsppvs
