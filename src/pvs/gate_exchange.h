#pragma once

// How processes that run one visibility pass together share it: each takes the gates of
// the pass's order at positions rank, rank + processes, rank + 2 * processes, ..., and
// tells every other process each gate's final set as it commits it. Every process commits
// every gate in the same order, so every process ends with the same sets as one alone.

#include <cstdint>
#include <functional>

#include "pvs/leaf_bits.h"

namespace bsppvs {

class GateExchange {
public:
    // One final set: the gate at `position` of the order sees the leaves of `words`, the
    // words of WordsOf(range).
    struct Set {
        int32_t position = 0;
        LeafRange range;
        const uint64_t* words = nullptr;
    };
    using Deliver = std::function<void(const Set&)>;

    virtual ~GateExchange() = default;
    // This process's number, 0 to Processes() - 1.
    virtual int32_t Rank() const = 0;
    virtual int32_t Processes() const = 0;
    // Sends a final set of one of this process's gates to every other process.
    virtual void Publish(const Set& set) = 0;
    // Hands each set that has arrived from another process to deliver; never waits.
    virtual void Poll(const Deliver& deliver) = 0;
    // Returns once every published set has left this process.
    virtual void Finish() = 0;
    // Calls on one exchange never overlap: the pass makes them from one thread at a time.
};

}  // namespace bsppvs
