#include "pvs/pvs_stats.h"

#include <algorithm>

#include "pvs/set_layout.h"

namespace bsppvs {

PvsStats ComputePvsStats(const BspTree& tree, const ZeroedArena& gateSets) {
    PvsStats stats;
    int64_t total = 0;
    for (const BspLeaf& leaf : tree.leaves) {
        int64_t count = 0;
        for (const uint8_t byte : leaf.pvs) {
            count += byte != 0 ? 1 : 0;
        }
        total += count;
        stats.largest = std::max(stats.largest, count);
    }
    const size_t leafCount = tree.leaves.size();
    stats.average = leafCount == 0 ? 0.0 : double(total) / double(leafCount);
    stats.setBytes = LeafSetBytes(leafCount);
    stats.gateBytes = static_cast<double>(gateSets.Used());
    return stats;
}

VisibilityMemory VisibilityMemoryNeeded(size_t portalCount, size_t leafCount) {
    return {LeafSetBytes(leafCount), GateSetBytesBound(portalCount, leafCount)};
}

}  // namespace bsppvs
