// The faster searches and the worker threads must not change a single byte of the result:
// every level below is compiled the plain way (quadratic splitter search, portal merge by
// scanning, flood by full classification, one thread) and the fast way with 1, 2 and 4
// threads, and the JSON dumps, which hold every node, leaf, set, portal and polygon with
// exact floats, must be identical.

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "../support/pvs_levels.h"
#include "../support/reference_compile.h"
#include "compile/bsp_compiler.h"
#include "compile/compile_json.h"
#include "formats/native_mesh.h"
#include "maze/maze.h"
#include "maze/maze_model.h"

namespace bsppvs {
namespace {

std::string CompileToJson(const PlyModel& model, bool literal, int32_t threads) {
    BspCompiler compiler;
    compiler.threads = threads;
    if (literal) {
        reference::Compile(compiler, model);
    } else {
        compiler.Compile(LevelMeshFromModel(model));
    }
    std::ostringstream out;
    WriteCompilerJson(compiler, out);
    return out.str();
}

TEST(ExactnessTest, FastSearchesAndThreadsGiveTheSameBytes) {
    struct Case {
        MazeOptions maze;
        levels::Shape shape;
    };
    const Case cases[] = {
        {{6, 6, 1, 0.0, 0}, levels::Shape::GRID},     // perfect maze
        {{10, 7, 2, 0.3, 2}, levels::Shape::GRID},    // loops and halls, not square
        {{12, 12, 3, 0.6, 20}, levels::Shape::GRID},  // open: long sight lines, large floods
        {{16, 16, 4, 0.1, 3}, levels::Shape::GRID},
        {{3, 3, 6, 0.6, 2}, levels::Shape::JITTERED},  // slanted walls: clipped chains
    };
    for (const Case& c : cases) {
        const MazeOptions& options = c.maze;
        const auto model = BuildMazeModel(GenerateMaze(options), MazeLayout{});
        levels::Reshape(*model, c.shape, options.seed);
        const std::string plain = CompileToJson(*model, true, 1);
        for (const int32_t threads : {1, 2, 4}) {
            EXPECT_EQ(CompileToJson(*model, false, threads), plain)
                << options.width << "x" << options.depth << " seed " << options.seed << " loops "
                << options.loops << " rooms " << options.rooms << " threads " << threads;
        }
    }
}

}  // namespace
}  // namespace bsppvs
