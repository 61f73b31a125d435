#include "bsp/detail_filter.h"

#include <utility>
#include <vector>

#include "bsp/classify.h"
#include "geometry/tolerances.h"

namespace bsppvs {

namespace {

// Pushes the polygon down from node k; each piece reaching a leaf is appended to that
// leaf's list. A polygon in a node's plane goes to the side it faces.
void Filter(const BspTree& tree, Poly poly, std::vector<std::vector<Poly>>& byLeaf) {
    std::vector<std::pair<int32_t, Poly>> pending;
    pending.emplace_back(0, std::move(poly));
    while (!pending.empty()) {
        auto [k, piece] = std::move(pending.back());
        pending.pop_back();
        const BspNode& node = tree.nodes[k];
        const auto toFront = [&](Poly&& part) {
            if (node.frontIsLeaf != 0) {
                byLeaf[node.front].push_back(std::move(part));
            } else if (node.front >= 0) {
                pending.emplace_back(node.front, std::move(part));
            }
        };
        const auto toBack = [&](Poly&& part) {
            if (node.back >= 0) {
                pending.emplace_back(node.back, std::move(part));
            }
        };
        switch (ClassifyPoly(node.plane, piece)) {
            case FRONT:
            case COPLANAR_SAME:
                toFront(std::move(piece));
                break;
            case BACK:
            case COPLANAR_OPPOSITE:
                toBack(std::move(piece));
                break;
            case SPANNING: {
                Poly front;
                Poly back;
                piece.Split(node.plane, front, back, EPSILON);
                toFront(std::move(front));
                toBack(std::move(back));
                break;
            }
        }
    }
}

}  // namespace

void FilterDetailIntoLeaves(BspTree& tree, BuildPolyList& detail) {
    if (tree.nodes.empty() || detail.empty()) {
        detail.clear();
        return;
    }
    std::vector<std::vector<Poly>> byLeaf(tree.leaves.size());
    for (BuildPoly& poly : detail) {
        Filter(tree, std::move(static_cast<Poly&>(poly)), byLeaf);
    }
    detail.clear();
    std::vector<Poly> polys;
    polys.reserve(tree.polys.size());
    for (size_t i = 0; i < tree.leaves.size(); ++i) {
        BspLeaf& leaf = tree.leaves[i];
        const auto first = static_cast<int32_t>(polys.size());
        for (int32_t p = leaf.firstPoly; p < leaf.endPoly; ++p) {
            polys.push_back(std::move(tree.polys[p]));
        }
        leaf.firstDetailPoly = byLeaf[i].empty() ? -1 : static_cast<int32_t>(polys.size());
        for (Poly& piece : byLeaf[i]) {
            polys.push_back(std::move(piece));
        }
        leaf.firstPoly = first;
        leaf.endPoly = static_cast<int32_t>(polys.size());
    }
    tree.polys = std::move(polys);
}

}  // namespace bsppvs
