#pragma once

// Levels for the compiler tests, built in code: polygons and models made from corner
// lists, block levels drawn as pictures of cells, generated mazes and polygon soups. Block
// levels and mazes go through the maze library's model builder, so every open cell is
// bounded by a floor (y = 0), a ceiling (y = height) and walls, all facing into the open
// space; cell (i, j) is centred at x = (i - 1) * 100, z = (j - 1) * 100.

#include <bit>
#include <cstdint>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "compile/bsp_compiler.h"
#include "formats/native_mesh.h"
#include "maze/maze.h"
#include "maze/maze_model.h"
#include "model/ply_model.h"
#include "reference_compile.h"

namespace bsppvs::levels {

inline BuildPoly MakeBuildPoly(const Winding& ring, int32_t usedAsSplitter = 0) {
    BuildPoly poly;
    poly.SetPoints(ring);
    poly.usedAsSplitter = usedAsSplitter;
    return poly;
}

// A node of a tree built by hand.
inline BspNode MakeNode(Plane plane, int32_t front, int32_t frontIsLeaf, int32_t back) {
    BspNode node;
    node.plane = plane;
    node.front = front;
    node.frontIsLeaf = frontIsLeaf;
    node.back = back;
    return node;
}

// A model with one face per corner list; every corner gets its own position, so only
// the face's own corners can weld.
inline std::unique_ptr<PlyModel> ModelFromFaces(const std::vector<std::vector<Vector3>>& faces) {
    auto model = std::make_unique<PlyModel>();
    for (const std::vector<Vector3>& corners : faces) {
        PlyFace& face = model->faces.emplace_back();
        for (size_t k = 0; k < 4; ++k) {
            face.positionIndex[k] = static_cast<int32_t>(model->positions.size());
            model->positions.push_back(corners[k]);
        }
    }
    return model;
}

// A block level drawn row by row: row j of the picture is grid row j (z grows down the
// page), character i is column i (x grows to the right); '#' is solid, anything else open.
inline MazeGrid GridFromPicture(const std::vector<std::string>& rows) {
    MazeGrid grid(static_cast<int>(rows.front().size()), static_cast<int>(rows.size()));
    for (int j = 0; j < grid.rows; ++j) {
        for (int i = 0; i < grid.columns; ++i) {
            if (rows[static_cast<size_t>(j)][static_cast<size_t>(i)] != '#') {
                grid.Open(i, j);
            }
        }
    }
    return grid;
}

// clang-format off
// Four open cells in a row: one convex room.
inline const std::vector<std::string> CORRIDOR = {
    "######",
    "#....#",
    "######",
};
// A corridor that turns a corner: its two ends cannot see each other.
inline const std::vector<std::string> L_BEND = {
    "#####",
    "#...#",
    "###.#",
    "###.#",
    "#####",
};
// Two rooms of three by three cells, joined by a one-cell door in the middle wall.
inline const std::vector<std::string> TWO_ROOMS_AND_A_DOOR = {
    "#########",
    "#...#...#",
    "#.......#",
    "#...#...#",
    "#########",
};
// A ring of cells round one solid pillar.
inline const std::vector<std::string> RING_ROUND_A_PILLAR = {
    "#####",
    "#...#",
    "#.#.#",
    "#...#",
    "#####",
};
// clang-format on

inline const MazeLayout& DefaultLayout() {
    static const MazeLayout layout;
    return layout;
}

// The centre of cell (i, j) at height y (half the wall height unless given).
inline Vector3 CellPoint(int i, int j, float y = DefaultLayout().height * 0.5f) {
    return {CellCentre(DefaultLayout(), i), y, CellCentre(DefaultLayout(), j)};
}

// Imports the model and builds the tree, with the plain splitter search when literal;
// portals and visibility are left to the caller.
inline std::unique_ptr<BspCompiler> CompileTree(const PlyModel& model, bool literal = false) {
    auto compiler = std::make_unique<BspCompiler>();
    compiler->ImportPolys(LevelMeshFromModel(model));
    if (literal) {
        reference::BuildTree(*compiler);
    } else {
        compiler->BuildTree();
    }
    return compiler;
}

inline std::unique_ptr<BspCompiler> CompileTree(const MazeGrid& grid, bool literal = false) {
    return CompileTree(*BuildMazeModel(grid, DefaultLayout()), literal);
}

// The generated mazes the property tests run over: several seeds and sizes, perfect
// mazes and mazes with loops and opened rectangles of rooms.
inline std::vector<MazeOptions> PropertyMazes() {
    return {
        {4, 4, 1, 0.0, 0}, {4, 4, 2, 0.3, 0}, {4, 4, 3, 0.0, 3},   {8, 8, 4, 0.0, 0},
        {8, 8, 5, 0.3, 3}, {8, 5, 6, 0.3, 0}, {12, 12, 7, 0.0, 0}, {12, 12, 8, 0.3, 3},
    };
}

inline std::string Describe(const MazeOptions& o) {
    std::ostringstream out;
    out << o.width << "x" << o.depth << " seed " << o.seed << " loops " << o.loops << " rooms "
        << o.rooms;
    return out.str();
}

// Polygon soups: many polygons crowded onto a few axis planes at distances that straddle
// the 0.01 classification tolerance, facing both ways, some with a corner nudged off
// their plane by less than it, and slanted triangles cutting across. Corners lie on a
// grid of quarters, so that they repeat and line up. The same seed gives the same soup.
inline std::vector<Winding> PolygonSoup(uint32_t seed, int count) {
    static const float DISTANCES[] = {0, 0.004f, 0.01f, 0.0125f, 0.02f, 1, 1.009f, 3, -2};
    std::mt19937 rng(seed);
    // A value in [lo, hi] on the grid.
    const auto quarter = [&rng](int lo, int hi) {
        return static_cast<float>(std::uniform_int_distribution<int>(4 * lo, 4 * hi)(rng)) * 0.25f;
    };
    const auto onAxes = [](int axis, float along, float u, float v) {
        float c[3];
        c[axis] = along;
        c[(axis + 1) % 3] = u;
        c[(axis + 2) % 3] = v;
        return Vector3{c[0], c[1], c[2]};
    };
    std::vector<Winding> soup;
    while (static_cast<int>(soup.size()) < count) {
        const unsigned kind = rng() % 4;
        if (kind == 3) {
            Winding triangle;
            for (int k = 0; k < 3; ++k) {
                triangle.push_back({quarter(-4, 4), quarter(-4, 4), quarter(-4, 4)});
            }
            if (ComputeNormal(triangle) != ORIGIN) {
                soup.push_back(triangle);
            }
            continue;
        }
        // A rectangle in an axis plane, counter-clockwise about +axis unless flipped.
        const int axis = static_cast<int>(rng() % 3);
        const float d = DISTANCES[rng() % std::size(DISTANCES)];
        const float u0 = quarter(-4, 3);
        const float v0 = quarter(-4, 3);
        const float u1 = u0 + quarter(1, 3);
        const float v1 = v0 + quarter(1, 3);
        Winding quad = {onAxes(axis, d, u0, v0), onAxes(axis, d, u1, v0), onAxes(axis, d, u1, v1),
                        onAxes(axis, d, u0, v1)};
        if (kind == 2) {
            // One corner off the plane by less than the tolerance.
            Vector3& corner = quad[rng() % 4];
            float* c[3] = {&corner.x, &corner.y, &corner.z};
            *c[axis] += (rng() % 2 != 0) ? 0.006f : -0.006f;
        }
        if (rng() % 2 != 0) {
            quad = Winding(quad.rbegin(), quad.rend());
        }
        soup.push_back(quad);
    }
    return soup;
}

// Bit-for-bit equality: the fast and the literal modes must not even differ in rounding.
inline bool SameBits(float a, float b) {
    return std::bit_cast<uint32_t>(a) == std::bit_cast<uint32_t>(b);
}
inline bool SameBits(Vector3 a, Vector3 b) {
    return SameBits(a.x, b.x) && SameBits(a.y, b.y) && SameBits(a.z, b.z);
}
inline bool SameBits(const Plane& a, const Plane& b) {
    return SameBits(a.a, b.a) && SameBits(a.b, b.b) && SameBits(a.c, b.c) && SameBits(a.d, b.d);
}
inline bool SameBits(const Bounds& a, const Bounds& b) {
    return SameBits(a.center, b.center) && SameBits(a.halfExtent, b.halfExtent);
}
inline bool SameBits(const Poly& a, const Poly& b) {
    if (a.points.size() != b.points.size() || a.triangleIndices != b.triangleIndices ||
        a.planeValid != b.planeValid || (a.planeValid != 0 && !SameBits(a.plane, b.plane))) {
        return false;
    }
    for (size_t i = 0; i < a.points.size(); ++i) {
        if (!SameBits(a.points[i], b.points[i])) {
            return false;
        }
    }
    return true;
}

// The two compilers built the same tree: nodes, leaves and polygons, bit for bit.
inline void ExpectSameTree(const BspCompiler& a, const BspCompiler& b, const std::string& what) {
    ASSERT_EQ(a.nodes.size(), b.nodes.size()) << what;
    for (size_t k = 0; k < a.nodes.size(); ++k) {
        EXPECT_TRUE(SameBits(a.nodes[k].plane, b.nodes[k].plane)) << what << " node " << k;
        EXPECT_TRUE(SameBits(a.nodes[k].bounds, b.nodes[k].bounds)) << what << " node " << k;
        EXPECT_EQ(a.nodes[k].front, b.nodes[k].front) << what << " node " << k;
        EXPECT_EQ(a.nodes[k].back, b.nodes[k].back) << what << " node " << k;
        EXPECT_EQ(a.nodes[k].frontIsLeaf, b.nodes[k].frontIsLeaf) << what << " node " << k;
    }
    ASSERT_EQ(a.leaves.size(), b.leaves.size()) << what;
    for (size_t i = 0; i < a.leaves.size(); ++i) {
        EXPECT_EQ(a.leaves[i].firstPoly, b.leaves[i].firstPoly) << what << " leaf " << i;
        EXPECT_EQ(a.leaves[i].endPoly, b.leaves[i].endPoly) << what << " leaf " << i;
        EXPECT_TRUE(SameBits(a.leaves[i].bounds, b.leaves[i].bounds)) << what << " leaf " << i;
    }
    ASSERT_EQ(a.polys.size(), b.polys.size()) << what;
    for (size_t p = 0; p < a.polys.size(); ++p) {
        EXPECT_TRUE(SameBits(a.polys[p], b.polys[p])) << what << " poly " << p;
    }
}

}  // namespace bsppvs::levels
