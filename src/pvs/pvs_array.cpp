// A leaf's set is the union of what its gates see; a leaf is in its own set only when a
// chain of gates leads back into it.

#include <algorithm>
#include <bit>

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
            // Only the ones are visited, so only the pages that receive one are touched.
            const LeafBits& sees = gates[g].sees;
            const WordRange words = sees.Words();
            for (int32_t w = words.first; w < words.end; ++w) {
                for (uint64_t bits = sees.WordData()[w - words.first]; bits != 0;
                     bits &= bits - 1) {
                    pvs[w * LEAVES_PER_WORD + std::countr_zero(bits)] = 1;
                }
            }
        }
    }
}

void MakeSetsMutual(BspTree& tree) {
    const size_t count = tree.leaves.size();
    // Square blocks keep both the rows and the column read across them in cache.
    constexpr size_t BLOCK = 64;
    for (size_t rows = 0; rows < count; rows += BLOCK) {
        const size_t rowsEnd = std::min(rows + BLOCK, count);
        for (size_t columns = rows; columns < count; columns += BLOCK) {
            const size_t columnsEnd = std::min(columns + BLOCK, count);
            for (size_t i = rows; i < rowsEnd; ++i) {
                uint8_t* row = tree.leaves[i].pvs.data();
                for (size_t j = std::max(columns, i + 1); j < columnsEnd; ++j) {
                    uint8_t& mirror = tree.leaves[j].pvs[i];
                    if (row[j] != mirror) {
                        row[j] = 0;
                        mirror = 0;
                    }
                }
            }
        }
    }
}

}  // namespace bsppvs
