// The recursion of one source gate follows every chain of gates that can still show a leaf
// not yet marked: exponential in the worst case, kept in check by narrowing the chain's
// candidate set with each gate's own result and by clipping the gates against one another.

#include "pvs/chain_clipper.h"

#include <algorithm>
#include <cassert>

#include "pvs/polygon_clips.h"
#include "pvs/set_layout.h"

namespace bsppvs {

void ChainClipper::Run(Gate& source, ZeroedArena& store) {
    VisState& start = Level(0);
    const WordRange words = source.mightSee.Words();
    std::copy(source.mightSee.WordData(), source.mightSee.WordData() + words.Size(),
              start.mightSee.begin() + words.first);
    start.words = words;
    sourcePlane_ = source.polygon.GetPlane();
    start.sourcePoly = source.polygon;
    start.targetPoly = source.polygon;
    seenRange_ = {};
    Recurse(source, source.targetLeaf, 0, true);
    source.seesRange = seenRange_;
    source.sees = StoreSet(seen_.data(), seenRange_, leaves_.size(), store);
    const WordRange seenWords = WordsOf(seenRange_);
    std::fill(seen_.begin() + seenWords.first, seen_.begin() + seenWords.end, 0);
}

VisState& ChainClipper::Level(size_t depth) {
    while (levels_.size() <= depth) {
        levels_.emplace_back();
        levels_.back().mightSee.resize(WordsFor(leaves_.size()));
    }
    return levels_[depth];
}

bool ChainClipper::Narrow(const VisState& st, const Gate& candidate, VisState& nw) const {
    const LeafBits& limit = candidate.progress == GATE_DONE ? candidate.sees : candidate.mightSee;
    const WordRange limitWords = limit.Words();
    int32_t first = std::max(st.words.first, limitWords.first);
    int32_t end = std::min(st.words.end, limitWords.end);
    if (first >= end) {
        nw.words = {};
        return false;
    }
    const uint64_t* in = st.mightSee.data();
    const uint64_t* lim = limit.WordData();
    const uint64_t* seen = seen_.data();
    uint64_t* out = nw.mightSee.data();
    uint64_t news = 0;
    for (int32_t w = first; w < end; ++w) {
        out[w] = in[w] & lim[w - limitWords.first];
        news |= out[w] & ~seen[w];
    }
    while (first < end && out[first] == 0) {
        ++first;
    }
    while (end > first && out[end - 1] == 0) {
        --end;
    }
    nw.words = {first, end};
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
        if (ClipBySeparatingPlanes(*steps[s].a, *steps[s].b, *steps[s].c, steps[s].keepBack,
                                   scratch_) == 0) {
            return false;
        }
    }
    return true;
}

void ChainClipper::Recurse(const Gate& source, int32_t leaf, size_t depth, bool first) {
    seen_[WordOf(leaf)] |= BitOf(leaf);
    seenRange_.Add(leaf);
    onChain_[leaf] = 1;
    Level(depth + 1);
    VisState& st = levels_[depth];
    VisState& nw = levels_[depth + 1];
    for (const int32_t g : leaves_[leaf].gateIndices) {
        const Gate& candidate = gates_[g];
        assert(candidate.targetLeaf != -1 && "gates listed in a leaf lead somewhere");
        if (!Holds(st, candidate.targetLeaf) || onChain_[candidate.targetLeaf] != 0) {
            continue;
        }
        if (!Narrow(st, candidate, nw)) {
            continue;
        }
        nw.sourcePoly = st.sourcePoly;
        nw.targetPoly = candidate.polygon;
        ClipToFront(nw.targetPoly, sourcePlane_, scratch_);
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
