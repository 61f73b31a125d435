#pragma once

// Sets of the numbers 0 to n - 1, joined two at a time. The smaller root always wins a join,
// so every set's root is its smallest member whatever the order of the joins: results built
// on the roots come out the same however the joins were made.

#include <algorithm>
#include <cstdint>
#include <numeric>
#include <vector>

namespace bsppvs {

class DisjointSets {
public:
    explicit DisjointSets(size_t count) : parent_(count) {
        std::iota(parent_.begin(), parent_.end(), 0);
    }

    // The smallest member of x's set.
    int32_t Root(int32_t x) {
        while (parent_[x] != x) {
            x = parent_[x] = parent_[parent_[x]];
        }
        return x;
    }

    void Join(int32_t a, int32_t b) {
        a = Root(a);
        b = Root(b);
        parent_[std::max(a, b)] = std::min(a, b);
    }

private:
    std::vector<int32_t> parent_;
};

}  // namespace bsppvs
