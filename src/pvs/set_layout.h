#pragma once

// How much memory the visibility pass's sets take, in one place: the stages allocate by
// these figures and bspc states them before the pass, so the two cannot drift apart.
//
// A gate keeps mightSee and sees as bits over the words of the leaves its flood reached
// (sees only ever holds leaves the flood reached), packed one after another in one arena.
// Those ranges are known only once the floods have run, so the figure stated before the
// pass is the bound where every flood reaches the first and the last leaf.

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "core/zeroed_arena.h"
#include "pvs/leaf_bits.h"

namespace bsppvs {

// Each gate holds mightSee and sees; each portal has two gates.
inline constexpr size_t GATE_SETS_PER_PORTAL = 4;

// Bytes of one gate set over the given leaves.
inline size_t SetBytes(LeafRange range) {
    return WordsOf(range).Size() * sizeof(uint64_t);
}

// Bytes of all gates' sets when every set spans every leaf: the most the gates can hold.
inline double GateSetBytesBound(size_t portalCount, size_t leafCount) {
    return static_cast<double>(GATE_SETS_PER_PORTAL * portalCount) *
           static_cast<double>(WordsFor(leafCount) * sizeof(uint64_t));
}

// Bytes of all leaves' sets, one byte per leaf each. Only the pages that receive a one are
// ever backed, so this is an upper bound.
inline double LeafSetBytes(size_t leafCount) {
    return static_cast<double>(leafCount) * static_cast<double>(leafCount);
}

// Copies the words of `level` (one bit for every leaf of a level of leafCount leaves) that
// hold the leaves of range into SetBytes(range) bytes taken from store, and returns the view
// of them. The copy must hold every one of `level`.
inline LeafBits StoreSet(const uint64_t* level, LeafRange range, size_t leafCount,
                         ZeroedArena& store) {
    const WordRange words = WordsOf(range);
    auto* out = reinterpret_cast<uint64_t*>(store.Take(SetBytes(range)));
    std::copy(level + words.first, level + words.end, out);
    return LeafBits(out, words, leafCount);
}

}  // namespace bsppvs
