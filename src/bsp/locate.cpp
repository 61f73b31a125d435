// Point location: walk down from a node to the leaf holding a point. A point within
// EPSILON of a node's plane tries the front subtree first and falls back to the back
// subtree, so a point on a wall between a leaf and solid space belongs to the leaf.

#include <vector>

#include "bsp/bsp_tree.h"
#include "geometry/tolerances.h"

namespace bsppvs {

// The walk keeps the back children of on-plane nodes on an explicit stack instead of
// recursing: when a front descent ends in solid space, the innermost pending back child is
// tried next, exactly as the recursive fall-back would. Depth is bounded by the tree's
// depth, with no risk to the call stack.
int32_t BspTree::LocateLeaf(Vector3 p, int32_t nodeIndex) const {
    std::vector<int32_t> fallbacks;
    int32_t k = nodeIndex;
    while (true) {
        if (k < 0 || static_cast<size_t>(k) >= nodes.size()) {
            // Solid space (or no tree at all): resume at the innermost pending back child.
            if (fallbacks.empty()) {
                return -1;
            }
            k = fallbacks.back();
            fallbacks.pop_back();
            continue;
        }
        const BspNode& node = nodes[k];
        const float s = node.plane.SignedDistance(p);
        if (s < -EPSILON) {
            k = node.back;
        } else if (s > EPSILON) {
            if (node.frontIsLeaf != 0) {
                return node.front;
            }
            k = node.front;
        } else {
            if (node.frontIsLeaf != 0) {
                return node.front;
            }
            if (node.back != -1) {
                fallbacks.push_back(node.back);
            }
            k = node.front;
        }
    }
}

}  // namespace bsppvs
