#pragma once

// Levels for the visibility tests, compiled through every stage, together with the
// level's polygons as imported (before the tree construction splits them), which the
// sight-line checks test segments against.

#include <memory>
#include <vector>

#include "compile/bsp_compiler.h"
#include "formats/native_mesh.h"
#include "maze/maze.h"
#include "maze/maze_model.h"
#include "model/ply_model.h"

namespace bsppvs::levels {

struct CompiledLevel {
    std::unique_ptr<BspCompiler> compiler;
    std::vector<Poly> walls;
};

inline CompiledLevel CompileWithPvs(const PlyModel& model) {
    CompiledLevel level{std::make_unique<BspCompiler>(), {}};
    level.compiler->ImportPolys(LevelMeshFromModel(model));
    level.walls.assign(level.compiler->buildPolys.begin(), level.compiler->buildPolys.end());
    level.compiler->BuildTree();
    level.compiler->BuildPortals();
    level.compiler->ComputePvs();
    return level;
}

inline CompiledLevel CompileWithPvs(const MazeGrid& grid) {
    return CompileWithPvs(*BuildMazeModel(grid, MazeLayout{}));
}

}  // namespace bsppvs::levels
