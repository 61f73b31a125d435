#include "pvs/separator_cache.h"

#include <cassert>

#include "pvs/polygon_clips.h"

namespace bsppvs {

SeparatorCache::SeparatorCache(const std::vector<Gate>& gates, const std::vector<BspLeaf>& leaves)
    : gates_(gates), leaves_(leaves), sourceEntries_(2 * gates.size()) {
    firstSlot_.reserve(gates.size());
    uint32_t slots = 0;
    for (const Gate& gate : gates) {
        firstSlot_.push_back(slots);
        if (gate.targetLeaf != -1) {
            slots += static_cast<uint32_t>(2 * leaves[gate.targetLeaf].gateIndices.size());
        }
    }
    chainEntries_.resize(slots);
}

void SeparatorCache::StartSource(int32_t source) {
    source_ = source;
    ++run_;
    sourcePlanes_.clear();
}

SeparatorCache::Planes SeparatorCache::SourcePair(int32_t other, bool sourceFirst) {
    const Winding& own = gates_[source_].polygon.points;
    const Winding& theirs = gates_[other].polygon.points;
    Entry& entry = sourceEntries_[2 * static_cast<size_t>(other) + (sourceFirst ? 0 : 1)];
    return sourceFirst ? Find(own, theirs, run_, entry, sourcePlanes_)
                       : Find(theirs, own, run_, entry, sourcePlanes_);
}

SeparatorCache::Planes SeparatorCache::ChainPair(int32_t from, int32_t to, size_t exit,
                                                 bool fromFirst) {
    assert(leaves_[gates_[from].targetLeaf].gateIndices[exit] == to &&
           "a chain pair is a gate and an exit of the leaf it leads into");
    Entry& entry = chainEntries_[firstSlot_[from] + 2 * exit + (fromFirst ? 0 : 1)];
    if (entry.stamp == 1) {
        return {chainPlanes_.data() + entry.first, entry.count};
    }
    const Winding& a = gates_[from].polygon.points;
    const Winding& b = gates_[to].polygon.points;
    return fromFirst ? Find(a, b, 1, entry, chainPlanes_) : Find(b, a, 1, entry, chainPlanes_);
}

SeparatorCache::Planes SeparatorCache::Find(const Winding& a, const Winding& b, uint32_t stamp,
                                            Entry& entry, std::vector<Plane>& pool) {
    if (entry.stamp != stamp) {
        entry.stamp = stamp;
        entry.first = static_cast<uint32_t>(pool.size());
        ForEachSeparatingPlane(a, b, [&](const Plane& plane) {
            pool.push_back(plane);
            return true;
        });
        entry.count = static_cast<uint32_t>(pool.size() - entry.first);
    }
    return {pool.data() + entry.first, entry.count};
}

}  // namespace bsppvs
