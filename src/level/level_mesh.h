#pragma once

// The neutral level mesh: what every input format is read into and what the compiler's
// import takes. Positions are shared by index; a polygon is a ring of three or more
// corners (position indices) in order, counter-clockwise seen from the side the polygon
// faces, which is the open side of the level. Polygons may carry the name of the group,
// object or material they came from, and the level may carry marked points (player
// starts and the like) that are not geometry.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "geometry/vector3.h"

namespace bsppvs {

// One polygon: corners[firstCorner] up to corners[firstCorner + cornerCount - 1].
struct LevelPolygon {
    uint32_t firstCorner = 0;
    uint32_t cornerCount = 0;
    // Index into LevelMesh::groups, -1 for none.
    int32_t group = -1;
    // Index into LevelMesh::materials, -1 for none.
    int32_t material = -1;
};

// A named point of the level that is not geometry, such as a player start.
struct MarkedPoint {
    std::string name;
    Vector3 position;
};

struct LevelMesh {
    std::vector<Vector3> positions;
    // Position indices, polygon after polygon.
    std::vector<int32_t> corners;
    std::vector<LevelPolygon> polygons;
    // Group or object names, referred to by LevelPolygon::group.
    std::vector<std::string> groups;
    // Material names, referred to by LevelPolygon::material.
    std::vector<std::string> materials;
    std::vector<MarkedPoint> points;

    // Appends a polygon of the given position indices; returns its index.
    int32_t AddPolygon(std::span<const int32_t> ring, int32_t group = -1);
    // The index of the group (or material) of that name, added when new.
    int32_t GroupIndex(const std::string& name);
    int32_t MaterialIndex(const std::string& name);

    std::span<const int32_t> Ring(const LevelPolygon& polygon) const {
        return {corners.data() + polygon.firstCorner, polygon.cornerCount};
    }
    std::span<const int32_t> Ring(size_t polygon) const { return Ring(polygons[polygon]); }
    // The group (or material) name of a polygon, empty for none.
    const std::string& GroupName(size_t polygon) const;
    const std::string& MaterialName(size_t polygon) const;
};

// Whether a group or object name marks its polygons as detail: it begins with "detail",
// in any case ("detail", "Detail_crate", "DETAIL-pipes").
bool IsDetailName(const std::string& name);

// The polygon nearest to p (by the distance from p to the nearest point of the polygon), or
// -1 when the mesh has none. Linear in the corners.
int32_t NearestPolygon(const LevelMesh& mesh, Vector3 p);

// Drops the corners of a ring that coincide with a later corner of the same ring (every
// coordinate's squared difference below WELD_DISTANCE_SQ): of a group of coincident
// corners the last survives, in its place, so (A, B, A, C) welds to (B, A, C). The last
// corner is always kept. Positions are not compared across rings.
void WeldRing(const std::vector<Vector3>& positions, std::vector<int32_t>& ring);
// Whether two points coincide by that rule.
bool SameWithinWeldDistance(Vector3 p, Vector3 q);

// Checks that the mesh can be compiled: every corner names a position, every polygon has
// at least three corners, and every position a polygon names is finite with no coordinate
// beyond MAX_COORDINATE in magnitude. Returns the first problem as one line naming the
// polygon, corner and position, or nothing.
std::optional<std::string> CheckLevelMesh(const LevelMesh& mesh);

}  // namespace bsppvs
