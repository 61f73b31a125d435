// The recursion of one source gate follows every chain of gates that can still show a leaf
// not yet marked: exponential in the worst case, kept in check by narrowing the chain's
// candidate set with each gate's own result and by clipping the gates against one another.

#include "pvs/chain_clipper.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cassert>
#include <cmath>
#include <limits>

#include "geometry/tolerances.h"
#include "pvs/polygon_clips.h"
#include "pvs/set_layout.h"

namespace bsppvs {

namespace {

// The budget of a search without a chain limit: no exit's share of it ever runs out.
constexpr int64_t UNLIMITED_CHAINS = std::numeric_limits<int64_t>::max();

}  // namespace

void ChainClipper::Run(int32_t sourceIndex, ZeroedArena& store) {
    Search(sourceIndex);
    Gate& source = gates_[sourceIndex];
    source.seesRange = seenRange_;
    source.sees = StoreSet(seen_.data(), seenRange_, leaves_.size(), store);
    ClearSeen();
}

void ChainClipper::RunAside(int32_t sourceIndex, LeafRange& range, std::vector<uint64_t>& words) {
    Search(sourceIndex);
    range = seenRange_;
    const WordRange seenWords = WordsOf(seenRange_);
    words.assign(seen_.begin() + seenWords.first, seen_.begin() + seenWords.end);
    ClearSeen();
}

void ChainClipper::ClearSeen() {
    const WordRange seenWords = WordsOf(seenRange_);
    std::fill(seen_.begin() + seenWords.first, seen_.begin() + seenWords.end, 0);
    seenRange_ = {};
}

void ChainClipper::Search(int32_t sourceIndex) {
    const Gate& source = gates_[sourceIndex];
    VisState& start = Level(0);
    const WordRange words = source.mightSee.Words();
    std::copy(source.mightSee.WordData(), source.mightSee.WordData() + words.Size(),
              start.mightSee.begin() + words.first);
    start.words = words;
    assert(source.polygon.planeValid != 0 && "the pass caches every gate's plane first");
    sourcePlane_ = source.polygon.plane;
    start.sourcePoly = source.polygon;
    start.targetPoly = source.polygon;
    start.sourceGate = sourceIndex;
    start.targetGate = sourceIndex;
    separators_.StartSource(sourceIndex);
    seenRange_ = {};
    Recurse(source, source.targetLeaf, 0, true, maxChains_ > 0 ? maxChains_ : UNLIMITED_CHAINS);
}

void ChainClipper::SeeAllOf(const VisState& st) {
    for (int32_t w = st.words.first; w < st.words.end; ++w) {
        const uint64_t bits = st.mightSee[w];
        if (bits == 0) {
            continue;
        }
        seen_[w] |= bits;
        seenRange_.Add(w * LEAVES_PER_WORD + std::countr_zero(bits));
        seenRange_.Add(w * LEAVES_PER_WORD + LEAVES_PER_WORD - 1 - std::countl_zero(bits));
    }
}

ChainClipper::UnfinishedRead& ChainClipper::UnfinishedRecord(int32_t gate) {
    if (readStamp_.empty()) {
        readStamp_.assign(gates_.size(), 0);
        readIndex_.assign(gates_.size(), 0);
    }
    const auto g = static_cast<size_t>(gate);
    if (readStamp_[g] != stamp_) {
        readStamp_[g] = stamp_;
        readIndex_[g] = static_cast<uint32_t>(unfinished_.reads.size());
        UnfinishedRead& read = unfinished_.reads.emplace_back();
        read.gate = gate;
        read.aside = watch_->Aside(gate);
        if (!read.aside) {
            read.offset = unfinished_.words.size();
            unfinished_.words.resize(read.offset + gates_[g].mightSee.Words().Size(), 0);
        }
    }
    return unfinished_.reads[readIndex_[g]];
}

VisState& ChainClipper::Level(size_t depth) {
    while (levels_.size() <= depth) {
        levels_.emplace_back();
        levels_.back().mightSee.resize(WordsFor(leaves_.size()));
    }
    return levels_[depth];
}

bool ChainClipper::Narrow(const VisState& st, int32_t candidate, VisState& nw) {
    Gate& gate = gates_[candidate];
    // Acquire pairs with the finishing thread's release: once GATE_DONE is read, the gate's
    // sees is whole.
    bool done =
        std::atomic_ref<int32_t>(gate.progress).load(std::memory_order_acquire) == GATE_DONE;
    uint64_t* record = nullptr;
    LeafBits limit;
    if (watch_ == nullptr) {
        limit = done ? gate.sees : gate.mightSee;
    } else if (positionOf_[candidate] > position_) {
        // A gate after this one in the order narrows by its mightSee, as it does when the
        // gates run one by one, even when it happens to be finished already.
        limit = gate.mightSee;
    } else if (done) {
        limit = gate.sees;
    } else {
        UnfinishedRead& read = UnfinishedRecord(candidate);
        if (read.aside) {
            limit = LeafBits(read.aside->words.data(), WordsOf(read.aside->range), leaves_.size());
        } else {
            limit = gate.mightSee;
            record = unfinished_.words.data() + read.offset;
        }
    }
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
    if (record != nullptr) {
        for (int32_t w = first; w < end; ++w) {
            record[w - limitWords.first] |= out[w];
        }
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

bool ChainClipper::ClipBySeparators(VisState& st, VisState& nw, size_t exit) {
    for (int32_t step = 0; step < 4 && step < clipSteps_; ++step) {
        if (!ClipStep(step, st, nw, exit)) {
            return false;
        }
    }
    return true;
}

bool ChainClipper::ClipStep(int32_t step, VisState& st, VisState& nw, size_t exit) {
    // Steps 0 and 1 cut the candidate by the planes between the chain's two polygons, one
    // way and the other; steps 2 and 3 cut the source by the planes between the last gate
    // and the candidate.
    const bool forward = step == 0 || step == 3;
    const bool chainPair = step >= 2;
    const BuildPoly& one = chainPair ? st.targetPoly : st.sourcePoly;
    const BuildPoly& other = chainPair ? nw.targetPoly : st.targetPoly;
    const int32_t oneGate = chainPair ? st.targetGate : st.sourceGate;
    const int32_t otherGate = chainPair ? nw.targetGate : st.targetGate;
    const BuildPoly& a = step == 0 || step == 2 ? one : other;
    const BuildPoly& b = step == 0 || step == 2 ? other : one;
    BuildPoly& c = chainPair ? nw.sourcePoly : nw.targetPoly;
    int32_t& cGate = chainPair ? nw.sourceGate : nw.targetGate;
    const int32_t keepBack = forward ? 0 : 1;
    bool changed = false;
    if (oneGate != -1 && otherGate != -1) {
        const bool oneFirst = step == 0 || step == 2;
        const SeparatorCache::Planes planes =
            chainPair ? separators_.ChainPair(oneGate, otherGate, exit, oneFirst)
                      : separators_.SourcePair(otherGate, oneFirst);
        changed = ClipByPlanes(planes.data, planes.count, c, keepBack, scratch_);
    } else if (!chainPair) {
        // The same planes for every candidate of this state, in the search's order: the
        // ones found for earlier candidates first, then the search goes on while c lasts.
        SeparatorSearch& search = st.separators[step];
        size_t k = 0;
        while (!c.points.empty()) {
            if (k < search.planes.size()) {
                changed |= c.ClipInPlace(search.planes[k++], EPSILON, keepBack != 0, scratch_);
            } else if (!search.Finished(a.points)) {
                search.Step(a.points, b.points);
            } else {
                break;
            }
        }
    } else if (dropUnreachable_) {
        TangentSeparators(a.points, b.points, wrapped_);
        changed = ClipByPlanes(wrapped_.data(), wrapped_.size(), c, keepBack, scratch_);
    } else {
        ForEachSeparatingPlane(a.points, b.points, [&](const Plane& plane) {
            changed |= c.ClipInPlace(plane, EPSILON, keepBack != 0, scratch_);
            return !c.points.empty();
        });
    }
    if (changed) {
        cGate = -1;
    }
    return !c.points.empty();
}

int64_t ChainClipper::Recurse(const Gate& source, int32_t leaf, size_t depth, bool first,
                              int64_t budget) {
    seen_[WordOf(leaf)] |= BitOf(leaf);
    seenRange_.Add(leaf);
    Level(depth + 1);
    VisState& st = levels_[depth];
    VisState& nw = levels_[depth + 1];
    // A chain whose set holds no leaf left unseen (often its own leaf was the last) ends
    // here: no exit could narrow to a new one, and running out of chains would add nothing.
    const int64_t ended = budget < 1 ? 0 : 1;
    if (!first && !HoldsUnseen(st)) {
        return ended;
    }
    if (dropUnreachable_ && !first) {
        // The reach test needs every plane. Between two whole gates they are the pair's kept
        // planes, which the clips of this state's candidates use too; otherwise they are
        // wrapped at once rather than searched corner by corner as candidates need them.
        reachPlanes_.clear();
        if (st.sourceGate != -1 && st.targetGate != -1) {
            st.separators[0].Restart();
            st.separators[1].Restart();
            for (int k = 0; k < 2; ++k) {
                const SeparatorCache::Planes planes = separators_.SourcePair(st.targetGate, k == 0);
                AddReachPlanes(planes.data, planes.count, k == 1);
            }
        } else {
            st.separators[0].Wrap(st.sourcePoly.points, st.targetPoly.points);
            st.separators[1].Wrap(st.targetPoly.points, st.sourcePoly.points);
            for (int k = 0; k < 2; ++k) {
                const std::vector<Plane>& planes = st.separators[k].planes;
                AddReachPlanes(planes.data(), planes.size(), k == 1);
            }
        }
        if (!DropUnreachable(st)) {
            return ended;
        }
    } else {
        st.separators[0].Restart();
        st.separators[1].Restart();
    }
    if (budget < 1) {
        // Out of chains: whatever this chain could still show lies in its narrowed set, so
        // the gate sees all of it.
        SeeAllOf(st);
        return 0;
    }
    // This chain, then the chains through its exits. Each exit may use an equal share of
    // what is left for the exits not yet taken, so what one exit leaves unused goes to the
    // others, and a budget that runs short cuts every branch a little way down rather than
    // the last branches at their first step (which would leave them nearly the flood).
    int64_t used = 1;
    onChain_[leaf] = 1;
    const std::vector<int32_t>& exits = leaves_[leaf].gateIndices;
    for (size_t exit = 0; exit < exits.size(); ++exit) {
        const int32_t g = exits[exit];
        const Gate& candidate = gates_[g];
        assert(candidate.targetLeaf != -1 && "gates listed in a leaf lead somewhere");
        if (!Holds(st, candidate.targetLeaf) || onChain_[candidate.targetLeaf] != 0) {
            continue;
        }
        if (!Narrow(st, g, nw)) {
            continue;
        }
        nw.sourcePoly = st.sourcePoly;
        nw.sourceGate = st.sourceGate;
        nw.targetPoly = candidate.polygon;
        nw.targetGate = ClipToFront(nw.targetPoly, sourcePlane_, scratch_) ? -1 : g;
        if (nw.targetPoly.points.empty()) {
            continue;
        }
        if (!first) {
            // Keep the part of the source behind the (clipped) candidate.
            if (ClipToFront(nw.sourcePoly, nw.targetPoly.GetPlane().Reversed(), scratch_)) {
                nw.sourceGate = -1;
            }
            if (nw.sourcePoly.points.empty() || !ClipBySeparators(st, nw, exit)) {
                continue;
            }
        }
        // Without a limit the budget is passed on whole: shares of shares would run out
        // along a deep enough chain.
        const auto exitsLeft = static_cast<int64_t>(exits.size() - exit);
        const int64_t share = budget == UNLIMITED_CHAINS ? budget : (budget - used) / exitsLeft;
        used += Recurse(source, candidate.targetLeaf, depth + 1, false, share);
    }
    onChain_[leaf] = 0;
    return used;
}

ChainClipper::ReachBox ChainClipper::BoxOf(const MinMax& box) {
    ReachBox reach;
    reach.bounds = Bounds::FromMinMax(box);
    reach.halfDiagonal = std::sqrt(Dot(reach.bounds.halfExtent, reach.bounds.halfExtent));
    reach.empty = box.empty;
    return reach;
}

void ChainClipper::FindEntryBoxes() {
    std::vector<MinMax> leafBoxes(leaves_.size());
    for (const Gate& gate : gates_) {
        if (gate.targetLeaf >= 0) {
            leafBoxes[gate.targetLeaf].Fold(gate.polygon.points);
        }
    }
    // A leaf without an entry box is never dropped, so neither is a word that holds one:
    // such a word's box stays empty.
    std::vector<MinMax> wordBoxes(WordsFor(leaves_.size()));
    std::vector<uint8_t> wordHasUnboxed(wordBoxes.size(), 0);
    for (size_t leaf = 0; leaf < leaves_.size(); ++leaf) {
        const MinMax& box = leafBoxes[leaf];
        const auto w = static_cast<size_t>(WordOf(static_cast<int32_t>(leaf)));
        if (box.empty) {
            wordHasUnboxed[w] = 1;
        } else {
            wordBoxes[w].Fold(box.min);
            wordBoxes[w].Fold(box.max);
        }
    }
    entryBoxes_.clear();
    for (const MinMax& box : leafBoxes) {
        entryBoxes_.push_back(BoxOf(box));
    }
    wordBoxes_.clear();
    for (size_t w = 0; w < wordBoxes.size(); ++w) {
        wordBoxes_.push_back(BoxOf(wordHasUnboxed[w] != 0 ? MinMax{} : wordBoxes[w]));
    }
}

namespace {

float Distance(Vector3 p, Vector3 q) {
    const Vector3 d = Subtract(p, q);
    return std::sqrt(Dot(d, d));
}

}  // namespace

bool ChainClipper::OutOfReach(const ReachBox& box, Vector3 passCentre, float gap) const {
    // The planes were found with the polygons' corners allowed POLY_CLASSIFY_EPSILON on
    // the wrong side; a line through two such corners strays from the plane by that much
    // for every length of the source-to-pass distance it runs on beyond the pass, so the
    // margin grows with the distance of the box's farthest point from the pass. Most boxes
    // are in reach by more than the least margin, and need no distance.
    constexpr float LEAST_MARGIN = UNREACHABLE_MARGIN + 2.0f * POLY_CLASSIFY_EPSILON;
    float margin = -1.0f;  // not worked out yet
    for (const ReachPlane& reach : reachPlanes_) {
        // How far in front of the plane the box's corner farthest in front of it lies:
        // below minus the margin, the box lies wholly behind the plane.
        const float ahead = reach.plane.SignedDistance(box.bounds.center) +
                            Dot(reach.absNormal, box.bounds.halfExtent);
        if (ahead >= -LEAST_MARGIN) {
            continue;
        }
        if (margin < 0.0f) {
            const float away = Distance(box.bounds.center, passCentre) + box.halfDiagonal;
            margin = UNREACHABLE_MARGIN + 2.0f * POLY_CLASSIFY_EPSILON * (away / gap + 1.0f);
        }
        if (ahead < -margin) {
            return true;
        }
    }
    return false;
}

bool ChainClipper::HoldsUnseen(const VisState& st) const {
    for (int32_t w = st.words.first; w < st.words.end; ++w) {
        if ((st.mightSee[w] & ~seen_[w]) != 0) {
            return true;
        }
    }
    return false;
}

void ChainClipper::AddReachPlanes(const Plane* planes, size_t count, bool turn) {
    // A line from the source through the pass stays in front of the planes that have the
    // source behind and the pass in front, and behind those the other way round; the
    // second kind are turned, so that a box wholly behind any of the planes is out of reach.
    for (size_t i = 0; i < count; ++i) {
        const Plane turned = turn ? planes[i].Reversed() : planes[i];
        const Vector3 n = turned.Normal();
        reachPlanes_.push_back({turned, {std::fabs(n.x), std::fabs(n.y), std::fabs(n.z)}});
    }
}

bool ChainClipper::DropUnreachable(VisState& st) {
    if (reachPlanes_.empty()) {
        return true;
    }
    const Winding& s = st.sourcePoly.points;
    const Winding& p = st.targetPoly.points;
    const Vector3 passCentre = AverageCorner(p);
    const float gap = std::max(Distance(passCentre, AverageCorner(s)), UNREACHABLE_MIN_GAP);
    bool left = false;
    for (int32_t w = st.words.first; w < st.words.end; ++w) {
        uint64_t bits = st.mightSee[w] & ~seen_[w];
        if (bits == 0) {
            continue;
        }
        // A word's box holds its leaves' boxes and reaches at least as far from the pass,
        // so when it is out of reach, so is each of them.
        if (!wordBoxes_[w].empty && OutOfReach(wordBoxes_[w], passCentre, gap)) {
            st.mightSee[w] &= ~bits;
            continue;
        }
        for (; bits != 0; bits &= bits - 1) {
            const int32_t leaf = w * LEAVES_PER_WORD + std::countr_zero(bits);
            const ReachBox& box = entryBoxes_[leaf];
            if (!box.empty && OutOfReach(box, passCentre, gap)) {
                st.mightSee[w] &= ~BitOf(leaf);
            }
        }
        left = left || (st.mightSee[w] & ~seen_[w]) != 0;
    }
    return left;
}

}  // namespace bsppvs
