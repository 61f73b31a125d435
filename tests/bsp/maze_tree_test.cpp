// Properties of the trees of generated mazes: the numbering and tiling the later stages
// rely on, point location at every cell, and the fast splitter search giving exactly the
// tree of the literal one.

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "../support/compiler_levels.h"
#include "../support/geometry_print.h"
#include "compile/bsp_compiler.h"

namespace bsppvs {
namespace {

using levels::Describe;
using levels::PropertyMazes;

struct CompiledMaze {
    MazeOptions options;
    MazeGrid grid;
    std::unique_ptr<BspCompiler> fast;
    std::unique_ptr<BspCompiler> literal;
};

// Compiled once for the whole test program.
const std::vector<CompiledMaze>& Mazes() {
    static const std::vector<CompiledMaze> mazes = [] {
        std::vector<CompiledMaze> out;
        for (const MazeOptions& options : PropertyMazes()) {
            CompiledMaze maze{options, GenerateMaze(options), nullptr, nullptr};
            const auto model = BuildMazeModel(maze.grid, levels::DefaultLayout());
            maze.fast = levels::CompileTree(*model, false);
            maze.literal = levels::CompileTree(*model, true);
            out.push_back(std::move(maze));
        }
        return out;
    }();
    return mazes;
}

// Walks the tree front subtree first and checks that nodes and leaves come in exactly the
// order of their indices, so every child's index is greater than its parent's and the
// front subtree is numbered before the back one.
void ExpectPreOrder(const BspCompiler& compiler, const std::string& what) {
    int32_t nextNode = 0;
    int32_t nextLeaf = 0;
    std::function<void(int32_t)> visit = [&](int32_t k) {
        ASSERT_EQ(k, nextNode) << what;
        ++nextNode;
        const BspNode& node = compiler.nodes[static_cast<size_t>(k)];
        ASSERT_NE(node.front, -1) << what << " node " << k;
        if (node.frontIsLeaf != 0) {
            ASSERT_EQ(node.front, nextLeaf) << what << " node " << k;
            ++nextLeaf;
        } else {
            ASSERT_EQ(node.front, k + 1) << what << " node " << k;
            visit(node.front);
        }
        if (node.back != -1) {
            ASSERT_GT(node.back, k) << what << " node " << k;
            visit(node.back);
        }
    };
    visit(0);
    EXPECT_EQ(nextNode, static_cast<int32_t>(compiler.nodes.size())) << what;
    EXPECT_EQ(nextLeaf, static_cast<int32_t>(compiler.leaves.size())) << what;
}

TEST(MazeTreeTest, NumberingAndPolygonRanges) {
    for (const CompiledMaze& maze : Mazes()) {
        const std::string what = Describe(maze.options);
        const BspCompiler& compiler = *maze.fast;
        ASSERT_FALSE(compiler.nodes.empty()) << what;
        EXPECT_TRUE(compiler.buildPolys.empty()) << what;
        ExpectPreOrder(compiler, what);

        // The ranges tile polys in leaf order, none empty, and each leaf's box is the box
        // of its own polygons' corners.
        int32_t expectedFirst = 0;
        for (size_t i = 0; i < compiler.leaves.size(); ++i) {
            const BspLeaf& leaf = compiler.leaves[i];
            EXPECT_EQ(leaf.firstPoly, expectedFirst) << what << " leaf " << i;
            EXPECT_GT(leaf.endPoly, leaf.firstPoly) << what << " leaf " << i;
            MinMax corners;
            for (int32_t p = leaf.firstPoly; p < leaf.endPoly; ++p) {
                corners.Fold(compiler.polys[static_cast<size_t>(p)].points);
            }
            EXPECT_EQ(leaf.bounds, Bounds::FromMinMax(corners)) << what << " leaf " << i;
            expectedFirst = leaf.endPoly;
        }
        EXPECT_EQ(expectedFirst, static_cast<int32_t>(compiler.polys.size())) << what;
    }
}

// A leaf is an empty region: the centre of an open cell at half the wall height lies in
// one, the centre of a solid cell in none.
TEST(MazeTreeTest, CellCentresLocate) {
    for (const CompiledMaze& maze : Mazes()) {
        const std::string what = Describe(maze.options);
        for (int j = 0; j < maze.grid.rows; ++j) {
            for (int i = 0; i < maze.grid.columns; ++i) {
                const int32_t leaf = maze.fast->LocateLeaf(levels::CellPoint(i, j), 0);
                if (maze.grid.IsOpen(i, j)) {
                    EXPECT_GE(leaf, 0) << what << " open cell " << i << "," << j;
                    EXPECT_LT(leaf, static_cast<int32_t>(maze.fast->leaves.size()));
                } else {
                    EXPECT_EQ(leaf, -1) << what << " solid cell " << i << "," << j;
                }
            }
        }
    }
}

TEST(MazeTreeTest, FastAndLiteralSearchBuildTheSameTree) {
    for (const CompiledMaze& maze : Mazes()) {
        levels::ExpectSameTree(*maze.fast, *maze.literal, Describe(maze.options));
    }
}

}  // namespace
}  // namespace bsppvs
