#include "portals/portal_builder.h"

#include <algorithm>
#include <cmath>
#include <list>

#include "bsp/classify.h"
#include "core/parallel_for.h"
#include "geometry/bounds.h"
#include "geometry/tolerances.h"

namespace bsppvs {

namespace {

uint64_t LeafPairKey(int32_t p, int32_t q) {
    const auto lo = static_cast<uint32_t>(std::min(p, q));
    const auto hi = static_cast<uint32_t>(std::max(p, q));
    return (static_cast<uint64_t>(lo) << 32) | hi;
}

// Hands a piece that reached a leaf in front of a node to the list, naming that leaf.
void ReachLeaf(Portal& portal, int32_t leaf, std::list<Portal>& output) {
    portal.leafIndices.push_back(leaf);
    output.push_back(std::move(portal));
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
    // u and v span the plane; neither is normalised (their length is at least sqrt(2/3)).
    const float k = std::sqrt(h.x * h.x + h.y * h.y + h.z * h.z);
    Vector3 u = Cross(AXES[axis], n);
    Vector3 v = Cross(n, u);
    u = Scale(u, k);
    v = Scale(v, k);
    const Vector3 q = Subtract(center, Scale(n, Dot(n, center) - node.plane.d));

    Portal portal;
    // Counter-clockwise about n, so the square's own plane equals the node's.
    portal.SetPoints(Winding{Add(Subtract(q, u), v), Subtract(Subtract(q, u), v),
                             Subtract(Add(q, u), v), Add(Add(q, u), v)});
    return portal;
}

void PortalBuilder::ClipPortal(Portal& portal, std::list<Portal>& output, int32_t nodeIndex) const {
    const BspNode& node = tree_.nodes[nodeIndex];
    // Both coplanar cases go the same way, so the portal's facing is never asked for.
    switch (ClassifyRing(node.plane, portal.points)) {
        case FRONT:
            if (node.frontIsLeaf != 0) {
                ReachLeaf(portal, node.front, output);
            } else {
                ClipPortal(portal, output, node.front);
            }
            break;
        case BACK:
            // With nothing behind, the portal lies in solid space and is dropped.
            if (node.back != -1) {
                ClipPortal(portal, output, node.back);
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
                ClipPortal(portal, frontPieces, node.front);
            }
            if (node.back == -1) {
                output.splice(output.end(), frontPieces);
            } else {
                for (Portal& piece : frontPieces) {
                    std::list<Portal> backPieces;
                    ClipPortal(piece, backPieces, node.back);
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
                ClipPortal(frontPart, frontPieces, node.front);
            }
            if (node.back != -1) {
                ClipPortal(backPart, backPieces, node.back);
            }
            output.splice(output.end(), frontPieces);
            output.splice(output.end(), backPieces);
            break;
        }
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
    Portal& stored = portals_[found->second];
    if (PortalSize(portal) > PortalSize(stored)) {
        stored = portal;
    }
    return false;
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
    // The nodes' squares are cut independently, a block of nodes at a time, and merged in
    // node order, so the result does not depend on how many threads cut them.
    constexpr size_t NODES_PER_BLOCK = 1024;
    constexpr size_t NODES_PER_SLICE = 16;
    for (size_t first = 0; first < nodes.size(); first += NODES_PER_BLOCK) {
        const size_t count = std::min(NODES_PER_BLOCK, nodes.size() - first);
        std::vector<std::list<Portal>> pieces(count);
        ParallelFor(threads, count, NODES_PER_SLICE, [&](size_t begin, size_t end) {
            for (size_t i = begin; i < end; ++i) {
                Portal square = MakeNodePortal(nodes[first + i]);
                // Every square starts at the root, not at its own node.
                ClipPortal(square, pieces[i], 0);
            }
        });
        for (const std::list<Portal>& nodePieces : pieces) {
            for (const Portal& piece : nodePieces) {
                if (piece.leafIndices.size() == 2) {
                    AddPortal(piece);
                }
            }
        }
    }
}

}  // namespace bsppvs
