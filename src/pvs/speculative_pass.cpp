#include "pvs/speculative_pass.h"

#include <algorithm>
#include <atomic>
#include <cassert>
#include <chrono>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "core/deep_stack.h"
#include "pvs/chain_clipper.h"
#include "pvs/gate_exchange.h"
#include "pvs/set_layout.h"

namespace bsppvs {
namespace {

using SetAside = ChainClipper::SetAside;
using SetAsidePtr = ChainClipper::SetAsidePtr;

// How far past the first gate that is not final a worker may start a new one, per worker and
// process: far enough that slow gates do not leave workers idle, near enough that what the
// gates read is mostly final by then.
constexpr int32_t WINDOW_PER_WORKER = 64;
// The same with several processes, whose lanes no other process's worker can help along.
constexpr int32_t WINDOW_PER_PROCESS_WORKER = 256;
// An idle worker's nap between looks at the other workers' and processes' progress.
constexpr auto IDLE_NAP = std::chrono::microseconds(20);

// A worker's positions, in order, and the next one to run (under the claim lock: another
// worker may take it).
struct Lane {
    std::vector<int32_t> positions;
    size_t next = 0;
};

struct Slot {
    // The latest run's set, from the end of the run until the gate is final.
    std::atomic<SetAsidePtr> aside;
    // What that run read of gates before it that were not final.
    ChainClipper::UnfinishedReads unfinished;
};

class SpeculativePass : public ChainClipper::OrderWatch {
public:
    SpeculativePass(const BspTree& tree, std::vector<Gate>& gates, ZeroedArena& store,
                    ChainLimits limits, const std::vector<int32_t>& order,
                    const VisibilityWork& work, const VisibilityProgressFn& progress)
        : tree_(tree),
          gates_(gates),
          store_(store),
          limits_(limits),
          order_(order),
          positionOf_(gates.size(), 0),
          threads_(std::max(work.threads, 1)),
          peers_(work.peers),
          rank_(peers_ != nullptr ? peers_->Rank() : 0),
          processes_(peers_ != nullptr ? peers_->Processes() : 1),
          window_((processes_ > 1 ? WINDOW_PER_PROCESS_WORKER : WINDOW_PER_WORKER) * threads_ *
                  processes_),
          progress_(progress),
          slots_(order.size()),
          finalFrom_(gates.size(), nullptr) {
        sourceLeafAt_.reserve(order.size());
        for (size_t p = 0; p < order.size(); ++p) {
            positionOf_[static_cast<size_t>(order[p])] = static_cast<int32_t>(p);
            sourceLeafAt_.push_back(gates[static_cast<size_t>(order[p])].sourceLeaf);
        }
        tally_.total = static_cast<int64_t>(order.size());
        AssignLanes();
    }

    VisibilityTally Run() {
        std::vector<std::function<void()>> work;
        for (int32_t lane = 0; lane < threads_; ++lane) {
            work.emplace_back([this, lane] { Work(lanes_[static_cast<size_t>(lane)]); });
        }
        std::vector<DeepStackThread> helpers(static_cast<size_t>(threads_ - 1));
        for (size_t h = 0; h < helpers.size(); ++h) {
            helpers[h].Start(work[h + 1]);
        }
        work[0]();
        for (DeepStackThread& helper : helpers) {
            helper.Join();
        }
        if (failure_) {
            std::rethrow_exception(failure_);
        }
        if (peers_ != nullptr) {
            peers_->Finish();
        }
        return tally_;
    }

    const int32_t* Positions() const override { return positionOf_.data(); }

    SetAsidePtr Aside(int32_t gate) const override {
        return slots_[static_cast<size_t>(positionOf_[static_cast<size_t>(gate)])].aside.load();
    }

private:
    int32_t Total() const { return static_cast<int32_t>(order_.size()); }

    // Acquire pairs with Finish's release: once true, the gate's sees is whole.
    bool IsFinal(int32_t gate) const {
        return std::atomic_ref<int32_t>(gates_[static_cast<size_t>(gate)].progress)
                   .load(std::memory_order_acquire) == GATE_DONE;
    }

    // Each process owns the gates that leave one run of consecutive leaves, and each of its
    // workers (a lane) a run within that: leaves are numbered down the tree, so a run is a
    // region of the level. Runs are cut so that each holds about as much flood as the
    // others. The processes' runs depend only on the level and the process count, so every
    // process agrees on who owns what whatever thread counts they run. A gate's run mostly
    // reads gates near it, which are then its own lane's, run before it on the same worker:
    // few runs read a set that is not final yet, or one still travelling from another
    // process, and each worker's separator cache holds its region.
    void AssignLanes() {
        std::vector<int64_t> weight(tree_.leaves.size(), 0);
        for (const Gate& gate : gates_) {
            if (gate.sourceLeaf >= 0) {
                weight[static_cast<size_t>(gate.sourceLeaf)] += gate.mightSeeCount + 1;
            }
        }
        const std::vector<int32_t> processOfLeaf = CutRuns(weight, processes_);
        std::vector<int64_t> ownWeight(weight.size(), 0);
        for (size_t leaf = 0; leaf < weight.size(); ++leaf) {
            ownWeight[leaf] = processOfLeaf[leaf] == rank_ ? weight[leaf] : 0;
        }
        const std::vector<int32_t> laneOfLeaf = CutRuns(ownWeight, threads_);
        lanes_.resize(static_cast<size_t>(threads_));
        for (int32_t p = 0; p < Total(); ++p) {
            const int32_t leaf = sourceLeafAt_[static_cast<size_t>(p)];
            const int32_t process =
                leaf >= 0 ? processOfLeaf[static_cast<size_t>(leaf)] : p % processes_;
            if (process == rank_) {
                const int32_t lane =
                    leaf >= 0 ? laneOfLeaf[static_cast<size_t>(leaf)] : p % threads_;
                lanes_[static_cast<size_t>(lane)].positions.push_back(p);
                owned_.push_back(p);
            }
        }
    }

    // Cuts the leaves into `parts` runs of consecutive leaves of about equal weight: the run
    // of each leaf.
    static std::vector<int32_t> CutRuns(const std::vector<int64_t>& weight, int32_t parts) {
        int64_t total = 0;
        for (const int64_t w : weight) {
            total += w;
        }
        std::vector<int32_t> run(weight.size(), 0);
        int64_t before = 0;
        for (size_t leaf = 0; leaf < weight.size(); ++leaf) {
            run[leaf] = static_cast<int32_t>(
                std::min<int64_t>(parts - 1, before * parts / std::max<int64_t>(total, 1)));
            before += weight[leaf];
        }
        return run;
    }

    // One worker: runs this process's positions as they are handed out, then helps settle
    // until every gate is final.
    void Work(Lane& lane) {
        try {
            ChainClipper clipper(gates_, tree_.leaves, limits_);
            clipper.WatchOrder(this);
            int32_t position = 0;
            for (Claimed claimed = Claim(lane, position); !failed_;
                 claimed = Claim(lane, position)) {
                if (claimed == Claimed::ONE) {
                    RunAside(clipper, position);
                    TrySettle(clipper);
                } else if (claimed == Claimed::NONE && frontier_.load() == Total()) {
                    break;
                } else {
                    TrySettle(clipper);
                    std::this_thread::sleep_for(IDLE_NAP);
                }
            }
        } catch (...) {
            const std::lock_guard<std::mutex> lock(failureMutex_);
            if (!failure_) {
                failure_ = std::current_exception();
            }
            failed_ = true;
        }
    }

    enum class Claimed { ONE, WAIT, NONE };

    // The next position for a worker: one to run again first, then its lane's next one,
    // unless that is too far past the first gate that is not final; then the earliest next
    // one of the other lanes, so that a worker whose region is done, or far ahead, helps the
    // others. WAIT when every lane is too far ahead, NONE when nothing is left to run (for
    // now).
    Claimed Claim(Lane& lane, int32_t& position) {
        const std::lock_guard<std::mutex> lock(claimMutex_);
        if (!again_.empty()) {
            position = again_.front();
            again_.pop_front();
            return Claimed::ONE;
        }
        const int32_t frontier = frontier_.load();
        Lane* from = nullptr;
        if (lane.next < lane.positions.size() && lane.positions[lane.next] - frontier <= window_) {
            from = &lane;
        } else {
            for (Lane& other : lanes_) {
                if (other.next < other.positions.size() &&
                    (from == nullptr ||
                     other.positions[other.next] < from->positions[from->next])) {
                    from = &other;
                }
            }
            if (from == nullptr) {
                return Claimed::NONE;
            }
            if (from->positions[from->next] - frontier > window_) {
                return Claimed::WAIT;
            }
        }
        position = from->positions[from->next++];
        return Claimed::ONE;
    }

    // Runs the gate at position; its set and reads wait in its slot. With toSettle, the
    // position goes on the list the settler takes in.
    void RunAside(ChainClipper& clipper, int32_t position, bool toSettle = true) {
        Slot& slot = slots_[static_cast<size_t>(position)];
        const int32_t gate = order_[static_cast<size_t>(position)];
        auto aside = std::make_shared<SetAside>();
        clipper.StartPosition(position);
        // A gate that leads nowhere is never entered and sees nothing.
        if (gates_[static_cast<size_t>(gate)].targetLeaf != -1) {
            clipper.RunAside(gate, aside->range, aside->words);
        }
        slot.unfinished = clipper.Unfinished();
        slot.aside.store(std::move(aside));
        if (toSettle) {
            const std::lock_guard<std::mutex> lock(claimMutex_);
            ran_.push_back(position);
        }
    }

    // Settles what can be settled, on one thread at a time; a thread that finds another
    // settling leaves it to that one. The flag and the list of runs are sequentially
    // consistent, so a run finished while the settler lets go is seen either by the
    // settler's last look or by the thread that finished it.
    void TrySettle(ChainClipper& clipper) {
        for (;;) {
            if (settling_.exchange(true)) {
                return;
            }
            Settle(clipper);
            settling_.store(false);
            const std::lock_guard<std::mutex> lock(claimMutex_);
            if (ran_.empty()) {
                return;
            }
        }
    }

    // Takes in the other processes' final sets and this process's finished runs, and makes
    // final every run whose reads turn out to have been the reads of the gates run one by
    // one. A run that read a gate before it that was not final is decided once that gate
    // is; one whose read differed from the gate's final set is run again.
    void Settle(ChainClipper& clipper) {
        if (peers_ != nullptr) {
            peers_->Poll([this](const GateExchange::Set& set) { Receive(set); });
        }
        {
            const std::lock_guard<std::mutex> lock(claimMutex_);
            pending_.insert(pending_.end(), ran_.begin(), ran_.end());
            ran_.clear();
        }
        for (bool changed = true; changed && !failed_;) {
            changed = false;
            for (size_t i = 0; i < pending_.size();) {
                const Verdict verdict = Decide(pending_[i]);
                if (verdict == Verdict::UNDECIDED) {
                    ++i;
                    continue;
                }
                const int32_t position = pending_[i];
                pending_[i] = pending_.back();
                pending_.pop_back();
                changed = true;
                if (verdict == Verdict::DIFFERS) {
                    RunAgain(clipper, position);
                } else {
                    FinishOwn(position);
                }
            }
            AdvanceFrontier();
        }
    }

    enum class Verdict { UNDECIDED, SAME, DIFFERS };

    // Whether the run at position read what the gates one by one would have: every gate it
    // found not final must be final by now, and then read the same. A set aside read must
    // be the one the gate ended with; a mightSee read must have let through no leaf the
    // final sees lacks, so that the chain's set AND the mightSee (the narrowing made) equals
    // the chain's set AND the final sees (the narrowing alone), sees lying within mightSee.
    Verdict Decide(int32_t position) const {
        const Slot& slot = slots_[static_cast<size_t>(position)];
        for (const ChainClipper::UnfinishedRead& read : slot.unfinished.reads) {
            if (!IsFinal(read.gate)) {
                return Verdict::UNDECIDED;
            }
        }
        for (const ChainClipper::UnfinishedRead& read : slot.unfinished.reads) {
            const auto g = static_cast<size_t>(read.gate);
            if (read.aside) {
                if (finalFrom_[g] != read.aside.get()) {
                    return Verdict::DIFFERS;
                }
                continue;
            }
            const Gate& gate = gates_[g];
            const WordRange words = gate.mightSee.Words();
            const uint64_t* through = slot.unfinished.words.data() + read.offset;
            for (int32_t w = words.first; w < words.end; ++w) {
                if ((through[w - words.first] & ~gate.sees.Word(w)) != 0) {
                    return Verdict::DIFFERS;
                }
            }
        }
        return Verdict::SAME;
    }

    // A run that read differently. When every gate before it is final, the run made now
    // reads only final sets, so it is the run one by one; otherwise a worker runs it again.
    void RunAgain(ChainClipper& clipper, int32_t position) {
        ++tally_.reruns;
        Slot& slot = slots_[static_cast<size_t>(position)];
        if (frontier_.load() == position) {
            RunAside(clipper, position, false);
            assert(slot.unfinished.reads.empty());
            FinishOwn(position);
            return;
        }
        slot.aside.store(nullptr);
        slot.unfinished = {};
        const std::lock_guard<std::mutex> lock(claimMutex_);
        again_.push_back(position);
    }

    void FinishOwn(int32_t position) {
        Slot& slot = slots_[static_cast<size_t>(position)];
        const SetAsidePtr aside = slot.aside.load();
        if (peers_ != nullptr) {
            peers_->Publish({position, aside->range, aside->words.data()});
        }
        Finish(position, aside);
    }

    // A final set from another process: only for a position that process owns, once.
    void Receive(const GateExchange::Set& set) {
        if (set.position < 0 || set.position >= Total() ||
            std::binary_search(owned_.begin(), owned_.end(), set.position)) {
            throw std::runtime_error("a process sent the set of a gate it does not run");
        }
        if (IsFinal(order_[static_cast<size_t>(set.position)])) {
            throw std::runtime_error("a process sent the set of a gate twice");
        }
        auto aside = std::make_shared<SetAside>();
        aside->range = set.range;
        aside->words.assign(set.words, set.words + WordsOf(set.range).Size());
        ++tally_.fromPeers;
        Finish(set.position, aside);
    }

    // Stores the set as its gate's sees and makes it final for every reader.
    void Finish(int32_t position, const SetAsidePtr& aside) {
        Slot& slot = slots_[static_cast<size_t>(position)];
        const auto g = static_cast<size_t>(order_[static_cast<size_t>(position)]);
        Gate& gate = gates_[g];
        if (gate.targetLeaf != -1) {
            const WordRange words = WordsOf(aside->range);
            auto* out = reinterpret_cast<uint64_t*>(store_.Take(SetBytes(aside->range)));
            std::copy(aside->words.begin(), aside->words.end(), out);
            gate.seesRange = aside->range;
            gate.sees = LeafBits(out, words, tree_.leaves.size());
        }
        finalFrom_[g] = aside.get();
        // Release pairs with the readers' acquire: the sees above is whole when they see
        // GATE_DONE. Runs that still hold the set aside keep it alive.
        std::atomic_ref<int32_t>(gate.progress).store(GATE_DONE, std::memory_order_release);
        slot.aside.store(nullptr);
        slot.unfinished = {};
        ++tally_.committed;
        if (progress_) {
            progress_(tally_);
        }
    }

    void AdvanceFrontier() {
        int32_t f = frontier_.load();
        while (f < Total() && IsFinal(order_[static_cast<size_t>(f)])) {
            ++f;
        }
        frontier_.store(f);
    }

    const BspTree& tree_;
    std::vector<Gate>& gates_;
    ZeroedArena& store_;
    ChainLimits limits_;
    const std::vector<int32_t>& order_;
    std::vector<int32_t> positionOf_;
    // The source leaf of the gate at each position: the leaf whose chains read it.
    std::vector<int32_t> sourceLeafAt_;
    int32_t threads_;
    GateExchange* peers_;
    int32_t rank_;
    int32_t processes_;
    int32_t window_;
    const VisibilityProgressFn& progress_;
    std::vector<Slot> slots_;
    // Per gate, once final: the set aside its sees was copied from. Compared by address
    // with the sets aside runs read, which those runs keep alive, so no other set can have
    // taken the address; and no set aside of a gate is made once it is final.
    std::vector<const SetAside*> finalFrom_;
    // This process's positions, in order, and each worker's share of them.
    std::vector<int32_t> owned_;
    std::vector<Lane> lanes_;
    // Positions to run again and finished runs not yet taken in by the settler. Under
    // claimMutex_, as the lanes' next positions are.
    std::deque<int32_t> again_;
    std::vector<int32_t> ran_;
    std::mutex claimMutex_;
    // Runs waiting for what they read to be final. Settler only.
    std::vector<int32_t> pending_;
    // Every position before it is final.
    std::atomic<int32_t> frontier_{0};
    std::atomic<bool> settling_{false};
    // Written by the settler only.
    VisibilityTally tally_;
    std::atomic<bool> failed_{false};
    std::mutex failureMutex_;
    std::exception_ptr failure_;
};

}  // namespace

VisibilityTally RunSpeculativePass(const BspTree& tree, std::vector<Gate>& gates,
                                   ZeroedArena& gateSets, ChainLimits limits,
                                   const std::vector<int32_t>& order, const VisibilityWork& work,
                                   const VisibilityProgressFn& progress) {
    return SpeculativePass(tree, gates, gateSets, limits, order, work, progress).Run();
}

}  // namespace bsppvs
