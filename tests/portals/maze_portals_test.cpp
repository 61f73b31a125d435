// Properties of the portals of block levels and generated mazes: each joins two different
// leaves, no pair twice, lies on the plane of a node, and together they connect every
// leaf of a connected level; the fast merge gives exactly the portals of the literal scan.

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <numeric>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "../support/compiler_levels.h"
#include "../support/geometry_print.h"
#include "compile/bsp_compiler.h"

namespace bsppvs {
namespace {

using levels::SameBits;

struct CompiledLevel {
    std::string what;
    std::unique_ptr<BspCompiler> fast;
    std::unique_ptr<BspCompiler> literal;
};

std::unique_ptr<BspCompiler> CompileWithPortals(const PlyModel& model, bool literal) {
    auto compiler = levels::CompileTree(model, literal);
    if (literal) {
        reference::BuildPortals(*compiler);
    } else {
        compiler->BuildPortals();
    }
    return compiler;
}

// Small block levels drawn in code, then the generated mazes; compiled once.
const std::vector<CompiledLevel>& Levels() {
    static const std::vector<CompiledLevel> compiled = [] {
        std::vector<std::pair<std::string, MazeGrid>> grids = {
            {"corridor", levels::GridFromPicture(levels::CORRIDOR)},
            {"L-bend", levels::GridFromPicture(levels::L_BEND)},
            {"two rooms and a door", levels::GridFromPicture(levels::TWO_ROOMS_AND_A_DOOR)},
            {"ring round a pillar", levels::GridFromPicture(levels::RING_ROUND_A_PILLAR)},
        };
        for (const MazeOptions& options : levels::PropertyMazes()) {
            grids.emplace_back(levels::Describe(options), GenerateMaze(options));
        }
        std::vector<CompiledLevel> out;
        for (const auto& [what, grid] : grids) {
            const auto model = BuildMazeModel(grid, levels::DefaultLayout());
            out.push_back(
                {what, CompileWithPortals(*model, false), CompileWithPortals(*model, true)});
        }
        return out;
    }();
    return compiled;
}

// The first node on whose plane every point of the portal lies, or -1.
int32_t NodeHoldingPortal(const BspCompiler& compiler, const Portal& portal) {
    for (size_t k = 0; k < compiler.nodes.size(); ++k) {
        const Plane& plane = compiler.nodes[k].plane;
        bool onPlane = true;
        for (const Vector3& p : portal.points) {
            onPlane = onPlane && std::fabs(plane.SignedDistance(p)) <= 0.01f;
        }
        if (onPlane) {
            return static_cast<int32_t>(k);
        }
    }
    return -1;
}

TEST(MazePortalsTest, PortalsJoinTwoLeavesOnANodePlane) {
    for (const CompiledLevel& level : Levels()) {
        const BspCompiler& compiler = *level.fast;
        const auto leafCount = static_cast<int32_t>(compiler.leaves.size());
        std::set<std::pair<int32_t, int32_t>> pairs;
        for (size_t i = 0; i < compiler.portals.size(); ++i) {
            Portal portal = compiler.portals[i];
            const std::string where = level.what + ", portal " + std::to_string(i);
            ASSERT_EQ(portal.leafIndices.size(), 2u) << where;
            const int32_t p = portal.leafIndices[0];
            const int32_t q = portal.leafIndices[1];
            EXPECT_NE(p, q) << where;
            EXPECT_TRUE(p >= 0 && p < leafCount && q >= 0 && q < leafCount) << where;
            EXPECT_TRUE(pairs.insert({std::min(p, q), std::max(p, q)}).second)
                << where << " joins a pair already joined";
            EXPECT_GE(portal.points.size(), 3u) << where;
            EXPECT_EQ(portal.usedAsSplitter, 0) << where;

            const int32_t k = NodeHoldingPortal(compiler, portal);
            ASSERT_NE(k, -1) << where << " lies on no node plane";
            // It faces the way of a node on whose plane it lies (with coplanar nodes
            // facing both ways, the first found may face either way).
            const Vector3 normal = portal.GetPlane().Normal();
            EXPECT_NEAR(
                std::fabs(Dot(normal, compiler.nodes[static_cast<size_t>(k)].plane.Normal())), 1.0f,
                1e-4f)
                << where;
        }
    }
}

// Every leaf of a connected level can be reached from every other through portals.
TEST(MazePortalsTest, PortalsConnectAllLeaves) {
    for (const CompiledLevel& level : Levels()) {
        const BspCompiler& compiler = *level.fast;
        std::vector<int32_t> parent(compiler.leaves.size());
        std::iota(parent.begin(), parent.end(), 0);
        auto root = [&](int32_t x) {
            while (parent[static_cast<size_t>(x)] != x) {
                x = parent[static_cast<size_t>(x)];
            }
            return x;
        };
        for (const Portal& portal : compiler.portals) {
            parent[static_cast<size_t>(root(portal.leafIndices[0]))] = root(portal.leafIndices[1]);
        }
        std::set<int32_t> components;
        for (size_t i = 0; i < parent.size(); ++i) {
            components.insert(root(static_cast<int32_t>(i)));
        }
        EXPECT_EQ(components.size(), 1u)
            << level.what << ": leaves fall apart into " << components.size() << " groups";
    }
}

// A portal is an opening between its two leaves: half a unit off the middle of it, on
// either side, lie exactly those two leaves.
TEST(MazePortalsTest, PortalsOpenIntoTheirLeaves) {
    for (const CompiledLevel& level : Levels()) {
        const BspCompiler& compiler = *level.fast;
        for (size_t i = 0; i < compiler.portals.size(); ++i) {
            Portal portal = compiler.portals[i];
            Vector3 middle = ORIGIN;
            for (const Vector3& p : portal.points) {
                middle = Add(middle, p);
            }
            middle = Scale(middle, 1.0f / static_cast<float>(portal.points.size()));
            const Vector3 step = Scale(portal.GetPlane().Normal(), 0.5f);
            const std::set<int32_t> reached = {compiler.LocateLeaf(Add(middle, step), 0),
                                               compiler.LocateLeaf(Subtract(middle, step), 0)};
            const std::set<int32_t> joined(portal.leafIndices.begin(), portal.leafIndices.end());
            EXPECT_EQ(reached, joined) << level.what << ", portal " << i;
        }
    }
}

TEST(MazePortalsTest, FastAndLiteralMergeGiveSamePortals) {
    for (const CompiledLevel& level : Levels()) {
        const BspCompiler& fast = *level.fast;
        const BspCompiler& literal = *level.literal;
        ASSERT_EQ(fast.portals.size(), literal.portals.size()) << level.what;
        for (size_t i = 0; i < fast.portals.size(); ++i) {
            EXPECT_EQ(fast.portals[i].leafIndices, literal.portals[i].leafIndices)
                << level.what << ", portal " << i;
            EXPECT_TRUE(SameBits(fast.portals[i], literal.portals[i]))
                << level.what << ", portal " << i;
        }
    }
}

}  // namespace
}  // namespace bsppvs
