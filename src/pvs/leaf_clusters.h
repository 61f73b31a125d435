#pragma once

// Clusters: leaves that share one visibility set. A cluster is a connected group of the
// leaves under one node of the tree whose region is small: part of one convex region.
// The visibility pass then runs on the clusters as if each were one leaf: the gates are the
// openings between clusters, and every opening between the same two clusters in one plane
// becomes one gate, the convex hull of its pieces.
//
// Why this is sound: a straight sight line crosses a convex region at most once, and inside
// it stays in one connected part of the region's open space, so it crosses the clusters'
// boundaries in a chain that never comes back to a cluster, through
// openings each of which lies inside a hull. Hulls only add area on the boundary between
// the same two regions, so the sets can only grow. What it costs is tightness: every leaf
// of a cluster sees what any of them sees, and all of them see each other.

#include <cstdint>
#include <vector>

#include "bsp/bsp_tree.h"
#include "core/zeroed_block.h"
#include "pvs/gate.h"

namespace bsppvs {

// The cluster size chosen for a level when none is given, in units of the median size of
// its leaves (the largest side of a leaf's box), so that the choice does not depend on the
// level's unit. Measured on the real-level corpus (docs/real-levels.md): at twice the median
// the visibility pass ran 3 to 7 times as fast on the closed maps, for sets a few percent
// larger.
inline constexpr float CLUSTER_SIZE_PER_MEDIAN_LEAF = 2.0f;

// The most openings between clusters the default size leaves: past it the size grows.
// The visibility pass's time grows with its gates. On big levels, and on levels whose
// leaves are mostly chips (many small faceted ornaments, where the median leaf is a chip
// and clusters of twice its size group almost nothing), the bound keeps the pass to
// seconds without depending on the level's unit. Measured on the real-level corpus
// (docs/real-levels.md): 20,000 takes every map under 30 s on one core for sets 0.6%
// larger on average; 10,000 loosened the sets of the slow maps by a fifth.
inline constexpr size_t MAX_DEFAULT_CLUSTER_OPENINGS = 20000;

// The most openings between leaves a level may have for the default to make no clusters:
// clusters only trade tightness for time, and a pass over this many of the leaves' own
// openings takes seconds. Measured on the real-level corpus (docs/real-levels.md): the 27
// maps within 12,000 compile in 8 s or less on one core without clusters, with sets up to a
// fifth tighter; a pass over leaves costs more per opening than one over clusters (its
// chains cross more gates), so this is below the clusters' own bound.
inline constexpr size_t MAX_UNCLUSTERED_OPENINGS = 12000;

// The median of the largest side of the leaves' boxes; 0 for a tree without leaves.
float MedianLeafSize(const BspTree& tree);

struct LeafClusters {
    // The cluster of every leaf, numbered in the order of their first leaves.
    std::vector<int32_t> clusterOf;
    // The leaves of every cluster, in leaf order.
    std::vector<std::vector<int32_t>> members;

    size_t Count() const { return members.size(); }
};

// The size the clusters were made with, and the clusters.
struct SizedClusters {
    float size = 0.0f;
    LeafClusters clusters;
};

// The ordered pairs of leaves an opening joins: the gates a visibility pass over the leaves
// themselves runs on, but for pieces of one opening.
size_t CountLeafOpenings(const std::vector<Gate>& leafGates, size_t leafCount);

// Groups the leaves under the highest node whose region (cut from the world box) fits in a
// cube of side `size`, and that the leaves' gates (BuildGates) join inside that region; a
// leaf with no such node above it is a cluster of its own. The size starts at `firstSize`
// and grows by steps of the square root of two (doubling overshoots the bound by up to
// twice) while more than `maxOpenings` ordered pairs of clusters touch through an opening
// (about the gates the visibility pass will have). A size of 0 or less gives no clusters.
SizedClusters GroupLeavesWithinOpenings(const BspTree& tree, const std::vector<Gate>& leafGates,
                                        const Bounds& world, float firstSize, size_t maxOpenings);

// The gates between clusters, made from the leaves' gates (BuildGates) and numbered in the
// order of their first pieces, and a tree whose leaves are the clusters with only their
// gateIndices set: what the flood and the recursion read.
struct ClusterGraph {
    BspTree tree;
    std::vector<Gate> gates;
};
ClusterGraph BuildClusterGates(const std::vector<Gate>& leafGates, const LeafClusters& clusters);

// Every leaf's pvs from its cluster's: the leaves of every cluster that the cluster's gates
// see, and of the cluster itself.
void CompileClusterPvsArray(BspTree& tree, const LeafClusters& clusters, const ClusterGraph& graph,
                            ZeroedBlock& pvsBytes);

}  // namespace bsppvs
