#pragma once

// The visibility pass: every portal becomes two one-way gates; a rough flood marks what
// each gate might see; a recursion through chains of gates, clipping each new gate against
// the chain so far, marks what it does see; every leaf's set is the union of its gates'.
// The stages run once each, in the order declared here.

#include <cstdint>
#include <vector>

#include "bsp/bsp_tree.h"
#include "core/progress.h"
#include "core/zeroed_arena.h"
#include "core/zeroed_block.h"
#include "portals/portal.h"
#include "pvs/gate.h"

namespace bsppvs {

// Makes gates 2k and 2k+1 of every portal k, with empty sets, and every leaf's
// gateIndices. Empties gateSets, the storage of every gate's sets from here on. Fills the
// portals' plane caches.
void BuildGates(BspTree& tree, std::vector<Portal>& portals, std::vector<Gate>& gates,
                ZeroedArena& gateSets);

// Sets every gate's mightSee (stored in gateSets), mightSeeCount and mightSeeRange. The
// floods run on up to `threads` threads; the sets are the same for every count. With
// useTables false every test classifies the polygons, as it does on levels with too many
// distinct normals for the lookup tables; the sets are the same either way.
void FloodMightSee(const BspTree& tree, std::vector<Gate>& gates, ZeroedArena& gateSets,
                   int32_t threads = 1, bool useTables = true);

// Sets every gate's sees (stored in gateSets) and seesRange and leaves every gate
// GATE_DONE. Gates are taken in the order of their flood sizes, smallest first, so later
// gates narrow by the sharper sets of finished ones. clipSteps (0 to 4) is how many of the
// four separating-plane clips run.
void CalcVisibility(const BspTree& tree, std::vector<Gate>& gates, ZeroedArena& gateSets,
                    int32_t clipSteps = 4, const ProgressFn& progress = {});

// Instead of CalcVisibility: every gate sees what its flood reached, in the same storage.
// Much faster, with larger sets.
void SeeWhatTheFloodReached(std::vector<Gate>& gates, const ProgressFn& progress = {});

// Every leaf's pvs, the union of its gates' sees, in pvsBytes (replaced).
void CompilePvsArray(BspTree& tree, const std::vector<Gate>& gates, ZeroedBlock& pvsBytes);

}  // namespace bsppvs
