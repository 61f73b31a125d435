// The splitter search as written is quadratic in the list length per node; the counts are
// found instead by sweeping the candidates that share a normal together, which gives the
// same counts (see splitter_search.h).

#include <cassert>
#include <climits>
#include <cstdlib>
#include <utility>

#include "bsp/tree_builder.h"
#include "geometry/tolerances.h"

namespace bsppvs {

namespace {

constexpr int32_t INITIAL_BEST_SCORE = INT32_MAX;
constexpr int32_t SPANNING_WEIGHT = 8;

void FoldCorners(MinMax& mm, const BuildPolyList& list) {
    for (const BuildPoly& poly : list) {
        mm.Fold(poly.points);
    }
}

}  // namespace

int32_t TreeBuilder::SplitterScore(int32_t front, int32_t back, int32_t spanning) {
    return std::abs(front - back) + SPANNING_WEIGHT * spanning;
}

bool TreeBuilder::AllUsedAsSplitters(const BuildPolyList& list) {
    for (const BuildPoly& poly : list) {
        if (poly.usedAsSplitter == 0) {
            return false;
        }
    }
    return true;
}

BuildPolyList::iterator TreeBuilder::ChooseSplitterIn(BuildPolyList& list,
                                                      std::vector<SideCounts>& counts) {
    if (counts.empty()) {
        counts = counter_(list, threads_);
    }
    int32_t bestScore = INITIAL_BEST_SCORE;
    auto best = list.end();
    size_t next = 0;
    size_t bestCandidate = 0;
    for (auto candidate = list.begin(); candidate != list.end(); ++candidate) {
        if (candidate->usedAsSplitter != 0) {
            continue;
        }
        const SideCounts& c = counts[next];
        const int32_t score = SplitterScore(c.front, c.back, c.spanning);
        // Strictly better only: ties go to the candidate nearest the head of the list.
        if (score < bestScore) {
            bestScore = score;
            best = candidate;
            bestCandidate = next;
        }
        ++next;
    }
    // What remains describes the other candidates, in their order.
    if (best != list.end()) {
        counts.erase(counts.begin() + static_cast<std::ptrdiff_t>(bestCandidate));
    }
    return best;
}

BuildPoly TreeBuilder::TakeSplitter(BuildPolyList& list, std::vector<SideCounts>& counts) {
    const auto best = ChooseSplitterIn(list, counts);
    assert(best != list.end() && "a node's list always holds an unused polygon");
    BuildPoly splitter = std::move(*best);
    list.erase(best);
    splitter.usedAsSplitter = 1;
    return splitter;
}

BuildPoly TreeBuilder::ChooseSplitter(BuildPolyList& list) {
    std::vector<SideCounts> counts;
    return TakeSplitter(list, counts);
}

Bounds TreeBuilder::NodeBounds(int32_t nodeIndex, const BuildPolyList& front,
                               const BuildPolyList& back) {
    MinMax frontOnly;
    FoldCorners(frontOnly, front);
    const Bounds leafBounds = Bounds::FromMinMax(frontOnly);
    // The node's box is the front box grown by the back corners, starting again from the
    // front box's centre and half-extent (with their rounding), even when back is empty.
    MinMax grown = leafBounds.ToMinMax();
    FoldCorners(grown, back);
    tree_.nodes[nodeIndex].bounds = Bounds::FromMinMax(grown);
    return leafBounds;
}

void TreeBuilder::MakeLeaf(BuildPolyList& front, const Bounds& leafBounds, int32_t nodeIndex) {
    tree_.nodes[nodeIndex].frontIsLeaf = 1;
    tree_.nodes[nodeIndex].front = static_cast<int32_t>(tree_.leaves.size());
    BspLeaf& leaf = tree_.leaves.emplace_back();
    leaf.firstPoly = static_cast<int32_t>(tree_.polys.size());
    leaf.endPoly = leaf.firstPoly + static_cast<int32_t>(front.size());
    leaf.bounds = leafBounds;
    for (BuildPoly& poly : front) {
        tree_.polys.push_back(std::move(static_cast<Poly&>(poly)));
    }
    front.clear();
}

namespace {

// Sends every polygon of list to front or back of the splitter's plane, in list order,
// splitting the spanning ones; the pieces keep their origin's usedAsSplitter.
// With forMeshes, pieces of a split keep their polygon's plane (it may have been snapped),
// and pieces without area are dropped: they bound nothing, and as splitters they would have
// no plane.
void Partition(BuildPolyList& list, const Plane& plane, BuildPolyList& front, BuildPolyList& back,
               bool forMeshes) {
    while (!list.empty()) {
        auto first = list.begin();
        switch (ClassifyPoly(plane, *first)) {
            case COPLANAR_SAME:
            case FRONT:
                front.splice(front.end(), list, first);
                break;
            case COPLANAR_OPPOSITE:
            case BACK:
                back.splice(back.end(), list, first);
                break;
            case SPANNING: {
                BuildPoly frontPiece;
                BuildPoly backPiece;
                first->Split(plane, frontPiece, backPiece, POLY_CLASSIFY_EPSILON);
                frontPiece.usedAsSplitter = first->usedAsSplitter;
                backPiece.usedAsSplitter = first->usedAsSplitter;
                for (auto [piece, side] : {std::pair{&frontPiece, &front}, {&backPiece, &back}}) {
                    if (!forMeshes) {
                        side->push_back(std::move(*piece));
                    } else if (ComputeNormal(piece->points) != ORIGIN) {
                        piece->plane = first->GetPlane();
                        piece->planeValid = 1;
                        side->push_back(std::move(*piece));
                    }
                }
                list.erase(first);
                break;
            }
        }
    }
}

}  // namespace

// Builds the subtree whose root becomes node nodeIndex (the current size of nodes). The
// subtrees waiting for their turn are kept on an explicit stack rather than the call stack,
// so a tree thousands of nodes deep cannot overflow it; the numbering is the recursive
// pre-order, front subtree before back subtree.
bool TreeBuilder::BuildNode(BuildPolyList& list, [[maybe_unused]] int32_t nodeIndex) {
    assert(nodeIndex == static_cast<int32_t>(tree_.nodes.size()));
    struct Pending {
        BuildPolyList polys;
        int32_t parent;
        bool isBack;
        // The candidates' counts in list order when already known, else empty.
        std::vector<SideCounts> counts;
        // A region behind the parent's plane with no polygon left to split it: a cell.
        bool isCell = false;
    };
    std::vector<Pending> stack;
    stack.push_back({std::move(list), -1, false, {}});
    list.clear();
    while (!stack.empty()) {
        Pending item = std::move(stack.back());
        stack.pop_back();
        const auto k = static_cast<int32_t>(tree_.nodes.size());
        if (item.parent >= 0) {
            (item.isBack ? tree_.nodes[item.parent].back : tree_.nodes[item.parent].front) = k;
        }
        tree_.nodes.emplace_back();
        if (item.isCell) {
            MakeBackCell(item.polys, item.parent, k);
            continue;
        }
        BuildPolyList front;
        BuildPolyList back;
        front.push_back(TakeSplitter(item.polys, item.counts));
        tree_.nodes[k].plane = front.front().GetPlane();
        Partition(item.polys, tree_.nodes[k].plane, front, back, forMeshes_);
        const Bounds leafBounds = NodeBounds(k, front, back);
        const bool frontIsLeaf = AllUsedAsSplitters(front);
        if (frontIsLeaf) {
            MakeLeaf(front, leafBounds, k);
        }
        const bool nothingBehind = back.empty();
        // A back list of used polygons only is solid space: dropped with its polygons, unless
        // every cell is kept for the solid-space analysis to decide.
        if (!back.empty() && !AllUsedAsSplitters(back)) {
            stack.push_back({std::move(back), k, true, {}});
        } else if (forMeshes_) {
            stack.push_back({std::move(back), k, true, {}, true});
        }
        if (!frontIsLeaf) {
            // With nothing behind the plane (hence nothing split), the front list holds the
            // same polygons as this node's list, the splitter moved to its head: every
            // remaining candidate keeps its counts, so a chain of such nodes (a convex
            // room) costs linear time per node instead of quadratic.
            std::vector<SideCounts> counts;
            if (nothingBehind) {
                counts = std::move(item.counts);
            }
            stack.push_back({std::move(front), k, false, std::move(counts)});
        }
    }
    return true;
}

TreeBuilder::TreeBuilder(BspTree& tree, int32_t threads, CandidateCounter counter)
    : tree_(tree), threads_(threads), counter_(std::move(counter)) {}

// Leaves hang only on front sides, so the cell behind node `parent` becomes the front of a
// node of its own whose plane is the parent's turned round, with nothing behind it (behind
// the turned plane lies the parent's front side, which is not part of this region). Its
// polygons have all split nodes above and lie on the cell's boundary, facing into it.
void TreeBuilder::MakeBackCell(BuildPolyList& polys, int32_t parent, int32_t nodeIndex) {
    BspNode& node = tree_.nodes[nodeIndex];
    node.plane = tree_.nodes[parent].plane.Reversed();
    node.bounds = tree_.nodes[parent].bounds;
    MinMax box;
    FoldCorners(box, polys);
    MakeLeaf(polys, box.empty ? node.bounds : Bounds::FromMinMax(box), nodeIndex);
    backCellLeaves_.resize(tree_.leaves.size(), 0);
    backCellLeaves_.back() = 1;
}

bool TreeBuilder::BuildTree(BuildPolyList& list) {
    // A level without usable polygons gives an empty tree: no nodes and no leaves. Point
    // location then answers -1 and portal building finds nothing.
    if (list.empty()) {
        return true;
    }
    return BuildNode(list, static_cast<int32_t>(tree_.nodes.size()));
}

}  // namespace bsppvs
