#pragma once

// A level's own compiled structure, as another compiler shipped it with the level: its tree
// (planes, nodes, leaves grouped into clusters) and the clusters' visibility. It defines the
// level's playable space independently of ours, and its sets are a loose yardstick for the
// tightness of ours: they are per cluster, and their compiler ignored small detail.
//
// Read from JSON: {"planes": [{"normal": [x, y, z], "dist": d}], "nodes": [{"plane": i,
// "front": c, "back": c}], "leaves": [{"cluster": c, "min": [...], "max": [...]}],
// "clusters": {"count": n, "bytes_per_row": b, "visible": ["hex row", ...] or null},
// "solid_brushes": [[plane, ...], ...], "starts": [{"origin": [x, y, z]}]}, in the
// level's own frame. A solid brush is the space behind all of its planes; the leaves that
// hold one still have a cluster (their compiler let such detail not split its tree), so
// points inside one are not counted as playable. Nor are points in clusters that no
// player start's cluster sees: closed-off rooms bounded by walls that are never drawn,
// which a level's mesh does not hold. A child below 0 names leaf
// -(child + 1); a point is in front of a plane when normal . p - dist >= 0; bit c of row r
// (byte c / 8, bit c % 8) says cluster r sees cluster c.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "bsp/bsp_tree.h"
#include "geometry/polygon.h"
#include "verify/sight_line_check.h"

namespace bsppvs {

struct ReferenceMap {
    struct Node {
        int32_t plane = 0;
        int32_t front = 0;
        int32_t back = 0;
    };
    struct Leaf {
        int32_t cluster = -1;  // -1: solid or outside the playable space
        Vector3 min;
        Vector3 max;
    };
    std::vector<Plane> planes;
    std::vector<Node> nodes;
    std::vector<Leaf> leaves;
    int32_t clusterCount = 0;
    // One row of clusterCount bits per cluster; empty when the level shipped none.
    std::vector<std::vector<uint8_t>> visible;
    std::vector<Vector3> starts;
    // Each a list of plane indices whose back sides meet in solid matter.
    std::vector<std::vector<int32_t>> solidBrushes;
    // Per cluster: 1 when a start's cluster sees it (all 1 without starts or sets).
    std::vector<uint8_t> seenFromStarts;

    // The cluster holding p, -1 for solid or outside.
    int32_t ClusterAt(Vector3 p) const;
    // Whether p lies in a cluster seen from a start and inside no solid brush.
    bool IsPlayable(Vector3 p) const;
    // Whether cluster a's shipped set holds cluster b (true when there are no sets).
    bool Sees(int32_t a, int32_t b) const;
};

// Reads the JSON file; on failure, nothing and one line of reason.
std::optional<ReferenceMap> LoadReferenceMap(const std::string& path, std::string& reason);

struct ReferenceComparison {
    int64_t points = 0;          // points drawn in the reference's playable space
    int64_t pointsInSolid = 0;   // of them, in our solid space
    int64_t pairs = 0;           // pairs of points both in our leaves
    int64_t clearPairs = 0;      // of them, joined by a segment that touches no polygon
    int64_t misses = 0;          // clear pairs in two leaves that do not list each other
    int64_t oursVisible = 0;     // pairs our sets call visible (same leaf included)
    int64_t shippedVisible = 0;  // pairs the shipped sets call visible (same cluster included)
    // The first MAX_REPORTED_MISSES of the misses, with leafA's and leafB's entries.
    std::vector<VerifyViolation> missed;
    // The first MAX_REPORTED_MISSES of the points in our solid space.
    std::vector<Vector3> solidPoints;
};

inline constexpr size_t MAX_REPORTED_MISSES = 100;

// Draws pointCount points in the reference's playable space (a random point in the box of
// a random leaf with a cluster, kept when IsPlayable), adds
// the starts raised by START_LIFT, and compares every pair of them. surface is the level's
// polygons as imported.
ReferenceComparison CompareWithReference(const BspTree& tree, const std::vector<Poly>& surface,
                                         const ReferenceMap& reference, int64_t pointCount,
                                         uint64_t seed);

}  // namespace bsppvs
