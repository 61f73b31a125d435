#pragma once

// The records of the visibility pass: one-way gates through the portals, and the state the
// recursion hands down one chain of gates.

#include <algorithm>
#include <cstdint>
#include <vector>

#include "bsp/build_poly.h"
#include "bsp/leaf_bytes.h"

namespace bsppvs {

// The leaves first to end - 1, outside which a byte-per-leaf array holds no ones. Passes
// over such arrays look at this range only. Empty (first == end) for an array of zeros.
struct LeafRange {
    int32_t first = 0;
    int32_t end = 0;

    bool Holds(int32_t leaf) const { return leaf >= first && leaf < end; }
    // Widens the range to hold leaf; an empty range becomes just that leaf.
    void Add(int32_t leaf) {
        if (first == end) {
            first = leaf;
            end = leaf + 1;
        } else {
            first = std::min(first, leaf);
            end = std::max(end, leaf + 1);
        }
    }
};

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
    // One byte per leaf: 1 for every leaf the rough flood reached through this gate.
    LeafBytes mightSee;
    // One byte per leaf: 1 for every leaf found visible through this gate.
    LeafBytes sees;
    // Number of ones in mightSee.
    int32_t mightSeeCount = 0;
    // Where the ones of mightSee and of sees lie, kept by the stages that set them.
    LeafRange mightSeeRange;
    LeafRange seesRange;
    // The portal's polygon, turned so that its normal points into targetLeaf.
    BuildPoly polygon;
    int32_t progress = GATE_PENDING;
};

// What the visibility recursion hands down one chain of gates.
struct VisState {
    // One byte per leaf: the leaves still worth looking for along the chain.
    std::vector<uint8_t> mightSee;
    // mightSee holds ones only in this range; the bytes outside are not kept up to date
    // and are never read.
    LeafRange range;
    // The part of the starting gate through which the rest of the chain can be seen.
    BuildPoly sourcePoly;
    // The last gate passed, clipped to what can be seen of it.
    BuildPoly targetPoly;
};

}  // namespace bsppvs
