// The sight-line check behind bspc --verify: its segment index against hand-worked cases
// and against testing every polygon one by one, and the check itself, which must repeat
// for a seed and must catch sets with entries removed.

#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <string>
#include <vector>

#include "../support/compiler_levels.h"
#include "../support/geometry_print.h"
#include "../support/pvs_levels.h"
#include "compile/bsp_compiler.h"
#include "model/model_reader.h"
#include "verify/sight_line_check.h"
#include "verify/wall_index.h"

namespace bsppvs {
namespace {

Poly PolyOf(const Winding& ring) {
    Poly poly;
    poly.SetPoints(ring);
    return poly;
}

// One wall: the square x, y in [0, 10] at z = 0.
TEST(VerifyTest, SegmentTouchesAWallWithinTheTouchDistance) {
    WallIndex walls({PolyOf({{0, 0, 0}, {10, 0, 0}, {10, 10, 0}, {0, 10, 0}})});
    struct Case {
        const char* what;
        Vector3 start;
        Vector3 end;
        std::optional<double> touch;
    };
    const Case cases[] = {
        {"through the middle", {5, 5, -10}, {5, 5, 10}, (10 - TOUCH_DISTANCE) / 20},
        {"through the middle, backwards", {5, 5, 10}, {5, 5, -10}, (10 - TOUCH_DISTANCE) / 20},
        {"stops short", {5, 5, -10}, {5, 5, -0.02f}, std::nullopt},
        {"stops 0.005 short", {5, 5, -10}, {5, 5, -0.005f}, (10 - TOUCH_DISTANCE) / 9.995},
        {"starts on the wall", {5, 5, 0}, {5, 5, 10}, 0.0},
        {"parallel 0.005 off", {-5, 5, 0.005f}, {15, 5, 0.005f}, (5 - TOUCH_DISTANCE) / 20},
        {"parallel 0.02 off", {-5, 5, 0.02f}, {15, 5, 0.02f}, std::nullopt},
        {"passes 0.005 beside an edge",
         {10.005f, 5, -10},
         {10.005f, 5, 10},
         (10 - TOUCH_DISTANCE) / 20},
        {"passes 0.05 beside an edge", {10.05f, 5, -10}, {10.05f, 5, 10}, std::nullopt},
        {"misses wide", {50, 50, -10}, {50, 50, 10}, std::nullopt},
        {"a point on the wall", {5, 5, 0}, {5, 5, 0}, 0.0},
        {"a point off the wall", {5, 5, 1}, {5, 5, 1}, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::optional<double> touch = walls.FirstTouch(c.start, c.end);
        ASSERT_EQ(touch.has_value(), c.touch.has_value());
        if (touch) {
            EXPECT_NEAR(*touch, *c.touch, 1e-6);
        }
        EXPECT_EQ(walls.IsClear(c.start, c.end), !c.touch.has_value());
    }
    WallIndex none({});
    EXPECT_TRUE(none.IsClear({0, 0, 0}, {1, 1, 1}));
}

// The grid must find the same first touch as testing every wall on its own, for segments
// of every length and slant through a maze, the first wall included.
TEST(VerifyTest, GridAgreesWithTestingEveryWall) {
    const levels::CompiledLevel level = levels::CompileWithPvs(GenerateMaze({5, 4, 11, 0.3, 2}));
    WallIndex grid(level.walls);
    std::vector<WallIndex> single;
    for (const Poly& wall : level.walls) {
        single.emplace_back(std::vector<Poly>{wall});
    }
    std::mt19937 engine(5);
    const Vector3 lo = grid.Min();
    const Vector3 hi = grid.Max();
    const auto coordinate = [&](float a, float b) {
        const float u = static_cast<float>(engine() >> 8) * 0x1.0p-24f;
        return a - 20 + (b - a + 40) * u;
    };
    int touched = 0;
    for (int n = 0; n < 600; ++n) {
        const Vector3 a{coordinate(lo.x, hi.x), coordinate(lo.y, hi.y), coordinate(lo.z, hi.z)};
        Vector3 b{coordinate(lo.x, hi.x), coordinate(lo.y, hi.y), coordinate(lo.z, hi.z)};
        if (n % 3 == 0) {
            b = Add(a, Scale(Subtract(b, a), 0.05f));  // short segments too
        } else if (n % 3 == 1) {
            b.y = a.y;  // level segments run along the floor and ceiling planes
        }
        std::optional<double> first;
        for (WallIndex& wall : single) {
            const std::optional<double> t = wall.FirstTouch(a, b);
            if (t && (!first || *t < *first)) {
                first = t;
            }
        }
        touched += first ? 1 : 0;
        EXPECT_EQ(grid.FirstTouch(a, b), first) << "segment " << n;
    }
    EXPECT_GT(touched, 100);
    EXPECT_LT(touched, 590);
}

// The counts hang together, and the same seed draws the same pairs.
TEST(VerifyTest, SameSeedSameResult) {
    const levels::CompiledLevel level = levels::CompileWithPvs(GenerateMaze({6, 6, 2, 0.3, 1}));
    const BspCompiler& compiler = *level.compiler;
    const VerifyResult first = VerifyPvs(compiler, level.walls, 3000, 42);
    const VerifyResult again = VerifyPvs(compiler, level.walls, 3000, 42);
    const VerifyResult other = VerifyPvs(compiler, level.walls, 3000, 43);

    EXPECT_EQ(first.pairs, 3000);
    EXPECT_GT(first.clearPairs, first.pairs / 2);  // the ray-drawn half is nearly all clear
    EXPECT_LE(first.clearPairs, first.pairs);
    EXPECT_TRUE(first.violations.empty());
    int64_t visible = 0;
    for (size_t i = 0; i < compiler.leaves.size(); ++i) {
        for (size_t j = 0; j < compiler.leaves.size(); ++j) {
            visible += (i != j && compiler.leaves[i].pvs[j] != 0) ? 1 : 0;
        }
    }
    EXPECT_EQ(first.visiblePairs, visible);
    EXPECT_GT(first.confirmedPairs, 0);
    EXPECT_LE(first.confirmedPairs, first.visiblePairs);

    EXPECT_EQ(again.clearPairs, first.clearPairs);
    EXPECT_EQ(again.confirmedPairs, first.confirmedPairs);
    EXPECT_NE(other.clearPairs, first.clearPairs);

    BspCompiler empty;
    const VerifyResult nothing = VerifyPvs(empty, {}, 100, 1);
    EXPECT_EQ(nothing.pairs, 0);
    EXPECT_EQ(nothing.clearPairs, 0);
}

// Remove entries from correct sets and the check must name the broken pairs: each reported
// pair is a clear segment between the two leaves it names, with the removed entry missing.
TEST(VerifyTest, CatchesRemovedEntries) {
    levels::CompiledLevel level = levels::CompileWithPvs(GenerateMaze({4, 4, 3, 0.3, 1}));
    BspCompiler& compiler = *level.compiler;
    ASSERT_FALSE(compiler.portals.empty());

    // One direction of one portal's pair.
    const int32_t a = compiler.portals[0].leafIndices[0];
    const int32_t b = compiler.portals[0].leafIndices[1];
    compiler.leaves[a].pvs[b] = 0;
    const VerifyResult one = VerifyPvs(compiler, level.walls, 20000, 7);
    ASSERT_FALSE(one.violations.empty());
    WallIndex walls(level.walls);
    for (const VerifyViolation& v : one.violations) {
        const bool forward = v.leafA == a && v.leafB == b;
        const bool backward = v.leafA == b && v.leafB == a;
        ASSERT_TRUE(forward || backward) << v.leafA << " " << v.leafB;
        EXPECT_EQ(v.aSeesB, backward);
        EXPECT_EQ(v.bSeesA, forward);
        EXPECT_EQ(compiler.LocateLeaf(v.pointA, 0), v.leafA);
        EXPECT_EQ(compiler.LocateLeaf(v.pointB, 0), v.leafB);
        EXPECT_TRUE(walls.IsClear(v.pointA, v.pointB));
    }

    // Every set emptied: every clear pair of two different leaves is a violation.
    for (BspLeaf& leaf : compiler.leaves) {
        std::fill(leaf.pvs.begin(), leaf.pvs.end(), 0);
    }
    const VerifyResult all = VerifyPvs(compiler, level.walls, 2000, 7);
    EXPECT_EQ(all.visiblePairs, 0);
    EXPECT_EQ(all.confirmedPairs, 0);
    EXPECT_GT(all.violations.size(), all.clearPairs / 4);
    for (const VerifyViolation& v : all.violations) {
        EXPECT_NE(v.leafA, v.leafB);
        EXPECT_FALSE(v.aSeesB || v.bSeesA);
    }
}

// Three faces that close nothing: behind each face's plane the tree has solid space well
// beyond the face's outline, and many segments that touch no face cross it. No set can see
// through solid space, so such segments are not held against the sets.
TEST(VerifyTest, SightThroughSolidSpaceIsNotHeldAgainstTheSets) {
    std::string reason;
    const auto model =
        LoadModel(std::string(BSPPVS_SOURCE_DIR) + "/tests/data/three-faces.ply", reason);
    ASSERT_NE(model, nullptr) << reason;
    const levels::CompiledLevel level = levels::CompileWithPvs(*model);
    const VerifyResult result = VerifyPvs(*level.compiler, level.walls, 2000, 57);
    EXPECT_GT(result.clearPairs, 0);
    EXPECT_TRUE(result.violations.empty()) << result.violations.size() << " violations";
}

}  // namespace
}  // namespace bsppvs
