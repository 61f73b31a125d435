// The recursion of one source gate follows every chain of gates that can still show a leaf
// not yet marked: exponential in the worst case, kept in check by narrowing the chain's
// candidate set with each gate's own result and by clipping the gates against one another.

#include "pvs/chain_clipper.h"

#include <algorithm>
#include <cassert>

#include "pvs/polygon_clips.h"

namespace bsppvs {

void ChainClipper::Run(Gate& source) {
    VisState& start = Level(0);
    const LeafRange range = source.mightSeeRange;
    std::copy(source.mightSee.begin() + range.first, source.mightSee.begin() + range.end,
              start.mightSee.begin() + range.first);
    start.range = range;
    start.sourcePoly = source.polygon;
    start.targetPoly = source.polygon;
    Recurse(source, source.targetLeaf, 0, true);
}

LeafRange ChainClipper::RangeOf(const uint8_t* bytes, size_t first, size_t end) {
    while (first < end && bytes[first] == 0) {
        ++first;
    }
    while (end > first && bytes[end - 1] == 0) {
        --end;
    }
    return {static_cast<int32_t>(first), static_cast<int32_t>(end)};
}

VisState& ChainClipper::Level(size_t depth) {
    while (levels_.size() <= depth) {
        levels_.emplace_back();
        levels_.back().mightSee.resize(leaves_.size());
    }
    return levels_[depth];
}

bool ChainClipper::Narrow(const VisState& st, const Gate& candidate, const Gate& source,
                          VisState& nw) {
    const bool done = candidate.progress == GATE_DONE;
    const LeafBytes& limit = done ? candidate.sees : candidate.mightSee;
    const LeafRange& limitRange = done ? candidate.seesRange : candidate.mightSeeRange;
    const auto first = static_cast<size_t>(std::max(st.range.first, limitRange.first));
    const auto end = static_cast<size_t>(std::min(st.range.end, limitRange.end));
    if (first >= end) {
        nw.range = {};
        return false;
    }
    const uint8_t* in = st.mightSee.data();
    const uint8_t* lim = limit.data();
    const uint8_t* seen = source.sees.data();
    uint8_t* out = nw.mightSee.data();
    uint8_t news = 0;
    for (size_t x = first; x < end; ++x) {
        out[x] = in[x] & lim[x];
        news |= out[x] & static_cast<uint8_t>(seen[x] ^ 1);
    }
    nw.range = RangeOf(out, first, end);
    return news != 0;
}

bool ChainClipper::ClipBySeparators(VisState& st, VisState& nw) {
    struct Step {
        BuildPoly* a;
        BuildPoly* b;
        BuildPoly* c;
        int32_t keepBack;
    };
    const Step steps[4] = {
        {&st.sourcePoly, &st.targetPoly, &nw.targetPoly, 0},
        {&st.targetPoly, &st.sourcePoly, &nw.targetPoly, 1},
        {&st.targetPoly, &nw.targetPoly, &nw.sourcePoly, 1},
        {&nw.targetPoly, &st.targetPoly, &nw.sourcePoly, 0},
    };
    for (int32_t s = 0; s < 4 && s < clipSteps_; ++s) {
        if (ClipBySeparatingPlanes(*steps[s].a, *steps[s].b, *steps[s].c, steps[s].keepBack) == 0) {
            return false;
        }
    }
    return true;
}

void ChainClipper::Recurse(Gate& source, int32_t leaf, size_t depth, bool first) {
    source.sees[leaf] = 1;
    onChain_[leaf] = 1;
    source.seesRange.Add(leaf);
    Level(depth + 1);
    VisState& st = levels_[depth];
    VisState& nw = levels_[depth + 1];
    for (const int32_t g : leaves_[leaf].gateIndices) {
        Gate& candidate = gates_[g];
        assert(candidate.targetLeaf != -1 && "gates listed in a leaf lead somewhere");
        if (!Holds(st, candidate.targetLeaf) || onChain_[candidate.targetLeaf] != 0) {
            continue;
        }
        if (!Narrow(st, candidate, source, nw)) {
            continue;
        }
        nw.sourcePoly = st.sourcePoly;
        nw.targetPoly = candidate.polygon;
        ClipToFront(nw.targetPoly, source.polygon.GetPlane(), scratch_);
        if (nw.targetPoly.points.empty()) {
            continue;
        }
        if (!first) {
            // Keep the part of the source behind the (clipped) candidate.
            ClipToFront(nw.sourcePoly, nw.targetPoly.GetPlane().Reversed(), scratch_);
            if (nw.sourcePoly.points.empty() || !ClipBySeparators(st, nw)) {
                continue;
            }
        }
        Recurse(source, candidate.targetLeaf, depth + 1, false);
    }
    onChain_[leaf] = 0;
}

}  // namespace bsppvs
