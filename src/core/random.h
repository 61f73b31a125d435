#pragma once

// The project's one source of randomness. Levels are checked in as files, regenerated in
// tests, and sampled by the checks, so the same seed must give the same draws with every
// compiler and standard library: the generator and its bounded draws are written out here
// instead of taken from <random>, whose distributions are free to differ between
// implementations.

#include <cassert>
#include <cstdint>
#include <limits>

namespace bsppvs {

// SplitMix64: a 64-bit counter stepped by the golden-ratio increment and passed through a
// fixed mixing function. Every seed, zero included, gives a full-period stream.
class SplitMix64 {
public:
    explicit SplitMix64(uint64_t seed) : state_(seed) {}

    uint64_t Next64() {
        state_ += GOLDEN_GAMMA;
        uint64_t z = state_;
        z = (z ^ (z >> 30)) * MIX_1;
        z = (z ^ (z >> 27)) * MIX_2;
        return z ^ (z >> 31);
    }

    // The high half of a 64-bit draw: SplitMix64's high bits are its best mixed.
    uint32_t Next32() { return static_cast<uint32_t>(Next64() >> 32); }

    // Uniform in [0, 1), from the top 53 bits.
    double Uniform() { return static_cast<double>(Next64() >> 11) * 0x1.0p-53; }

    // A uniform integer in [0, bound), bound > 0, by multiply-and-reject: the high 32 bits
    // of draw * bound, redrawing while the low 32 bits fall in the biased stretch below
    // 2^32 mod bound. The number of draws depends only on the stream.
    uint32_t Below(uint32_t bound) {
        assert(bound > 0 && "a bounded draw needs a non-empty range");
        uint64_t product = uint64_t{Next32()} * bound;
        auto low = static_cast<uint32_t>(product);
        if (low < bound) {
            const uint32_t threshold = static_cast<uint32_t>(-bound) % bound;
            while (low < threshold) {
                product = uint64_t{Next32()} * bound;
                low = static_cast<uint32_t>(product);
            }
        }
        return static_cast<uint32_t>(product >> 32);
    }

    // A uniform integer in [0, bound), bound > 0, over the whole 64-bit range: whole draws
    // are rejected above the largest multiple of bound, then reduced modulo bound.
    uint64_t BelowWide(uint64_t bound) {
        assert(bound > 0 && "a bounded draw needs a non-empty range");
        const uint64_t limit =
            std::numeric_limits<uint64_t>::max() - std::numeric_limits<uint64_t>::max() % bound;
        uint64_t draw = Next64();
        while (draw >= limit) {
            draw = Next64();
        }
        return draw % bound;
    }

private:
    static constexpr uint64_t GOLDEN_GAMMA = 0x9E3779B97F4A7C15ull;
    static constexpr uint64_t MIX_1 = 0xBF58476D1CE4E5B9ull;
    static constexpr uint64_t MIX_2 = 0x94D049BB133111EBull;

    uint64_t state_ = 0;
};

}  // namespace bsppvs
