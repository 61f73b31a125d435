#pragma once

// Levels for the visibility tests, compiled through every stage, together with the
// level's polygons as imported (before the tree construction splits them), which the
// sight-line checks test segments against.

#include <cmath>
#include <functional>
#include <memory>
#include <vector>

#include "compile/bsp_compiler.h"
#include "core/random.h"
#include "formats/native_mesh.h"
#include "maze/maze.h"
#include "maze/maze_model.h"
#include "model/ply_model.h"

namespace bsppvs::levels {

struct CompiledLevel {
    std::unique_ptr<BspCompiler> compiler;
    std::vector<Poly> walls;
};

// `configure` may set the compiler's options before the first stage.
inline CompiledLevel CompileWithPvs(const PlyModel& model,
                                    const std::function<void(BspCompiler&)>& configure = {}) {
    CompiledLevel level{std::make_unique<BspCompiler>(), {}};
    if (configure) {
        configure(*level.compiler);
    }
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

enum class Shape {
    GRID,      // as generated: every wall on an axis plane
    TURNED,    // turned about a slanted axis and moved far off the origin
    JITTERED,  // every corner moved by up to a few units: slanted, split walls everywhere
};

// No portal normal of a turned maze is exact, and its coordinates are large, so the flood's
// lookups meet the margins of the normals they share a row with and fall back to
// classifying; but its walls still meet at right angles. A jittered maze's walls are cut
// into triangles at all angles, so the visibility recursion's clips cut polygons that no
// grid makes them cut.
inline void Reshape(PlyModel& model, Shape shape, uint64_t seed) {
    const double ca = std::cos(0.4);
    const double sa = std::sin(0.4);
    const double cb = std::cos(0.7);
    const double sb = std::sin(0.7);
    constexpr float JITTER = 6.0f;  // world units; the rooms are 100 across
    SplitMix64 random(seed);
    for (Vector3& p : model.positions) {
        if (shape == Shape::TURNED) {
            const double y1 = ca * p.y - sa * p.z;  // about x
            const double z1 = sa * p.y + ca * p.z;
            const double x2 = cb * p.x - sb * y1;  // then about z
            const double y2 = sb * p.x + cb * y1;
            p = {static_cast<float>(x2 + 4000.0), static_cast<float>(y2),
                 static_cast<float>(z1 - 3000.0)};
        } else if (shape == Shape::JITTERED) {
            // Faces share their corners, so moving each corner once keeps the level closed.
            p = Add(p, {JITTER * static_cast<float>(random.Uniform() - 0.5),
                        JITTER * static_cast<float>(random.Uniform() - 0.5),
                        JITTER * static_cast<float>(random.Uniform() - 0.5)});
        }
    }
}

}  // namespace bsppvs::levels
