#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include "bsp/bsp_leaf.h"
#include "core/zeroed_arena.h"
#include "geometry/bounds.h"
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
    ChainClipper(std::vector<Gate>& gates, const std::vector<BspLeaf>& leaves, ChainLimits limits)
        : gates_(gates),
          leaves_(leaves),
          clipSteps_(limits.clipSteps),
          maxChains_(limits.maxChains),
          dropUnreachable_(limits.dropUnreachable),
          seen_(WordsFor(leaves.size()), 0),
          onChain_(leaves.size(), 0),
          separators_(gates, leaves) {
        if (dropUnreachable_) {
            FindEntryBoxes();
        }
    }

    // Fills the sees, stored in store, and seesRange of gate `source` by following every
    // chain of gates from it. Reads the other gates' polygons (whose planes must be
    // cached), progress and sets, and writes only source's sets. A candidate gate counts
    // as finished, and narrows by its sees, when its progress is GATE_DONE.
    void Run(int32_t source, ZeroedArena& store);

    // As Run, but leaves the gate alone: what the source sees is moved into range and
    // words (the words of range, word WordsOf(range).first first). Gates may be committed
    // by other threads meanwhile: progress is read with acquire, and a gate's sees must be
    // in place before its GATE_DONE is stored with release.
    void RunAside(int32_t source, LeafRange& range, std::vector<uint64_t>& words);

    // A set a gate's run arrived at before the gate was committed: a run that may still be
    // replaced, or a set another process has already made final. Never changed once made.
    struct SetAside {
        LeafRange range;
        // The words of WordsOf(range).
        std::vector<uint64_t> words;
    };
    using SetAsidePtr = std::shared_ptr<const SetAside>;

    // Where the gates of a pass that runs gates side by side stand (see speculative_pass.h).
    class OrderWatch {
    public:
        virtual ~OrderWatch() = default;
        // Every gate's place in the pass's order, by gate index.
        virtual const int32_t* Positions() const = 0;
        // The set the gate's latest run arrived at, while it waits for its commit; null when
        // it has not run yet (or is committed by now).
        virtual SetAsidePtr Aside(int32_t gate) const = 0;
    };

    // What a run narrowed by gates before it in the order that were not committed when it
    // read them. A gate's first such read fixes what the run narrows by, for the whole run:
    // the set its run had arrived at (aside, kept alive here), or, when there was none yet,
    // its mightSee, the leaves that let through being gathered over the words of the
    // mightSee from `offset` on.
    struct UnfinishedRead {
        int32_t gate = -1;
        SetAsidePtr aside;
        size_t offset = 0;
    };
    struct UnfinishedReads {
        std::vector<UnfinishedRead> reads;
        std::vector<uint64_t> words;
        void Clear() {
            reads.clear();
            words.clear();
        }
    };

    // From now on, runs read the uncommitted gates before them as the watch tells, and
    // record what they read.
    void WatchOrder(const OrderWatch* watch) {
        watch_ = watch;
        positionOf_ = watch->Positions();
    }
    // The running source's place in the order; clears the record.
    void StartPosition(int32_t position) {
        position_ = position;
        ++stamp_;
        unfinished_.Clear();
    }
    const UnfinishedReads& Unfinished() const { return unfinished_; }

private:
    // A box for testing against many planes, with the length of its half diagonal, which
    // every test needs.
    struct ReachBox {
        Bounds bounds;
        float halfDiagonal = 0.0f;
        bool empty = true;
    };
    struct ReachPlane {
        Plane plane;
        // The normal's components without their signs.
        Vector3 absNormal;
    };

    static bool Holds(const VisState& st, int32_t leaf) {
        const int32_t w = WordOf(leaf);
        return st.words.Holds(w) && (st.mightSee[w] & BitOf(leaf)) != 0;
    }

    VisState& Level(size_t depth);

    // Narrows the chain's set by what the candidate gate can show; true when that leaves a
    // leaf the source has not yet been found to see. Only the words in both sets' ranges
    // can stay, so only they are looked at.
    bool Narrow(const VisState& st, int32_t candidate, VisState& nw);

    // The follow-every-chain part of Run: what source sees is left in seen_ and seenRange_.
    void Search(int32_t source);
    void ClearSeen();
    // The record of an uncommitted gate's reads in this run, made on its first.
    UnfinishedRead& UnfinishedRecord(int32_t gate);

    // Steps 1 and 2 narrow the candidate to what the chain lets through; steps 3 and 4
    // narrow the source to what can still see through the candidate, which is exit number
    // `exit` of st's leaf.
    bool ClipBySeparators(VisState& st, VisState& nw, size_t exit);

    // One step: cuts c by the planes separating a from b, from the cache when both are
    // whole gate polygons. False when nothing of c is left.
    bool ClipStep(int32_t step, VisState& st, VisState& nw, size_t exit);

    // Follows the chains from `leaf`, entering at most `budget` of them (this one first);
    // returns how many it entered.
    int64_t Recurse(const Gate& source, int32_t leaf, size_t depth, bool first, int64_t budget);
    // Marks every leaf of st's set seen.
    void SeeAllOf(const VisState& st);

    // Per leaf, the box of the polygons of the gates into it (see ChainLimits).
    void FindEntryBoxes();
    static ReachBox BoxOf(const MinMax& box);
    // Whether the box lies wholly behind one of reachPlanes_, by a margin for the tolerance
    // of the planes that grows with its distance from the pass.
    bool OutOfReach(const ReachBox& box, Vector3 passCentre, float gap) const;
    // Whether st's set holds a leaf the running source has not been found to see.
    bool HoldsUnseen(const VisState& st) const;
    // Adds planes separating st's source and pass polygons to reachPlanes_: planes with the
    // source behind them, or with turn, in front of them.
    void AddReachPlanes(const Plane* planes, size_t count, bool turn);
    // Drops from st's set the leaves not yet seen that no line through st's source and pass
    // polygons reaches, by reachPlanes_; whether any unseen leaf is left.
    bool DropUnreachable(VisState& st);

    std::vector<Gate>& gates_;
    const std::vector<BspLeaf>& leaves_;
    int32_t clipSteps_;
    int64_t maxChains_;
    bool dropUnreachable_;
    // Per leaf, the box of its entry gates; per word of a leaf set, the box of its leaves'.
    std::vector<ReachBox> entryBoxes_;
    std::vector<ReachBox> wordBoxes_;
    // The running chain's planes of the reach test, each turned so that the lines from its
    // source through its pass run in front of it.
    std::vector<ReachPlane> reachPlanes_;
    // The planes between the two polygons of a chain pair that are not both whole gates.
    std::vector<Plane> wrapped_;
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
    // The order watch (see WatchOrder): null when not watching. readStamp_[g] == stamp_
    // once gate g is in unfinished_ for the current run, as read readIndex_[g].
    const OrderWatch* watch_ = nullptr;
    const int32_t* positionOf_ = nullptr;
    int32_t position_ = 0;
    uint32_t stamp_ = 0;
    std::vector<uint32_t> readStamp_;
    std::vector<uint32_t> readIndex_;
    UnfinishedReads unfinished_;
};

}  // namespace bsppvs
