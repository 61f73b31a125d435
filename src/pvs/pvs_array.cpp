// A leaf's set is the union of what its gates see; a leaf is in its own set only when a
// chain of gates leads back into it.

#include "pvs/visibility.h"

namespace bsppvs {

void CompilePvsArray(BspTree& tree, const std::vector<Gate>& gates, ZeroedBlock& pvsBytes) {
    const size_t leafCount = tree.leaves.size();
    // Sets are sparse: only the pages that receive a one take memory.
    pvsBytes.Reset(leafCount, leafCount, false);
    for (BspLeaf& leaf : tree.leaves) {
        leaf.pvs = LeafBytes(pvsBytes.Take(leafCount), leafCount);
        uint8_t* pvs = leaf.pvs.data();
        for (const int32_t g : leaf.gateIndices) {
            // Only the range of the gate's set can hold ones.
            const uint8_t* sees = gates[g].sees.data();
            const auto end = static_cast<size_t>(gates[g].seesRange.end);
            for (auto j = static_cast<size_t>(gates[g].seesRange.first); j < end; ++j) {
                pvs[j] |= sees[j];
            }
        }
    }
}

}  // namespace bsppvs
