// Gate visibility. The flood costs one reachability walk per gate over a fixed graph. The
// recursion follows every chain of gates that can still show a leaf not yet marked: it is
// exponential in the worst case, kept in check by narrowing the chain's candidate set with
// each gate's own result (finished gates first, smallest floods first) and by clipping.

#include <algorithm>
#include <cassert>
#include <deque>
#include <utility>

#include "bsp/bsp_compiler.h"
#include "geometry/tolerances.h"
#include "pvs/pvs.h"

namespace bsppvs {

namespace {

enum class Orientation { BACK, ON, FRONT };

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
            // Orient the plane so that a lies behind it; skip planes that cut a.
            const PolySide sideOfA = ClassifyPoly(plane, a);
            if (sideOfA == FRONT) {
                plane = plane.Reversed();
            } else if (sideOfA != BACK) {
                continue;
            }
            if (ClassifyPoly(plane, b) != FRONT) {
                continue;
            }
            c.ClipInPlace(plane, EPSILON, keepBack != 0, scratch);
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
        // Both centres on the plane: the gates keep their numbers but lead nowhere.
        if (sideA != Orientation::ON || sideB != Orientation::ON) {
            gate0.polygon = static_cast<const BuildPoly&>(portal);
            gate1.polygon.SetReversed(portal);
            // gate0 keeps the portal's facing, so it leads into whichever leaf is in front.
            const bool aInFront = sideA == Orientation::FRONT ||
                                  (sideA == Orientation::ON && sideB == Orientation::BACK);
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
            gate->mightSee.assign(leafCount, 0);
            gate->sees.assign(leafCount, 0);
            gates.push_back(std::move(*gate));
        }
    }
}

namespace {

// The flood of one gate: every leaf reachable from its target through gates that lie
// beyond it and have it behind them. Which gates qualify depends only on the gate being
// flooded, so each is tested once, the first time the flood meets it.
class GateFlood {
public:
    GateFlood(std::vector<Gate>& gates, const std::vector<BspLeaf>& leaves)
        : gates_(gates), leaves_(leaves), frontGates_(gates.size(), UNKNOWN) {}

    void Run(int32_t gateIndex) {
        Gate& gate = gates_[gateIndex];
        source_ = gateIndex;
        std::fill(frontGates_.begin(), frontGates_.end(), UNKNOWN);
        int32_t count = 0;
        std::vector<int32_t> pending{gate.targetLeaf};
        while (!pending.empty()) {
            const int32_t leaf = pending.back();
            pending.pop_back();
            if (gate.mightSee[leaf] != 0) {
                continue;
            }
            gate.mightSee[leaf] = 1;
            ++count;
            // Reverse order on a stack keeps the visiting order of a recursive flood; the
            // set reached does not depend on it either way.
            const std::vector<int32_t>& exits = leaves_[leaf].gateIndices;
            for (auto it = exits.rbegin(); it != exits.rend(); ++it) {
                if (IsFrontGate(*it)) {
                    pending.push_back(gates_[*it].targetLeaf);
                }
            }
        }
        gate.mightSeeCount = count;
    }

private:
    static constexpr int8_t UNKNOWN = -1;

    bool IsFrontGate(int32_t j) {
        if (frontGates_[j] == UNKNOWN) {
            frontGates_[j] = Test(j) ? 1 : 0;
        }
        return frontGates_[j] == 1;
    }

    // Gate j may follow the source gate only if it lies at least partly beyond it and the
    // source lies at least partly behind it.
    bool Test(int32_t j) {
        if (j == source_) {
            return false;
        }
        Gate& source = gates_[source_];
        Gate& other = gates_[j];
        if (!IsFrontOrSpanning(ClassifyPoly(source.polygon.GetPlane(), other.polygon))) {
            return false;
        }
        return IsBackOrSpanning(ClassifyPoly(other.polygon.GetPlane(), source.polygon));
    }

    std::vector<Gate>& gates_;
    const std::vector<BspLeaf>& leaves_;
    std::vector<int8_t> frontGates_;
    int32_t source_ = -1;
};

}  // namespace

void BspCompiler::FloodMightSee() {
    GateFlood flood(gates, leaves);
    for (size_t i = 0; i < gates.size(); ++i) {
        // A gate that leads nowhere keeps an empty set.
        if (gates[i].targetLeaf != -1) {
            flood.Run(static_cast<int32_t>(i));
        }
    }
}

namespace {

// The recursion of one source gate. Each depth owns one VisState, reused for every
// candidate at that depth and every later chain, so the recursion allocates only while it
// first grows.
class ChainClipper {
public:
    ChainClipper(std::vector<Gate>& gates, const std::vector<BspLeaf>& leaves, int32_t clipSteps)
        : gates_(gates), leaves_(leaves), clipSteps_(clipSteps) {}

    void Run(Gate& source) {
        VisState& start = Level(0);
        start.mightSee = source.mightSee;
        start.sourcePoly = source.polygon;
        start.targetPoly = source.polygon;
        Recurse(source, source.targetLeaf, 0, true);
    }

private:
    VisState& Level(size_t depth) {
        while (levels_.size() <= depth) {
            levels_.emplace_back();
            levels_.back().mightSee.resize(leaves_.size());
        }
        return levels_[depth];
    }

    // Narrows the chain's set by what the candidate gate can show; true when that leaves a
    // leaf the source has not yet been found to see.
    static bool Narrow(const VisState& st, const Gate& candidate, const Gate& source,
                       VisState& nw) {
        const std::vector<uint8_t>& limit =
            candidate.progress == GATE_DONE ? candidate.sees : candidate.mightSee;
        const size_t n = st.mightSee.size();
        const uint8_t* in = st.mightSee.data();
        const uint8_t* lim = limit.data();
        const uint8_t* seen = source.sees.data();
        uint8_t* out = nw.mightSee.data();
        uint8_t news = 0;
        for (size_t x = 0; x < n; ++x) {
            out[x] = in[x] & lim[x];
            news |= out[x] & static_cast<uint8_t>(seen[x] ^ 1);
        }
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
        Level(depth + 1);
        VisState& st = levels_[depth];
        VisState& nw = levels_[depth + 1];
        for (const int32_t g : leaves_[leaf].gateIndices) {
            Gate& candidate = gates_[g];
            assert(candidate.targetLeaf != -1 && "gates listed in a leaf lead somewhere");
            if (st.mightSee[candidate.targetLeaf] == 0) {
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
    }

    std::vector<Gate>& gates_;
    const std::vector<BspLeaf>& leaves_;
    int32_t clipSteps_;
    // levels_[d] is the chain state at depth d. A deque, so growing it keeps the
    // shallower levels where they are.
    std::deque<VisState> levels_;
    // Working ring of every clip, its buffer passed back and forth with the clipped rings.
    Winding scratch_;
};

}  // namespace

void BspCompiler::CalcVisibility(const ProgressFn& progress) {
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
