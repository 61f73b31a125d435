// Properties of the portals of block levels, generated mazes and a fan room: each joins
// two different leaves, no pair twice, lies on the plane of a node, and together they
// connect every leaf of a connected level. Portal building as the compiler does it (squares
// dropped once they cannot end between two leaves, merge by hash) gives exactly the
// portals of the plain one (every square through the whole tree, merge by scanning), on
// these levels and on polygon soups.

#include <gtest/gtest.h>

#include <algorithm>
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
#include "maze/fan_room.h"

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

constexpr int FAN_ROOM_WALLS = 60;
const char FAN_ROOM[] = "fan room";

// Small block levels drawn in code, the generated mazes, then the fan room; compiled once.
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
        std::vector<std::pair<std::string, std::unique_ptr<PlyModel>>> models;
        for (const auto& [what, grid] : grids) {
            models.emplace_back(what, BuildMazeModel(grid, levels::DefaultLayout()));
        }
        models.emplace_back(FAN_ROOM, BuildFanRoomModel(FAN_ROOM_WALLS));
        std::vector<CompiledLevel> out;
        for (const auto& [what, model] : models) {
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

// The fan room is one convex room with every face turned inwards: its tree is a chain of
// one node per face down to one leaf, which holds the room; beyond each wall, below the
// floor and above the ceiling lies solid space; and there is no portal.
TEST(MazePortalsTest, FanRoomIsOneLeafWithoutPortals) {
    const auto level = std::find_if(Levels().begin(), Levels().end(),
                                    [](const CompiledLevel& l) { return l.what == FAN_ROOM; });
    ASSERT_NE(level, Levels().end());
    const BspCompiler& compiler = *level->fast;
    EXPECT_EQ(compiler.nodes.size(), static_cast<size_t>(3 * FAN_ROOM_WALLS - 4));
    EXPECT_EQ(compiler.leaves.size(), 1u);
    EXPECT_TRUE(compiler.portals.empty());
    struct Probe {
        const char* where;
        Vector3 point;
        int32_t leaf;
    };
    const float mid = FAN_ROOM_HEIGHT / 2;
    const float r = FAN_ROOM_RADIUS;
    const Probe probes[] = {
        {"inside", {0.4f * r, mid, -0.4f * r}, 0},
        {"inside, near the fan corner", {1, mid, -1}, 0},
        {"below the floor", {0.4f * r, -1, -0.4f * r}, -1},
        {"above the ceiling", {0.4f * r, FAN_ROOM_HEIGHT + 1, -0.4f * r}, -1},
        {"beyond the arc", {0.75f * r, mid, -0.75f * r}, -1},
        {"beyond the wall on the x axis", {0.4f * r, mid, 1}, -1},
        {"beyond the wall on the z axis", {-1, mid, -0.4f * r}, -1},
    };
    for (const Probe& probe : probes) {
        EXPECT_EQ(compiler.LocateLeaf(probe.point, 0), probe.leaf) << probe.where;
    }
}

void ExpectSamePortals(const BspCompiler& fast, const BspCompiler& plain, const std::string& what) {
    ASSERT_EQ(fast.portals.size(), plain.portals.size()) << what;
    for (size_t i = 0; i < fast.portals.size(); ++i) {
        EXPECT_EQ(fast.portals[i].leafIndices, plain.portals[i].leafIndices)
            << what << ", portal " << i;
        EXPECT_TRUE(SameBits(fast.portals[i], plain.portals[i])) << what << ", portal " << i;
    }
}

TEST(MazePortalsTest, FastAndPlainPortalBuildingGiveSamePortals) {
    for (const CompiledLevel& level : Levels()) {
        ExpectSamePortals(*level.fast, *level.literal, level.what);
    }
    // The soups' trees are full of coplanar nodes with something behind them, where pieces
    // collect a leaf on each side: the cases in which squares are dropped early, or not.
    size_t portalCount = 0;
    for (uint32_t seed = 1; seed <= 40; ++seed) {
        BspCompiler fast;
        BspCompiler plain;
        for (BspCompiler* compiler : {&fast, &plain}) {
            for (const Winding& ring : levels::PolygonSoup(seed, 48)) {
                compiler->buildPolys.push_back(levels::MakeBuildPoly(ring));
            }
            compiler->BuildTree();
        }
        fast.BuildPortals();
        reference::BuildPortals(plain);
        ExpectSamePortals(fast, plain, "soup seed " + std::to_string(seed));
        portalCount += fast.portals.size();
    }
    EXPECT_GT(portalCount, 1000u) << "the soups should give portals to compare";
}

}  // namespace
}  // namespace bsppvs
