#include <algorithm>
#include <utility>

#include "pvs/chain_clipper.h"
#include "pvs/visibility.h"

namespace bsppvs {

void SeeWhatTheFloodReached(std::vector<Gate>& gates, const ProgressFn& progress) {
    for (Gate& gate : gates) {
        // Neither set changes from here on, so the two can share their words.
        gate.sees = gate.mightSee;
        gate.seesRange = gate.mightSeeRange;
        gate.progress = GATE_DONE;
    }
    if (progress) {
        progress(static_cast<int64_t>(gates.size()), static_cast<int64_t>(gates.size()));
    }
}

void CalcVisibility(const BspTree& tree, std::vector<Gate>& gates, ZeroedArena& gateSets,
                    int32_t clipSteps, const ProgressFn& progress) {
    // Smallest floods first, so later gates can narrow by finished gates' sharper sets.
    // The sort is stable: gates with equal counts keep index order, so the sets are the
    // same on every run and every machine.
    std::vector<std::pair<int32_t, int32_t>> order;
    order.reserve(gates.size());
    for (size_t i = 0; i < gates.size(); ++i) {
        order.emplace_back(gates[i].mightSeeCount, static_cast<int32_t>(i));
    }
    std::stable_sort(order.begin(), order.end(),
                     [](const auto& x, const auto& y) { return x.first < y.first; });

    // Every gate's plane is cached first, so that a gate's recursion only reads the other
    // gates and writes its own sets: a unit of work that could run on a worker of its own,
    // given a clipper of its own.
    for (Gate& gate : gates) {
        gate.polygon.GetPlane();
    }
    ChainClipper clipper(gates, tree.leaves, clipSteps);
    int64_t done = 0;
    for (const auto& [count, index] : order) {
        Gate& gate = gates[index];
        gate.progress = GATE_RUNNING;
        // A gate that leads nowhere is never entered and sees nothing.
        if (gate.targetLeaf != -1) {
            clipper.Run(index, gateSets);
        }
        gate.progress = GATE_DONE;
        if (progress) {
            progress(++done, static_cast<int64_t>(order.size()));
        }
    }
}

}  // namespace bsppvs
