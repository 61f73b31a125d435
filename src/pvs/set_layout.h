#pragma once

// How much memory the visibility pass's sets take, in one place: the stages allocate by
// these figures and bspc states them before the pass, so the two cannot drift apart.

#include <cstddef>

namespace bsppvs {

// Each of the two gates of every portal holds mightSee and sees, one byte per leaf.
inline constexpr size_t GATE_ARRAYS_PER_PORTAL = 4;

inline size_t GateArrayCount(size_t portalCount) {
    return GATE_ARRAYS_PER_PORTAL * portalCount;
}

// Bytes of all gates' sets.
inline double GateSetBytes(size_t portalCount, size_t leafCount) {
    return static_cast<double>(GateArrayCount(portalCount)) * static_cast<double>(leafCount);
}

// Bytes of all leaves' sets, one byte per leaf each. Only the pages that receive a one are
// ever backed, so this is an upper bound.
inline double LeafSetBytes(size_t leafCount) {
    return static_cast<double>(leafCount) * static_cast<double>(leafCount);
}

}  // namespace bsppvs
