// The rough flood. Each gate's flood is one reachability walk over a fixed graph: the
// leaves, joined by the gates that lie at least partly beyond the flooding gate and have it
// at least partly behind them. The two tests per gate pair are table lookups (see
// flood_tables.h), so a flood costs about one read per exit of every leaf it reaches.

#include <algorithm>
#include <vector>

#include "core/parallel_for.h"
#include "pvs/flood_tables.h"
#include "pvs/set_layout.h"
#include "pvs/visibility.h"

namespace bsppvs {

namespace {

// The exits of every leaf packed side by side, with what the flood reads of each: the
// floods walk this graph once per gate, and reading it from the gates and leaves
// themselves would cost a cache miss per exit.
struct FloodGraph {
    struct Exit {
        int32_t gate;
        int32_t targetLeaf;
        uint32_t group;  // the index of the gate's normal in the projection tables
        float d;         // the distance of the gate's plane
        float margin;    // the gate's margin in the projection tables
    };
    std::vector<uint32_t> firstExit;  // per leaf, and one past the last leaf
    std::vector<Exit> exits;

    FloodGraph(const std::vector<Gate>& gates, const std::vector<BspLeaf>& leaves,
               const GateProjections& projections) {
        firstExit.reserve(leaves.size() + 1);
        for (const BspLeaf& leaf : leaves) {
            firstExit.push_back(static_cast<uint32_t>(exits.size()));
            for (const int32_t j : leaf.gateIndices) {
                const Gate& gate = gates[j];
                const auto index = static_cast<size_t>(j);
                const bool tables = projections.HasTables();
                exits.push_back({j, gate.targetLeaf, tables ? projections.GroupOf(index) : 0,
                                 gate.polygon.plane.d, projections.Margin(index)});
            }
        }
        firstExit.push_back(static_cast<uint32_t>(exits.size()));
    }
};

// The flood of one gate: every leaf reachable from its target through gates that lie
// beyond it and have it behind them. Every gate belongs to one leaf and each leaf is
// entered once, so each gate is tested at most once per flood, and only if the flood
// reaches its leaf. Whether a gate may follow depends only on the two gates, never on the
// path that reached it, so the order of the walk does not change the set.
class GateFlood {
public:
    GateFlood(std::vector<Gate>& gates, const FloodGraph& graph, const GateProjections& projections,
              size_t leafCount, ZeroedArena& store)
        : gates_(gates),
          graph_(graph),
          projections_(projections),
          store_(store),
          leafCount_(leafCount),
          reached_(WordsFor(leafCount), 0) {}

    void Run(int32_t gateIndex) {
        Gate& gate = gates_[gateIndex];
        uint64_t* reached = reached_.data();
        // Leaves are marked when queued, so none is queued twice.
        reached[WordOf(gate.targetLeaf)] |= BitOf(gate.targetLeaf);
        int32_t count = 1;
        LeafRange range;
        range.Add(gate.targetLeaf);
        pending_.assign(1, gate.targetLeaf);
        const auto i = static_cast<size_t>(gateIndex);
        const bool tables = projections_.HasTables();
        const float* frontRow = tables ? projections_.FrontRow(i) : nullptr;
        const float* behindRow = tables ? projections_.BehindRow(i) : nullptr;
        const float d = gate.polygon.plane.d;
        const float margin = projections_.Margin(i);
        while (!pending_.empty()) {
            const int32_t leaf = pending_.back();
            pending_.pop_back();
            const FloodGraph::Exit* exit = &graph_.exits[graph_.firstExit[leaf]];
            const FloodGraph::Exit* end = &graph_.exits[0] + graph_.firstExit[leaf + 1];
            for (; exit != end; ++exit) {
                const int32_t target = exit->targetLeaf;
                if ((reached[WordOf(target)] & BitOf(target)) != 0 || exit->gate == gateIndex) {
                    continue;
                }
                // Gate j may follow only if it lies at least partly beyond this gate and
                // this gate lies at least partly behind it.
                const auto j = static_cast<size_t>(exit->gate);
                bool follows = false;
                if (tables) {
                    const auto inFront = [&] { return projections_.ClassifiesInFront(j, i); };
                    const auto behind = [&] { return projections_.ClassifiesBehind(i, j); };
                    follows = GateProjections::BeyondTolerance(frontRow[j] - d, margin, inFront) &&
                              GateProjections::BeyondTolerance(-(behindRow[exit->group] - exit->d),
                                                               exit->margin, behind);
                } else {
                    follows = projections_.ReachesInFront(j, i) && projections_.ReachesBehind(i, j);
                }
                if (follows) {
                    reached[WordOf(target)] |= BitOf(target);
                    ++count;
                    range.Add(target);
                    pending_.push_back(target);
                }
            }
        }
        gate.mightSeeCount = count;
        gate.mightSeeRange = range;
        gate.mightSee = StoreSet(reached, range, leafCount_, store_);
        // Only the range can hold ones: clearing it readies the scratch for the next gate.
        const WordRange words = WordsOf(range);
        std::fill(reached + words.first, reached + words.end, 0);
    }

private:
    std::vector<Gate>& gates_;
    const FloodGraph& graph_;
    const GateProjections& projections_;
    ZeroedArena& store_;
    size_t leafCount_;
    // One bit for every leaf of the level, all zero between floods.
    std::vector<uint64_t> reached_;
    std::vector<int32_t> pending_;
};

}  // namespace

void FloodMightSee(const BspTree& tree, std::vector<Gate>& gates, ZeroedArena& gateSets,
                   int32_t threads) {
    const std::vector<BspLeaf>& leaves = tree.leaves;
    // Fills every gate's plane cache first, so the floods below only read shared state and
    // can run side by side, each writing its own gate's set.
    const GateProjections projections(gates);
    const FloodGraph graph(gates, leaves, projections);
    constexpr size_t GATES_PER_SLICE = 64;
    ParallelFor(threads, gates.size(), GATES_PER_SLICE, [&](size_t begin, size_t end) {
        GateFlood flood(gates, graph, projections, leaves.size(), gateSets);
        for (size_t i = begin; i < end; ++i) {
            // A gate that leads nowhere keeps an empty set.
            if (gates[i].targetLeaf != -1) {
                flood.Run(static_cast<int32_t>(i));
            }
        }
    });
}

}  // namespace bsppvs
