#pragma once

// The separating planes of pairs of whole gate polygons. A chain clips its polygons only
// where they overhang what the chain lets through, and in a level of walls that meet at
// right angles that is rare: nearly every separator search of the recursion is between gate
// polygons as the gates were built, and the same pairs recur in chain after chain. Each such
// pair's planes are found once, in the search's order, and kept; a clip by the kept planes
// cuts exactly as the search would, plane for plane.
//
// Pairs of the running source and another gate are kept while that source runs. Pairs of a
// gate and a gate of the leaf it leads into, which the chains of every source share, are
// kept for the whole pass: there are a few per gate.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "bsp/bsp_leaf.h"
#include "geometry/plane.h"
#include "pvs/gate.h"

namespace bsppvs {

class SeparatorCache {
public:
    // A run of kept planes, valid until the next lookup.
    struct Planes {
        const Plane* data = nullptr;
        size_t count = 0;
    };

    SeparatorCache(const std::vector<Gate>& gates, const std::vector<BspLeaf>& leaves);

    // Forgets the pairs of the previous source; those of `source` are kept from here on.
    void StartSource(int32_t source);

    // The separating planes from the source's polygon (a) to gate `other`'s (b), or from
    // other's to the source's when sourceFirst is false.
    Planes SourcePair(int32_t other, bool sourceFirst);

    // The separating planes from gate `from`'s polygon (a) to gate `to`'s (b), or the other
    // way round when fromFirst is false; `to` is exit number `exit` of the leaf `from`
    // leads into.
    Planes ChainPair(int32_t from, int32_t to, size_t exit, bool fromFirst);

private:
    struct Entry {
        uint32_t stamp = 0;  // 0: not found yet; for source pairs, the run that found it
        uint32_t first = 0;  // the index of its first plane in its pool
        uint32_t count = 0;
    };

    Planes Find(const Winding& a, const Winding& b, uint32_t stamp, Entry& entry,
                std::vector<Plane>& pool);

    const std::vector<Gate>& gates_;
    const std::vector<BspLeaf>& leaves_;
    int32_t source_ = -1;
    uint32_t run_ = 0;
    // Two per gate, one per order, and their planes.
    std::vector<Entry> sourceEntries_;
    std::vector<Plane> sourcePlanes_;
    // Two per exit of each gate's target leaf, from firstSlot_[gate] on, and their planes.
    std::vector<uint32_t> firstSlot_;
    std::vector<Entry> chainEntries_;
    std::vector<Plane> chainPlanes_;
};

}  // namespace bsppvs
