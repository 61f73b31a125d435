#pragma once

#include <cstddef>
#include <cstdint>

#include "bsp/bsp_tree.h"
#include "core/zeroed_arena.h"

namespace bsppvs {

// What the compiled sets hold, and what the pass kept them in.
struct PvsStats {
    double average = 0.0;    // leaves per set, over all leaves
    int64_t largest = 0;     // leaves in the largest set
    double setBytes = 0.0;   // all leaves' sets, the most they can take
    double gateBytes = 0.0;  // all gates' sets, as stored
};

// The sets of the tree's leaves; gateSets holds the sets of the gates.
PvsStats ComputePvsStats(const BspTree& tree, const ZeroedArena& gateSets);

// The most the visibility pass can hold, known once the portals are: gates' sets and
// leaves' sets, in bytes.
struct VisibilityMemory {
    double setBytes = 0.0;
    double gateBytes = 0.0;

    double Total() const { return setBytes + gateBytes; }
};

VisibilityMemory VisibilityMemoryNeeded(size_t portalCount, size_t leafCount);

}  // namespace bsppvs
