#pragma once

// The maze generator's only source of randomness. Levels are checked in as files and
// regenerated in tests, so the same seed must give the same draws with every compiler and
// standard library: the generator and the bounded draw are written out here instead of
// taken from <random>, whose distributions are free to differ between implementations.

#include <cassert>
#include <cstdint>

namespace bsppvs {

// SplitMix64: a 64-bit counter stepped by the golden-ratio increment and passed through a
// fixed mixing function. Every seed, zero included, gives a full-period stream.
class MazeRandom {
public:
    explicit MazeRandom(uint64_t seed) : state_(seed) {}

    uint64_t Next64() {
        state_ += GOLDEN_GAMMA;
        uint64_t z = state_;
        z = (z ^ (z >> 30)) * MIX_1;
        z = (z ^ (z >> 27)) * MIX_2;
        return z ^ (z >> 31);
    }

    // The high half of a 64-bit draw: SplitMix64's high bits are its best mixed.
    uint32_t Next32() { return static_cast<uint32_t>(Next64() >> 32); }

    // A uniform integer in [0, bound), bound > 0, by multiply-and-reject: the high 32 bits
    // of draw * bound, redrawing while the low 32 bits fall in the biased stretch below
    // 2^32 mod bound. The number of draws depends only on the stream, so it is as
    // reproducible as the stream.
    uint32_t Below(uint32_t bound) {
        assert(bound > 0 && "Below needs a non-empty range");
        uint64_t product = uint64_t{Next32()} * bound;
        uint32_t low = static_cast<uint32_t>(product);
        if (low < bound) {
            const uint32_t threshold = static_cast<uint32_t>(-bound) % bound;
            while (low < threshold) {
                product = uint64_t{Next32()} * bound;
                low = static_cast<uint32_t>(product);
            }
        }
        return static_cast<uint32_t>(product >> 32);
    }

private:
    static constexpr uint64_t GOLDEN_GAMMA = 0x9E3779B97F4A7C15ull;
    static constexpr uint64_t MIX_1 = 0xBF58476D1CE4E5B9ull;
    static constexpr uint64_t MIX_2 = 0x94D049BB133111EBull;

    uint64_t state_ = 0;
};

}  // namespace bsppvs
