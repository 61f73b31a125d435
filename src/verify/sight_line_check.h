#pragma once

// An independent check of a compiled PVS against the level's own polygons: two points in
// empty space joined by a segment that touches no polygon and stays out of the tree's
// solid space can see each other, so their leaves must be in each other's set. It can only
// prove a set too small, never too large.

#include <cstdint>
#include <vector>

#include "bsp/bsp_tree.h"
#include "geometry/polygon.h"
#include "geometry/vector3.h"

namespace bsppvs {

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

// Whether a sight line through the tree's solid space is excused. A level that is not closed
// has solid space well beyond its faces' outlines, which no set can see through; a tree
// whose solid space was judged by the level's surface should need no such excuse.
enum class SolidTrust {
    TREE,     // lines that cross the tree's solid space are not held against the sets
    NOTHING,  // only the level's own polygons block a line
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
VerifyResult VerifyPvs(const BspTree& tree, const std::vector<Poly>& walls, int64_t pairCount,
                       uint64_t seed, SolidTrust trust = SolidTrust::TREE);

}  // namespace bsppvs
