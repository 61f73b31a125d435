#pragma once

// Tree construction. Each node takes as splitter the unused polygon of its list whose plane
// best balances the others (score |front - back| + 8 * spanning, ties to the list head),
// sends the rest to a front and a back list, and goes on with the front list, then the
// back one. Nodes and leaves are numbered in that pre-order. A front list whose polygons
// have all split a node above becomes a leaf; such a back list is solid space and dropped.

#include <cstdint>
#include <functional>
#include <vector>

#include "bsp/bsp_tree.h"
#include "bsp/build_poly.h"
#include "bsp/splitter_search.h"
#include "geometry/bounds.h"

namespace bsppvs {

// Finds the counts of every candidate of a list, in list order (see CountCandidateSides).
using CandidateCounter =
    std::function<std::vector<SideCounts>(BuildPolyList& list, int32_t threads)>;

class TreeBuilder {
public:
    // Builds into tree, whose arrays must be empty. The candidates' counts may be found on
    // several threads; the tree is the same for every count. counter is replaceable so
    // that tests can hold the construction against a plain search.
    explicit TreeBuilder(BspTree& tree, int32_t threads = 1,
                         CandidateCounter counter = CountCandidateSides);

    // Turns the list into nodes, leaves and polys and empties it. Always true. An empty
    // list gives an empty tree (no nodes, no leaves).
    bool BuildTree(BuildPolyList& list);

    // The rules for meshes: the regions that the tree would call solid because no polygon
    // is left behind a plane are kept, each as a leaf (see MakeBackCell), so that every
    // region of space is a leaf and something else can decide which are solid; pieces of
    // a split keep their polygon's cached plane (see SnapPlanes); and pieces without area
    // are dropped.
    void ForMeshes(bool meshes) { forMeshes_ = meshes; }
    // Per leaf made so far: 1 for the leaves made of such regions.
    const std::vector<uint8_t>& BackCellLeaves() const { return backCellLeaves_; }

    // The steps, public so tests can pin them.
    bool BuildNode(BuildPolyList& list, int32_t nodeIndex);
    BuildPoly ChooseSplitter(BuildPolyList& list);
    static int32_t SplitterScore(int32_t front, int32_t back, int32_t spanning);
    static bool AllUsedAsSplitters(const BuildPolyList& list);
    Bounds NodeBounds(int32_t nodeIndex, const BuildPolyList& front, const BuildPolyList& back);
    void MakeLeaf(BuildPolyList& front, const Bounds& leafBounds, int32_t nodeIndex);

private:
    // The best candidate of list; counts holds the candidates' counts in list order (they
    // are computed when it is empty) and loses the chosen one's entry.
    BuildPolyList::iterator ChooseSplitterIn(BuildPolyList& list, std::vector<SideCounts>& counts);
    BuildPoly TakeSplitter(BuildPolyList& list, std::vector<SideCounts>& counts);
    void MakeBackCell(BuildPolyList& polys, int32_t parent, int32_t nodeIndex);

    BspTree& tree_;
    int32_t threads_;
    CandidateCounter counter_;
    bool forMeshes_ = false;
    std::vector<uint8_t> backCellLeaves_;
};

}  // namespace bsppvs
