#include "bsp/solid_leaves.h"

namespace bsppvs {

namespace {

// Per node, whether its subtree holds an empty leaf. Children have greater indices than
// their parents, so one pass from the last node back fills it.
std::vector<uint8_t> SubtreesWithEmptyLeaves(const BspTree& tree,
                                             const std::vector<uint8_t>& emptyLeaf) {
    std::vector<uint8_t> holds(tree.nodes.size(), 0);
    for (size_t k = tree.nodes.size(); k-- > 0;) {
        const BspNode& node = tree.nodes[k];
        const bool front = node.frontIsLeaf != 0 ? emptyLeaf[node.front] != 0
                                                 : node.front >= 0 && holds[node.front] != 0;
        const bool back = node.back >= 0 && holds[node.back] != 0;
        holds[k] = front || back ? 1 : 0;
    }
    return holds;
}

}  // namespace

BspTree WithoutSolidLeaves(const BspTree& full, const std::vector<uint8_t>& emptyLeaf,
                           const std::vector<Bounds>& cellBounds,
                           const std::vector<uint8_t>& backCellLeaves, bool& reshaped,
                           std::vector<int32_t>* keptIndex) {
    reshaped = false;
    if (keptIndex != nullptr) {
        keptIndex->assign(full.leaves.size(), -1);
    }
    BspTree kept;
    if (full.nodes.empty()) {
        return kept;
    }
    const std::vector<uint8_t> holds = SubtreesWithEmptyLeaves(full, emptyLeaf);
    if (holds[0] == 0) {
        return kept;
    }
    struct Pending {
        int32_t node;
        int32_t parent;
        bool isBack;
    };
    std::vector<Pending> stack = {{0, -1, false}};
    while (!stack.empty()) {
        const Pending item = stack.back();
        stack.pop_back();
        const BspNode& old = full.nodes[item.node];
        const auto k = static_cast<int32_t>(kept.nodes.size());
        if (item.parent >= 0) {
            (item.isBack ? kept.nodes[item.parent].back : kept.nodes[item.parent].front) = k;
        }
        BspNode& node = kept.nodes.emplace_back();
        node.plane = old.plane;
        node.bounds = old.bounds;
        const bool frontEmpty = old.frontIsLeaf != 0 ? emptyLeaf[old.front] != 0
                                                     : old.front >= 0 && holds[old.front] != 0;
        const bool backEmpty = old.back >= 0 && holds[old.back] != 0;
        if (!frontEmpty) {
            // Only the back side holds empty space: it becomes the front of the turned node.
            node.plane = old.plane.Reversed();
            reshaped = true;
            stack.push_back({old.back, k, false});
            continue;
        }
        if (backEmpty) {
            stack.push_back({old.back, k, true});
        }
        if (old.frontIsLeaf == 0) {
            stack.push_back({old.front, k, false});
            continue;
        }
        const BspLeaf& leaf = full.leaves[old.front];
        reshaped = reshaped || (static_cast<size_t>(old.front) < backCellLeaves.size() &&
                                backCellLeaves[old.front] != 0);
        node.frontIsLeaf = 1;
        node.front = static_cast<int32_t>(kept.leaves.size());
        if (keptIndex != nullptr) {
            (*keptIndex)[old.front] = node.front;
        }
        BspLeaf& copy = kept.leaves.emplace_back();
        copy.firstPoly = static_cast<int32_t>(kept.polys.size());
        kept.polys.insert(kept.polys.end(), full.polys.begin() + leaf.firstPoly,
                          full.polys.begin() + leaf.endPoly);
        copy.endPoly = static_cast<int32_t>(kept.polys.size());
        copy.bounds = leaf.firstPoly == leaf.endPoly ? cellBounds[old.front] : leaf.bounds;
    }
    return kept;
}

}  // namespace bsppvs
