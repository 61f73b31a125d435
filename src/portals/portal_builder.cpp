#include "portals/portal_builder.h"

// Which pieces need to go on down. A piece that reaches a leaf collects it and goes no
// further, and a piece that falls into solid space is gone, so every piece that survives a
// descent from node n has collected at least one leaf below n, and at most leavesBelow[n],
// the number of leaves in n's subtree: it collects leaves only on disjoint branches (the
// front and the back subtree of a coplanar node). A piece inside the front subtree of a
// coplanar node with something behind it is pushed down that back subtree afterwards,
// where it collects at least one more leaf or is lost. So a piece at node n that holds k
// leaves, with p such back subtrees still ahead of it, ends, if at all, with at least
// k + 1 + p leaves, and, when p is 0, with at most k + leavesBelow[n]. When the first
// exceeds two or the second falls short of two, no piece that comes of it can be kept, and
// it is dropped on the spot. Nothing else changes: the pieces that do end with two leaves
// are cut by the same planes in the same order from the same points, and reach the merge
// in the same order. Leaves passed through (PassThrough) count for nothing here: a subtree
// of such leaves alone adds none, and leavesBelow counts only the others.
//
// What that saves: in a convex room whose floor and ceiling are fans of triangles, the
// tree is one chain of some 3N nodes (N walls) down to the one leaf. Pushed through all of
// it, every floor and ceiling square was cut by every wall into a polygon of up to N
// corners: N^2 per square, N^3 in all. With one leaf below the root, no square now leaves
// the root. Where the leaves below do allow two, the cost is as before: nodes x depth
// classifications plus the splits.

#include <algorithm>
#include <cmath>
#include <list>

#include "bsp/classify.h"
#include "core/parallel_for.h"
#include "geometry/bounds.h"
#include "geometry/tolerances.h"

namespace bsppvs {

namespace {

// Hands a piece that reached a leaf in front of a node to the list, naming that leaf.
void ReachLeaf(Portal& portal, int32_t leaf, std::list<Portal>& output) {
    portal.leafIndices.push_back(leaf);
    output.push_back(std::move(portal));
}

// Whether a corner of the ring lies more than the fine tolerance on the side of the plane
// that `sign` names (1 in front, -1 behind).
bool ReachesPast(const Plane& plane, const Winding& ring, float sign) {
    return std::any_of(ring.begin(), ring.end(),
                       [&](Vector3 p) { return sign * plane.SignedDistance(p) > EPSILON; });
}

// The area of a flat convex ring.
float RingArea(const Winding& ring) {
    Vector3 sum{0, 0, 0};
    for (size_t i = 2; i < ring.size(); ++i) {
        sum = Add(sum, Cross(Subtract(ring[i - 1], ring[0]), Subtract(ring[i], ring[0])));
    }
    return 0.5f * std::sqrt(Dot(sum, sum));
}

// A hull no larger than this part beyond the stored piece's area adds nothing to it.
constexpr float SAME_AREA_RELATIVE = 1e-3f;

// Whether the ring, in the plane, reaches within POLY_CLASSIFY_EPSILON of the convex face
// (seen along the normal): they overlap or touch.
bool Touches(const Winding& ring, const Winding& face, Vector3 normal) {
    return !InsideFaceEdges(ring, face, normal, POLY_CLASSIFY_EPSILON, 1).empty();
}

// On a mesh, the squares of several nodes in one plane can each bring a piece of the
// opening between the same two leaves, each covering a part of it. Two convex regions meet
// in one convex face, so the hull of pieces that lie in one plane and touch stays within
// it: stored becomes that hull, facing as it did. Pieces apart (a crowded piece joined to
// each of its leaves can stand for another face) are left to the size rule. False, and
// stored untouched, when the two are not joined.
bool JoinInPlane(Portal& stored, const Portal& piece) {
    const Plane& plane = stored.GetPlane();
    const PolySide side = ClassifyRing(plane, piece.points);
    if ((side != COPLANAR_SAME && side != COPLANAR_OPPOSITE) ||
        !Touches(piece.points, stored.points, plane.Normal())) {
        return false;
    }
    Winding hull = ConvexHullInPlane({&stored, &piece}, plane.Normal());
    if (hull.size() < 3) {
        return false;
    }
    // Most pieces repeat the stored one (the squares of a wall's two sides) or lie within
    // it: the stored ring then stays as it was.
    if (RingArea(hull) <= RingArea(stored.points) * (1.0f + SAME_AREA_RELATIVE)) {
        return true;
    }
    if (Dot(ComputeNormal(hull), plane.Normal()) < 0.0f) {
        std::reverse(hull.begin(), hull.end());
    }
    stored.SetPoints(std::move(hull));
    return true;
}

}  // namespace

float PortalSize(const Poly& poly) {
    const Vector3 h = Bounds::FromPoints(poly.points).halfExtent;
    return std::sqrt(h.x * h.x + h.y * h.y + h.z * h.z);
}

Portal PortalBuilder::MakeNodePortal(const BspNode& node) const {
    const Vector3 n = node.plane.Normal();
    const Vector3 center = node.bounds.center;
    const Vector3 h = node.bounds.halfExtent;

    // The axis least aligned with the normal; strict comparisons keep ties on X, then Y.
    int axis = 0;
    float smallest = std::fabs(n.x);
    if (std::fabs(n.y) < smallest) {
        axis = 1;
        smallest = std::fabs(n.y);
    }
    if (std::fabs(n.z) < smallest) {
        axis = 2;
    }
    // u and v span the plane; unless whole squares are asked for, neither is normalised
    // (their length is at least sqrt(2/3)).
    const float k = std::sqrt(h.x * h.x + h.y * h.y + h.z * h.z);
    Vector3 u = Cross(AXES[axis], n);
    Vector3 v = Cross(n, u);
    const float scale = wholeSquares_ ? k / std::sqrt(Dot(u, u)) : k;
    u = Scale(u, scale);
    v = Scale(v, scale);
    const Vector3 q = Subtract(center, Scale(n, Dot(n, center) - node.plane.d));

    Portal portal;
    // Counter-clockwise about n, so the square's own plane equals the node's.
    portal.SetPoints(Winding{Add(Subtract(q, u), v), Subtract(Subtract(q, u), v),
                             Subtract(Add(q, u), v), Add(Add(q, u), v)});
    return portal;
}

void PortalBuilder::ClipPortal(Portal& portal, std::list<Portal>& output, int32_t nodeIndex) const {
    Descend(portal, output, nodeIndex, false, 0);
}

int32_t PortalBuilder::CountedFirst(Portal& piece) const {
    std::vector<int32_t>& leaves = piece.leafIndices;
    return static_cast<int32_t>(
        std::stable_partition(leaves.begin(), leaves.end(), [&](int32_t l) { return Counts(l); }) -
        leaves.begin());
}

bool PortalBuilder::CannotEndWithTwoLeaves(const Portal& piece, int32_t nodeIndex,
                                           int32_t pendingBacks) const {
    const auto held = static_cast<int32_t>(std::count_if(
        piece.leafIndices.begin(), piece.leafIndices.end(), [&](int32_t l) { return Counts(l); }));
    // Every subtree holds a leaf, but one of leaves passed through alone adds none.
    const int32_t ahead = leavesBelow_[nodeIndex] > 0 ? 1 : 0;
    const bool tooMany = !joinCrowded_ && held + ahead + pendingBacks > 2;
    const bool tooFew = pendingBacks == 0 && held + leavesBelow_[nodeIndex] < 2;
    return tooMany || tooFew;
}

void PortalBuilder::Descend(Portal& portal, std::list<Portal>& output, int32_t nodeIndex,
                            bool prune, int32_t pendingBacks) const {
    if (prune && CannotEndWithTwoLeaves(portal, nodeIndex, pendingBacks)) {
        return;
    }
    const BspNode& node = tree_.nodes[nodeIndex];
    PolySide side = ClassifyRing(node.plane, portal.points);
    if (splitThinParts_ && (side == FRONT || side == BACK) &&
        ReachesPast(node.plane, portal.points, side == FRONT ? -1.0f : 1.0f)) {
        side = SPANNING;
    }
    // Both coplanar cases go the same way, so the portal's facing is never asked for.
    switch (side) {
        case FRONT:
            if (node.frontIsLeaf != 0) {
                ReachLeaf(portal, node.front, output);
            } else {
                Descend(portal, output, node.front, prune, pendingBacks);
            }
            break;
        case BACK:
            // With nothing behind, the portal lies in solid space and is dropped.
            if (node.back != -1) {
                Descend(portal, output, node.back, prune, pendingBacks);
            } else {
                KeepNearStrip(portal, node, output, prune, pendingBacks);
            }
            break;
        case COPLANAR_SAME:
        case COPLANAR_OPPOSITE: {
            // A piece in the node's plane collects a leaf on each side: first every piece
            // of the front side, then each of those pushed down the back side.
            std::list<Portal> frontPieces;
            if (node.frontIsLeaf != 0) {
                ReachLeaf(portal, node.front, frontPieces);
            } else {
                // A back subtree of leaves passed through alone adds no leaf that counts
                // (leavesBelow_ is only there for pruning descents, the only ones that ask).
                const bool backAdds = node.back != -1 && (!prune || leavesBelow_[node.back] > 0);
                const int32_t backAhead = backAdds ? 1 : 0;
                Descend(portal, frontPieces, node.front, prune, pendingBacks + backAhead);
            }
            if (node.back == -1) {
                output.splice(output.end(), frontPieces);
            } else {
                for (Portal& piece : frontPieces) {
                    std::list<Portal> backPieces;
                    Descend(piece, backPieces, node.back, prune, pendingBacks);
                    output.splice(output.end(), backPieces);
                }
            }
            break;
        }
        case SPANNING: {
            // Classified at the coarse tolerance, split at the fine one: both parts exist.
            Portal frontPart;
            Portal backPart;
            frontPart.leafIndices = portal.leafIndices;
            backPart.leafIndices = portal.leafIndices;
            portal.Split(node.plane, frontPart, backPart, EPSILON);
            std::list<Portal> frontPieces;
            std::list<Portal> backPieces;
            if (node.frontIsLeaf != 0) {
                ReachLeaf(frontPart, node.front, frontPieces);
            } else {
                Descend(frontPart, frontPieces, node.front, prune, pendingBacks);
            }
            if (node.back != -1) {
                Descend(backPart, backPieces, node.back, prune, pendingBacks);
            } else {
                KeepNearStrip(backPart, node, backPieces, prune, pendingBacks);
            }
            output.splice(output.end(), frontPieces);
            output.splice(output.end(), backPieces);
            break;
        }
    }
}

void PortalBuilder::KeepNearStrip(Portal& piece, const BspNode& node, std::list<Portal>& output,
                                  bool prune, int32_t pendingBacks) const {
    // Only a piece nearly parallel to the plane can lie along a sliver between two planes
    // meant to be one; across any other plane the strip is where a wall meets the piece.
    if (!splitThinParts_ || std::fabs(Dot(ComputePlane(piece.points).Normal(),
                                          node.plane.Normal())) < NEARLY_PARALLEL_COSINE) {
        return;
    }
    // The plane moved back by the coarse tolerance: what lies in front of it is the strip.
    const Plane deep(node.plane.a, node.plane.b, node.plane.c,
                     node.plane.d - POLY_CLASSIFY_EPSILON);
    Portal strip;
    Portal rest;
    piece.Split(deep, strip, rest, EPSILON);
    if (strip.points.empty()) {
        return;
    }
    strip.leafIndices = piece.leafIndices;
    if (node.frontIsLeaf != 0) {
        ReachLeaf(strip, node.front, output);
    } else {
        Descend(strip, output, node.front, prune, pendingBacks);
    }
}

void PortalBuilder::CountLeavesBelow() {
    const std::vector<BspNode>& nodes = tree_.nodes;
    leavesBelow_.assign(nodes.size(), 0);
    // Children come after their parent, so a backward pass sees every child first.
    for (size_t k = nodes.size(); k-- > 0;) {
        const BspNode& node = nodes[k];
        const int32_t front =
            node.frontIsLeaf != 0 ? (Counts(node.front) ? 1 : 0) : leavesBelow_[node.front];
        const int32_t back = node.back == -1 ? 0 : leavesBelow_[node.back];
        leavesBelow_[k] = front + back;
    }
}

PortalBuilder::PortalBuilder(const BspTree& tree, std::vector<Portal>& portals)
    : tree_(tree), portals_(portals) {}

bool PortalBuilder::AddPortal(const Portal& portal) {
    const int32_t p = portal.leafIndices[0];
    const int32_t q = portal.leafIndices[1];
    if (byLeafPair_.size() != portals_.size()) {
        IndexStoredPortals();
    }
    // Stored pairs are unique, so the one match is the first a scan would find.
    const auto [found, added] =
        byLeafPair_.try_emplace(LeafPairKey(p, q), static_cast<int32_t>(portals_.size()));
    if (added) {
        portals_.push_back(portal);
        return true;
    }
    // The larger piece wins and takes over the stored index; on a tie the first stays.
    // With thin parts split, the strips kept beside planes a hair away come long and thin,
    // with a box larger than the opening they would stand for: area decides there.
    Portal& stored = portals_[found->second];
    if (splitThinParts_ && JoinInPlane(stored, portal)) {
        return false;
    }
    const bool larger = splitThinParts_ ? RingArea(portal.points) > RingArea(stored.points)
                                        : PortalSize(portal) > PortalSize(stored);
    if (larger) {
        stored = portal;
    }
    return false;
}

void PortalBuilder::AddPassingPortal(const Portal& piece) {
    const size_t before = portals_.size();
    AddPortal(piece);
    if (passed_ == nullptr) {
        return;
    }
    passed_->resize(portals_.size());
    const int32_t stored =
        portals_.size() > before
            ? static_cast<int32_t>(before)
            : byLeafPair_.at(LeafPairKey(piece.leafIndices[0], piece.leafIndices[1]));
    std::vector<int32_t>& list = (*passed_)[stored];
    for (size_t i = 2; i < piece.leafIndices.size(); ++i) {
        if (std::find(list.begin(), list.end(), piece.leafIndices[i]) == list.end()) {
            list.push_back(piece.leafIndices[i]);
        }
    }
}

void PortalBuilder::AddEveryPair(const Portal& piece, size_t counted) {
    for (size_t i = 0; i < counted; ++i) {
        for (size_t j = i + 1; j < counted; ++j) {
            Portal pair = piece;
            pair.leafIndices = {piece.leafIndices[i], piece.leafIndices[j]};
            AddPortal(pair);
        }
    }
}

void PortalBuilder::IndexStoredPortals() {
    byLeafPair_.clear();
    for (size_t i = 0; i < portals_.size(); ++i) {
        const std::vector<int32_t>& stored = portals_[i].leafIndices;
        byLeafPair_.try_emplace(LeafPairKey(stored[0], stored[1]), static_cast<int32_t>(i));
    }
}

void PortalBuilder::BuildPortals(int32_t threads) {
    const std::vector<BspNode>& nodes = tree_.nodes;
    CountLeavesBelow();
    // The nodes' squares are cut independently, a block of nodes at a time, and merged in
    // node order, so the result does not depend on how many threads cut them.
    constexpr size_t NODES_PER_BLOCK = 1024;
    constexpr size_t NODES_PER_SLICE = 16;
    for (size_t first = 0; first < nodes.size(); first += NODES_PER_BLOCK) {
        const size_t count = std::min(NODES_PER_BLOCK, nodes.size() - first);
        std::vector<std::list<Portal>> pieces(count);
        ParallelFor(threads, count, NODES_PER_SLICE, [&](size_t begin, size_t end) {
            for (size_t i = begin; i < end; ++i) {
                if (cutOnly_ != nullptr && (*cutOnly_)[first + i] == 0) {
                    continue;
                }
                Portal square = MakeNodePortal(nodes[first + i]);
                // Every square starts at the root, not at its own node; only pieces that
                // can still end with two leaves go on.
                Descend(square, pieces[i], 0, true, 0);
            }
        });
        for (std::list<Portal>& nodePieces : pieces) {
            for (Portal& piece : nodePieces) {
                const size_t counted = passThrough_ != nullptr
                                           ? static_cast<size_t>(CountedFirst(piece))
                                           : piece.leafIndices.size();
                if (counted == 2) {
                    AddPassingPortal(piece);
                } else if (counted > 2 && joinCrowded_) {
                    AddEveryPair(piece, counted);
                }
            }
        }
    }
}

}  // namespace bsppvs
