#pragma once

// The records of the visibility pass: one-way gates through the portals, and the state the
// recursion hands down one chain of gates.

#include <cstdint>
#include <vector>

#include "bsp/build_poly.h"
#include "pvs/leaf_bits.h"
#include "pvs/polygon_clips.h"

namespace bsppvs {

enum GateProgress : int32_t {
    GATE_PENDING = 0,  // the visibility pass has not reached the gate
    GATE_RUNNING = 1,  // its sees array is being computed
    GATE_DONE = 2,     // sees is final
};

// One direction of a portal: gates 2k and 2k+1 look through portal k both ways.
struct Gate {
    // The leaf the gate is looked through from; -1 when the gate belongs to no leaf.
    int32_t sourceLeaf = -1;
    // The leaf beyond the gate; -1 when the portal's two leaf centres lie on its plane.
    int32_t targetLeaf = -1;
    // Every leaf the rough flood reached through this gate, stored over the words of
    // mightSeeRange. Set by the flood; empty (of the level's size) before it.
    LeafBits mightSee;
    // Every leaf found visible through this gate, stored over the words of seesRange; it
    // holds only leaves of mightSee. Final once progress is GATE_DONE.
    LeafBits sees;
    // Number of ones in mightSee.
    int32_t mightSeeCount = 0;
    // Where the ones of mightSee and of sees lie, kept by the stages that set them.
    LeafRange mightSeeRange;
    LeafRange seesRange;
    // The portal's polygon, turned so that its normal points into targetLeaf.
    BuildPoly polygon;
    int32_t progress = GATE_PENDING;
};

// The chain budget of a gate of a mesh level (see ChainLimits). Measured on the real-level
// corpus (docs/real-levels.md): open maps whose every gate's chains ran through most of the
// level finish in seconds instead of minutes, for sets a few percent larger. With sets that
// agree (MakeSetsMutual), the leaf on the other side of a gate cut short often undoes what
// the cut added, so a smaller budget costs less tightness than it did.
inline constexpr int64_t MESH_CHAINS_PER_GATE = 2000;

// How far the recursion of one gate may go.
struct ChainLimits {
    // How many of the four separating-plane clips run, 0 to 4.
    int32_t clipSteps = 4;
    // Chains a gate's recursion may enter. Each exit of a chain may use an equal share of
    // what is left of its chain's budget; a chain whose share runs out ends there, and the
    // gate sees every leaf of its narrowed set: still sound, a larger set, and a bound on
    // the time a gate takes. The budget depends only on the chains followed, so the sets
    // stay the same on any number of threads or processes. 0: no limit.
    int64_t maxChains = 0;
    // Whether a chain drops from its set the leaves no sight line through its source and
    // pass polygons can reach (the boxes of the gates into them lie wholly outside the
    // planes separating the two): sound, and chains stop sooner, but the sets can come out
    // smaller than the plain search's, which keeps leaves its clips let through by their
    // tolerance. The planes between a chain's polygons, which the test needs in full, are
    // then wrapped round them at once (TangentSeparators) for the clips as well: where
    // corners lie within the tolerance of another's plane they can be fewer than the
    // search's, so the sets can also come out a little larger.
    bool dropUnreachable = false;
};

// What the visibility recursion hands down one chain of gates.
struct VisState {
    // One bit for every leaf of the level: the leaves still worth looking for along the
    // chain.
    std::vector<uint64_t> mightSee;
    // mightSee holds ones only in these words; the words outside are not kept up to date
    // and are never read.
    WordRange words;
    // The part of the starting gate through which the rest of the chain can be seen.
    BuildPoly sourcePoly;
    // The last gate passed, clipped to what can be seen of it.
    BuildPoly targetPoly;
    // The gates whose whole polygons sourcePoly and targetPoly still are; -1 once a clip
    // has cut them.
    int32_t sourceGate = -1;
    int32_t targetGate = -1;
    // The searches for the planes separating sourcePoly from targetPoly ([0]) and targetPoly
    // from sourcePoly ([1]), which cut every candidate gate of the state alike: a search
    // goes only as far as a candidate needs, and the next candidate reuses what it found.
    // Gate pairs have a cache of their own; these are for polygons a clip has cut.
    SeparatorSearch separators[2];
};

}  // namespace bsppvs
