#include "pvs/leaf_clusters.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <map>
#include <numbers>
#include <utility>

#include "bsp/leaf_cells.h"
#include "core/disjoint_sets.h"

namespace bsppvs {

namespace {

float Largest(Vector3 v) {
    return std::max({v.x, v.y, v.z});
}

}  // namespace

float MedianLeafSize(const BspTree& tree) {
    std::vector<float> sizes;
    sizes.reserve(tree.leaves.size());
    for (const BspLeaf& leaf : tree.leaves) {
        sizes.push_back(2.0f * Largest(leaf.bounds.halfExtent));
    }
    if (sizes.empty()) {
        return 0.0f;
    }
    const auto middle = sizes.begin() + static_cast<std::ptrdiff_t>(sizes.size() / 2);
    std::nth_element(sizes.begin(), middle, sizes.end());
    return *middle;
}

namespace {

LeafClusters GroupLeavesByRegion(const BspTree& tree, const std::vector<Gate>& leafGates,
                                 const std::vector<Bounds>& regions, float size) {
    const float half = 0.5f * size;
    // The highest small node above every leaf, -1 for none, handed down from the root.
    std::vector<int32_t> topOfLeaf(tree.leaves.size(), -1);
    std::vector<std::pair<int32_t, int32_t>> pending;  // node, highest small node above it
    if (!tree.nodes.empty()) {
        pending.emplace_back(0, -1);
    }
    while (!pending.empty()) {
        auto [k, top] = pending.back();
        pending.pop_back();
        if (top == -1 && Largest(regions[k].halfExtent) <= half) {
            top = k;
        }
        const BspNode& node = tree.nodes[k];
        if (node.frontIsLeaf != 0) {
            topOfLeaf[node.front] = top;
        } else if (node.front >= 0) {
            pending.emplace_back(node.front, top);
        }
        if (node.back >= 0) {
            pending.emplace_back(node.back, top);
        }
    }
    // Leaves of one small region that openings inside it join are one cluster; the region's
    // other leaves, which walls part from them, are others.
    DisjointSets parts(tree.leaves.size());
    for (const Gate& gate : leafGates) {
        if (gate.sourceLeaf == -1 || gate.targetLeaf == -1) {
            continue;
        }
        const int32_t top = topOfLeaf[gate.sourceLeaf];
        if (top != -1 && top == topOfLeaf[gate.targetLeaf]) {
            parts.Join(gate.sourceLeaf, gate.targetLeaf);
        }
    }
    LeafClusters clusters;
    clusters.clusterOf.assign(tree.leaves.size(), -1);
    for (size_t leaf = 0; leaf < tree.leaves.size(); ++leaf) {
        // A root is the smallest leaf of its set, so it comes first and numbers the cluster.
        const int32_t first = parts.Root(static_cast<int32_t>(leaf));
        if (first == static_cast<int32_t>(leaf)) {
            clusters.clusterOf[leaf] = static_cast<int32_t>(clusters.members.size());
            clusters.members.emplace_back();
        }
        const int32_t cluster = clusters.clusterOf[first];
        clusters.clusterOf[leaf] = cluster;
        clusters.members[cluster].push_back(static_cast<int32_t>(leaf));
    }
    return clusters;
}

// The ordered pairs of clusters an opening joins: about the number of gates the clusters'
// visibility pass will have (BuildClusterGates joins the pieces of each into one).
size_t CountClusterOpenings(const std::vector<Gate>& leafGates, const LeafClusters& clusters) {
    std::vector<std::pair<int32_t, int32_t>> pairs;
    for (const Gate& gate : leafGates) {
        if (gate.sourceLeaf == -1 || gate.targetLeaf == -1) {
            continue;
        }
        const int32_t source = clusters.clusterOf[gate.sourceLeaf];
        const int32_t target = clusters.clusterOf[gate.targetLeaf];
        if (source != target) {
            pairs.emplace_back(source, target);
        }
    }
    std::sort(pairs.begin(), pairs.end());
    return static_cast<size_t>(std::unique(pairs.begin(), pairs.end()) - pairs.begin());
}

}  // namespace

size_t CountLeafOpenings(const std::vector<Gate>& leafGates, size_t leafCount) {
    LeafClusters own;
    for (size_t leaf = 0; leaf < leafCount; ++leaf) {
        own.clusterOf.push_back(static_cast<int32_t>(leaf));
    }
    return CountClusterOpenings(leafGates, own);
}

SizedClusters GroupLeavesWithinOpenings(const BspTree& tree, const std::vector<Gate>& leafGates,
                                        const Bounds& world, float firstSize, size_t maxOpenings) {
    SizedClusters result;
    if (firstSize <= 0.0f) {
        return result;
    }
    const std::vector<Bounds> regions = ComputeNodeRegionBounds(tree, world);
    // Past the world's size every leaf's top is the root: growing further changes nothing.
    // (Written so that a world box that is not a number ends the search too.)
    const float largest = 2.0f * Largest(world.halfExtent);
    result.size = firstSize;
    for (;;) {
        result.clusters = GroupLeavesByRegion(tree, leafGates, regions, result.size);
        if (CountClusterOpenings(leafGates, result.clusters) <= maxOpenings ||
            !(result.size < largest)) {
            return result;
        }
        result.size *= std::numbers::sqrt2_v<float>;
    }
}

namespace {

// Normals of the pieces of one opening must agree this closely for the pieces to be joined
// into one hull; pieces that do not (which two convex regions cannot make, short of
// rounding gone wrong) stay gates of their own.
constexpr float SAME_FACING_DOT = 0.999f;

// One gate from a cluster into another through `polygon`.
Gate ClusterGate(int32_t source, int32_t target, const Poly& polygon, size_t clusterCount) {
    Gate gate;
    gate.sourceLeaf = source;
    gate.targetLeaf = target;
    static_cast<Poly&>(gate.polygon) = polygon;
    gate.mightSee = LeafBits(clusterCount);
    gate.sees = LeafBits(clusterCount);
    return gate;
}

// The hull of the pieces, facing the way the first one does.
Poly HullOfPieces(const std::vector<const Gate*>& pieces) {
    std::vector<const Poly*> polys;
    for (const Gate* piece : pieces) {
        polys.push_back(&piece->polygon);
    }
    Poly first = pieces[0]->polygon;
    const Vector3 normal = first.GetPlane().Normal();
    Poly hull;
    hull.SetPoints(ConvexHullInPlane(polys, normal));
    if (hull.points.size() >= 3 && Dot(hull.GetPlane().Normal(), normal) < 0.0f) {
        hull.SetReversed(Poly(hull));
    }
    return hull;
}

// Whether the pieces all face the same way, as the pieces of one flat opening do.
bool FaceAlike(const std::vector<const Gate*>& pieces) {
    Poly first = pieces[0]->polygon;
    const Vector3 normal = first.GetPlane().Normal();
    for (const Gate* piece : pieces) {
        Poly copy = piece->polygon;
        if (Dot(copy.GetPlane().Normal(), normal) < SAME_FACING_DOT) {
            return false;
        }
    }
    return true;
}

}  // namespace

ClusterGraph BuildClusterGates(const std::vector<Gate>& leafGates, const LeafClusters& clusters) {
    // The pieces of every opening from one cluster into another, in gate order.
    std::map<std::pair<int32_t, int32_t>, size_t> openingOf;
    std::vector<std::vector<const Gate*>> openings;
    for (const Gate& gate : leafGates) {
        if (gate.targetLeaf == -1 || gate.sourceLeaf == -1) {
            continue;
        }
        const int32_t source = clusters.clusterOf[gate.sourceLeaf];
        const int32_t target = clusters.clusterOf[gate.targetLeaf];
        if (source == target) {
            continue;
        }
        const auto [found, added] = openingOf.try_emplace({source, target}, openings.size());
        if (added) {
            openings.emplace_back();
        }
        openings[found->second].push_back(&gate);
    }
    ClusterGraph graph;
    graph.tree.leaves.resize(clusters.Count());
    for (const std::vector<const Gate*>& pieces : openings) {
        const int32_t source = clusters.clusterOf[pieces[0]->sourceLeaf];
        const int32_t target = clusters.clusterOf[pieces[0]->targetLeaf];
        const auto add = [&](const Poly& polygon) {
            graph.tree.leaves[source].gateIndices.push_back(
                static_cast<int32_t>(graph.gates.size()));
            graph.gates.push_back(ClusterGate(source, target, polygon, clusters.Count()));
        };
        if (pieces.size() > 1 && FaceAlike(pieces)) {
            const Poly hull = HullOfPieces(pieces);
            if (hull.points.size() >= 3) {
                add(hull);
                continue;
            }
        }
        for (const Gate* piece : pieces) {
            add(piece->polygon);
        }
    }
    return graph;
}

void CompileClusterPvsArray(BspTree& tree, const LeafClusters& clusters, const ClusterGraph& graph,
                            ZeroedBlock& pvsBytes) {
    const size_t leafCount = tree.leaves.size();
    pvsBytes.Reset(leafCount, leafCount, false);
    for (BspLeaf& leaf : tree.leaves) {
        leaf.pvs = LeafBytes(pvsBytes.Take(leafCount), leafCount);
    }
    std::vector<uint8_t> seen(clusters.Count());
    for (size_t c = 0; c < clusters.Count(); ++c) {
        std::fill(seen.begin(), seen.end(), 0);
        seen[c] = 1;
        for (const int32_t g : graph.tree.leaves[c].gateIndices) {
            const LeafBits& sees = graph.gates[g].sees;
            const WordRange words = sees.Words();
            for (int32_t w = words.first; w < words.end; ++w) {
                for (uint64_t bits = sees.WordData()[w - words.first]; bits != 0;
                     bits &= bits - 1) {
                    seen[w * LEAVES_PER_WORD + std::countr_zero(bits)] = 1;
                }
            }
        }
        for (const int32_t leaf : clusters.members[c]) {
            uint8_t* pvs = tree.leaves[leaf].pvs.data();
            for (size_t other = 0; other < clusters.Count(); ++other) {
                if (seen[other] != 0) {
                    for (const int32_t mate : clusters.members[other]) {
                        pvs[mate] = 1;
                    }
                }
            }
        }
    }
}

}  // namespace bsppvs
