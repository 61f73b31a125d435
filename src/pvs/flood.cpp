// The rough flood. Each gate's flood is one reachability walk over a fixed graph: the
// leaves, joined by the gates that lie at least partly beyond the flooding gate and have it
// at least partly behind them. The two tests per gate pair are table lookups (see
// flood_tables.h).
//
// The floods run 64 at a time, one bit of a word per gate: every leaf holds the word of the
// floods that reached it, and a leaf's exits pass on the bits that are new to it, each exit
// letting through the floods whose tests it passes. Whether a gate may follow depends only
// on the two gates, never on the path that reached it, so every flood's set is the one it
// would reach alone; but the 64 floods share one walk of the graph, and an exit's 64 tests
// are made side by side, once.

#include <algorithm>
#include <bit>
#include <cstring>
#include <vector>

#include "core/parallel_for.h"
#include "pvs/flood_tables.h"
#include "pvs/set_layout.h"
#include "pvs/visibility.h"

namespace bsppvs {

namespace {

constexpr size_t BATCH = 64;
// Up to this many floods an exit's tests are made one at a time; beyond, all the batch's
// lookups side by side.
constexpr int FEW_FLOODS = 8;

// The exits of every leaf packed side by side, in leaf order, with what the flood reads of
// each: reading them from the gates and leaves themselves would cost a cache miss per exit.
struct FloodGraph {
    // What the test behind reads of an exit's gate.
    struct ExitPlane {
        uint32_t group;  // the index of the gate's normal in the projection tables
        float d;         // the distance of the gate's plane
        float margin;    // the gate's margin in the projection tables
    };
    std::vector<uint32_t> firstExit;   // per leaf, and one past the last leaf
    std::vector<int32_t> exitGate;     // per exit: the gate
    std::vector<int32_t> exitTarget;   // per exit: the leaf beyond its gate
    std::vector<ExitPlane> exitPlane;  // per exit, once the tables are made

    FloodGraph(const std::vector<Gate>& gates, const std::vector<BspLeaf>& leaves) {
        firstExit.reserve(leaves.size() + 1);
        for (const BspLeaf& leaf : leaves) {
            firstExit.push_back(static_cast<uint32_t>(exitGate.size()));
            for (const int32_t j : leaf.gateIndices) {
                exitGate.push_back(j);
                exitTarget.push_back(gates[j].targetLeaf);
            }
        }
        firstExit.push_back(static_cast<uint32_t>(exitGate.size()));
    }

    // The tables number the normals, so the exits' planes are filled in after them.
    void AddPlanes(const std::vector<Gate>& gates, const GateProjections& projections) {
        exitPlane.reserve(exitGate.size());
        for (const int32_t j : exitGate) {
            const auto index = static_cast<size_t>(j);
            exitPlane.push_back({projections.HasTables() ? projections.GroupOf(index) : 0,
                                 gates[index].polygon.plane.d, projections.Margin(index)});
        }
    }
};

// Packs 64 flags, each 0 or 1, into one word: flag k becomes bit k. Each group of eight
// flags is read as one little-endian word and gathered into its top byte by a multiply
// whose partial products never overlap.
uint64_t PackFlags(const uint8_t* flags) {
    static_assert(std::endian::native == std::endian::little);
    constexpr uint64_t GATHER = 0x0102040810204080ull;
    uint64_t packed = 0;
    for (size_t byte = 0; byte < 8; ++byte) {
        uint64_t eight = 0;
        std::memcpy(&eight, flags + 8 * byte, sizeof eight);
        packed |= ((eight * GATHER) >> 56) << (8 * byte);
    }
    return packed;
}

// Turns the 64 x 64 bit matrix: bit k of rows[r] becomes bit r of rows[k].
void Transpose(uint64_t rows[64]) {
    uint64_t mask = 0x00000000FFFFFFFFull;
    for (size_t width = 32; width != 0; width >>= 1, mask ^= mask << width) {
        for (size_t k = 0; k < 64; k = ((k | width) + 1) & ~width) {
            const uint64_t swap = ((rows[k] >> width) ^ rows[k | width]) & mask;
            rows[k] ^= swap << width;
            rows[k | width] ^= swap;
        }
    }
}

// The floods of up to 64 gates at a time. Reused batch after batch: every per-leaf and
// per-exit word is zero again when a batch is done.
class FloodBatch {
public:
    FloodBatch(std::vector<Gate>& gates, const FloodGraph& graph,
               const GateProjections& projections, size_t leafCount, ZeroedArena& store)
        : gates_(gates),
          graph_(graph),
          projections_(projections),
          store_(store),
          leafCount_(leafCount),
          levelWords_(WordsFor(leafCount)),
          reached_(leafCount, 0),
          passed_(leafCount, 0),
          exits_(graph.exitGate.size()),
          touched_(leafCount),
          pending_(levelWords_, 0),
          sets_(BATCH * levelWords_, 0) {}

    void Run(const int32_t* sources, size_t count) {
        Prepare(sources, count);
        for (size_t k = 0; k < count; ++k) {
            Reach(gates_[sources_[k]].targetLeaf, uint64_t{1} << k);
        }
        // Leaves are walked in leaf order, sweeping up and down in turn: a leaf reached from
        // one earlier in the sweep is walked later in the same sweep, with every bit that
        // came to it by then, which saves most of the walks a queue would make. Bits that
        // travel against the sweep wait for the next one, which runs their way.
        int32_t word = 0;
        int32_t step = 1;
        const auto last = static_cast<int32_t>(levelWords_) - 1;
        while (pendingCount_ > 0) {
            while (pending_[word] == 0) {
                if ((step > 0 && word == last) || (step < 0 && word == 0)) {
                    step = -step;
                } else {
                    word += step;
                }
            }
            const uint64_t bits = pending_[word];
            const int32_t bit = step > 0 ? std::countr_zero(bits) : 63 - std::countl_zero(bits);
            pending_[word] = bits & ~(uint64_t{1} << bit);
            --pendingCount_;
            PassOn(word * LEAVES_PER_WORD + bit);
        }
        StoreSets();
        Clear();
    }

private:
    // Per exit: the floods whose tests are known, and those of them it lets through.
    struct ExitFloods {
        uint64_t known = 0;
        uint64_t allowed = 0;
    };

    // A run of sources that share a normal, and so a row of the front table.
    struct RowRun {
        const float* row;
        size_t first;
        size_t end;
    };

    void Prepare(const int32_t* sources, size_t count) {
        sources_.assign(sources, sources + count);
        batchMask_ = count == BATCH ? ~uint64_t{0} : (uint64_t{1} << count) - 1;
        runs_.clear();
        if (!projections_.HasTables()) {
            return;
        }
        const size_t groups = projections_.GroupCount();
        behind_.assign(groups * BATCH, 0.0f);
        for (size_t k = 0; k < count; ++k) {
            const auto i = static_cast<size_t>(sources[k]);
            const float margin = projections_.Margin(i);
            d_[k] = gates_[i].polygon.plane.d;
            margin_[k] = margin;
            high_[k] = POLY_CLASSIFY_EPSILON + margin;
            low_[k] = POLY_CLASSIFY_EPSILON - margin;
            const float* row = projections_.FrontRow(i);
            row_[k] = row;
            if (runs_.empty() || runs_.back().row != row) {
                runs_.push_back({row, k, k});
            }
            runs_.back().end = k + 1;
            const float* behindRow = projections_.BehindRow(i);
            for (size_t g = 0; g < groups; ++g) {
                behind_[g * BATCH + k] = behindRow[g];
            }
        }
    }

    // Adds the floods of `bits` to the leaf, which then has bits to pass on.
    void Reach(int32_t leaf, uint64_t bits) {
        const uint64_t before = reached_[leaf];
        if (before == 0) {
            touched_[touchedCount_++] = leaf;
        }
        if ((before & ~passed_[leaf]) == 0) {
            pending_[WordOf(leaf)] |= BitOf(leaf);
            ++pendingCount_;
        }
        reached_[leaf] = before | bits;
    }

    void PassOn(int32_t leaf) {
        uint64_t* reached = reached_.data();
        const uint64_t fresh = reached[leaf] & ~passed_[leaf];
        passed_[leaf] |= fresh;
        const int32_t* targets = graph_.exitTarget.data();
        ExitFloods* exits = exits_.data();
        const uint32_t end = graph_.firstExit[leaf + 1];
        for (uint32_t e = graph_.firstExit[leaf]; e < end; ++e) {
            const int32_t target = targets[e];
            const uint64_t wanted = fresh & ~reached[target];
            if (wanted == 0) {
                continue;
            }
            if ((wanted & ~exits[e].known) != 0) {
                Learn(e, wanted);
            }
            const uint64_t through = wanted & exits[e].allowed;
            if (through != 0) {
                Reach(target, through);
            }
        }
    }

    // Learns whether exit e lets through the floods of `wanted` it does not know yet. Kept
    // out of line, so that the walk above keeps its state in registers.
    [[gnu::noinline]] void Learn(uint32_t e, uint64_t wanted) {
        ExitFloods& exit = exits_[e];
        if (exit.known == 0) {
            learned_.push_back(e);
        }
        const uint64_t unknown = wanted & ~exit.known;
        if (projections_.HasTables() && std::popcount(unknown) > FEW_FLOODS) {
            // Many at once: all the batch's lookups side by side cost less.
            exit.allowed = LookUp(e);
            exit.known = batchMask_;
        } else {
            exit.allowed |= Decide(e, unknown);
            exit.known |= unknown;
        }
    }

    // Gate j may follow gate i only if it lies at least partly beyond gate i and gate i
    // lies at least partly behind it. The lookups decide each test for all the batch at
    // once; those within their margins are classified, front first, exactly as one flood
    // alone would.
    uint64_t LookUp(uint32_t e) {
        for (const RowRun& run : runs_) {
            const float value = run.row[e];
            for (size_t k = run.first; k < run.end; ++k) {
                front_[k] = value - d_[k];
            }
        }
        const FloodGraph::ExitPlane& plane = graph_.exitPlane[e];
        const float* behind = &behind_[plane.group * BATCH];
        const float high = POLY_CLASSIFY_EPSILON + plane.margin;
        const float low = POLY_CLASSIFY_EPSILON - plane.margin;
        for (size_t k = 0; k < BATCH; ++k) {
            const float value = -(behind[k] - plane.d);
            sure_[k] = (front_[k] > high_[k]) & (value > high);
            open_[k] = !(front_[k] <= low_[k]) & !(value <= low);
        }
        const uint64_t sure = PackFlags(sure_) & batchMask_;
        uint64_t allowed = sure;
        for (uint64_t open = PackFlags(open_) & batchMask_ & ~sure; open != 0; open &= open - 1) {
            const auto k = static_cast<size_t>(std::countr_zero(open));
            const auto i = static_cast<size_t>(sources_[k]);
            const auto j = static_cast<size_t>(graph_.exitGate[e]);
            const bool inFront = front_[k] > high_[k] || projections_.ClassifiesInFront(j, i);
            const float value = -(behind[k] - plane.d);
            if (inFront && (value > high || projections_.ClassifiesBehind(i, j))) {
                allowed |= open & -open;
            }
        }
        return allowed;
    }

    // The floods of `bits` tested one at a time: by lookups with tables, else by
    // classifying the polygons.
    uint64_t Decide(uint32_t e, uint64_t bits) const {
        const auto j = static_cast<size_t>(graph_.exitGate[e]);
        uint64_t allowed = 0;
        for (; bits != 0; bits &= bits - 1) {
            const auto k = static_cast<size_t>(std::countr_zero(bits));
            const auto i = static_cast<size_t>(sources_[k]);
            const auto inFront = [&] { return projections_.ClassifiesInFront(j, i); };
            const auto behind = [&] { return projections_.ClassifiesBehind(i, j); };
            bool follows = false;
            if (projections_.HasTables()) {
                const FloodGraph::ExitPlane& plane = graph_.exitPlane[e];
                follows =
                    GateProjections::BeyondTolerance(row_[k][e] - d_[k], margin_[k], inFront) &&
                    GateProjections::BeyondTolerance(-(behind_[plane.group * BATCH + k] - plane.d),
                                                     plane.margin, behind);
            } else {
                follows = inFront() && behind();
            }
            if (follows) {
                allowed |= bits & -bits;
            }
        }
        return allowed;
    }

    // Every flood's set from the leaves' words, 64 leaves at a time: the words of 64
    // consecutive leaves, turned, are one word of each flood's set.
    void StoreSets() {
        const auto [low, high] =
            std::minmax_element(touched_.begin(), touched_.begin() + touchedCount_);
        const int32_t firstWord = WordOf(*low);
        const int32_t endWord = WordOf(*high) + 1;
        for (int32_t w = firstWord; w < endWord; ++w) {
            uint64_t rows[LEAVES_PER_WORD];
            uint64_t any = 0;
            for (int32_t r = 0; r < LEAVES_PER_WORD; ++r) {
                const int32_t leaf = w * LEAVES_PER_WORD + r;
                rows[r] = leaf < static_cast<int32_t>(leafCount_) ? reached_[leaf] : 0;
                any |= rows[r];
            }
            if (any == 0) {
                continue;
            }
            Transpose(rows);
            for (size_t k = 0; k < sources_.size(); ++k) {
                sets_[k * levelWords_ + w] = rows[k];
            }
        }
        for (size_t k = 0; k < sources_.size(); ++k) {
            uint64_t* set = &sets_[k * levelWords_];
            Gate& gate = gates_[sources_[k]];
            gate.mightSeeCount = 0;
            gate.mightSeeRange = {};
            for (int32_t w = firstWord; w < endWord; ++w) {
                if (set[w] != 0) {
                    gate.mightSeeCount += std::popcount(set[w]);
                    gate.mightSeeRange.Add(w * LEAVES_PER_WORD + std::countr_zero(set[w]));
                    gate.mightSeeRange.Add(w * LEAVES_PER_WORD + 63 - std::countl_zero(set[w]));
                }
            }
            gate.mightSee = StoreSet(set, gate.mightSeeRange, leafCount_, store_);
            std::fill(set + firstWord, set + endWord, 0);
        }
    }

    void Clear() {
        for (size_t t = 0; t < touchedCount_; ++t) {
            reached_[touched_[t]] = 0;
            passed_[touched_[t]] = 0;
        }
        for (const uint32_t e : learned_) {
            exits_[e] = {};
        }
        touchedCount_ = 0;
        learned_.clear();
    }

    std::vector<Gate>& gates_;
    const FloodGraph& graph_;
    const GateProjections& projections_;
    ZeroedArena& store_;
    size_t leafCount_;
    size_t levelWords_;
    // The batch: its gates, one bit each, and the bits of the gates it has.
    std::vector<int32_t> sources_;
    uint64_t batchMask_ = 0;
    // Per leaf: the floods that reached it, and those of them it has passed on.
    std::vector<uint64_t> reached_;
    std::vector<uint64_t> passed_;
    std::vector<ExitFloods> exits_;
    // The leaves reached and the exits tested in this batch.
    std::vector<int32_t> touched_;
    size_t touchedCount_ = 0;
    std::vector<uint32_t> learned_;
    // One bit for every leaf of the level: the leaves with bits to pass on.
    std::vector<uint64_t> pending_;
    int32_t pendingCount_ = 0;
    // BATCH sets of one bit for every leaf of the level, all zero between batches.
    std::vector<uint64_t> sets_;
    // With tables: per source, its plane's distance and the bounds of the front test; the
    // runs of sources that share a front row; per normal and source, the source's
    // smallest value along that normal.
    float d_[BATCH] = {};
    float margin_[BATCH] = {};
    const float* row_[BATCH] = {};
    float high_[BATCH] = {};
    float low_[BATCH] = {};
    std::vector<RowRun> runs_;
    std::vector<float> behind_;
    // One exit's lookups: the front values and the flags of tests sure to pass and of tests
    // not sure to fail.
    float front_[BATCH] = {};
    uint8_t sure_[BATCH] = {};
    uint8_t open_[BATCH] = {};
};

// The gates that lead somewhere, in the order their floods run: those that share a normal
// one after another, so that a batch reads few rows of the front table.
std::vector<int32_t> FloodOrder(const std::vector<Gate>& gates,
                                const GateProjections& projections) {
    std::vector<int32_t> order;
    for (size_t i = 0; i < gates.size(); ++i) {
        if (gates[i].targetLeaf != -1) {
            order.push_back(static_cast<int32_t>(i));
        }
    }
    if (projections.HasTables()) {
        std::stable_sort(order.begin(), order.end(), [&](int32_t a, int32_t b) {
            return projections.GroupOf(a) < projections.GroupOf(b);
        });
    }
    return order;
}

}  // namespace

void FloodMightSee(const BspTree& tree, std::vector<Gate>& gates, ZeroedArena& gateSets,
                   int32_t threads, bool useTables) {
    const std::vector<BspLeaf>& leaves = tree.leaves;
    // Fills every gate's plane cache first, so the floods below only read shared state and
    // can run side by side, each writing its own gates' sets.
    FloodGraph graph(gates, leaves);
    const GateProjections projections(gates, graph.exitGate, useTables);
    graph.AddPlanes(gates, projections);
    const std::vector<int32_t> order = FloodOrder(gates, projections);
    for (Gate& gate : gates) {
        // A gate that leads nowhere keeps an empty set.
        gate.mightSee = LeafBits(leaves.size());
        gate.mightSeeCount = 0;
        gate.mightSeeRange = {};
    }
    const size_t batches = (order.size() + BATCH - 1) / BATCH;
    ParallelFor(threads, batches, 1, [&](size_t begin, size_t end) {
        FloodBatch batch(gates, graph, projections, leaves.size(), gateSets);
        for (size_t b = begin; b < end; ++b) {
            const size_t first = b * BATCH;
            batch.Run(&order[first], std::min(BATCH, order.size() - first));
        }
    });
}

}  // namespace bsppvs
