// Tree construction on hand-made polygon lists small enough to know the whole tree: which
// polygon splits each node, how nodes chain, which leaves hold which polygons in which
// order, and what is dropped. Every case runs with the fast and the literal splitter
// search, which must agree.

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "../support/compiler_levels.h"
#include "../support/geometry_print.h"
#include "bsp/leaf_cells.h"
#include "compile/bsp_compiler.h"
#include "formats/native_mesh.h"

namespace bsppvs {
namespace {

using levels::MakeBuildPoly;

// A unit square in the plane z = height, facing +z or -z.
Winding SquareAt(float height, bool facingUp) {
    if (facingUp) {
        return {{0, 0, height}, {1, 0, height}, {1, 1, height}, {0, 1, height}};
    }
    return {{0, 0, height}, {0, 1, height}, {1, 1, height}, {1, 0, height}};
}

struct ExpectedNode {
    Plane plane;
    int32_t front;
    int32_t frontIsLeaf;
    int32_t back;
};

void ExpectNodes(const BspCompiler& compiler, const std::vector<ExpectedNode>& expected) {
    ASSERT_EQ(compiler.nodes.size(), expected.size());
    for (size_t k = 0; k < expected.size(); ++k) {
        const BspNode& node = compiler.nodes[k];
        EXPECT_EQ(node.plane, expected[k].plane) << "node " << k;
        EXPECT_EQ(node.front, expected[k].front) << "node " << k;
        EXPECT_EQ(node.frontIsLeaf, expected[k].frontIsLeaf) << "node " << k;
        EXPECT_EQ(node.back, expected[k].back) << "node " << k;
    }
}

// The leaves' polygon ranges, and the rings of polys in order.
void ExpectLeaves(const BspCompiler& compiler, const std::vector<std::pair<int, int>>& ranges,
                  const std::vector<Winding>& rings) {
    ASSERT_EQ(compiler.leaves.size(), ranges.size());
    for (size_t i = 0; i < ranges.size(); ++i) {
        EXPECT_EQ(compiler.leaves[i].firstPoly, ranges[i].first) << "leaf " << i;
        EXPECT_EQ(compiler.leaves[i].endPoly, ranges[i].second) << "leaf " << i;
    }
    ASSERT_EQ(compiler.polys.size(), rings.size());
    for (size_t i = 0; i < rings.size(); ++i) {
        EXPECT_EQ(compiler.polys[i].points, rings[i]) << "poly " << i;
    }
    EXPECT_TRUE(compiler.buildPolys.empty());
}

class TreeTest : public ::testing::TestWithParam<bool> {
protected:
    // Builds the tree of the rings, imported in the given order.
    void Build(const std::vector<Winding>& rings) {
        for (const Winding& ring : rings) {
            compiler_.buildPolys.push_back(MakeBuildPoly(ring));
        }
        TreeBuilder builder(compiler_, 1, reference::Counter(GetParam()));
        EXPECT_TRUE(builder.BuildTree(compiler_.buildPolys));
    }

    BspCompiler compiler_;
};

TEST_P(TreeTest, EmptyListGivesEmptyTree) {
    Build({});
    EXPECT_TRUE(compiler_.nodes.empty());
    EXPECT_TRUE(compiler_.leaves.empty());
    EXPECT_TRUE(compiler_.polys.empty());
    EXPECT_EQ(compiler_.LocateLeaf({0, 0, 0}, 0), -1);
}

TEST_P(TreeTest, OnePolygon) {
    const Winding tilted = {{0, 0, 0}, {2, 0, 1}, {2, 3, 1}, {0, 3, 0}};
    Build({tilted});
    Poly reference;
    reference.SetPoints(tilted);
    ExpectNodes(compiler_, {{reference.GetPlane(), 0, 1, -1}});
    ExpectLeaves(compiler_, {{0, 1}}, {tilted});
    const Bounds box{{1, 1.5f, 0.5f}, {1, 1.5f, 0.5f}};
    EXPECT_EQ(compiler_.nodes[0].bounds, box);
    EXPECT_EQ(compiler_.leaves[0].bounds, box);
}

// Each in front of the other: both score 1, so the first splits node 0; the second is
// then the only unused polygon and splits node 1, whose front list holds both.
TEST_P(TreeTest, TwoFacingPolygons) {
    const Winding floor = SquareAt(0, true);
    const Winding ceiling = SquareAt(10, false);
    Build({floor, ceiling});
    ExpectNodes(compiler_, {{Plane(0, 0, 1, 0), 1, 0, -1}, {Plane(0, 0, -1, -10), 0, 1, -1}});
    ExpectLeaves(compiler_, {{0, 2}}, {ceiling, floor});
    const Bounds box{{0.5f, 0.5f, 5}, {0.5f, 0.5f, 5}};
    EXPECT_EQ(compiler_.nodes[0].bounds, box);
    EXPECT_EQ(compiler_.nodes[1].bounds, box);
    EXPECT_EQ(compiler_.leaves[0].bounds, box);
}

// The six inward walls of one closed cell: every candidate scores 5 at every level, so
// the walls split nodes 0 to 5 in import order, chained through front, and the one leaf
// holds them last splitter first.
TEST_P(TreeTest, ClosedBoxChainsSixNodes) {
    const auto model =
        BuildMazeModel(levels::GridFromPicture({"###", "#.#", "###"}), levels::DefaultLayout());
    BspCompiler imported;
    imported.ImportPolys(LevelMeshFromModel(*model));
    std::vector<Winding> walls;
    std::vector<ExpectedNode> chain;
    for (BuildPoly& wall : imported.buildPolys) {
        walls.push_back(wall.points);
        chain.push_back({wall.GetPlane(), static_cast<int32_t>(chain.size()) + 1, 0, -1});
    }
    ASSERT_EQ(walls.size(), 6u);
    chain.back().front = 0;
    chain.back().frontIsLeaf = 1;

    Build(walls);
    ExpectNodes(compiler_, chain);
    ExpectLeaves(compiler_, {{0, 6}}, std::vector<Winding>(walls.rbegin(), walls.rend()));
    const Bounds box{{0, 50, 0}, {50, 50, 50}};
    EXPECT_EQ(compiler_.leaves[0].bounds, box);
    for (const BspNode& node : compiler_.nodes) {
        EXPECT_EQ(node.bounds, box);
    }
}

// Two coplanar polygons facing opposite ways: each lands in the other's back list.
TEST_P(TreeTest, TwoSidedWall) {
    const Winding up = SquareAt(0, true);
    const Winding down = SquareAt(0, false);
    Build({up, down});
    ExpectNodes(compiler_, {{Plane(0, 0, 1, 0), 0, 1, 1}, {Plane(0, 0, -1, 0), 1, 1, -1}});
    ExpectLeaves(compiler_, {{0, 1}, {1, 2}}, {up, down});
}

// Behind the upper floor lies only the lower one, which has already split node 0: that
// back list is solid space, dropped with its polygon. The node's box still holds it; the
// leaf's box does not.
TEST_P(TreeTest, BackListOfUsedSplittersIsDropped) {
    const Winding lower = SquareAt(0, true);
    const Winding upper = SquareAt(10, true);
    Build({lower, upper});
    ExpectNodes(compiler_, {{Plane(0, 0, 1, 0), 1, 0, -1}, {Plane(0, 0, 1, 10), 0, 1, -1}});
    ExpectLeaves(compiler_, {{0, 1}}, {upper});
    EXPECT_EQ(compiler_.nodes[1].bounds, (Bounds{{0.5f, 0.5f, 5}, {0.5f, 0.5f, 5}}));
    EXPECT_EQ(compiler_.leaves[0].bounds, (Bounds{{0.5f, 0.5f, 10}, {0.5f, 0.5f, 0}}));
}

// A floor triangle reaching across a wall's plane. The wall would cut it (score 8), the
// floor cuts nothing (score 1), so the floor splits node 0 although it comes second. At
// node 1 the wall cuts the floor with tolerance 0.01: the corner 0.005 in front of it is
// on the plane and goes to both pieces unchanged. Both pieces inherit the floor's used
// flag, so the back piece, alone behind the wall, is dropped.
TEST_P(TreeTest, SpanningPolygonIsSplitAndPiecesInheritUse) {
    const Winding wall = {{0, 0, -2}, {0, 1, -2}, {0, 1, 2}, {0, 0, 2}};
    const Winding floor = {{-1, 0, 0}, {0.005f, 0, 1}, {1, 0, -1}};
    Build({wall, floor});
    ExpectNodes(compiler_, {{Plane(0, 1, 0, 0), 1, 0, -1}, {Plane(1, 0, 0, 0), 0, 1, -1}});
    ExpectLeaves(compiler_, {{0, 2}}, {wall, {{0.005f, 0, 1}, {1, 0, -1}, {0, 0, -0.5f}}});
    // The dropped back piece reached node 1: its corner at x = -1 is in the node's box.
    const Bounds& box = compiler_.nodes[1].bounds;
    EXPECT_EQ(box.center.x - box.halfExtent.x, -1.0f);
    EXPECT_EQ(compiler_.leaves[0].bounds.center.x - compiler_.leaves[0].bounds.halfExtent.x, 0.0f);
}

INSTANTIATE_TEST_SUITE_P(SplitterSearch, TreeTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? "Literal" : "Fast";
                         });

// A floor of height y over x0..x1, facing up (+y).
Winding FloorAt(float y, float x0, float x1) {
    return {{x0, y, 0}, {x0, y, 1}, {x1, y, 1}, {x1, y, 0}};
}

class ChooseSplitterTest : public ::testing::TestWithParam<bool> {};

// Eight polygons; only C, B and A can be chosen (the others have split nodes above).
// C, a wall at x = 0, has 3 in front, 3 behind and cuts the bottom floor B: score 8.
// B, the bottom floor, has all 7 in front: score 7. A, a floor at y = 0, has 4 in front
// and 3 behind: score 1. The lowest score wins whatever its place in the list.
TEST_P(ChooseSplitterTest, LowestScoreWins) {
    const Winding c = {{0, 1, 0}, {0, 2, 0}, {0, 2, 1}, {0, 1, 1}};
    const Winding b = FloorAt(-10, -1, 1);
    const Winding a = FloorAt(0, 1, 2);
    const std::vector<Winding> usedOthers = {FloorAt(-5, 2, 3), FloorAt(-4, -3, -2),
                                             FloorAt(3, 2, 3), FloorAt(4, -3, -2),
                                             FloorAt(5, -3, -2)};
    EXPECT_EQ(TreeBuilder::SplitterScore(4, 3, 0), 1);
    EXPECT_EQ(TreeBuilder::SplitterScore(7, 0, 0), 7);
    EXPECT_EQ(TreeBuilder::SplitterScore(3, 3, 1), 8);
    EXPECT_EQ(TreeBuilder::SplitterScore(0, 7, 0), 7);

    // With A used as well (still counted, no longer a candidate), B's 7 beats C's 8; with
    // B used too, C is the only candidate left.
    const struct {
        int usedMask;  // bit 0: C, bit 1: B, bit 2: A
        Winding expected;
    } steps[] = {{0, a}, {4, b}, {6, c}};
    for (const auto& step : steps) {
        BspTree tree;
        TreeBuilder builder(tree, 1, reference::Counter(GetParam()));
        BuildPolyList list;
        list.push_back(MakeBuildPoly(c, step.usedMask & 1));
        list.push_back(MakeBuildPoly(b, (step.usedMask >> 1) & 1));
        list.push_back(MakeBuildPoly(a, (step.usedMask >> 2) & 1));
        for (const Winding& other : usedOthers) {
            list.push_back(MakeBuildPoly(other, 1));
        }
        BuildPoly chosen = builder.ChooseSplitter(list);
        EXPECT_EQ(chosen.points, step.expected) << "used mask " << step.usedMask;
        EXPECT_EQ(chosen.usedAsSplitter, 1);
        EXPECT_EQ(chosen.planeValid, 1) << "the splitter keeps its computed plane";
        EXPECT_EQ(list.size(), 7u) << "the splitter is unlinked from the list";
        for (const BuildPoly& rest : list) {
            EXPECT_NE(rest.points, step.expected);
        }
    }
    EXPECT_TRUE(TreeBuilder::AllUsedAsSplitters(BuildPolyList{}));
}

INSTANTIATE_TEST_SUITE_P(SplitterSearch, ChooseSplitterTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? "Literal" : "Fast";
                         });

}  // namespace
}  // namespace bsppvs

namespace bsppvs {
namespace {

// A corner of space cut off by a slanted plane whose float normal is a rounding longer than
// unit length, then by the same plane turned round (two faces of one wall, back to back):
// the region between keeps its four faces and its volume. When the cut's new face stood
// off its plane by that rounding times the plane's distance, the second cut took it away,
// and the region, left with three faces, was taken for a slice without volume.
TEST(LeafCellsTest, ARegionCutTwiceByOnePlaneKeepsItsVolume) {
    const Plane wall(0x1.e2b7ep-3f, 0x1.e2b7ep-1f, 0x1.e2b7ep-3f, 0x1.a660e4p+8f);
    BspTree tree;
    using levels::MakeNode;
    tree.nodes = {MakeNode(Plane(1, 0, 0, 0), 1, 0, -1), MakeNode(Plane(0, 1, 0, 0), 2, 0, -1),
                  MakeNode(Plane(0, 0, 1, 0), 3, 0, -1), MakeNode(wall, 0, 1, 4),
                  MakeNode(wall.Reversed(), 1, 1, -1)};
    tree.leaves.resize(2);
    const std::vector<LeafCell> cells =
        ComputeLeafCells(tree, Bounds{{1000, 1000, 1000}, {1200, 1200, 1200}});
    EXPECT_TRUE(cells[1].hasVolume);
}

}  // namespace
}  // namespace bsppvs
