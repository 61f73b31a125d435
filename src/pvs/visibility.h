#pragma once

// The visibility pass: every portal becomes two one-way gates; a rough flood marks what
// each gate might see; a recursion through chains of gates, clipping each new gate against
// the chain so far, marks what it does see; every leaf's set is the union of its gates'.
// The stages run once each, in the order declared here.

#include <cstdint>
#include <functional>
#include <vector>

#include "bsp/bsp_tree.h"
#include "core/zeroed_arena.h"
#include "core/zeroed_block.h"
#include "portals/portal.h"
#include "pvs/gate.h"

namespace bsppvs {

class GateExchange;

// How the recursion's gates are shared out. The sets are the same for every choice.
struct VisibilityWork {
    int32_t threads = 1;
    // Other processes running the same pass on the same level (see gate_exchange.h); null
    // when this process runs it alone.
    GateExchange* peers = nullptr;
};

// Where the visibility pass stands.
struct VisibilityTally {
    // Gates whose sees is final, of all gates.
    int64_t committed = 0;
    int64_t total = 0;
    // Gates run a second time at their turn to commit, because their first run narrowed by
    // an earlier gate that was not final yet and ended up seeing less than its flood.
    int64_t reruns = 0;
    // Final sets received from other processes.
    int64_t fromPeers = 0;
};

// Called as gates are committed, from one thread at a time; may be empty.
using VisibilityProgressFn = std::function<void(const VisibilityTally&)>;

// How BuildGates treats the portals beyond the plain rules.
struct GateRules {
    // Per portal, 1 where no sight line passes: its gates keep their numbers but lead
    // nowhere. Empty for none.
    std::vector<uint8_t> closed;
    // Where points just off a portal cannot tell which leaf is in front, ask the corners of
    // the two leaves farthest from its plane before their box centres (see gate_builder.cpp).
    bool orientByCorners = false;
};

// Makes gates 2k and 2k+1 of every portal k, with empty sets, and every leaf's
// gateIndices. Empties gateSets, the storage of every gate's sets from here on. Fills the
// portals' plane caches.
void BuildGates(BspTree& tree, std::vector<Portal>& portals, std::vector<Gate>& gates,
                ZeroedArena& gateSets, const GateRules& rules = {});

// Sets every gate's mightSee (stored in gateSets), mightSeeCount and mightSeeRange. The
// floods run on up to `threads` threads; the sets are the same for every count. With
// useTables false every test classifies the polygons, as it does on levels with too many
// distinct normals for the lookup tables; the sets are the same either way.
void FloodMightSee(const BspTree& tree, std::vector<Gate>& gates, ZeroedArena& gateSets,
                   int32_t threads = 1, bool useTables = true);

// Sets every gate's sees (stored in gateSets) and seesRange and leaves every gate
// GATE_DONE. Gates are taken in the order of their flood sizes, smallest first, so later
// gates narrow by the sharper sets of finished ones. limits says how far the recursion goes
// (see ChainLimits). With more than one thread or with peers, gates run side by side and
// commit in that order (see speculative_pass.h): the same sets.
VisibilityTally CalcVisibility(const BspTree& tree, std::vector<Gate>& gates, ZeroedArena& gateSets,
                               ChainLimits limits = {}, const VisibilityProgressFn& progress = {},
                               const VisibilityWork& work = {});

// Instead of CalcVisibility: every gate sees what its flood reached, in the same storage.
// Much faster, with larger sets.
VisibilityTally SeeWhatTheFloodReached(std::vector<Gate>& gates,
                                       const VisibilityProgressFn& progress = {});

// Every leaf's pvs, the union of its gates' sees, in pvsBytes (replaced).
void CompilePvsArray(BspTree& tree, const std::vector<Gate>& gates, ZeroedBlock& pvsBytes);

// Keeps in each leaf's set only the leaves whose own sets list it. Sight is mutual, so where
// two leaves' sets disagree one of them holds a leaf it cannot see (a gate whose chains ran
// past their budget, or a flood, sees more than it could) or the other lacks one it can:
// then the pair is already missed, and it stays so. Every pair of leaves that both sets
// hold stays, so sets sound for every pair of leaves stay sound; the rest only shrink.
void MakeSetsMutual(BspTree& tree);

}  // namespace bsppvs
