// Importing four-cornered faces: welding coincident corners (the last of a group
// survives, in its place), dropping faces without area, keeping flat faces whole and
// cutting non-flat quads into two triangles.

#include <gtest/gtest.h>

#include <vector>

#include "../support/compiler_levels.h"
#include "../support/geometry_print.h"
#include "compile/bsp_compiler.h"
#include "formats/native_mesh.h"

namespace bsppvs {
namespace {

using levels::ModelFromFaces;

std::vector<Winding> ImportedRings(const std::vector<std::vector<Vector3>>& faces) {
    BspCompiler compiler;
    compiler.ImportPolys(LevelMeshFromModel(*ModelFromFaces(faces)));
    std::vector<Winding> rings;
    for (const BuildPoly& poly : compiler.buildPolys) {
        rings.push_back(poly.points);
    }
    return rings;
}

const Vector3 P{0, 0, 0};
const Vector3 Q{10, 0, 0};
const Vector3 R{10, 10, 0};
const Vector3 S{0, 10, 0};

struct WeldCase {
    const char* what;
    std::vector<Vector3> corners;
    std::vector<Winding> expected;
};

TEST(ImportTest, WeldsCoincidentCorners) {
    const Vector3 nearP6{1e-6f, 0, 0};  // 1e-12 squared: the same corner
    const Vector3 nearP6z{0, 0, 1e-6f};
    const Vector3 nearP4{1e-4f, 0, 0};  // 1e-8 squared: a different corner
    const Vector3 nearP4y{0, 1e-4f, 0};
    // Just either side of the weld distance: 9e-6 squared is 8.1e-11, 2e-5 squared 4e-10.
    const Vector3 justInside{9e-6f, 0, 0};
    const Vector3 justOutside{2e-5f, 0, 0};
    const WeldCase cases[] = {
        {"distinct corners", {P, Q, R, S}, {{P, Q, R, S}}},
        {"last two coincide", {P, Q, R, R}, {{P, Q, R}}},
        {"first and third coincide", {P, Q, P, R}, {{Q, P, R}}},
        {"first and last coincide", {P, Q, R, P}, {{Q, R, P}}},
        {"first two coincide", {P, P, Q, R}, {{P, Q, R}}},
        {"within 1e-6 along x", {P, nearP6, Q, R}, {{nearP6, Q, R}}},
        {"within 1e-6 along z", {P, Q, R, nearP6z}, {{Q, R, nearP6z}}},
        {"1e-4 apart along x", {P, nearP4, R, S}, {{P, nearP4, R, S}}},
        {"1e-4 apart along y", {nearP4y, P, Q, R}, {{nearP4y, P, Q, R}}},
        {"9e-6 apart: welded", {P, justInside, Q, R}, {{justInside, Q, R}}},
        {"2e-5 apart: two corners", {P, justOutside, R, S}, {{P, justOutside, R, S}}},
        {"two distinct positions", {P, Q, P, Q}, {}},
        {"two distinct, three alike", {P, Q, Q, Q}, {}},
        {"one position", {R, R, R, R}, {}},
    };
    for (const WeldCase& c : cases) {
        EXPECT_EQ(ImportedRings({c.corners}), c.expected) << c.what;
    }
}

TEST(ImportTest, FlatQuadBecomesOnePolygon) {
    // A flat quad in a slanted plane, convex, counter-clockwise about (0, -0.6, 0.8).
    BspCompiler compiler;
    compiler.ImportPolys(
        LevelMeshFromModel(*ModelFromFaces({{{0, 0, 0}, {5, 0, 0}, {5, 4, 3}, {0, 4, 3}}})));
    ASSERT_EQ(compiler.buildPolys.size(), 1u);
    const BuildPoly& poly = compiler.buildPolys.front();
    EXPECT_EQ(poly.points.size(), 4u);
    EXPECT_EQ(poly.triangleIndices, (std::vector<int32_t>{0, 1, 2, 0, 2, 3}));
    EXPECT_EQ(poly.usedAsSplitter, 0);
    EXPECT_EQ(poly.planeValid, 0);
}

// Whether a quad is flat is judged by its normals' squared component differences against
// the flatness tolerance (1e-10): lifting one corner of a 10 x 10 square by 1.5e-4 makes
// them 5.6e-11, and it stays whole; by 3e-4 they are 2.25e-10, and it is cut.
TEST(ImportTest, NearlyFlatQuadIsJudgedByTheFlatnessTolerance) {
    const Vector3 slightlyLifted{0, 10, 1.5e-4f};
    const Vector3 lifted{0, 10, 3e-4f};
    const WeldCase cases[] = {
        {"within the tolerance", {P, Q, R, slightlyLifted}, {{P, Q, R, slightlyLifted}}},
        {"beyond it", {P, Q, R, lifted}, {{P, Q, lifted}, {Q, R, lifted}}},
    };
    for (const WeldCase& c : cases) {
        EXPECT_EQ(ImportedRings({c.corners}), c.expected) << c.what;
    }
}

// A flat quad that is not convex is cut into two triangles along the diagonal through its
// reflex corner, so that both lie inside it; a convex quad with three corners in a line
// stays whole.
TEST(ImportTest, ConcaveFlatQuadIsCutThroughItsReflexCorner) {
    const Vector3 dent{7, 6, 0};  // inside the triangle Q, R, S
    const Vector3 mid{5, 5, 0};   // on the edge from R back to P
    const WeldCase cases[] = {
        {"reflex at c0", {dent, Q, R, S}, {{dent, Q, R}, {dent, R, S}}},
        {"reflex at c1", {S, dent, Q, R}, {{S, dent, R}, {dent, Q, R}}},
        {"reflex at c2", {R, S, dent, Q}, {{R, S, dent}, {R, dent, Q}}},
        {"reflex at c3", {Q, R, S, dent}, {{Q, R, dent}, {R, S, dent}}},
        {"three corners in a line", {P, Q, R, mid}, {{P, Q, R, mid}}},
    };
    for (const WeldCase& c : cases) {
        EXPECT_EQ(ImportedRings({c.corners}), c.expected) << c.what;
    }
}

// A non-flat quad is cut along the diagonal c1-c3 into (c0, c1, c3) then (c1, c2, c3):
// two triangles that share a diagonal, cover the quad and keep its winding. Only when
// that cut would leave a triangle without area, and the other diagonal would not, is the
// quad cut along c0-c2 instead.
TEST(ImportTest, NonFlatQuadIsCutIntoTwoTriangles) {
    struct CutCase {
        const char* what;
        std::vector<Vector3> quad;
        std::vector<Winding> expected;
    };
    const Vector3 c0{0, 0, 0};
    const Vector3 c1{10, 0, 0};
    const Vector3 c2{10, 10, 3};
    const Vector3 c3{0, 10, 0};
    // d0..d3 wind the wrong way round as a whole: the whole quad's normal opposes the
    // normal of its first three corners, so it is not flat, and the cut along d1-d3 would
    // leave the collinear triangle (d0, d1, d3). The other diagonal gives two proper ones.
    const Vector3 d0{0, 0, 0};
    const Vector3 d1{1, 0, 0};
    const Vector3 d2{1, 1, 0};
    const Vector3 d3{2, 0, 0};
    const CutCase cases[] = {
        {"one corner lifted", {c0, c1, c2, c3}, {{c0, c1, c3}, {c1, c2, c3}}},
        {"another corner lifted",
         {c0, c1, {10, 10, 0}, {0, 10, -4}},
         {{c0, c1, {0, 10, -4}}, {c1, {10, 10, 0}, {0, 10, -4}}}},
        {"twisted, off the axes",
         {{1, 2, 3}, {7, 1, 4}, {8, 6, -2}, {2, 7, 5}},
         {{{1, 2, 3}, {7, 1, 4}, {2, 7, 5}}, {{7, 1, 4}, {8, 6, -2}, {2, 7, 5}}}},
        {"cut c1-c3 leaves no area", {d0, d1, d2, d3}, {{d0, d1, d2}, {d0, d2, d3}}},
    };
    for (const CutCase& c : cases) {
        EXPECT_EQ(ImportedRings({c.quad}), c.expected) << c.what;
    }
}

TEST(ImportTest, FacesWithoutAreaAreDropped) {
    const std::vector<std::vector<Vector3>> faces = {
        {P, Q, {20, 0, 0}, {20, 0, 0}},  // three collinear after welding
        {P, Q, {30, 0, 0}, {20, 0, 0}},  // four collinear
        {{0, 0, 5}, {0, 1, 5}, {0, 2, 5}, {0, 2, 5}},
    };
    EXPECT_EQ(ImportedRings(faces), std::vector<Winding>{});
}

TEST(ImportTest, KeepsFaceOrderAndAppends) {
    const std::vector<Vector3> lifted = {{0, 0, 0}, {10, 0, 0}, {10, 10, 3}, {0, 10, 0}};
    BspCompiler compiler;
    EXPECT_TRUE(compiler.buildPolys.empty());
    compiler.ImportPolys(LevelMesh{});
    EXPECT_TRUE(compiler.buildPolys.empty()) << "a model without faces imports nothing";

    compiler.ImportPolys(
        LevelMeshFromModel(*ModelFromFaces({{P, Q, R, S}, {P, P, P, Q}, lifted, {S, R, Q, Q}})));
    compiler.ImportPolys(LevelMeshFromModel(*ModelFromFaces({{S, R, Q, P}})));
    std::vector<Winding> rings;
    for (const BuildPoly& poly : compiler.buildPolys) {
        rings.push_back(poly.points);
        EXPECT_EQ(poly.usedAsSplitter, 0);
    }
    const std::vector<Winding> expected = {
        {P, Q, R, S},
        {lifted[0], lifted[1], lifted[3]},
        {lifted[1], lifted[2], lifted[3]},
        {S, R, Q},
        {S, R, Q, P},
    };
    EXPECT_EQ(rings, expected);
}

// Corner indices are not checked by the reader; a face naming a position that does not
// exist is skipped rather than read out of bounds.
TEST(ImportTest, SkipsFacesWithCornersOutOfRange) {
    auto model = ModelFromFaces({{P, Q, R, S}, {Q, R, S, P}});
    model->faces[0].positionIndex[2] = 8;
    model->faces[1].positionIndex[0] = -1;
    auto valid = ModelFromFaces({{P, Q, R, S}});
    model->faces.push_back(valid->faces[0]);
    BspCompiler compiler;
    compiler.ImportPolys(LevelMeshFromModel(*model));
    ASSERT_EQ(compiler.buildPolys.size(), 1u);
    EXPECT_EQ(compiler.buildPolys.front().points, (Winding{P, Q, R, S}));
}

}  // namespace
}  // namespace bsppvs
