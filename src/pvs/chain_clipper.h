#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

#include "bsp/bsp_leaf.h"
#include "geometry/polygon.h"
#include "pvs/gate.h"

namespace bsppvs {

// The recursion of one source gate. Each depth owns one VisState, reused for every
// candidate at that depth and every later chain, so the recursion allocates only while it
// first grows.
class ChainClipper {
public:
    ChainClipper(std::vector<Gate>& gates, const std::vector<BspLeaf>& leaves, int32_t clipSteps)
        : gates_(gates), leaves_(leaves), clipSteps_(clipSteps), onChain_(leaves.size(), 0) {}

    // Fills source's sees and seesRange by following every chain of gates from it.
    void Run(Gate& source);

private:
    // The smallest range holding every one of bytes[first, end).
    static LeafRange RangeOf(const uint8_t* bytes, size_t first, size_t end);

    static bool Holds(const VisState& st, int32_t leaf) {
        return st.range.Holds(leaf) && st.mightSee[leaf] != 0;
    }

    VisState& Level(size_t depth);

    // Narrows the chain's set by what the candidate gate can show; true when that leaves a
    // leaf the source has not yet been found to see. Only the leaves in both sets' ranges
    // can stay, so only they are looked at.
    static bool Narrow(const VisState& st, const Gate& candidate, const Gate& source, VisState& nw);

    // Steps 1 and 2 narrow the candidate to what the chain lets through; steps 3 and 4
    // narrow the source to what can still see through the candidate.
    bool ClipBySeparators(VisState& st, VisState& nw);

    void Recurse(Gate& source, int32_t leaf, size_t depth, bool first);

    std::vector<Gate>& gates_;
    const std::vector<BspLeaf>& leaves_;
    int32_t clipSteps_;
    // levels_[d] is the chain state at depth d. A deque, so growing it keeps the
    // shallower levels where they are.
    std::deque<VisState> levels_;
    // Working ring of every clip, its buffer passed back and forth with the clipped rings.
    Winding scratch_;
    // One byte per leaf, 1 for the leaves the current chain has entered. A line of sight
    // crosses a convex leaf once, so a chain never needs to enter a leaf twice, and on a
    // sound level it never tries to: a gate's flood stays in front of it and so never
    // reaches the leaf it starts in. Degenerate geometry (slivers far thinner than the
    // tolerances, corners far out) can bend that, and a chain could then go back and forth
    // between two leaves whose gates the clips no longer shrink, without end. Refusing the
    // second entry bounds the recursion by the leaf count.
    std::vector<uint8_t> onChain_;
};

}  // namespace bsppvs
