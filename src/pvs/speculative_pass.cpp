#include "pvs/speculative_pass.h"

#include <algorithm>
#include <atomic>
#include <cassert>
#include <chrono>
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

// What a position of the order holds on its way to its commit.
enum SlotState : int32_t {
    SLOT_EMPTY = 0,  // not run yet, or running
    SLOT_OWN = 1,    // run here, its set aside waiting for its turn
    SLOT_PEER = 2,   // final set received from another process
};

// How far past the first uncommitted gate a worker may start one, per worker and process:
// far enough that a run of slow gates, or a process that lags, does not leave workers idle,
// near enough that the gates a run reads are mostly final by then.
constexpr int32_t WINDOW_PER_WORKER = 16;
// Processes take the order in blocks of this many positions. Every change of owner along
// the order costs a message's trip before the commits can go on, so blocks are long; the
// gates of one block run while the previous block's owner runs its own, so blocks are
// short. Gates read by a later gate are mostly within a few dozen positions of it (gates of
// about the same flood size, and the two directions of a portal, sort together).
constexpr int32_t POSITION_BLOCK = 64;
// How many unclaimed positions a worker looks through for one that can run on final sets.
constexpr size_t LOOKAHEAD = 8;
// An idle worker's nap between looks at the commit point and the other processes' sets.
constexpr auto IDLE_NAP = std::chrono::microseconds(20);

struct Slot {
    std::atomic<int32_t> state{SLOT_EMPTY};
    // The latest run's set (SLOT_OWN) or the received one (SLOT_PEER), until committed.
    std::atomic<SetAsidePtr> aside;
    // What that run read of gates before it that were not committed.
    ChainClipper::UnfinishedReads unfinished;
};

class SpeculativePass : public ChainClipper::OrderWatch {
public:
    SpeculativePass(const BspTree& tree, std::vector<Gate>& gates, ZeroedArena& store,
                    int32_t clipSteps, const std::vector<int32_t>& order,
                    const VisibilityWork& work, const VisibilityProgressFn& progress)
        : tree_(tree),
          gates_(gates),
          store_(store),
          clipSteps_(clipSteps),
          order_(order),
          positionOf_(gates.size(), 0),
          threads_(std::max(work.threads, 1)),
          peers_(work.peers),
          rank_(peers_ != nullptr ? peers_->Rank() : 0),
          processes_(peers_ != nullptr ? peers_->Processes() : 1),
          window_(WINDOW_PER_WORKER * threads_ * processes_ +
                  (processes_ > 1 ? 2 * POSITION_BLOCK * processes_ : 0)),
          progress_(progress),
          slots_(order.size()),
          committedFrom_(gates.size(), nullptr) {
        sourceLeafAt_.reserve(order.size());
        for (size_t p = 0; p < order.size(); ++p) {
            positionOf_[static_cast<size_t>(order[p])] = static_cast<int32_t>(p);
            sourceLeafAt_.push_back(gates[static_cast<size_t>(order[p])].sourceLeaf);
        }
        tally_.total = static_cast<int64_t>(order.size());
        AssignPositions();
    }

    VisibilityTally Run() {
        const std::function<void()> work = [this] { Work(); };
        std::vector<DeepStackThread> helpers(static_cast<size_t>(threads_ - 1));
        for (DeepStackThread& helper : helpers) {
            helper.Start(work);
        }
        Work();
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

    int32_t PositionOf(int32_t gate) const override {
        return positionOf_[static_cast<size_t>(gate)];
    }

    SetAsidePtr Aside(int32_t gate) const override {
        return slots_[static_cast<size_t>(PositionOf(gate))].aside.load();
    }

private:
    int32_t Total() const { return static_cast<int32_t>(order_.size()); }

    // This process's positions: alone, every one; shared, blocks of POSITION_BLOCK dealt
    // round the processes.
    void AssignPositions() {
        for (int32_t p = 0; p < Total(); ++p) {
            if ((p / POSITION_BLOCK) % processes_ == rank_) {
                owned_.push_back(p);
            }
        }
        claimed_.assign(owned_.size(), 0);
    }

    // One worker: runs this process's positions in order as they are handed out, then
    // helps commit until every position is committed.
    void Work() {
        try {
            ChainClipper clipper(gates_, tree_.leaves, clipSteps_);
            clipper.WatchOrder(this);
            int32_t position = 0;
            for (Claimed claimed = Claim(position); claimed != Claimed::NONE && !failed_;
                 claimed = Claim(position)) {
                if (claimed == Claimed::WAIT) {
                    Idle(clipper);
                } else {
                    RunAside(clipper, position);
                    TryCommit(clipper);
                }
            }
            while (!failed_ && frontier_.load() < Total()) {
                Idle(clipper);
            }
        } catch (...) {
            const std::lock_guard<std::mutex> lock(failureMutex_);
            if (!failure_) {
                failure_ = std::current_exception();
            }
            failed_ = true;
        }
    }

    void Idle(ChainClipper& clipper) {
        TryCommit(clipper);
        if (!FrontierReady()) {
            std::this_thread::sleep_for(IDLE_NAP);
        }
    }

    enum class Claimed { ONE, WAIT, NONE };

    // The next position for a worker, or WAIT when it would be too far ahead of the
    // commits: the first unclaimed one of this process's that no uncommitted gate before
    // it can touch, or, when each can, the first unclaimed one. A gate's run reads only
    // the gates that leave its target leaf or a leaf of its mightSee, so a gate claimed that
    // way reads only final sets.
    Claimed Claim(int32_t& position) {
        const std::lock_guard<std::mutex> lock(claimMutex_);
        while (firstUnclaimed_ < owned_.size() && claimed_[firstUnclaimed_] != 0) {
            ++firstUnclaimed_;
        }
        if (firstUnclaimed_ == owned_.size()) {
            return Claimed::NONE;
        }
        const int32_t frontier = frontier_.load();
        if (owned_[firstUnclaimed_] - frontier > window_) {
            return Claimed::WAIT;
        }
        size_t pick = firstUnclaimed_;
        for (size_t i = firstUnclaimed_; i < owned_.size() && i < firstUnclaimed_ + LOOKAHEAD &&
                                         owned_[i] - frontier <= window_;
             ++i) {
            if (claimed_[i] == 0 && !MayReadUncommitted(owned_[i], frontier)) {
                pick = i;
                break;
            }
        }
        claimed_[pick] = 1;
        position = owned_[pick];
        return Claimed::ONE;
    }

    bool MayReadUncommitted(int32_t position, int32_t frontier) const {
        const Gate& gate = gates_[static_cast<size_t>(order_[static_cast<size_t>(position)])];
        if (gate.targetLeaf == -1) {
            return false;
        }
        const WordRange words = gate.mightSee.Words();
        const uint64_t* bits = gate.mightSee.WordData();
        for (int32_t q = frontier; q < position; ++q) {
            const int32_t leaf = sourceLeafAt_[static_cast<size_t>(q)];
            if (leaf == gate.targetLeaf) {
                return true;
            }
            const int32_t w = WordOf(leaf);
            if (leaf >= 0 && words.Holds(w) && (bits[w - words.first] & BitOf(leaf)) != 0) {
                return true;
            }
        }
        return false;
    }

    void RunAside(ChainClipper& clipper, int32_t position) {
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
        slot.state.store(SLOT_OWN);
    }

    // Commits as far as the finished positions reach, on one thread at a time; a thread
    // that finds another committing leaves it to that one. The state stores and loads are
    // sequentially consistent, so a slot made ready while the committer lets go is seen
    // either by the committer's last look or by its maker's.
    void TryCommit(ChainClipper& clipper) {
        for (;;) {
            if (committing_.exchange(true)) {
                return;
            }
            CommitReady(clipper);
            committing_.store(false);
            if (!FrontierReady()) {
                return;
            }
        }
    }

    bool FrontierReady() const {
        const int32_t f = frontier_.load();
        return f < Total() && slots_[static_cast<size_t>(f)].state.load() != SLOT_EMPTY;
    }

    void CommitReady(ChainClipper& clipper) {
        if (peers_ != nullptr) {
            peers_->Poll([this](const GateExchange::Set& set) { Receive(set); });
        }
        for (int32_t f = frontier_.load(); f < Total() && !failed_; f = frontier_.load()) {
            Slot& slot = slots_[static_cast<size_t>(f)];
            const int32_t state = slot.state.load();
            if (state == SLOT_EMPTY) {
                return;
            }
            if (state == SLOT_OWN) {
                if (NeedsRerun(slot)) {
                    // Every gate before f is final now: this run is the run alone.
                    RunAside(clipper, f);
                    assert(slot.unfinished.reads.empty());
                    ++tally_.reruns;
                }
                if (peers_ != nullptr) {
                    const SetAsidePtr aside = slot.aside.load();
                    peers_->Publish({f, aside->range, aside->words.data()});
                }
            } else {
                ++tally_.fromPeers;
            }
            Commit(f, slot);
            frontier_.store(f + 1);
            ++tally_.committed;
            if (progress_) {
                progress_(tally_);
            }
        }
    }

    // Whether a read of an uncommitted gate may have narrowed differently from the run
    // alone: a set aside that is not the one committed, or a narrowing by the mightSee
    // that let through a leaf the final sees lacks. If no read did, each narrowing gave
    // what the gate's final sees gives (it lies within the mightSee), and the run is the run
    // alone.
    bool NeedsRerun(const Slot& slot) const {
        for (const ChainClipper::UnfinishedRead& read : slot.unfinished.reads) {
            const auto g = static_cast<size_t>(read.gate);
            if (read.aside) {
                if (committedFrom_[g] != read.aside.get()) {
                    return true;
                }
                continue;
            }
            const Gate& gate = gates_[g];
            const WordRange words = gate.mightSee.Words();
            const uint64_t* through = slot.unfinished.words.data() + read.offset;
            for (int32_t w = words.first; w < words.end; ++w) {
                if ((through[w - words.first] & ~gate.sees.Word(w)) != 0) {
                    return true;
                }
            }
        }
        return false;
    }

    // A final set from another process: only for a position that process owns, once.
    void Receive(const GateExchange::Set& set) {
        if (set.position < 0 || set.position >= Total() ||
            std::binary_search(owned_.begin(), owned_.end(), set.position)) {
            throw std::runtime_error("a process sent the set of a gate it does not run");
        }
        Slot& slot = slots_[static_cast<size_t>(set.position)];
        if (slot.state.load() != SLOT_EMPTY) {
            throw std::runtime_error("a process sent the set of a gate twice");
        }
        auto aside = std::make_shared<SetAside>();
        aside->range = set.range;
        aside->words.assign(set.words, set.words + WordsOf(set.range).Size());
        slot.aside.store(std::move(aside));
        slot.state.store(SLOT_PEER);
    }

    // Stores the slot's set as its gate's sees and makes it final for every reader.
    void Commit(int32_t position, Slot& slot) {
        const auto g = static_cast<size_t>(order_[static_cast<size_t>(position)]);
        Gate& gate = gates_[g];
        const SetAsidePtr aside = slot.aside.load();
        if (gate.targetLeaf != -1) {
            const WordRange words = WordsOf(aside->range);
            auto* out = reinterpret_cast<uint64_t*>(store_.Take(SetBytes(aside->range)));
            std::copy(aside->words.begin(), aside->words.end(), out);
            gate.seesRange = aside->range;
            gate.sees = LeafBits(out, words, tree_.leaves.size());
        }
        committedFrom_[g] = aside.get();
        // Release pairs with the readers' acquire: the sees above is whole when they see
        // GATE_DONE. Runs that still hold the set aside keep it alive.
        std::atomic_ref<int32_t>(gate.progress).store(GATE_DONE, std::memory_order_release);
        slot.aside.store(nullptr);
        slot.unfinished = {};
    }

    const BspTree& tree_;
    std::vector<Gate>& gates_;
    ZeroedArena& store_;
    int32_t clipSteps_;
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
    // Per gate, once committed: the set aside its sees was copied from. A run that read
    // another set aside of the gate read what the gate did not end with. Committer only.
    std::vector<const SetAside*> committedFrom_;
    // This process's positions, in order, and which of them workers have taken.
    std::vector<int32_t> owned_;
    std::vector<uint8_t> claimed_;
    size_t firstUnclaimed_ = 0;
    std::mutex claimMutex_;
    // Every position before it is committed.
    std::atomic<int32_t> frontier_{0};
    std::atomic<bool> committing_{false};
    // Written by the committer only.
    VisibilityTally tally_;
    std::atomic<bool> failed_{false};
    std::mutex failureMutex_;
    std::exception_ptr failure_;
};

}  // namespace

VisibilityTally RunSpeculativePass(const BspTree& tree, std::vector<Gate>& gates,
                                   ZeroedArena& gateSets, int32_t clipSteps,
                                   const std::vector<int32_t>& order, const VisibilityWork& work,
                                   const VisibilityProgressFn& progress) {
    return SpeculativePass(tree, gates, gateSets, clipSteps, order, work, progress).Run();
}

}  // namespace bsppvs
