#include "pvs/pvs.h"

#include "bsp/bsp_compiler.h"

namespace bsppvs {

void BspCompiler::ComputePvs(const ProgressFn& progress) {
    BuildGates();
    FloodMightSee();
    CalcVisibility(progress);
    CompilePvsArray();
}

// A leaf's set is the union of what its gates see; a leaf is in its own set only when a
// chain of gates leads back into it.
void BspCompiler::CompilePvsArray() {
    const size_t leafCount = leaves.size();
    for (BspLeaf& leaf : leaves) {
        leaf.pvs.assign(leafCount, 0);
        uint8_t* pvs = leaf.pvs.data();
        for (const int32_t g : leaf.gateIndices) {
            const uint8_t* sees = gates[g].sees.data();
            for (size_t j = 0; j < leafCount; ++j) {
                pvs[j] |= sees[j];
            }
        }
    }
}

}  // namespace bsppvs
