// Compiles a level built in memory and prints what came out: two square rooms side by side,
// joined by a doorway in the wall between them, every face turned towards the open space.
//
//   +-------+-------+
//   |       |       |      x from 0 to 200, z from 0 to 100, y (up) from 0 to 100;
//   |   A       B   |      the doorway is 20 units wide and 80 high.
//   |       |       |
//   +-------+-------+

#include <cstdio>
#include <initializer_list>

#include "compile/bsp_compiler.h"
#include "level/level_mesh.h"

namespace {

using bsppvs::LevelMesh;
using bsppvs::Vector3;

// Adds a quad whose corners run counter-clockwise seen from the side it faces.
void AddQuad(LevelMesh& level, std::initializer_list<Vector3> corners) {
    int32_t ring[4];
    int32_t k = 0;
    for (const Vector3& corner : corners) {
        ring[k++] = static_cast<int32_t>(level.positions.size());
        level.positions.push_back(corner);
    }
    level.AddPolygon(ring);
}

// An axis-aligned box room from lo to hi, faces turned inwards, with or without its walls
// at x = lo.x and x = hi.x.
void AddRoom(LevelMesh& level, Vector3 lo, Vector3 hi, bool lowXWall, bool highXWall) {
    AddQuad(level, {{lo.x, lo.y, lo.z}, {lo.x, lo.y, hi.z}, {hi.x, lo.y, hi.z}, {hi.x, lo.y, lo.z}});
    AddQuad(level, {{lo.x, hi.y, lo.z}, {hi.x, hi.y, lo.z}, {hi.x, hi.y, hi.z}, {lo.x, hi.y, hi.z}});
    AddQuad(level, {{lo.x, lo.y, lo.z}, {hi.x, lo.y, lo.z}, {hi.x, hi.y, lo.z}, {lo.x, hi.y, lo.z}});
    AddQuad(level, {{lo.x, lo.y, hi.z}, {lo.x, hi.y, hi.z}, {hi.x, hi.y, hi.z}, {hi.x, lo.y, hi.z}});
    if (lowXWall) {
        AddQuad(level,
                {{lo.x, lo.y, lo.z}, {lo.x, hi.y, lo.z}, {lo.x, hi.y, hi.z}, {lo.x, lo.y, hi.z}});
    }
    if (highXWall) {
        AddQuad(level,
                {{hi.x, lo.y, lo.z}, {hi.x, lo.y, hi.z}, {hi.x, hi.y, hi.z}, {hi.x, hi.y, lo.z}});
    }
}

// The wall at x = 100 round a doorway from z 40 to 60 and y 0 to 80, one face into each
// room.
void AddDoorWall(LevelMesh& level) {
    for (const bool intoA : {true, false}) {
        const auto piece = [&](float z0, float z1, float y0, float y1) {
            if (intoA) {
                AddQuad(level, {{100, y0, z0}, {100, y0, z1}, {100, y1, z1}, {100, y1, z0}});
            } else {
                AddQuad(level, {{100, y0, z0}, {100, y1, z0}, {100, y1, z1}, {100, y0, z1}});
            }
        };
        piece(0, 40, 0, 100);
        piece(60, 100, 0, 100);
        piece(40, 60, 80, 100);
    }
}

}  // namespace

int main() {
    LevelMesh level;
    AddRoom(level, {0, 0, 0}, {100, 100, 100}, true, false);
    AddRoom(level, {100, 0, 0}, {200, 100, 100}, false, true);
    AddDoorWall(level);

    bsppvs::BspCompiler compiler;
    compiler.Compile(level);

    std::printf("polys %zu nodes %zu leaves %zu portals %zu\n", compiler.polys.size(),
                compiler.nodes.size(), compiler.leaves.size(), compiler.portals.size());
    const int32_t a = compiler.LocateLeaf({50, 50, 50}, 0);
    const int32_t b = compiler.LocateLeaf({150, 50, 50}, 0);
    const bool aSeesB = a >= 0 && b >= 0 && compiler.leaves[a].pvs[b] != 0;
    std::printf("room A is leaf %d, room B is leaf %d, A sees B: %s\n", a, b,
                aSeesB ? "yes" : "no");
    return a >= 0 && b >= 0 && aSeesB ? 0 : 1;
}
