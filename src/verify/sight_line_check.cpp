#include "verify/sight_line_check.h"

// The check draws pairs of points in leaves and asks a grid of polygon boxes whether the
// segment between them is clear; a clear segment between two leaves that do not list each
// other is a violation.

#include <algorithm>
#include <unordered_set>

#include "verify/point_sampler.h"
#include "verify/solid_crossing.h"
#include "verify/wall_index.h"

namespace bsppvs {

namespace {

bool Lists(const BspTree& tree, int32_t from, int32_t to) {
    const LeafBytes& pvs = tree.leaves[from].pvs;
    return static_cast<size_t>(to) < pvs.size() && pvs[to] != 0;
}

uint64_t PairKey(int32_t a, int32_t b) {
    const auto low = static_cast<uint32_t>(std::min(a, b));
    const auto high = static_cast<uint32_t>(std::max(a, b));
    return (uint64_t{low} << 32) | high;
}

// Counts the ordered visible pairs, and those of them that a clear segment joined.
void CountConfirmed(const BspTree& tree, const std::unordered_set<uint64_t>& joined,
                    VerifyResult& result) {
    for (size_t i = 0; i < tree.leaves.size(); ++i) {
        const LeafBytes& pvs = tree.leaves[i].pvs;
        for (size_t j = 0; j < pvs.size(); ++j) {
            result.visiblePairs += (j != i && pvs[j] != 0) ? 1 : 0;
        }
    }
    for (const uint64_t key : joined) {
        const auto a = static_cast<int32_t>(key >> 32);
        const auto b = static_cast<int32_t>(key & 0xFFFFFFFFu);
        result.confirmedPairs += (Lists(tree, a, b) ? 1 : 0) + (Lists(tree, b, a) ? 1 : 0);
    }
}

}  // namespace

VerifyResult VerifyPvs(const BspTree& tree, const std::vector<Poly>& walls, int64_t pairCount,
                       uint64_t seed, SolidTrust trust) {
    VerifyResult result;
    WallIndex index(walls);
    PointSampler sampler(tree, index, seed);
    std::unordered_set<uint64_t> joined;
    for (int64_t n = 0; n < pairCount; ++n) {
        const std::optional<LocatedPoint> first = sampler.InSomeLeaf();
        if (!first) {
            break;
        }
        const bool alongRay = n % 2 == 1;
        const std::optional<LocatedPoint> second =
            alongRay ? sampler.AlongRay(first->point) : sampler.InSomeLeaf();
        if (!second) {
            break;
        }
        ++result.pairs;
        if (!index.IsClear(first->point, second->point) ||
            (trust == SolidTrust::TREE && CrossesSolid(tree, first->point, second->point))) {
            continue;
        }
        ++result.clearPairs;
        const int32_t a = first->leaf;
        const int32_t b = second->leaf;
        if (a == b) {
            continue;
        }
        joined.insert(PairKey(a, b));
        const bool aSeesB = Lists(tree, a, b);
        const bool bSeesA = Lists(tree, b, a);
        if (!aSeesB || !bSeesA) {
            result.violations.push_back({a, b, first->point, second->point, aSeesB, bSeesA});
        }
    }
    CountConfirmed(tree, joined, result);
    return result;
}

}  // namespace bsppvs
