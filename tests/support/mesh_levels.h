#pragma once

// Level meshes built in code for the tests: quads and boxes whose faces face the open
// space, named points, and the compile of such a mesh.

#include <array>
#include <initializer_list>
#include <memory>

#include "compile/bsp_compiler.h"
#include "level/level_mesh.h"

namespace bsppvs::levels {

class MeshBuilder {
public:
    LevelMesh mesh;

    // A polygon whose corners run counter-clockwise seen from the side it faces.
    MeshBuilder& Polygon(std::initializer_list<Vector3> corners, const std::string& group = "") {
        std::vector<int32_t> ring;
        for (const Vector3& corner : corners) {
            ring.push_back(static_cast<int32_t>(mesh.positions.size()));
            mesh.positions.push_back(corner);
        }
        mesh.AddPolygon(ring, group.empty() ? -1 : mesh.GroupIndex(group));
        return *this;
    }

    // The six faces of the box from lo to hi, facing into it (a room) or out of it (a
    // pillar); `skip` leaves out one face: 0..5 for -x, +x, -y, +y, -z, +z, -1 for none.
    MeshBuilder& Box(Vector3 lo, Vector3 hi, bool inward, int skip = -1,
                     const std::string& group = "") {
        // Corner k is (k & 1 ? hi.x : lo.x, k & 2 ? hi.y : lo.y, k & 4 ? hi.z : lo.z); each
        // face runs counter-clockwise seen from outside.
        static constexpr std::array<std::array<int, 4>, 6> OUTWARD = {{
            {0, 4, 6, 2},
            {1, 3, 7, 5},
            {0, 1, 5, 4},
            {2, 6, 7, 3},
            {0, 2, 3, 1},
            {4, 5, 7, 6},
        }};
        for (int f = 0; f < 6; ++f) {
            if (f == skip) {
                continue;
            }
            Vector3 c[4];
            for (int i = 0; i < 4; ++i) {
                const int k = OUTWARD[f][inward ? 3 - i : i];
                c[i] = {k & 1 ? hi.x : lo.x, k & 2 ? hi.y : lo.y, k & 4 ? hi.z : lo.z};
            }
            Polygon({c[0], c[1], c[2], c[3]}, group);
        }
        return *this;
    }

    MeshBuilder& Point(Vector3 p, const std::string& name = "start") {
        mesh.points.push_back({name, p});
        return *this;
    }
};

// The mesh compiled through every stage with the given solid rule.
inline std::unique_ptr<BspCompiler> CompileMesh(const LevelMesh& mesh,
                                                SolidRule rule = SolidRule::WINDING) {
    auto compiler = std::make_unique<BspCompiler>();
    compiler->solidRule = rule;
    compiler->Compile(mesh);
    return compiler;
}

}  // namespace bsppvs::levels
