#include <algorithm>
#include <utility>

#include "pvs/chain_clipper.h"
#include "pvs/speculative_pass.h"
#include "pvs/visibility.h"

namespace bsppvs {

VisibilityTally SeeWhatTheFloodReached(std::vector<Gate>& gates,
                                       const VisibilityProgressFn& progress) {
    for (Gate& gate : gates) {
        // Neither set changes from here on, so the two can share their words.
        gate.sees = gate.mightSee;
        gate.seesRange = gate.mightSeeRange;
        gate.progress = GATE_DONE;
    }
    VisibilityTally tally;
    tally.committed = tally.total = static_cast<int64_t>(gates.size());
    if (progress) {
        progress(tally);
    }
    return tally;
}

VisibilityTally CalcVisibility(const BspTree& tree, std::vector<Gate>& gates, ZeroedArena& gateSets,
                               ChainLimits limits, const VisibilityProgressFn& progress,
                               const VisibilityWork& work) {
    // Smallest floods first, so later gates can narrow by finished gates' sharper sets.
    // The sort is stable: gates with equal counts keep index order, so the sets are the
    // same on every run and every machine.
    std::vector<std::pair<int32_t, int32_t>> counted;
    counted.reserve(gates.size());
    for (size_t i = 0; i < gates.size(); ++i) {
        counted.emplace_back(gates[i].mightSeeCount, static_cast<int32_t>(i));
    }
    std::stable_sort(counted.begin(), counted.end(),
                     [](const auto& x, const auto& y) { return x.first < y.first; });
    std::vector<int32_t> order;
    order.reserve(counted.size());
    for (const auto& entry : counted) {
        order.push_back(entry.second);
    }

    // Every gate's plane is cached first, so that a gate's recursion only reads the other
    // gates and writes its own sets: a unit of work that runs on a worker of its own, given
    // a clipper of its own.
    for (Gate& gate : gates) {
        gate.polygon.GetPlane();
    }
    if (work.threads > 1 || work.peers != nullptr) {
        return RunSpeculativePass(tree, gates, gateSets, limits, order, work, progress);
    }
    ChainClipper clipper(gates, tree.leaves, limits);
    VisibilityTally tally;
    tally.total = static_cast<int64_t>(order.size());
    for (const int32_t index : order) {
        Gate& gate = gates[static_cast<size_t>(index)];
        gate.progress = GATE_RUNNING;
        // A gate that leads nowhere is never entered and sees nothing.
        if (gate.targetLeaf != -1) {
            clipper.Run(index, gateSets);
        }
        gate.progress = GATE_DONE;
        ++tally.committed;
        if (progress) {
            progress(tally);
        }
    }
    return tally;
}

}  // namespace bsppvs
