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
// with work.peers, shared with other processes, so that every gate's sees is what the
// one-thread pass gives it.
//
// Why the sets are the same. Alone, the gate at position p narrows its chains by the sees
// of the gates before p and by the mightSee of the gates after it. Run beside other gates,
// it reads a gate after p always by its mightSee, and a gate before p by its sees when that
// is final; a gate before p that is not final yet it reads by the set its latest run set
// aside, or, when it has none, by its mightSee, and records which. p's run is kept, and its
// set made final, only once every gate it so read is final and each such read was the same
// as the read alone: the set aside read must be the very set the gate ended with, and the
// leaves a mightSee read let through must all lie in the gate's final sees (so the chain's
// set AND the mightSee equals the chain's set AND the sees, sees lying within mightSee).
// Then every narrowing of the run was the narrowing alone, and so was the run. Otherwise
// the gate is run again; once every gate before it is final, a run reads only final sets
// and is the run alone, so every gate ends final. By induction along the order, every set
// made final is the set alone.
//
// Sharing. Each worker of each process is a lane that owns the gates leaving one region of
// the level (a run of consecutive leaves, cut so that the regions hold about as much flood
// each); a worker runs its lane in order, and helps the other lanes of its process when
// its own is done or too far ahead. A process sends each set it makes final to every other
// process (see gate_exchange.h), and takes theirs as final.
VisibilityTally RunSpeculativePass(const BspTree& tree, std::vector<Gate>& gates,
                                   ZeroedArena& gateSets, ChainLimits limits,
                                   const std::vector<int32_t>& order, const VisibilityWork& work,
                                   const VisibilityProgressFn& progress);

}  // namespace bsppvs
