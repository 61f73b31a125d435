// The visibility pass over generated mazes of several sizes, seeds, loop fractions and
// opened halls: the sets keep their shape, and no sight line that touches no wall joins two
// leaves that do not list each other, whether drawn at random or aimed through a portal.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <iostream>
#include <optional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "../support/compiler_levels.h"
#include "../support/geometry_print.h"
#include "../support/pvs_levels.h"
#include "../support/sanitized.h"
#include "compile/bsp_compiler.h"
#include "verify/sight_line_check.h"
#include "verify/wall_index.h"

namespace bsppvs {
namespace {

struct MazeLevel {
    MazeOptions options;
    levels::CompiledLevel level;
};

// Compiled once for all tests of this file.
const std::vector<MazeLevel>& Mazes() {
    static const std::vector<MazeLevel> mazes = [] {
        const MazeOptions options[] = {
            {6, 6, 1, 0.0, 0},   {6, 6, 2, 0.3, 0},   {6, 6, 3, 0.6, 5},
            {10, 10, 4, 0.0, 5}, {10, 10, 5, 0.3, 0}, {10, 7, 6, 0.6, 5},
            {16, 16, 7, 0.0, 0}, {16, 16, 8, 0.3, 5}, {16, 16, 9, 0.6, 0},
        };
        std::vector<MazeLevel> out;
        for (const MazeOptions& o : options) {
            out.push_back({o, levels::CompileWithPvs(GenerateMaze(o))});
        }
        return out;
    }();
    return mazes;
}

bool Lists(const BspCompiler& compiler, int32_t from, int32_t to) {
    return compiler.leaves[from].pvs[to] != 0;
}

// Every set has one byte, 0 or 1, per leaf; every gate sees its own target and only what
// its flood reached, and belongs to its source leaf; leaves joined by a portal see each
// other.
TEST(MazePvsTest, GatesAndSetsKeepTheirShape) {
    for (const MazeLevel& maze : Mazes()) {
        SCOPED_TRACE(levels::Describe(maze.options));
        const BspCompiler& compiler = *maze.level.compiler;
        const size_t leafCount = compiler.leaves.size();
        ASSERT_EQ(compiler.gates.size(), 2 * compiler.portals.size());
        for (const BspLeaf& leaf : compiler.leaves) {
            ASSERT_EQ(leaf.pvs.size(), leafCount);
            EXPECT_TRUE(
                std::all_of(leaf.pvs.begin(), leaf.pvs.end(), [](uint8_t b) { return b <= 1; }));
        }
        for (size_t g = 0; g < compiler.gates.size(); ++g) {
            const Gate& gate = compiler.gates[g];
            EXPECT_EQ(gate.progress, GATE_DONE);
            ASSERT_EQ(gate.sees.size(), leafCount);
            ASSERT_NE(gate.targetLeaf, -1) << "gate " << g;
            EXPECT_EQ(gate.sees[gate.targetLeaf], 1) << "gate " << g;
            for (size_t x = 0; x < leafCount; ++x) {
                EXPECT_LE(gate.sees[x], gate.mightSee[x]) << "gate " << g << " leaf " << x;
            }
            const std::vector<int32_t>& exits = compiler.leaves[gate.sourceLeaf].gateIndices;
            EXPECT_EQ(std::count(exits.begin(), exits.end(), static_cast<int32_t>(g)), 1);
        }
        for (const Portal& portal : compiler.portals) {
            EXPECT_TRUE(Lists(compiler, portal.leafIndices[0], portal.leafIndices[1]));
            EXPECT_TRUE(Lists(compiler, portal.leafIndices[1], portal.leafIndices[0]));
        }
    }
}

std::string DescribeViolations(const VerifyResult& result) {
    std::string text;
    for (size_t k = 0; k < result.violations.size() && k < 5; ++k) {
        const VerifyViolation& v = result.violations[k];
        text += "leaves " + std::to_string(v.leafA) + " " + std::to_string(v.leafB) + " at (" +
                std::to_string(v.pointA.x) + "," + std::to_string(v.pointA.y) + "," +
                std::to_string(v.pointA.z) + ") (" + std::to_string(v.pointB.x) + "," +
                std::to_string(v.pointB.y) + "," + std::to_string(v.pointB.z) + ")\n";
    }
    return text;
}

TEST(MazePvsTest, RandomSightLinesJoinOnlyLeavesThatListEachOther) {
    for (const MazeLevel& maze : Mazes()) {
        SCOPED_TRACE(levels::Describe(maze.options));
        const VerifyResult result =
            VerifyPvs(*maze.level.compiler, maze.level.walls, 20000, maze.options.seed);
        EXPECT_EQ(result.pairs, 20000);
        EXPECT_GT(result.clearPairs, 0);
        EXPECT_TRUE(result.violations.empty())
            << result.violations.size() << " violations, first:\n"
            << DescribeViolations(result);
    }
}

// Deterministic draws for the aimed sight lines: raw 32-bit outputs of the Mersenne
// Twister, whose stream the C++ standard fixes, scaled by hand (the standard
// distributions may differ between libraries).
class Draws {
public:
    explicit Draws(uint32_t seed) : engine_(seed) {}
    float Unit() { return static_cast<float>(engine_() >> 8) * 0x1.0p-24f; }
    float Between(float lo, float hi) { return lo + (hi - lo) * Unit(); }

private:
    std::mt19937 engine_;
};

// A point inside the leaf, drawn in its box; nothing after a few misses.
std::optional<Vector3> PointInLeaf(const BspCompiler& compiler, int32_t leaf, Draws& draws) {
    const Bounds& box = compiler.leaves[leaf].bounds;
    for (int attempt = 0; attempt < 50; ++attempt) {
        const Vector3 p = {
            draws.Between(box.center.x - box.halfExtent.x, box.center.x + box.halfExtent.x),
            draws.Between(box.center.y - box.halfExtent.y, box.center.y + box.halfExtent.y),
            draws.Between(box.center.z - box.halfExtent.z, box.center.z + box.halfExtent.z)};
        if (compiler.LocateLeaf(p, 0) == leaf) {
            return p;
        }
    }
    return std::nullopt;
}

// A point of the polygon: a random blend of the corners of a random triangle of its fan.
Vector3 PointOnPolygon(const Poly& poly, Draws& draws) {
    const size_t triangles = poly.triangleIndices.size() / 3;
    const size_t t = std::min(triangles - 1, static_cast<size_t>(draws.Unit() * triangles));
    float u = draws.Unit();
    float v = draws.Unit();
    if (u + v > 1) {
        u = 1 - u;
        v = 1 - v;
    }
    const Vector3 a = poly.points[poly.triangleIndices[3 * t]];
    const Vector3 b = poly.points[poly.triangleIndices[3 * t + 1]];
    const Vector3 c = poly.points[poly.triangleIndices[3 * t + 2]];
    return Add(a, Add(Scale(Subtract(b, a), u), Scale(Subtract(c, a), v)));
}

// From points in a portal's leaf, lines aimed through a point of the portal and followed
// to the first wall: every leaf they pass is in the first leaf's set, and the other way.
TEST(MazePvsTest, SightLinesThroughEveryPortalReachOnlyListedLeaves) {
    constexpr int LINES_PER_SIDE = 6;
    constexpr int POINTS_PER_LINE = 4;
    for (const MazeLevel& maze : Mazes()) {
        SCOPED_TRACE(levels::Describe(maze.options));
        const BspCompiler& compiler = *maze.level.compiler;
        WallIndex walls(maze.level.walls);
        const float reach = 2 * std::max(Subtract(walls.Max(), walls.Min()).x,
                                         Subtract(walls.Max(), walls.Min()).z);
        Draws draws(static_cast<uint32_t>(maze.options.seed));
        int64_t checked = 0;
        for (const Portal& portal : compiler.portals) {
            for (const int32_t from : portal.leafIndices) {
                for (int line = 0; line < LINES_PER_SIDE; ++line) {
                    const std::optional<Vector3> start = PointInLeaf(compiler, from, draws);
                    if (!start) {
                        continue;
                    }
                    const Vector3 aim = PointOnPolygon(portal, draws);
                    Vector3 dir = Subtract(aim, *start);
                    Normalize(dir);
                    const Vector3 end = Add(*start, Scale(dir, reach));
                    const double stop = walls.FirstTouch(*start, end).value_or(1.0);
                    for (int k = 1; k <= POINTS_PER_LINE; ++k) {
                        const Vector3 p = Add(
                            *start, Scale(dir, reach * float(stop) * k / (POINTS_PER_LINE + 1)));
                        const int32_t leaf = compiler.LocateLeaf(p, 0);
                        if (leaf < 0 || leaf == from || !walls.IsClear(*start, p)) {
                            continue;
                        }
                        ++checked;
                        EXPECT_TRUE(Lists(compiler, from, leaf) && Lists(compiler, leaf, from))
                            << "leaves " << from << " and " << leaf << ", points (" << start->x
                            << "," << start->y << "," << start->z << ") (" << p.x << "," << p.y
                            << "," << p.z << ")";
                    }
                }
            }
        }
        EXPECT_GT(checked, static_cast<int64_t>(compiler.portals.size()));
    }
}

// The two ways to trade tightness for time: leaves grouped into clusters share one set, and
// a gate whose chains run out of budget sees what the chains cut short might still show.
// Each alone and both together, every set only grows, stays sound against random clear
// sight lines and is the same on any thread count (a gate's budget runs out at the same
// chain however the gates are shared out); also on a maze turned about a slanted axis, whose
// regions and hulls are cut at every angle. A budget that runs out still leaves the sets far
// tighter than the flood's.
// Clusters and the chain limit trade tightness for time and only add to the sets; dropping
// unreachable leaves only takes away what no sight line needs. All keep every clear sight
// line and give the same bytes on any thread count. Sets cut short by the budget disagree;
// kept only where both sides agree, they still hold every pair both exact sets hold.
TEST(MazePvsTest, ShortcutsKeepTheSetsSound) {
    struct Trade {
        // Cells are 100 across, but a node's region runs on to the planes above it: regions
        // of a few cells fit in 800.
        float clusterSize;
        // Small enough that many gates of every maze give up.
        int64_t maxChains;
        bool dropUnreachable;
        // With the default size (below 0): few enough that the size must grow.
        size_t maxOpenings = MAX_DEFAULT_CLUSTER_OPENINGS;
        // With the default size: enough that the leaves need no clusters at all.
        size_t maxUnclustered = 0;
    };
    const Trade trades[] = {
        {800.0f, 0, false},
        {0.0f, 20, false},
        {800.0f, 20, false},
        {0.0f, 0, true},
        {800.0f, 0, true},
        {-1.0f, 0, false, 40},
        {-1.0f, 0, false, 40, SIZE_MAX},
    };
    const auto compile = [](const PlyModel& model, Trade trade, int32_t threads) {
        return levels::CompileWithPvs(model, [&](BspCompiler& compiler) {
            compiler.clusterSize = trade.clusterSize;
            compiler.maxClusterOpenings = trade.maxOpenings;
            compiler.maxUnclusteredOpenings = trade.maxUnclustered;
            compiler.maxChains = trade.maxChains;
            compiler.dropUnreachable = trade.dropUnreachable;
            compiler.threads = threads;
        });
    };
    std::vector<std::pair<std::string, std::unique_ptr<PlyModel>>> models;
    for (const MazeLevel& maze : Mazes()) {
        models.emplace_back(levels::Describe(maze.options),
                            BuildMazeModel(GenerateMaze(maze.options), MazeLayout{}));
    }
    const MazeOptions turned{8, 8, 3, 0.4, 3};
    models.emplace_back("turned", BuildMazeModel(GenerateMaze(turned), MazeLayout{}));
    levels::Reshape(*models.back().second, levels::Shape::TURNED, turned.seed);
    size_t leaves = 0;
    size_t clusters = 0;
    int64_t grownByLimit = 0;  // set entries the chain limit alone added
    int64_t grownByFlood = 0;  // and those the flood adds to the exact sets
    for (const auto& [name, model] : models) {
        const levels::CompiledLevel plain = levels::CompileWithPvs(*model);
        const BspCompiler& a = *plain.compiler;
        const levels::CompiledLevel flood = levels::CompileWithPvs(
            *model, [](BspCompiler& compiler) { compiler.floodOnly = true; });
        for (size_t i = 0; i < a.leaves.size(); ++i) {
            for (size_t j = 0; j < a.leaves.size(); ++j) {
                grownByFlood += flood.compiler->leaves[i].pvs[j] - a.leaves[i].pvs[j];
            }
        }
        for (const Trade trade : trades) {
            SCOPED_TRACE(name + " cluster size " + std::to_string(trade.clusterSize) +
                         " max chains " + std::to_string(trade.maxChains) + " drop " +
                         std::to_string(trade.dropUnreachable));
            const levels::CompiledLevel traded = compile(*model, trade, 1);
            BspCompiler& b = *traded.compiler;
            ASSERT_EQ(a.leaves.size(), b.leaves.size());
            if (trade.clusterSize > 0.0f && trade.maxChains == 0 && !trade.dropUnreachable) {
                leaves += b.leaves.size();
                clusters += b.clusters.Count();
            }
            if (trade.clusterSize < 0.0f && trade.maxUnclustered == 0) {
                EXPECT_GT(b.clusterSizeUsed, CLUSTER_SIZE_PER_MEDIAN_LEAF * MedianLeafSize(b))
                    << "the openings bound grows the default size";
                EXPECT_LE(b.clusterGraph.gates.size(), trade.maxOpenings);
            } else if (trade.clusterSize < 0.0f) {
                EXPECT_EQ(b.clusters.Count(), 0u) << "few enough openings need no clusters";
            }
            int64_t grown = 0;
            for (size_t i = 0; i < a.leaves.size(); ++i) {
                for (size_t j = 0;
                     j < a.leaves.size() && trade.clusterSize == 0.0f && trade.dropUnreachable;
                     ++j) {
                    ASSERT_GE(a.leaves[i].pvs[j], b.leaves[i].pvs[j]) << i << " gained " << j;
                }
                for (size_t j = 0; j < a.leaves.size() && !trade.dropUnreachable; ++j) {
                    ASSERT_LE(a.leaves[i].pvs[j], b.leaves[i].pvs[j]) << i << " lost " << j;
                    grown += b.leaves[i].pvs[j] - a.leaves[i].pvs[j];
                }
                if (b.clusters.Count() == 0) {
                    continue;
                }
                for (const int32_t mate : b.clusters.members[b.clusters.clusterOf[i]]) {
                    ASSERT_EQ(b.leaves[i].pvs[mate], 1) << "leaf " << i << " and its cluster";
                }
            }
            if (trade.clusterSize == 0.0f) {
                grownByLimit += grown;
            }
            if (trade.maxUnclustered != 0) {
                EXPECT_EQ(grown, 0) << "without clusters the sets are the leaves' own";
            }
            const int64_t segments = levels::SANITIZED ? 5000 : 20000;
            const VerifyResult result = VerifyPvs(b, traded.walls, segments, 1);
            EXPECT_TRUE(result.violations.empty()) << DescribeViolations(result);
            const levels::CompiledLevel threaded = compile(*model, trade, 2);
            for (size_t i = 0; i < a.leaves.size(); ++i) {
                ASSERT_TRUE(std::equal(b.leaves[i].pvs.begin(), b.leaves[i].pvs.end(),
                                       threaded.compiler->leaves[i].pvs.begin()));
            }
            if (trade.clusterSize != 0.0f || trade.maxChains == 0) {
                continue;
            }
            MakeSetsMutual(b);
            for (size_t i = 0; i < a.leaves.size(); ++i) {
                for (size_t j = 0; j < a.leaves.size(); ++j) {
                    ASSERT_LE(a.leaves[i].pvs[j] & a.leaves[j].pvs[i], b.leaves[i].pvs[j])
                        << "mutual sets: " << i << " lost " << j;
                    ASSERT_EQ(b.leaves[i].pvs[j], b.leaves[j].pvs[i])
                        << "mutual sets: " << i << " and " << j << " disagree";
                }
            }
            const VerifyResult mutual = VerifyPvs(b, traded.walls, segments, 1);
            EXPECT_TRUE(mutual.violations.empty()) << DescribeViolations(mutual);
        }
    }
    EXPECT_LT(2 * clusters, leaves) << "most leaves share a cluster";
    EXPECT_GT(grownByLimit, 0) << "some gates ran out of chains";
    EXPECT_LT(5 * grownByLimit, grownByFlood) << "the chains cut short show little";
}

// Nothing in the pass makes the sets symmetric (each direction is computed from its own
// gates), so this only reports how often they differ.
TEST(MazePvsTest, ReportsHowOftenTheSetsAreNotSymmetric) {
    for (const MazeLevel& maze : Mazes()) {
        const BspCompiler& compiler = *maze.level.compiler;
        int64_t visible = 0;
        int64_t oneWay = 0;
        for (size_t i = 0; i < compiler.leaves.size(); ++i) {
            for (size_t j = i + 1; j < compiler.leaves.size(); ++j) {
                const bool ij = compiler.leaves[i].pvs[j] != 0;
                const bool ji = compiler.leaves[j].pvs[i] != 0;
                visible += (ij || ji) ? 1 : 0;
                oneWay += ij != ji ? 1 : 0;
            }
        }
        std::cout << levels::Describe(maze.options) << ": " << oneWay << " of " << visible
                  << " visible leaf pairs are listed one way only\n";
    }
}

}  // namespace
}  // namespace bsppvs
