// Point location: inside a closed cell, at the tolerance around its walls, through the
// front-first fall-back of points lying on a plane (on hand-built trees), and at world
// points of small block levels.

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "../support/compiler_levels.h"
#include "../support/geometry_print.h"
#include "compile/bsp_compiler.h"

namespace bsppvs {
namespace {

using levels::CellPoint;
using levels::CompileTree;
using levels::GridFromPicture;
using levels::MakeNode;

struct LocateCase {
    const char* what;
    Vector3 point;
    int32_t expected;
};

// One open cell: x and z in [-50, 50], y in [0, 100], six walls facing in.
TEST(LocateLeafTest, ClosedBox) {
    const auto compiler = CompileTree(GridFromPicture({"###", "#.#", "###"}));
    ASSERT_EQ(compiler->leaves.size(), 1u);
    const LocateCase cases[] = {
        {"centre", {0, 50, 0}, 0},
        {"near a corner", {49.9f, 0.1f, -49.9f}, 0},
        {"on the floor", {10, 0, 10}, 0},
        {"on the +x wall", {50, 50, 0}, 0},
        {"on a corner", {-50, 100, 50}, 0},
        {"0.0005 below the floor", {0, -0.0005f, 0}, 0},
        {"0.0005 beyond the -z wall", {0, 50, -50.0005f}, 0},
        {"0.002 below the floor", {0, -0.002f, 0}, -1},
        {"0.002 above the ceiling", {0, 100.002f, 0}, -1},
        {"0.002 beyond the +x wall", {50.002f, 50, 0}, -1},
        {"0.002 beyond the -x wall", {-50.002f, 50, 0}, -1},
        {"0.002 beyond the +z wall", {0, 50, 50.002f}, -1},
        {"0.002 beyond the -z wall", {0, 50, -50.002f}, -1},
        {"far away", {1000, 50, 1000}, -1},
    };
    for (const LocateCase& c : cases) {
        EXPECT_EQ(compiler->LocateLeaf(c.point, 0), c.expected) << c.what;
    }
}

// Node 0 (z = 0, facing +z): front is node 1, back is node 2.
// Node 1 (z = 1, facing +z): front is leaf 0, solid behind: the slab 0 < z < 1 is solid.
// Node 2 (z = 1, facing -z): front is leaf 1, solid behind.
// A point within 0.001 of node 0's plane tries the front subtree, finds solid space there
// and falls back to the back subtree.
TEST(LocateLeafTest, OnPlaneTriesFrontThenBack) {
    BspCompiler compiler;
    compiler.nodes = {MakeNode(Plane(0, 0, 1, 0), 1, 0, 2), MakeNode(Plane(0, 0, 1, 1), 0, 1, -1),
                      MakeNode(Plane(0, 0, -1, -1), 1, 1, -1)};
    const LocateCase cases[] = {
        {"above both planes", {0, 0, 5}, 0},
        {"in the solid slab", {0, 0, 0.5f}, -1},
        {"0.0005 in front of node 0", {0, 0, 0.0005f}, 1},
        {"on node 0", {0, 0, 0}, 1},
        {"0.001 in front of node 0", {0, 0, 0.001f}, 1},
        {"0.0011 in front of node 0", {0, 0, 0.0011f}, -1},
        {"below node 0", {0, 0, -3}, 1},
        {"on node 1, front is a leaf", {7, -7, 1}, 0},
    };
    for (const LocateCase& c : cases) {
        EXPECT_EQ(compiler.LocateLeaf(c.point, 0), c.expected) << c.what;
    }
    // A point 0.002 behind a root without a back child is solid at once.
    compiler.nodes = {MakeNode(Plane(1, 0, 0, 0), 0, 1, -1)};
    EXPECT_EQ(compiler.LocateLeaf({-0.002f, 0, 0}, 0), -1);
    EXPECT_EQ(compiler.LocateLeaf({0, 0, 0}, 0), 0);
}

// Two planes through the origin. The fall-backs are taken innermost first: the origin
// lies on both, so after the dead front end of node 1 it tries node 1's back subtree,
// and only when that is solid too, node 0's.
TEST(LocateLeafTest, NestedFallBacksInnermostFirst) {
    const Plane dead(0, 1, 0, 5);  // y = 5: the origin is well behind it
    for (const bool innerBackIsSolid : {false, true}) {
        BspCompiler compiler;
        compiler.nodes = {
            MakeNode(Plane(0, 0, 1, 0), 1, 0, 3),      // node 0: z = 0
            MakeNode(Plane(1, 0, 0, 0), 2, 0, 4),      // node 1: x = 0
            MakeNode(dead, 0, 1, -1),                  // node 2: dead end for the origin
            MakeNode(Plane(0, -1, 0, -10), 1, 1, -1),  // node 3: leaf 1
            innerBackIsSolid ? MakeNode(dead, 0, 1, -1)
                             : MakeNode(Plane(0, -1, 0, -10), 2, 1, -1),  // node 4: leaf 2
        };
        EXPECT_EQ(compiler.LocateLeaf({0, 0, 0}, 0), innerBackIsSolid ? 1 : 2);
        // Starting lower in the tree walks only that subtree.
        EXPECT_EQ(compiler.LocateLeaf({0, 0, 0}, 1), innerBackIsSolid ? -1 : 2);
    }
}

// The small block levels (sketched where they are defined). Every open cell's centre at
// half height lies in some leaf and every solid cell's in solid space.
// Leaves are convex and hold no solid, so cells that no straight line joins through open
// space lie in different leaves.
TEST(LocateLeafTest, SmallBlockLevels) {
    struct LevelCase {
        const char* what;
        std::vector<std::string> picture;
        // Pairs of cells whose connecting segment crosses solid space.
        std::vector<std::array<int, 4>> apart;
    };
    const LevelCase levels[] = {
        {"corridor", levels::CORRIDOR, {}},
        {"L-bend", levels::L_BEND, {{1, 1, 3, 3}}},
        {"two rooms and a door",
         levels::TWO_ROOMS_AND_A_DOOR,
         {{1, 1, 7, 1}, {1, 3, 7, 3}, {3, 1, 5, 1}, {1, 1, 5, 3}}},
        {"ring round a pillar", levels::RING_ROUND_A_PILLAR, {{1, 2, 3, 2}, {2, 1, 2, 3}}},
    };
    for (const LevelCase& level : levels) {
        const MazeGrid grid = GridFromPicture(level.picture);
        for (const bool literal : {false, true}) {
            const auto compiler = CompileTree(grid, literal);
            for (int j = 0; j < grid.rows; ++j) {
                for (int i = 0; i < grid.columns; ++i) {
                    const int32_t leaf = compiler->LocateLeaf(CellPoint(i, j), 0);
                    if (grid.IsOpen(i, j)) {
                        EXPECT_GE(leaf, 0) << level.what << " cell " << i << "," << j;
                    } else {
                        EXPECT_EQ(leaf, -1) << level.what << " cell " << i << "," << j;
                    }
                }
            }
            for (const auto& [i0, j0, i1, j1] : level.apart) {
                EXPECT_NE(compiler->LocateLeaf(CellPoint(i0, j0), 0),
                          compiler->LocateLeaf(CellPoint(i1, j1), 0))
                    << level.what << ": cells " << i0 << "," << j0 << " and " << i1 << "," << j1;
            }
        }
    }
}

}  // namespace
}  // namespace bsppvs
