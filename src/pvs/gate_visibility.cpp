// Gate visibility. The flood costs one reachability walk per gate over a fixed graph. The
// recursion follows every chain of gates that can still show a leaf not yet marked: it is
// exponential in the worst case, kept in check by narrowing the chain's candidate set with
// each gate's own result (finished gates first, smallest floods first) and by clipping.

#include <algorithm>
#include <array>
#include <cassert>
#include <cmath>
#include <cstring>
#include <deque>
#include <limits>
#include <map>
#include <new>
#include <utility>

#include "bsp/bsp_compiler.h"
#include "bsp/parallel_for.h"
#include "geometry/tolerances.h"
#include "pvs/pvs.h"

namespace bsppvs {

namespace {

enum class Orientation { BACK, ON, FRONT };

// How far off a portal's plane its side probes stand: well beyond the point tolerance, and
// beyond the rounding of large coordinates.
constexpr float PROBE_OFFSET = 0.05f;
constexpr float PROBE_RELATIVE_OFFSET = 1e-5f;
// Thinner leaves are probed again at a tenth of the offset, down to this one.
constexpr float PROBE_STEP = 0.1f;
constexpr float PROBE_CLOSEST_OFFSET = 0.004f;

// Whether the gates' byte arrays ask for large pages. Floods on open levels write most
// pages of the block, where large pages save most of the page faults; on long corridors
// they write few, and large pages would zero and hold memory nobody uses.
constexpr bool GATE_BYTES_ON_LARGE_PAGES = true;

Orientation OrientCenter(const Plane& plane, Vector3 center) {
    switch (plane.ClassifyPoint(center, EPSILON)) {
        case SIDE_BACK:
            return Orientation::BACK;
        case SIDE_FRONT:
            return Orientation::FRONT;
        default:
            return Orientation::ON;
    }
}

// The leaf just in front of the portal's middle when the leaf just behind it is the
// portal's other leaf, else -1. The first probes stand far enough off the plane for point
// location to tell the sides apart at any coordinate size; a leaf thinner than that is
// probed again closer in, down to a few times the point tolerance.
int32_t ProbeFrontLeaf(const BspCompiler& compiler, const Portal& portal, const Plane& plane) {
    if (portal.points.empty()) {
        return -1;
    }
    Vector3 sum = ORIGIN;
    float extent = 0.0f;
    for (const Vector3& p : portal.points) {
        sum = Add(sum, p);
        extent = std::max({extent, std::fabs(p.x), std::fabs(p.y), std::fabs(p.z)});
    }
    const Vector3 middle = Scale(sum, 1.0f / static_cast<float>(portal.points.size()));
    const Vector3 normal = plane.Normal();
    const int32_t a = portal.leafIndices[0];
    const int32_t b = portal.leafIndices[1];
    float offset = std::max(PROBE_OFFSET, extent * PROBE_RELATIVE_OFFSET);
    const float closest = std::max(PROBE_CLOSEST_OFFSET, extent * PROBE_RELATIVE_OFFSET);
    for (; offset >= closest; offset *= PROBE_STEP) {
        const int32_t front = compiler.LocateLeaf(Add(middle, Scale(normal, offset)), 0);
        const int32_t back = compiler.LocateLeaf(Subtract(middle, Scale(normal, offset)), 0);
        if ((front == a && back == b) || (front == b && back == a)) {
            return front;
        }
    }
    return -1;
}

bool IsFrontOrSpanning(PolySide side) {
    return side == FRONT || side == SPANNING;
}
bool IsBackOrSpanning(PolySide side) {
    return side == BACK || side == SPANNING;
}

}  // namespace

void ClipToFront(BuildPoly& polygon, const Plane& plane) {
    Winding scratch;
    ClipToFront(polygon, plane, scratch);
}

void ClipToFront(BuildPoly& polygon, const Plane& plane, Winding& scratch) {
    polygon.ClipInPlace(plane, EPSILON, false, scratch);
}

int32_t ClipBySeparatingPlanes(BuildPoly& a, BuildPoly& b, BuildPoly& c, int32_t keepBack) {
    Winding scratch;
    return ClipBySeparatingPlanes(a, b, c, keepBack, scratch);
}

int32_t ClipBySeparatingPlanes(BuildPoly& a, BuildPoly& b, BuildPoly& c, int32_t keepBack,
                               Winding& scratch) {
    const size_t edgeCount = a.points.size();
    for (size_t i = 0; i < edgeCount; ++i) {
        const Vector3 p = a.points[i];
        const Vector3 pNext = a.points[(i + 1) % edgeCount];
        const Vector3 edge = Subtract(pNext, p);
        for (size_t j = 0; j < b.points.size(); ++j) {
            Vector3 n = Cross(edge, Subtract(b.points[j], p));
            if (n == ORIGIN) {
                continue;
            }
            Normalize(n);
            if (Dot(n, n) < SEPARATOR_MIN_LENGTH_SQ) {
                continue;
            }
            Plane plane(n, Dot(n, p));
            // The plane must have a wholly on one side and b wholly on the other; it is
            // then turned so that a lies behind it. Reversing a plane mirrors every
            // distance exactly, so b's side is read before the turn and a polygon b spans
            // costs no look at a.
            const PolySide sideOfB = ClassifyPoly(plane, b);
            if (sideOfB != FRONT && sideOfB != BACK) {
                continue;
            }
            const PolySide sideOfA = ClassifyPoly(plane, a);
            if (sideOfA == sideOfB || (sideOfA != FRONT && sideOfA != BACK)) {
                continue;
            }
            if (sideOfA == FRONT) {
                plane = plane.Reversed();
            }
            c.ClipInPlace(plane, EPSILON, keepBack != 0, scratch);
            if (c.points.empty()) {
                return 0;  // nothing left to cut
            }
        }
    }
    return static_cast<int32_t>(c.points.size());
}

void BspCompiler::BuildGates() {
    gates.clear();
    for (BspLeaf& leaf : leaves) {
        leaf.gateIndices.clear();
    }
    const size_t leafCount = leaves.size();
    gates.reserve(2 * portals.size());
    // Two arrays for each of the two gates of every portal.
    gateBytes.Reset(4 * portals.size(), leafCount, GATE_BYTES_ON_LARGE_PAGES);
    for (size_t k = 0; k < portals.size(); ++k) {
        Portal& portal = portals[k];
        const auto forward = static_cast<int32_t>(2 * k);
        const auto backward = forward + 1;
        Gate gate0;
        Gate gate1;
        const int32_t a = portal.leafIndices[0];
        const int32_t b = portal.leafIndices[1];
        const Plane& plane = portal.GetPlane();
        const Orientation sideA = OrientCenter(plane, leaves[a].bounds.center);
        const Orientation sideB = OrientCenter(plane, leaves[b].bounds.center);
        // A leaf's box centre need not lie inside the leaf: for a slanted leaf it can fall
        // on the far side of the portal, which would turn both gates the wrong way and hide
        // everything beyond them, and two leaves mirrored across the portal (the halves of
        // a box cut along its diagonal) have both centres on it, which would leave the
        // portal without gates. Where points just off the portal's middle say plainly which
        // leaf is in front, they decide; otherwise the centres do.
        const int32_t probed = ProbeFrontLeaf(*this, portal, plane);
        // Both centres on the plane and no plain answer: the gates keep their numbers but
        // lead nowhere.
        if (probed != -1 || sideA != Orientation::ON || sideB != Orientation::ON) {
            gate0.polygon = static_cast<const BuildPoly&>(portal);
            gate1.polygon.SetReversed(portal);
            // gate0 keeps the portal's facing, so it leads into whichever leaf is in front.
            bool aInFront = sideA == Orientation::FRONT ||
                            (sideA == Orientation::ON && sideB == Orientation::BACK);
            if (probed != -1) {
                aInFront = probed == a;
            }
            const int32_t frontLeaf = aInFront ? a : b;
            const int32_t backLeaf = aInFront ? b : a;
            gate0.sourceLeaf = backLeaf;
            gate0.targetLeaf = frontLeaf;
            gate1.sourceLeaf = frontLeaf;
            gate1.targetLeaf = backLeaf;
            leaves[a].gateIndices.push_back(aInFront ? backward : forward);
            leaves[b].gateIndices.push_back(aInFront ? forward : backward);
        }
        for (Gate* gate : {&gate0, &gate1}) {
            gate->mightSee = gateBytes.Take(leafCount);
            gate->sees = gateBytes.Take(leafCount);
            gates.push_back(std::move(*gate));
        }
    }
}

namespace {

// The extent of every gate's polygon along every distinct gate normal. Whether a polygon
// has a corner beyond a plane at the classification tolerance depends only on the largest
// (or smallest) value over its corners of a*x + b*y + c*z, rounded exactly as the
// classification rounds it, because subtracting d is monotone. So the flood's two tests
// per gate pair become two lookups.
//
// Clipped portals that lie in parallel planes have normals that differ in their last bits,
// so the gates are grouped by their normals rounded to a fine grid, and each group's table
// row is computed along the normal of its first gate. A gate whose normal differs from
// that one carries a margin that bounds how far its own values can lie from the row's,
// rounding included; a lookup within the margin of the tolerance falls back to classifying
// the polygons, so every answer is the one the classification gives. Levels with too many
// groups would make the tables too large; there every test classifies directly.
class GateProjections {
public:
    // With `direct`, no table is made and every test classifies the polygons in full (the
    // literal flood, kept for comparison).
    GateProjections(std::vector<Gate>& gates, bool direct) : gates_(gates) {
        std::vector<Plane> normals;
        std::map<std::array<int64_t, 3>, size_t> byKey;
        groupOf_.assign(gates.size(), NO_GROUP);
        margin_.assign(gates.size(), 0.0f);
        float reach = 0.0f;  // the largest coordinate magnitude of any gate's corner
        for (size_t j = 0; j < gates.size(); ++j) {
            if (gates[j].targetLeaf == -1) {
                continue;
            }
            const Plane& plane = gates[j].polygon.GetPlane();
            groupOf_[j] = FindGroup(plane, normals, byKey);
            for (const Vector3& p : gates[j].polygon.points) {
                reach = std::max({reach, std::fabs(p.x), std::fabs(p.y), std::fabs(p.z)});
            }
        }
        for (size_t j = 0; j < gates.size(); ++j) {
            if (groupOf_[j] != NO_GROUP) {
                margin_[j] = MarginOf(gates[j].polygon.plane, normals[groupOf_[j]], reach);
            }
        }
        groupCount_ = normals.size();
        if (direct || groupCount_ * gates.size() > MAX_TABLE_ENTRIES) {
            groupCount_ = 0;  // too many normals: classify directly
            return;
        }
        // A flood holds its source gate i fixed: the front test reads gate j's largest
        // value along i's normal (one row per normal, walked along j), the back test reads
        // i's smallest value along each j's normal (one row per gate, walked along the
        // normals). Each table is laid out so that its reads stay in one row.
        // Every entry is written below, so the tables skip the zeroing a vector would do,
        // and they come on large pages: tens of megabytes taken page by page cost more in
        // page faults than filling them.
        const size_t entries = groupCount_ * gates.size();
        tables_.Reset(2 * entries, sizeof(float), true);
        maxByNormal_ = reinterpret_cast<float*>(tables_.Take(entries * sizeof(float)).data());
        minByGate_ = reinterpret_cast<float*>(tables_.Take(entries * sizeof(float)).data());
        for (size_t g = 0; g < groupCount_; ++g) {
            for (size_t j = 0; j < gates.size(); ++j) {
                const Range range = ExtentAlong(normals[g], gates[j].polygon);
                maxByNormal_[g * gates.size() + j] = range.max;
                minByGate_[j * groupCount_ + g] = range.min;
            }
        }
    }

    // False when the level has too many normals for the tables (or none were asked for):
    // then ReachesInFront and ReachesBehind classify the polygons directly.
    bool HasTables() const { return groupCount_ != 0; }

    // Whether gate j's polygon has a corner in front of gate i's plane (it classifies as
    // front or spanning).
    bool ReachesInFront(size_t j, size_t i) const {
        if (groupCount_ == 0) {
            return ClassifiesInFront(j, i);
        }
        return BeyondTolerance(FrontRow(i)[j] - gates_[i].polygon.plane.d, margin_[i],
                               [&] { return ClassifiesInFront(j, i); });
    }

    // Whether gate i's polygon has a corner behind gate j's plane (it classifies as back or
    // spanning).
    bool ReachesBehind(size_t i, size_t j) const {
        if (groupCount_ == 0) {
            return ClassifiesBehind(i, j);
        }
        return BeyondTolerance(-(BehindRow(i)[groupOf_[j]] - gates_[j].polygon.plane.d), margin_[j],
                               [&] { return ClassifiesBehind(i, j); });
    }

    // The two tests above, made by classifying the polygons.
    bool ClassifiesInFront(size_t j, size_t i) const {
        return IsFrontOrSpanning(ClassifyPoly(gates_[i].polygon.plane, gates_[j].polygon));
    }
    bool ClassifiesBehind(size_t i, size_t j) const {
        return IsBackOrSpanning(ClassifyPoly(gates_[j].polygon.plane, gates_[i].polygon));
    }

    // Whether a value looked up in the tables (minus the plane's distance, negated for a
    // test behind) lies beyond the classification tolerance. Plainly beyond the margin
    // either way the lookup decides; within it, classify does.
    template <typename Classify>
    static bool BeyondTolerance(float value, float margin, Classify classify) {
        if (value > POLY_CLASSIFY_EPSILON + margin) {
            return true;
        }
        if (value <= POLY_CLASSIFY_EPSILON - margin) {
            return false;
        }
        return classify();
    }

    // With tables: the largest value of every gate's corners along gate i's normal, indexed
    // by gate, and the smallest value of gate i's corners along every normal, indexed by
    // normal.
    const float* FrontRow(size_t i) const { return &maxByNormal_[groupOf_[i] * gates_.size()]; }
    const float* BehindRow(size_t i) const { return &minByGate_[i * groupCount_]; }
    // Index of gate j's normal; only with tables, and only for a gate that leads somewhere.
    uint32_t GroupOf(size_t j) const { return static_cast<uint32_t>(groupOf_[j]); }
    // How far gate j's values along its own normal may lie from its row's; 0 when its
    // normal is the row's own.
    float Margin(size_t j) const { return margin_[j]; }

private:
    struct Range {
        float min = std::numeric_limits<float>::infinity();
        float max = -std::numeric_limits<float>::infinity();
    };
    static constexpr size_t NO_GROUP = SIZE_MAX;
    static constexpr size_t MAX_TABLE_ENTRIES = size_t{1} << 24;

    static Range ExtentAlong(const Plane& normal, const Poly& polygon) {
        Range range;
        for (const Vector3& p : polygon.points) {
            const float t = normal.a * p.x + normal.b * p.y + normal.c * p.z;
            range.min = std::min(range.min, t);
            range.max = std::max(range.max, t);
        }
        return range;
    }

    // Normals are grouped on a grid of this many steps per unit.
    static constexpr double GROUP_GRID = 1 << 20;
    // Bound of the rounding of one value a*x + b*y + c*z of a unit normal, relative to the
    // largest coordinate magnitude: three roundings of at most 2^-24 each of a sum whose
    // terms add up to at most sqrt(3) times that magnitude; twice, for the row's value and
    // the gate's own.
    static constexpr float ROUNDING_BOUND = 2.0f * 1.8e-7f * 1.7321f;
    // Widens every margin against what the bound leaves out (the subtraction of d, which
    // is exact to a relative 2^-24 where it matters, near the tolerance).
    static constexpr float MARGIN_SAFETY = 1.25f;
    static constexpr float MARGIN_FLOOR = 1e-6f;

    static size_t FindGroup(const Plane& plane, std::vector<Plane>& normals,
                            std::map<std::array<int64_t, 3>, size_t>& byKey) {
        const std::array<int64_t, 3> key = {std::llround(double(plane.a) * GROUP_GRID),
                                            std::llround(double(plane.b) * GROUP_GRID),
                                            std::llround(double(plane.c) * GROUP_GRID)};
        const auto [it, added] = byKey.emplace(key, normals.size());
        if (added) {
            normals.push_back(Plane(plane.a, plane.b, plane.c, 0.0f));
        }
        return it->second;
    }

    // For each corner p, |n.p - m.p| <= |n - m|_1 * reach in exact arithmetic; the rounding
    // of both values adds at most ROUNDING_BOUND * reach.
    static float MarginOf(const Plane& own, const Plane& row, float reach) {
        if (own.a == row.a && own.b == row.b && own.c == row.c) {
            return 0.0f;  // the row's values are the gate's own, bit for bit
        }
        const float apart =
            std::fabs(own.a - row.a) + std::fabs(own.b - row.b) + std::fabs(own.c - row.c);
        return MARGIN_SAFETY * (apart + ROUNDING_BOUND) * reach + MARGIN_FLOOR;
    }

    std::vector<Gate>& gates_;
    std::vector<size_t> groupOf_;  // per gate: index of its normal, NO_GROUP for none
    std::vector<float> margin_;    // per gate: see Margin
    size_t groupCount_ = 0;
    LeafByteStore tables_;          // the storage of the two tables below
    float* maxByNormal_ = nullptr;  // [normal][gate]: largest value over the corners
    float* minByGate_ = nullptr;    // [gate][normal]: smallest value over the corners
};

// The exits of every leaf packed side by side, with what the flood reads of each: the
// floods walk this graph once per gate, and reading it from the gates and leaves
// themselves would cost a cache miss per exit.
struct FloodGraph {
    struct Exit {
        int32_t gate;
        int32_t targetLeaf;
        uint32_t group;  // the index of the gate's normal in the projection tables
        float d;         // the distance of the gate's plane
        float margin;    // the gate's margin in the projection tables
    };
    std::vector<uint32_t> firstExit;  // per leaf, and one past the last leaf
    std::vector<Exit> exits;

    FloodGraph(const std::vector<Gate>& gates, const std::vector<BspLeaf>& leaves,
               const GateProjections& projections) {
        firstExit.reserve(leaves.size() + 1);
        for (const BspLeaf& leaf : leaves) {
            firstExit.push_back(static_cast<uint32_t>(exits.size()));
            for (const int32_t j : leaf.gateIndices) {
                const Gate& gate = gates[j];
                const auto index = static_cast<size_t>(j);
                const bool tables = projections.HasTables();
                exits.push_back({j, gate.targetLeaf, tables ? projections.GroupOf(index) : 0,
                                 gate.polygon.plane.d, projections.Margin(index)});
            }
        }
        firstExit.push_back(static_cast<uint32_t>(exits.size()));
    }
};

// The flood of one gate: every leaf reachable from its target through gates that lie
// beyond it and have it behind them. Every gate belongs to one leaf and each leaf is
// entered once, so each gate is tested at most once per flood, and only if the flood
// reaches its leaf. Whether a gate may follow depends only on the two gates, never on the
// path that reached it, so the order of the walk does not change the set.
class GateFlood {
public:
    GateFlood(std::vector<Gate>& gates, const FloodGraph& graph, const GateProjections& projections)
        : gates_(gates), graph_(graph), projections_(projections) {}

    void Run(int32_t gateIndex) {
        Gate& gate = gates_[gateIndex];
        uint8_t* reached = gate.mightSee.data();
        // Leaves are marked when queued, so none is queued twice.
        reached[gate.targetLeaf] = 1;
        int32_t count = 1;
        LeafRange range;
        range.Add(gate.targetLeaf);
        pending_.assign(1, gate.targetLeaf);
        const auto i = static_cast<size_t>(gateIndex);
        const bool tables = projections_.HasTables();
        const float* frontRow = tables ? projections_.FrontRow(i) : nullptr;
        const float* behindRow = tables ? projections_.BehindRow(i) : nullptr;
        const float d = gate.polygon.plane.d;
        const float margin = projections_.Margin(i);
        while (!pending_.empty()) {
            const int32_t leaf = pending_.back();
            pending_.pop_back();
            const FloodGraph::Exit* exit = &graph_.exits[graph_.firstExit[leaf]];
            const FloodGraph::Exit* end = &graph_.exits[0] + graph_.firstExit[leaf + 1];
            for (; exit != end; ++exit) {
                if (reached[exit->targetLeaf] != 0 || exit->gate == gateIndex) {
                    continue;
                }
                // Gate j may follow only if it lies at least partly beyond this gate and
                // this gate lies at least partly behind it.
                const auto j = static_cast<size_t>(exit->gate);
                bool follows = false;
                if (tables) {
                    const auto inFront = [&] { return projections_.ClassifiesInFront(j, i); };
                    const auto behind = [&] { return projections_.ClassifiesBehind(i, j); };
                    follows = GateProjections::BeyondTolerance(frontRow[j] - d, margin, inFront) &&
                              GateProjections::BeyondTolerance(-(behindRow[exit->group] - exit->d),
                                                               exit->margin, behind);
                } else {
                    follows = projections_.ReachesInFront(j, i) && projections_.ReachesBehind(i, j);
                }
                if (follows) {
                    reached[exit->targetLeaf] = 1;
                    ++count;
                    range.Add(exit->targetLeaf);
                    pending_.push_back(exit->targetLeaf);
                }
            }
        }
        gate.mightSeeCount = count;
        gate.mightSeeRange = range;
    }

private:
    std::vector<Gate>& gates_;
    const FloodGraph& graph_;
    const GateProjections& projections_;
    std::vector<int32_t> pending_;
};

}  // namespace

void BspCompiler::FloodMightSee() {
    // Fills every gate's plane cache first, so the floods below only read shared state and
    // can run side by side, each writing its own gate's set.
    const GateProjections projections(gates, literal);
    const FloodGraph graph(gates, leaves, projections);
    constexpr size_t GATES_PER_SLICE = 64;
    ParallelFor(threads, gates.size(), GATES_PER_SLICE, [&](size_t begin, size_t end) {
        GateFlood flood(gates, graph, projections);
        for (size_t i = begin; i < end; ++i) {
            // A gate that leads nowhere keeps an empty set.
            if (gates[i].targetLeaf != -1) {
                flood.Run(static_cast<int32_t>(i));
            }
        }
    });
}

namespace {

// The recursion of one source gate. Each depth owns one VisState, reused for every
// candidate at that depth and every later chain, so the recursion allocates only while it
// first grows.
class ChainClipper {
public:
    ChainClipper(std::vector<Gate>& gates, const std::vector<BspLeaf>& leaves, int32_t clipSteps)
        : gates_(gates), leaves_(leaves), clipSteps_(clipSteps), onChain_(leaves.size(), 0) {}

    void Run(Gate& source) {
        VisState& start = Level(0);
        const LeafRange range = source.mightSeeRange;
        std::copy(source.mightSee.begin() + range.first, source.mightSee.begin() + range.end,
                  start.mightSee.begin() + range.first);
        start.range = range;
        start.sourcePoly = source.polygon;
        start.targetPoly = source.polygon;
        Recurse(source, source.targetLeaf, 0, true);
    }

private:
    // The smallest range holding every one of bytes[first, end).
    static LeafRange RangeOf(const uint8_t* bytes, size_t first, size_t end) {
        while (first < end && bytes[first] == 0) {
            ++first;
        }
        while (end > first && bytes[end - 1] == 0) {
            --end;
        }
        return {static_cast<int32_t>(first), static_cast<int32_t>(end)};
    }

    static bool Holds(const VisState& st, int32_t leaf) {
        return st.range.Holds(leaf) && st.mightSee[leaf] != 0;
    }

    VisState& Level(size_t depth) {
        while (levels_.size() <= depth) {
            levels_.emplace_back();
            levels_.back().mightSee.resize(leaves_.size());
        }
        return levels_[depth];
    }

    // Narrows the chain's set by what the candidate gate can show; true when that leaves a
    // leaf the source has not yet been found to see. Only the leaves in both sets' ranges
    // can stay, so only they are looked at.
    static bool Narrow(const VisState& st, const Gate& candidate, const Gate& source,
                       VisState& nw) {
        const bool done = candidate.progress == GATE_DONE;
        const LeafBytes& limit = done ? candidate.sees : candidate.mightSee;
        const LeafRange& limitRange = done ? candidate.seesRange : candidate.mightSeeRange;
        const auto first = static_cast<size_t>(std::max(st.range.first, limitRange.first));
        const auto end = static_cast<size_t>(std::min(st.range.end, limitRange.end));
        if (first >= end) {
            nw.range = {};
            return false;
        }
        const uint8_t* in = st.mightSee.data();
        const uint8_t* lim = limit.data();
        const uint8_t* seen = source.sees.data();
        uint8_t* out = nw.mightSee.data();
        uint8_t news = 0;
        for (size_t x = first; x < end; ++x) {
            out[x] = in[x] & lim[x];
            news |= out[x] & static_cast<uint8_t>(seen[x] ^ 1);
        }
        nw.range = RangeOf(out, first, end);
        return news != 0;
    }

    // Steps 1 and 2 narrow the candidate to what the chain lets through; steps 3 and 4
    // narrow the source to what can still see through the candidate.
    bool ClipBySeparators(VisState& st, VisState& nw) {
        struct Step {
            BuildPoly* a;
            BuildPoly* b;
            BuildPoly* c;
            int32_t keepBack;
        };
        const Step steps[4] = {
            {&st.sourcePoly, &st.targetPoly, &nw.targetPoly, 0},
            {&st.targetPoly, &st.sourcePoly, &nw.targetPoly, 1},
            {&st.targetPoly, &nw.targetPoly, &nw.sourcePoly, 1},
            {&nw.targetPoly, &st.targetPoly, &nw.sourcePoly, 0},
        };
        for (int32_t s = 0; s < 4 && s < clipSteps_; ++s) {
            if (ClipBySeparatingPlanes(*steps[s].a, *steps[s].b, *steps[s].c, steps[s].keepBack) ==
                0) {
                return false;
            }
        }
        return true;
    }

    void Recurse(Gate& source, int32_t leaf, size_t depth, bool first) {
        source.sees[leaf] = 1;
        onChain_[leaf] = 1;
        source.seesRange.Add(leaf);
        Level(depth + 1);
        VisState& st = levels_[depth];
        VisState& nw = levels_[depth + 1];
        for (const int32_t g : leaves_[leaf].gateIndices) {
            Gate& candidate = gates_[g];
            assert(candidate.targetLeaf != -1 && "gates listed in a leaf lead somewhere");
            if (!Holds(st, candidate.targetLeaf) || onChain_[candidate.targetLeaf] != 0) {
                continue;
            }
            if (!Narrow(st, candidate, source, nw)) {
                continue;
            }
            nw.sourcePoly = st.sourcePoly;
            nw.targetPoly = candidate.polygon;
            ClipToFront(nw.targetPoly, source.polygon.GetPlane(), scratch_);
            if (nw.targetPoly.points.empty()) {
                continue;
            }
            if (!first) {
                // Keep the part of the source behind the (clipped) candidate.
                ClipToFront(nw.sourcePoly, nw.targetPoly.GetPlane().Reversed(), scratch_);
                if (nw.sourcePoly.points.empty() || !ClipBySeparators(st, nw)) {
                    continue;
                }
            }
            Recurse(source, candidate.targetLeaf, depth + 1, false);
        }
        onChain_[leaf] = 0;
    }

    std::vector<Gate>& gates_;
    const std::vector<BspLeaf>& leaves_;
    int32_t clipSteps_;
    // levels_[d] is the chain state at depth d. A deque, so growing it keeps the
    // shallower levels where they are.
    std::deque<VisState> levels_;
    // Working ring of every clip, its buffer passed back and forth with the clipped rings.
    Winding scratch_;
    // One byte per leaf, 1 for the leaves the current chain has entered. A line of sight
    // crosses a convex leaf once, so a chain never needs to enter a leaf twice, and on a
    // sound level it never tries to: a gate's flood stays in front of it and so never
    // reaches the leaf it starts in. Degenerate geometry (slivers far thinner than the
    // tolerances, corners far out) can bend that, and a chain could then go back and forth
    // between two leaves whose gates the clips no longer shrink, without end. Refusing the
    // second entry bounds the recursion by the leaf count.
    std::vector<uint8_t> onChain_;
};

}  // namespace

void BspCompiler::CalcVisibility(const ProgressFn& progress) {
    if (floodOnly) {
        for (Gate& gate : gates) {
            gate.sees.CopyFrom(gate.mightSee);
            gate.seesRange = gate.mightSeeRange;
            gate.progress = GATE_DONE;
        }
        if (progress) {
            progress(static_cast<int64_t>(gates.size()), static_cast<int64_t>(gates.size()));
        }
        return;
    }
    // Smallest floods first, so later gates can narrow by finished gates' sharper sets.
    // The sort is stable: gates with equal counts keep index order, so the sets are the
    // same on every run and every machine.
    std::vector<std::pair<int32_t, int32_t>> order;
    order.reserve(gates.size());
    for (size_t i = 0; i < gates.size(); ++i) {
        order.emplace_back(gates[i].mightSeeCount, static_cast<int32_t>(i));
    }
    std::stable_sort(order.begin(), order.end(),
                     [](const auto& x, const auto& y) { return x.first < y.first; });

    ChainClipper clipper(gates, leaves, clipSteps);
    int64_t done = 0;
    for (const auto& [count, index] : order) {
        Gate& gate = gates[index];
        gate.progress = GATE_RUNNING;
        // A gate that leads nowhere is never entered and sees nothing.
        if (gate.targetLeaf != -1) {
            clipper.Run(gate);
        }
        gate.progress = GATE_DONE;
        if (progress) {
            progress(++done, static_cast<int64_t>(order.size()));
        }
    }
}

}  // namespace bsppvs
