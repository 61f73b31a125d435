#include "bsp/splitter_search.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <mutex>
#include <unordered_map>

#include "core/parallel_for.h"
#include "geometry/tolerances.h"

namespace bsppvs {

namespace {

// Lists shorter than this are counted on one thread: sharing them costs more than it saves.
constexpr size_t ELEMENTS_PER_SLICE = 8192;

struct NormalKey {
    uint32_t bits[3];
    friend bool operator==(const NormalKey&, const NormalKey&) = default;
};

NormalKey KeyOf(const Plane& plane) {
    NormalKey key;
    const float values[3] = {plane.a, plane.b, plane.c};
    std::memcpy(key.bits, values, sizeof values);
    return key;
}

struct NormalKeyHash {
    size_t operator()(const NormalKey& key) const {
        uint64_t h = 1469598103934665603ull;
        for (uint32_t b : key.bits) {
            h = (h ^ b) * 1099511628211ull;
        }
        return static_cast<size_t>(h ^ (h >> 29));
    }
};

// The candidates sharing one normal, and the distinct distances of their planes.
struct NormalGroup {
    Plane plane;                     // the normal; d unused
    std::vector<float> distances;    // ascending, distinct
    std::vector<SideCounts> counts;  // per distance, over the whole list
};

// Adds delta to the counter for distances [from, to) in a difference array.
void AddRun(std::vector<int32_t>& diff, size_t from, size_t to) {
    if (from < to) {
        diff[from] += 1;
        diff[to] -= 1;
    }
}

// Difference arrays of one group's counts: +1 where a run of distances starts, -1 past
// its end.
struct RunCounters {
    std::vector<int32_t> front;
    std::vector<int32_t> back;
    std::vector<int32_t> spanning;

    explicit RunCounters(size_t q) : front(q + 1, 0), back(q + 1, 0), spanning(q + 1, 0) {}

    void Add(const RunCounters& other) {
        for (size_t i = 0; i < front.size(); ++i) {
            front[i] += other.front[i];
            back[i] += other.back[i];
            spanning[i] += other.spanning[i];
        }
    }
};

void CountRuns(const NormalGroup& group, BuildPoly& poly, RunCounters& runs) {
    const std::vector<float>& ds = group.distances;
    const size_t q = ds.size();
    const Plane& plane = group.plane;
    float tMin = std::numeric_limits<float>::infinity();
    float tMax = -std::numeric_limits<float>::infinity();
    for (const Vector3& p : poly.points) {
        // The signed distance before its final "- d", rounded as the classification
        // rounds it; (t - d) is monotone in t and in d.
        const float t = plane.a * p.x + plane.b * p.y + plane.c * p.z;
        tMin = std::min(tMin, t);
        tMax = std::max(tMax, t);
    }
    // Some corner is in front for the distances before frontEnd, and some corner is behind
    // for the distances from backBegin on.
    const size_t frontEnd = static_cast<size_t>(
        std::partition_point(ds.begin(), ds.end(),
                             [&](float d) { return tMax - d > POLY_CLASSIFY_EPSILON; }) -
        ds.begin());
    const size_t backBegin = static_cast<size_t>(
        std::partition_point(ds.begin(), ds.end(),
                             [&](float d) { return !(tMin - d < -POLY_CLASSIFY_EPSILON); }) -
        ds.begin());
    AddRun(runs.front, 0, std::min(frontEnd, backBegin));
    AddRun(runs.spanning, backBegin, frontEnd);
    AddRun(runs.back, std::max(frontEnd, backBegin), q);
    if (frontEnd < backBegin) {
        // In the plane: the facing decides, whatever the distance.
        const bool same = FacesSameWay(plane, poly.GetPlane());
        AddRun(same ? runs.front : runs.back, frontEnd, backBegin);
    }
}

void CountGroup(NormalGroup& group, const std::vector<BuildPoly*>& elements, int32_t threads) {
    const size_t q = group.distances.size();
    RunCounters total(q);
    // Each slice counts into its own arrays; integer sums do not depend on the split.
    std::mutex merge;
    ParallelFor(threads, elements.size(), ELEMENTS_PER_SLICE, [&](size_t begin, size_t end) {
        RunCounters runs(q);
        for (size_t i = begin; i < end; ++i) {
            CountRuns(group, *elements[i], runs);
        }
        const std::lock_guard<std::mutex> lock(merge);
        total.Add(runs);
    });
    const std::vector<int32_t>& front = total.front;
    const std::vector<int32_t>& back = total.back;
    const std::vector<int32_t>& spanning = total.spanning;
    group.counts.resize(q);
    SideCounts running;
    for (size_t i = 0; i < q; ++i) {
        running.front += front[i];
        running.back += back[i];
        running.spanning += spanning[i];
        group.counts[i] = running;
    }
}

// Classifies every other element against each candidate's plane, one pair at a time. Only
// for lists whose planes cannot be sorted.
std::vector<SideCounts> CountOneByOne(BuildPolyList& list) {
    std::vector<SideCounts> result;
    for (auto candidate = list.begin(); candidate != list.end(); ++candidate) {
        if (candidate->usedAsSplitter != 0) {
            continue;
        }
        const Plane plane = candidate->GetPlane();
        SideCounts counts;
        for (auto other = list.begin(); other != list.end(); ++other) {
            if (other != candidate) {
                counts.Count(ClassifyPoly(plane, *other), 1);
            }
        }
        result.push_back(counts);
    }
    return result;
}

}  // namespace

std::vector<SideCounts> CountCandidateSides(BuildPolyList& list, int32_t threads) {
    std::vector<BuildPoly*> elements;
    std::vector<BuildPoly*> candidates;
    std::unordered_map<NormalKey, size_t, NormalKeyHash> groupOf;
    std::vector<NormalGroup> groups;
    for (BuildPoly& poly : list) {
        elements.push_back(&poly);
        if (poly.usedAsSplitter != 0) {
            continue;
        }
        candidates.push_back(&poly);
        const Plane& plane = poly.GetPlane();
        if (!std::isfinite(plane.a) || !std::isfinite(plane.b) || !std::isfinite(plane.c) ||
            !std::isfinite(plane.d)) {
            // Sorting needs ordered distances; such planes only come from non-finite
            // coordinates, and the count one by one handles them.
            return CountOneByOne(list);
        }
        const auto [entry, inserted] = groupOf.try_emplace(KeyOf(plane), groups.size());
        if (inserted) {
            groups.push_back({Plane(plane.a, plane.b, plane.c, 0.0f), {}, {}});
        }
        groups[entry->second].distances.push_back(plane.d);
    }
    for (NormalGroup& group : groups) {
        std::vector<float>& ds = group.distances;
        std::sort(ds.begin(), ds.end());
        ds.erase(std::unique(ds.begin(), ds.end()), ds.end());
        CountGroup(group, elements, threads);
    }
    std::vector<SideCounts> result;
    result.reserve(candidates.size());
    for (BuildPoly* candidate : candidates) {
        const Plane plane = candidate->GetPlane();
        const NormalGroup& group = groups[groupOf.at(KeyOf(plane))];
        const auto at = std::lower_bound(group.distances.begin(), group.distances.end(), plane.d);
        SideCounts counts = group.counts[static_cast<size_t>(at - group.distances.begin())];
        // The candidate was counted against its own plane; it is not one of the others.
        counts.Count(ClassifyPoly(plane, *candidate), -1);
        result.push_back(counts);
    }
    return result;
}

}  // namespace bsppvs
