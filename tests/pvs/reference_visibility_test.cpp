// The visibility pass against a plain rendering of its algorithm: the flood builds a
// frontGates byte per gate pair and floods recursively; the recursion copies fresh sets and
// polygons at every level, passes over every leaf's byte, and runs every separating plane
// to the end with fresh split parts. The compiler's packed flood graph, projection tables,
// batched floods, bit sets over ranges, kept separating planes and early clip exits must
// give the very same sets.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <utility>
#include <vector>

#include "../support/pvs_levels.h"
#include "bsp/classify.h"
#include "compile/bsp_compiler.h"
#include "formats/native_mesh.h"
#include "geometry/tolerances.h"
#include "maze/maze.h"
#include "maze/maze_model.h"
#include "pvs/polygon_clips.h"
#include "pvs/visibility.h"

namespace bsppvs {
namespace {

using Bytes = std::vector<uint8_t>;

struct RefGate {
    int32_t targetLeaf = -1;
    BuildPoly polygon;
    Bytes mightSee;
    Bytes sees;
    int32_t mightSeeCount = 0;
    int32_t progress = GATE_PENDING;
};

struct RefState {
    Bytes mightSee;
    BuildPoly sourcePoly;
    BuildPoly targetPoly;
};

void RefClipToFront(BuildPoly& polygon, const Plane& plane) {
    BuildPoly front;
    BuildPoly back;
    polygon.Split(plane, front, back, EPSILON);
    polygon.SetPoints(front.points);
}

int32_t RefClipBySeparatingPlanes(BuildPoly& a, BuildPoly& b, BuildPoly& c, int32_t keepBack) {
    const size_t edges = a.points.size();
    for (size_t i = 0; i < edges; ++i) {
        const Vector3 p = a.points[i];
        const Vector3 pNext = a.points[(i + 1) % edges];
        for (const Vector3 q : b.points) {
            Vector3 n = Cross(Subtract(pNext, p), Subtract(q, p));
            if (n == ORIGIN) {
                continue;
            }
            Normalize(n);
            if (Dot(n, n) < SEPARATOR_MIN_LENGTH_SQ) {
                continue;
            }
            Plane plane(n, Dot(n, p));
            const PolySide sideOfA = ClassifyPoly(plane, a);
            if (sideOfA == FRONT) {
                plane = plane.Reversed();
            } else if (sideOfA != BACK) {
                continue;
            }
            if (ClassifyPoly(plane, b) != FRONT) {
                continue;
            }
            BuildPoly front;
            BuildPoly back;
            c.Split(plane, front, back, EPSILON);
            c.SetPoints(keepBack != 0 ? back.points : front.points);
        }
    }
    return static_cast<int32_t>(c.points.size());
}

class ReferencePass {
public:
    // Takes the gates and leaf gate lists the compiler's BuildGates made.
    explicit ReferencePass(const BspCompiler& compiler) : leafCount_(compiler.leaves.size()) {
        for (const BspLeaf& leaf : compiler.leaves) {
            gateIndices_.push_back(leaf.gateIndices);
        }
        for (const Gate& gate : compiler.gates) {
            RefGate g;
            g.targetLeaf = gate.targetLeaf;
            g.polygon = gate.polygon;
            g.mightSee.assign(leafCount_, 0);
            g.sees.assign(leafCount_, 0);
            gates_.push_back(std::move(g));
        }
    }

    void Flood() {
        for (size_t i = 0; i < gates_.size(); ++i) {
            RefGate& gate = gates_[i];
            if (gate.targetLeaf == -1) {
                continue;
            }
            Bytes frontGates(gates_.size(), 0);
            for (size_t j = 0; j < gates_.size(); ++j) {
                if (j == i || gates_[j].targetLeaf == -1) {
                    continue;
                }
                const PolySide beyond = ClassifyPoly(gate.polygon.GetPlane(), gates_[j].polygon);
                if (beyond != FRONT && beyond != SPANNING) {
                    continue;
                }
                const PolySide behind = ClassifyPoly(gates_[j].polygon.GetPlane(), gate.polygon);
                frontGates[j] = behind == BACK || behind == SPANNING;
            }
            FloodLeaf(gate, frontGates, gate.targetLeaf);
        }
    }

    void Visibility() {
        std::vector<std::pair<int32_t, int32_t>> order;
        for (size_t i = 0; i < gates_.size(); ++i) {
            order.emplace_back(gates_[i].mightSeeCount, static_cast<int32_t>(i));
        }
        std::stable_sort(order.begin(), order.end(),
                         [](const auto& x, const auto& y) { return x.first < y.first; });
        for (const auto& entry : order) {
            RefGate& gate = gates_[entry.second];
            gate.progress = GATE_RUNNING;
            if (gate.targetLeaf != -1) {
                RefState st{gate.mightSee, gate.polygon, gate.polygon};
                Recurse(gate, gate.targetLeaf, st, true);
            }
            gate.progress = GATE_DONE;
        }
    }

    const std::vector<RefGate>& Gates() const { return gates_; }

private:
    void FloodLeaf(RefGate& gate, const Bytes& frontGates, int32_t leaf) {
        if (gate.mightSee[leaf] == 1) {
            return;
        }
        gate.mightSee[leaf] = 1;
        ++gate.mightSeeCount;
        for (const int32_t g : gateIndices_[leaf]) {
            if (frontGates[g] == 1) {
                FloodLeaf(gate, frontGates, gates_[g].targetLeaf);
            }
        }
    }

    void Recurse(RefGate& source, int32_t leaf, RefState& st, bool first) {
        source.sees[leaf] = 1;
        RefState nw;
        nw.mightSee.assign(leafCount_, 0);
        for (const int32_t g : gateIndices_[leaf]) {
            RefGate& candidate = gates_[g];
            if (st.mightSee[candidate.targetLeaf] == 0) {
                continue;
            }
            const Bytes& limit =
                candidate.progress == GATE_DONE ? candidate.sees : candidate.mightSee;
            bool news = false;
            for (size_t x = 0; x < leafCount_; ++x) {
                nw.mightSee[x] = st.mightSee[x] & limit[x];
                news = news || (nw.mightSee[x] == 1 && source.sees[x] == 0);
            }
            if (!news) {
                continue;
            }
            nw.sourcePoly = st.sourcePoly;
            nw.targetPoly = candidate.polygon;
            RefClipToFront(nw.targetPoly, source.polygon.GetPlane());
            if (nw.targetPoly.points.empty()) {
                continue;
            }
            if (!first) {
                RefClipToFront(nw.sourcePoly, nw.targetPoly.GetPlane().Reversed());
                if (nw.sourcePoly.points.empty() ||
                    RefClipBySeparatingPlanes(st.sourcePoly, st.targetPoly, nw.targetPoly, 0) ==
                        0 ||
                    RefClipBySeparatingPlanes(st.targetPoly, st.sourcePoly, nw.targetPoly, 1) ==
                        0 ||
                    RefClipBySeparatingPlanes(st.targetPoly, nw.targetPoly, nw.sourcePoly, 1) ==
                        0 ||
                    RefClipBySeparatingPlanes(nw.targetPoly, st.targetPoly, nw.sourcePoly, 0) ==
                        0) {
                    continue;
                }
            }
            Recurse(source, candidate.targetLeaf, nw, false);
        }
    }

    size_t leafCount_;
    std::vector<std::vector<int32_t>> gateIndices_;
    std::vector<RefGate> gates_;
};

// The number of gates whose sets differ from the plain pass's; the first difference found
// is reported.
int32_t CountDifferences(const BspCompiler& compiler, const std::vector<RefGate>& expected,
                         bool sees) {
    int32_t differ = 0;
    for (size_t g = 0; g < expected.size(); ++g) {
        const Gate& gate = compiler.gates[g];
        const bool same = sees ? gate.sees == expected[g].sees
                               : gate.mightSeeCount == expected[g].mightSeeCount &&
                                     gate.mightSee == expected[g].mightSee;
        if (!same && differ++ == 0) {
            ADD_FAILURE() << (sees ? "sees" : "mightSee") << " of gate " << g << " differs";
        }
    }
    return differ;
}

// Every shortcut of the flood (64 floods at a time, lookups in tables or not, sets kept
// as bits over their ranges) and of the recursion (word-wide set tests, separating planes
// kept per pair of whole gate polygons, early exits of the clips) must leave the sets of
// the plain pass. On a grid a recursion that skips its fourth clip step still gives the
// same sets, so the comparison also runs on levels where it does not, and checks that it
// would notice.
TEST(ReferenceVisibility, CompilerGivesTheSameBytesAsThePlainPass) {
    struct Case {
        const char* what;
        MazeOptions maze;
        levels::Shape shape;
    };
    const Case cases[] = {
        {"perfect maze: sets follow the corridors", {5, 5, 1, 0.0, 0}, levels::Shape::GRID},
        {"loops and halls, not square, turned", {9, 6, 2, 0.3, 2}, levels::Shape::TURNED},
        {"open: long sight lines, large floods, deep chains",
         {10, 10, 3, 0.6, 20},
         levels::Shape::GRID},
        {"open, turned", {7, 7, 4, 0.6, 8}, levels::Shape::TURNED},
        {"open, jittered", {3, 3, 5, 0.6, 2}, levels::Shape::JITTERED},
    };
    int32_t missedFourthStep = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto model = BuildMazeModel(GenerateMaze(c.maze), MazeLayout{});
        levels::Reshape(*model, c.shape, c.maze.seed);
        BspCompiler compiler;
        compiler.ImportPolys(LevelMeshFromModel(*model));
        compiler.BuildTree();
        compiler.BuildPortals();
        compiler.BuildGates();
        ReferencePass reference(compiler);
        reference.Flood();
        reference.Visibility();
        const std::vector<RefGate>& expected = reference.Gates();
        ASSERT_EQ(compiler.gates.size(), expected.size());

        for (const bool tables : {true, false}) {
            compiler.BuildGates();
            FloodMightSee(compiler, compiler.gates, compiler.gateSets, 1, tables);
            EXPECT_EQ(CountDifferences(compiler, expected, false), 0) << "tables " << tables;
        }
        compiler.CalcVisibility();
        EXPECT_EQ(CountDifferences(compiler, expected, true), 0);

        if (c.shape != levels::Shape::GRID) {
            compiler.BuildGates();
            compiler.FloodMightSee();
            bsppvs::CalcVisibility(compiler, compiler.gates, compiler.gateSets, {3});
            int32_t differ = 0;
            for (size_t g = 0; g < expected.size(); ++g) {
                differ += compiler.gates[g].sees == expected[g].sees ? 0 : 1;
            }
            missedFourthStep += differ;
        }
    }
    EXPECT_GT(missedFourthStep, 0) << "no level tells a recursion without its fourth clip step";
}

}  // namespace
}  // namespace bsppvs
