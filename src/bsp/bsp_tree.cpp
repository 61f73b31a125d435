#include "bsp/bsp_tree.h"

namespace bsppvs {

int64_t LeafTriangleCount(const BspTree& tree) {
    int64_t count = 0;
    for (const BspLeaf& leaf : tree.leaves) {
        for (int32_t p = leaf.firstPoly; p < leaf.endPoly; ++p) {
            count += static_cast<int64_t>(tree.polys[p].triangleIndices.size() / 3);
        }
    }
    return count;
}

}  // namespace bsppvs
