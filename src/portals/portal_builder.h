#pragma once

// Portal building finds the openings between neighbouring leaves from the tree alone: for
// every node it lays a square on the node's plane, pushes it down the whole tree from the
// root, cutting it at every plane that crosses it and dropping what falls into solid space,
// and keeps each piece that ends up touching exactly two leaves. Where two pieces join the
// same pair of leaves the larger survives, at the index of the first.
//
// Cost: a square descends only as long as one of its pieces could still end with exactly
// two leaves (see portal_builder.cpp), so building is at most nodes x depth
// classifications plus the splits, and a region of the tree with a single leaf costs
// nothing to squares that arrive there with no leaf yet. Merging by leaf pair uses a hash
// map instead of scanning the stored portals, which gives the same portals.

#include <algorithm>
#include <cstdint>
#include <list>
#include <unordered_map>
#include <vector>

#include "bsp/bsp_tree.h"
#include "geometry/polygon.h"
#include "portals/portal.h"

namespace bsppvs {

// A key for the unordered pair of leaves p and q.
inline uint64_t LeafPairKey(int32_t p, int32_t q) {
    const auto lo = static_cast<uint32_t>(std::min(p, q));
    const auto hi = static_cast<uint32_t>(std::max(p, q));
    return (static_cast<uint64_t>(lo) << 32) | hi;
}

// The length of the half-extent of the polygon's axis-aligned bounding box.
float PortalSize(const Poly& poly);

class PortalBuilder {
public:
    // Appends to portals, which must start empty, the portals of the finished tree.
    PortalBuilder(const BspTree& tree, std::vector<Portal>& portals);

    // Every node's square, cut down the tree and merged by leaf pair in node order. The
    // squares are cut on up to `threads` threads; the portals are the same for every count.
    void BuildPortals(int32_t threads = 1);

    // Per leaf, 1 for the leaves a piece may pass without counting (regions without
    // volume, which still take a share of every opening in the planes that squeeze them):
    // a piece is kept when it ends with exactly two leaves that count, and lists those two
    // first, then the ones it passed. Must outlive BuildPortals.
    void PassThrough(const std::vector<uint8_t>& leaves) { passThrough_ = &leaves; }

    // Only the squares of the nodes marked 1 are cut: the portals that lie in their planes.
    // Must outlive BuildPortals.
    void CutOnly(const std::vector<uint8_t>& nodes) { cutOnly_ = &nodes; }

    // With pass-through, per stored portal, every leaf passed by any piece kept for its
    // pair (in the order met, each once). Must outlive BuildPortals.
    void RecordPassed(std::vector<std::vector<int32_t>>& passed) { passed_ = &passed; }

    // With `on`, a piece that ends with more than two leaves joins every two of them instead
    // of being dropped. On a mesh, faces meant to be one surface come on planes a hair
    // apart, and the leaves squeezed between them are slivers that a piece in one of those
    // planes passes within the tolerance: which of its leaves really touch cannot be told,
    // and dropping the piece cuts the sight lines that cross the slivers. Joining too many
    // only lets more through.
    void JoinCrowded(bool on) { joinCrowded_ = on; }

    // With `on` (meshes), thin parts of openings are kept. A piece that lies on one side of
    // a plane within the coarse tolerance but reaches past it on the other by more than the
    // fine one is cut there as well, instead of going whole to the side it mostly lies on;
    // and of a piece nearly parallel to a plane with solid space behind, the strip within
    // the coarse tolerance behind the plane counts as on it. Where a plane runs a hair from
    // another (faces meant to be one), such parts are all there is of a real opening, and
    // the solid space beside them is a sliver. Of two pieces joining the same leaves, the
    // one with the larger area then stays: such strips are long and thin, with boxes larger
    // than the openings they would stand for.
    void SplitThinParts(bool on) { splitThinParts_ = on; }

    // With `on` (meshes), every square reaches the node's box on its plane. The plain square
    // reaches K times the sine of the angle between its axis and the normal from the box
    // centre's projection (K: the box's half-diagonal); on an oblique plane that crosses the
    // box near a corner, the box's section reaches farther, and the part of an opening
    // there was never cut. With unit spanning vectors the square covers the disc of radius
    // K about the projection, which holds the whole section.
    void WholeSquares(bool on) { wholeSquares_ = on; }

    // The steps, public so tests can pin them and hold them against a plain merge.
    // ClipPortal is the plain descent: it hands over every piece that does not fall into
    // solid space, whatever number of leaves it collected.
    Portal MakeNodePortal(const BspNode& node) const;
    void ClipPortal(Portal& portal, std::list<Portal>& output, int32_t nodeIndex) const;
    bool AddPortal(const Portal& portal);
    // AddPortal for a piece whose first two leaves count, recording the ones it passed.
    void AddPassingPortal(const Portal& piece);

private:
    // The descent of ClipPortal. With prune set, a piece is dropped as soon as it can no
    // longer end with exactly two leaves; pendingBacks is then the number of back subtrees
    // each piece this call hands over will still be pushed down (those of the coplanar
    // nodes whose front subtree holds this call).
    void Descend(Portal& portal, std::list<Portal>& output, int32_t nodeIndex, bool prune,
                 int32_t pendingBacks) const;
    // For a piece about to fall into the solid space behind the node: with thin parts split,
    // the strip of it within the coarse tolerance of the node's plane counts as on the
    // plane and goes down the front side. Solid space thinner than the tolerance between
    // two planes a hair apart (faces meant to be one, on a mesh) is no wall.
    void KeepNearStrip(Portal& piece, const BspNode& node, std::list<Portal>& output, bool prune,
                       int32_t pendingBacks) const;
    bool CannotEndWithTwoLeaves(const Portal& piece, int32_t nodeIndex, int32_t pendingBacks) const;
    // Fills leavesBelow_ from the tree.
    void CountLeavesBelow();

    // Rebuilds byLeafPair_ from the stored portals, for portals stored by someone else.
    void IndexStoredPortals();

    const BspTree& tree_;
    std::vector<Portal>& portals_;
    // Stored portal index by unordered leaf pair, kept in step with portals_ by AddPortal.
    std::unordered_map<uint64_t, int32_t> byLeafPair_;
    // The number of leaves in the subtree of each node, indexed by node index. Set by
    // BuildPortals before any square descends; read only by pruning descents. Leaves passed
    // through do not count.
    std::vector<int32_t> leavesBelow_;
    const std::vector<uint8_t>* passThrough_ = nullptr;
    std::vector<std::vector<int32_t>>* passed_ = nullptr;
    const std::vector<uint8_t>* cutOnly_ = nullptr;
    bool joinCrowded_ = false;
    bool splitThinParts_ = false;
    bool wholeSquares_ = false;

    bool Counts(int32_t leaf) const {
        return passThrough_ == nullptr || (*passThrough_)[leaf] == 0;
    }
    // The piece's leaves that count, first, in their order; then the others.
    int32_t CountedFirst(Portal& piece) const;
    // AddPortal for every two of the piece's first `counted` leaves, in order.
    void AddEveryPair(const Portal& piece, size_t counted);
};

}  // namespace bsppvs
