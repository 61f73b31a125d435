#pragma once

// A level's own compiled structure, as another compiler shipped it with the level: its tree
// (planes, nodes, leaves grouped into clusters) and the clusters' visibility. It defines the
// level's playable space independently of ours, and its sets are a loose yardstick for the
// tightness of ours: they are per cluster, and their compiler ignored small detail.
//
// Read from JSON: {"planes": [{"normal": [x, y, z], "dist": d}], "nodes": [{"plane": i,
// "front": c, "back": c}], "leaves": [{"cluster": c, "min": [...], "max": [...]}],
// "clusters": {"count": n, "bytes_per_row": b, "visible": ["hex row", ...] or null},
// "starts": [{"origin": [x, y, z]}]}, in the level's own frame. A child below 0 names leaf
// -(child + 1); a point is in front of a plane when normal . p - dist >= 0; bit c of row r
// (byte c / 8, bit c % 8) says cluster r sees cluster c.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "bsp/bsp_tree.h"
#include "geometry/polygon.h"

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

    // The cluster holding p, -1 for solid or outside.
    int32_t ClusterAt(Vector3 p) const;
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
};

// Draws pointCount points in the reference's playable space (a random point in the box of
// a random leaf with a cluster, kept when the reference's tree puts it in a cluster), adds
// the starts raised by START_LIFT, and compares every pair of them. surface is the level's
// polygons as imported.
ReferenceComparison CompareWithReference(const BspTree& tree, const std::vector<Poly>& surface,
                                         const ReferenceMap& reference, int64_t pointCount,
                                         uint64_t seed);

}  // namespace bsppvs
