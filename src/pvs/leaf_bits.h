#pragma once

// Sets of leaves as bits: leaf x is bit x % 64 of word x / 64. The visibility pass keeps a
// gate's sets only over the words where the set can hold ones, so a gate whose flood
// reaches a corner of the level costs memory for that corner alone, and every pass over a
// set takes 64 leaves at a time.

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <ostream>
#include <vector>

namespace bsppvs {

inline constexpr int32_t LEAVES_PER_WORD = 64;

inline int32_t WordOf(int32_t leaf) {
    return leaf / LEAVES_PER_WORD;
}
inline uint64_t BitOf(int32_t leaf) {
    return uint64_t{1} << (leaf % LEAVES_PER_WORD);
}
// Words that hold one bit for each of leafCount leaves.
inline size_t WordsFor(size_t leafCount) {
    return (leafCount + LEAVES_PER_WORD - 1) / LEAVES_PER_WORD;
}

// The leaves first to end - 1, outside which a set holds no ones. Passes over a set look
// at this range only. Empty (first == end) for an empty set.
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

// The words first to end - 1 of a set. Empty (first == end) for an empty set.
struct WordRange {
    int32_t first = 0;
    int32_t end = 0;

    bool Empty() const { return first >= end; }
    size_t Size() const { return Empty() ? 0 : static_cast<size_t>(end - first); }
    bool Holds(int32_t word) const { return word >= first && word < end; }
};

// The words that hold the leaves of a range.
inline WordRange WordsOf(LeafRange leaves) {
    if (leaves.first >= leaves.end) {
        return {};
    }
    return {WordOf(leaves.first), WordOf(leaves.end - 1) + 1};
}

// A view of a set of leaves of a level of size() leaves, in storage someone else owns (the
// compiler keeps every gate's sets in one arena). Only the words of Words() are stored,
// WordData()[0] being word Words().first; every leaf outside them is out of the set.
class LeafBits {
public:
    LeafBits() = default;
    // The empty set of a level of leafCount leaves.
    explicit LeafBits(size_t leafCount) : leafCount_(leafCount) {}
    LeafBits(const uint64_t* words, WordRange range, size_t leafCount)
        : words_(words), range_(range), leafCount_(leafCount) {}

    // Leaves in the level, not in the set.
    size_t size() const { return leafCount_; }
    WordRange Words() const { return range_; }
    const uint64_t* WordData() const { return words_; }
    // Word w of the set, 0 outside the stored words.
    uint64_t Word(int32_t w) const { return range_.Holds(w) ? words_[w - range_.first] : 0; }

    // 1 when the leaf is in the set, else 0, as the byte-per-leaf sets read.
    uint8_t operator[](size_t leaf) const {
        const auto x = static_cast<int32_t>(leaf);
        return (Word(WordOf(x)) & BitOf(x)) != 0 ? 1 : 0;
    }

    int64_t Count() const {
        int64_t count = 0;
        for (size_t i = 0; i < range_.Size(); ++i) {
            count += std::popcount(words_[i]);
        }
        return count;
    }

    // Whether every leaf of this set is in other.
    bool IsSubsetOf(const LeafBits& other) const {
        for (int32_t w = range_.first; w < range_.end; ++w) {
            if ((Word(w) & ~other.Word(w)) != 0) {
                return false;
            }
        }
        return true;
    }

    // Compares with one byte per leaf, each 0 or 1.
    friend bool operator==(const LeafBits& a, const std::vector<uint8_t>& b) {
        if (a.leafCount_ != b.size()) {
            return false;
        }
        for (size_t i = 0; i < b.size(); ++i) {
            if (b[i] > 1 || a[i] != b[i]) {
                return false;
            }
        }
        return true;
    }

    // Printed as one byte per leaf, so that failed comparisons say what differs.
    friend std::ostream& operator<<(std::ostream& out, const LeafBits& bits) {
        out << "{";
        for (size_t i = 0; i < bits.size(); ++i) {
            out << (i == 0 ? "" : ", ") << int(bits[i]);
        }
        return out << "}";
    }

private:
    const uint64_t* words_ = nullptr;
    WordRange range_;
    size_t leafCount_ = 0;
};

}  // namespace bsppvs
