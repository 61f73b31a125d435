#pragma once

// The visibility recursion on several threads, and on several processes, with the bytes of
// one thread alone.

#include <cstdint>
#include <vector>

#include "bsp/bsp_tree.h"
#include "core/zeroed_arena.h"
#include "pvs/gate.h"
#include "pvs/visibility.h"

namespace bsppvs {

// Runs the gates of `order` (gate indices, the pass's order) on work.threads threads and,
// with work.peers, shared with other processes, and commits their sets strictly in that
// order, so that every gate's sees is what the one-thread pass gives it.
//
// Why the sets are the same: alone, the gate at position p narrows its chains by the sees
// of the gates before p and by the mightSee of the others. Run early, beside other gates,
// it may find a gate q before p unfinished and narrow by q's mightSee instead; the run
// records the union of the leaves those narrowings let through. When p's turn to commit
// comes, every gate before p is final. If every such union lies within its gate's final
// sees, each of those narrowings (the chain's set AND q's mightSee) gave exactly what it
// gives alone (the chain's set AND q's sees, as sees lies within mightSee), so the run
// was the run alone. Otherwise p is run again then, with every earlier gate final, as
// alone. A gate after p is never final before p is committed, so it is read as alone too.
VisibilityTally RunSpeculativePass(const BspTree& tree, std::vector<Gate>& gates,
                                   ZeroedArena& gateSets, int32_t clipSteps,
                                   const std::vector<int32_t>& order, const VisibilityWork& work,
                                   const VisibilityProgressFn& progress);

}  // namespace bsppvs
