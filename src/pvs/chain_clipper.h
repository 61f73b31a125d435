#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

#include "bsp/bsp_leaf.h"
#include "core/zeroed_arena.h"
#include "geometry/polygon.h"
#include "pvs/gate.h"
#include "pvs/separator_cache.h"

namespace bsppvs {

// The recursion of one source gate. Each depth owns one VisState, reused for every
// candidate at that depth and every later chain, so the recursion allocates only while it
// first grows. A clipper holds only working state (the chain states, the running source's
// set, the kept separating planes), so each worker of a parallel pass would own one.
class ChainClipper {
public:
    ChainClipper(std::vector<Gate>& gates, const std::vector<BspLeaf>& leaves, int32_t clipSteps)
        : gates_(gates),
          leaves_(leaves),
          clipSteps_(clipSteps),
          seen_(WordsFor(leaves.size()), 0),
          onChain_(leaves.size(), 0),
          separators_(gates, leaves) {}

    // Fills the sees, stored in store, and seesRange of gate `source` by following every
    // chain of gates from it. Reads the other gates' polygons (whose planes must be
    // cached), progress and sets, and writes only source's sets. A candidate gate counts
    // as finished, and narrows by its sees, when its progress is GATE_DONE.
    void Run(int32_t source, ZeroedArena& store);

private:
    static bool Holds(const VisState& st, int32_t leaf) {
        const int32_t w = WordOf(leaf);
        return st.words.Holds(w) && (st.mightSee[w] & BitOf(leaf)) != 0;
    }

    VisState& Level(size_t depth);

    // Narrows the chain's set by what the candidate gate can show; true when that leaves a
    // leaf the source has not yet been found to see. Only the words in both sets' ranges
    // can stay, so only they are looked at.
    bool Narrow(const VisState& st, const Gate& candidate, VisState& nw) const;

    // Steps 1 and 2 narrow the candidate to what the chain lets through; steps 3 and 4
    // narrow the source to what can still see through the candidate, which is exit number
    // `exit` of st's leaf.
    bool ClipBySeparators(VisState& st, VisState& nw, size_t exit);

    // One step: cuts c by the planes separating a from b, from the cache when both are
    // whole gate polygons. False when nothing of c is left.
    bool ClipStep(int32_t step, const VisState& st, VisState& nw, size_t exit);

    void Recurse(const Gate& source, int32_t leaf, size_t depth, bool first);

    std::vector<Gate>& gates_;
    const std::vector<BspLeaf>& leaves_;
    int32_t clipSteps_;
    // levels_[d] is the chain state at depth d. A deque, so growing it keeps the
    // shallower levels where they are.
    std::deque<VisState> levels_;
    // Working ring of every clip, its buffer passed back and forth with the clipped rings.
    Winding scratch_;
    // What the running source sees so far, one bit for every leaf of the level, and where
    // its ones lie; all zero between sources.
    std::vector<uint64_t> seen_;
    LeafRange seenRange_;
    // The running source's plane.
    Plane sourcePlane_;
    // One byte per leaf, 1 for the leaves the current chain has entered. A line of sight
    // crosses a convex leaf once, so a chain never needs to enter a leaf twice, and on a
    // sound level it never tries to: a gate's flood stays in front of it and so never
    // reaches the leaf it starts in. Degenerate geometry (slivers far thinner than the
    // tolerances, corners far out) can bend that, and a chain could then go back and forth
    // between two leaves whose gates the clips no longer shrink, without end. Refusing the
    // second entry bounds the recursion by the leaf count.
    std::vector<uint8_t> onChain_;
    SeparatorCache separators_;
};

}  // namespace bsppvs
