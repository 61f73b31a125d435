// The visibility pass on levels small enough to know the answer: hand-built leaves and
// portals (the pass reads only the leaves' box centres and the portals), the polygon clips
// it is made of, and tiny block levels checked at world points.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "../support/compiler_levels.h"
#include "../support/geometry_print.h"
#include "../support/pvs_levels.h"
#include "bsp/classify.h"
#include "compile/bsp_compiler.h"
#include "formats/native_mesh.h"
#include "geometry/bounds.h"
#include "model/model_reader.h"
#include "pvs/polygon_clips.h"
#include "verify/sight_line_check.h"
#include "verify/wall_index.h"

namespace bsppvs {
namespace {

using levels::CellPoint;
using levels::GridFromPicture;

using Bytes = std::vector<uint8_t>;

// A wall-sized opening in the plane x = x0: y from 0 to 100, z from z0 to z1, its corners
// counter-clockwise seen from +x, so its plane faces +x.
Winding OpeningAlongX(float x0, float z0, float z1) {
    return {{x0, 0, z0}, {x0, 100, z0}, {x0, 100, z1}, {x0, 0, z1}};
}

struct HandPortal {
    Winding ring;
    int32_t a = -1;  // leafIndices[0]
    int32_t b = -1;  // leafIndices[1]
};

// A compiler holding only what the visibility pass reads: leaf boxes (only their centres
// matter) and portals. It has no tree.
std::unique_ptr<BspCompiler> HandLevel(const std::vector<Vector3>& leafCentres,
                                       const std::vector<HandPortal>& portals) {
    auto compiler = std::make_unique<BspCompiler>();
    for (const Vector3& centre : leafCentres) {
        BspLeaf& leaf = compiler->leaves.emplace_back();
        leaf.bounds = {centre, {50, 50, 50}};
    }
    for (const HandPortal& hand : portals) {
        Portal& portal = compiler->portals.emplace_back();
        portal.SetPoints(hand.ring);
        portal.leafIndices = {hand.a, hand.b};
    }
    return compiler;
}

// The leaves marked in a byte-per-leaf set, as a list, for readable failures.
template <typename ByteArray>
std::vector<int32_t> Marked(const ByteArray& set) {
    std::vector<int32_t> out;
    for (size_t i = 0; i < set.size(); ++i) {
        if (set[i] != 0) {
            out.push_back(static_cast<int32_t>(i));
        }
    }
    return out;
}

Winding Reversed(const Winding& ring) {
    return {ring.rbegin(), ring.rend()};
}

std::unique_ptr<BspCompiler> CompileAll(const MazeGrid& grid) {
    return levels::CompileWithPvs(grid).compiler;
}

bool Sees(const BspCompiler& compiler, Vector3 from, Vector3 to) {
    const int32_t a = compiler.LocateLeaf(from, 0);
    const int32_t b = compiler.LocateLeaf(to, 0);
    EXPECT_NE(a, -1) << "not in a leaf";
    EXPECT_NE(b, -1) << "not in a leaf";
    return a >= 0 && b >= 0 && compiler.leaves[a].pvs[b] != 0;
}

// Leaf 0 behind the plane x = 0, leaf 1 in front, one opening between them.
TEST(GateVisibilityTest, TwoLeavesJoinedByOnePortal) {
    const Winding ring = OpeningAlongX(0, -50, 50);
    ASSERT_EQ(ComputeNormal(ring), AXIS_X);
    auto level = HandLevel({{-50, 50, 0}, {50, 50, 0}}, {{ring, 0, 1}});
    level->ComputePvs();

    ASSERT_EQ(level->gates.size(), 2u);
    const Gate& into1 = level->gates[0];
    const Gate& into0 = level->gates[1];
    EXPECT_EQ(into1.sourceLeaf, 0);
    EXPECT_EQ(into1.targetLeaf, 1);
    EXPECT_EQ(into1.polygon.points, ring);
    EXPECT_EQ(into0.sourceLeaf, 1);
    EXPECT_EQ(into0.targetLeaf, 0);
    EXPECT_EQ(into0.polygon.points, Reversed(ring));
    for (const Gate& gate : level->gates) {
        const std::vector<int32_t> onlyTarget = {gate.targetLeaf};
        EXPECT_EQ(Marked(gate.mightSee), onlyTarget);
        EXPECT_EQ(Marked(gate.sees), onlyTarget);
        EXPECT_EQ(gate.mightSeeCount, 1);
        EXPECT_EQ(gate.progress, GATE_DONE);
    }
    EXPECT_EQ(level->leaves[0].gateIndices, std::vector<int32_t>{0});
    EXPECT_EQ(level->leaves[1].gateIndices, std::vector<int32_t>{1});
    EXPECT_EQ(level->leaves[0].pvs, (Bytes{0, 1}));
    EXPECT_EQ(level->leaves[1].pvs, (Bytes{1, 0}));
}

// The same through the whole pipeline: an L-bend is two leaves and one portal.
//
//   #####
//   #...#    the arm along x
//   ###.#    the arm along z
//   ###.#
//   #####
TEST(GateVisibilityTest, LBendIsTwoLeavesThatSeeEachOther) {
    const auto level = CompileAll(GridFromPicture({"#####", "#...#", "###.#", "###.#", "#####"}));
    ASSERT_EQ(level->leaves.size(), 2u);
    ASSERT_EQ(level->portals.size(), 1u);
    ASSERT_EQ(level->gates.size(), 2u);
    for (int32_t leaf = 0; leaf < 2; ++leaf) {
        const std::vector<int32_t>& exits = level->leaves[leaf].gateIndices;
        ASSERT_EQ(exits.size(), 1u);
        const Gate& gate = level->gates[exits[0]];
        EXPECT_EQ(gate.sourceLeaf, leaf);
        EXPECT_EQ(gate.targetLeaf, 1 - leaf);
        EXPECT_EQ(Marked(gate.mightSee), std::vector<int32_t>{1 - leaf});
        EXPECT_EQ(Marked(gate.sees), std::vector<int32_t>{1 - leaf});
    }
    EXPECT_EQ(level->leaves[0].pvs, (Bytes{0, 1}));
    EXPECT_EQ(level->leaves[1].pvs, (Bytes{1, 0}));
    EXPECT_TRUE(Sees(*level, CellPoint(1, 1), CellPoint(3, 3)));
}

// Which leaf each gate of a portal leads from and to, for every way the two leaf centres
// can lie against the portal's plane (x = 0, facing +x). Gate 0 keeps the portal's facing
// and so leads into the leaf in front; a centre within 0.001 of the plane counts as on it.
TEST(GateVisibilityTest, GatesLeadIntoTheLeafTheirPolygonFaces) {
    constexpr float FRONT = 50;
    constexpr float BACK = -50;
    constexpr float ON = 0.0005f;
    struct Case {
        const char* what;
        float centreA;
        float centreB;
        int32_t gate0Source;  // gate 0's target is the other leaf
        std::vector<int32_t> exitsOfA;
        std::vector<int32_t> exitsOfB;
    };
    const Case cases[] = {
        {"A front, B back", FRONT, BACK, 1, {1}, {0}},
        {"A front, B front", FRONT, FRONT + 10, 1, {1}, {0}},
        {"A front, B on", FRONT, ON, 1, {1}, {0}},
        {"A on, B back", ON, BACK, 1, {1}, {0}},
        {"A back, B front", BACK, FRONT, 0, {0}, {1}},
        {"A back, B back", BACK, BACK - 10, 0, {0}, {1}},
        {"A back, B on", BACK, -ON, 0, {0}, {1}},
        {"A on, B front", -ON, 0.002f, 0, {0}, {1}},
    };
    const Winding ring = OpeningAlongX(0, -50, 50);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto level = HandLevel({{c.centreA, 50, -100}, {c.centreB, 50, 100}}, {{ring, 0, 1}});
        level->BuildGates();
        ASSERT_EQ(level->gates.size(), 2u);
        const Gate& gate0 = level->gates[0];
        const Gate& gate1 = level->gates[1];
        EXPECT_EQ(gate0.sourceLeaf, c.gate0Source);
        EXPECT_EQ(gate0.targetLeaf, 1 - c.gate0Source);
        EXPECT_EQ(gate1.sourceLeaf, 1 - c.gate0Source);
        EXPECT_EQ(gate1.targetLeaf, c.gate0Source);
        EXPECT_EQ(gate0.polygon.points, ring);
        EXPECT_EQ(gate1.polygon.points, Reversed(ring));
        EXPECT_EQ(level->leaves[0].gateIndices, c.exitsOfA);
        EXPECT_EQ(level->leaves[1].gateIndices, c.exitsOfB);
        for (const Gate& gate : level->gates) {
            EXPECT_EQ(gate.mightSee, (Bytes{0, 0}));
            EXPECT_EQ(gate.sees, (Bytes{0, 0}));
            EXPECT_EQ(gate.progress, GATE_PENDING);
        }
    }
}

// Portal 0 has both leaf centres on its plane: its gates keep numbers 0 and 1 but lead
// nowhere, belong to no leaf and see nothing; portal 1 still makes gates 2 and 3.
TEST(GateVisibilityTest, PortalWithBothCentresOnItsPlaneLeadsNowhere) {
    auto level = HandLevel({{0, 50, -50}, {0.0008f, 50, 50}, {150, 50, 50}},
                           {{OpeningAlongX(0, -50, 50), 0, 1}, {OpeningAlongX(100, 0, 100), 1, 2}});
    level->ComputePvs();
    ASSERT_EQ(level->gates.size(), 4u);
    for (int g = 0; g < 2; ++g) {
        const Gate& gate = level->gates[g];
        EXPECT_EQ(gate.targetLeaf, -1);
        EXPECT_TRUE(gate.polygon.points.empty());
        EXPECT_EQ(gate.mightSee, (Bytes{0, 0, 0}));
        EXPECT_EQ(gate.sees, (Bytes{0, 0, 0}));
        EXPECT_EQ(gate.mightSeeCount, 0);
        EXPECT_EQ(gate.progress, GATE_DONE);
    }
    EXPECT_EQ(level->gates[2].sourceLeaf, 1);
    EXPECT_EQ(level->gates[2].targetLeaf, 2);
    EXPECT_EQ(level->gates[3].sourceLeaf, 2);
    EXPECT_EQ(level->gates[3].targetLeaf, 1);
    EXPECT_TRUE(level->leaves[0].gateIndices.empty());
    EXPECT_EQ(level->leaves[1].gateIndices, std::vector<int32_t>{2});
    EXPECT_EQ(level->leaves[2].gateIndices, std::vector<int32_t>{3});
    EXPECT_EQ(level->leaves[0].pvs, (Bytes{0, 0, 0}));
    EXPECT_EQ(level->leaves[1].pvs, (Bytes{0, 0, 1}));
    EXPECT_EQ(level->leaves[2].pvs, (Bytes{0, 1, 0}));
}

// Leaf 2 has no portal: it sees nothing, not even itself. A second pass replaces whatever
// the sets held before, and a level of one leaf gets a set of one zero byte.
TEST(GateVisibilityTest, LeafWithoutGatesSeesNothing) {
    auto level =
        HandLevel({{-50, 50, 0}, {50, 50, 0}, {500, 50, 500}}, {{OpeningAlongX(0, -50, 50), 0, 1}});
    level->ComputePvs();
    for (BspLeaf& leaf : level->leaves) {
        std::fill(leaf.pvs.begin(), leaf.pvs.end(), 1);
    }
    level->ComputePvs();
    EXPECT_EQ(level->leaves[0].pvs, (Bytes{0, 1, 0}));
    EXPECT_EQ(level->leaves[1].pvs, (Bytes{1, 0, 0}));
    EXPECT_EQ(level->leaves[2].pvs, (Bytes{0, 0, 0}));

    // A straight corridor of five cells is one leaf with no portals.
    const auto corridor = CompileAll(GridFromPicture({"#######", "#.....#", "#######"}));
    ASSERT_EQ(corridor->leaves.size(), 1u);
    EXPECT_TRUE(corridor->portals.empty());
    EXPECT_TRUE(corridor->gates.empty());
    EXPECT_EQ(corridor->leaves[0].pvs, Bytes{0});
}

// Seen from above (z down the page), three leaves and two openings:
//
//   x = -100   0   100
//        +-----+-----+  z = 0
//        |  0  :     |
//        +-----+  1  |  z = 100
//        |  2  :     |
//        +-----+-----+  z = 200
//
// Both openings lie in the plane x = 0. Looking from leaf 0 into leaf 1, the opening into
// leaf 2 lies in the plane of the first, so the flood does not pass it and the clip would
// leave nothing of it: leaves 0 and 2 do not see each other.
TEST(GateVisibilityTest, GateInThePlaneOfTheSourceGateIsNeverEntered) {
    auto level = HandLevel({{-50, 50, 50}, {50, 50, 100}, {-50, 50, 150}},
                           {{OpeningAlongX(0, 0, 100), 0, 1}, {OpeningAlongX(0, 100, 200), 1, 2}});
    level->ComputePvs();
    ASSERT_EQ(level->gates.size(), 4u);
    const Gate& from0 = level->gates[0];
    ASSERT_EQ(from0.sourceLeaf, 0);
    ASSERT_EQ(from0.targetLeaf, 1);
    EXPECT_EQ(Marked(from0.mightSee), std::vector<int32_t>{1});
    EXPECT_EQ(Marked(from0.sees), std::vector<int32_t>{1});
    EXPECT_EQ(level->leaves[0].pvs, (Bytes{0, 1, 0}));
    EXPECT_EQ(level->leaves[1].pvs, (Bytes{1, 0, 1}));
    EXPECT_EQ(level->leaves[2].pvs, (Bytes{0, 1, 0}));

    // The gate from leaf 1 into leaf 2, clipped to the front of the source gate's plane.
    const std::vector<int32_t>& exitsOf1 = level->leaves[1].gateIndices;
    const auto into2 = std::find_if(exitsOf1.begin(), exitsOf1.end(),
                                    [&](int32_t g) { return level->gates[g].targetLeaf == 2; });
    ASSERT_NE(into2, exitsOf1.end());
    BuildPoly clipped = level->gates[*into2].polygon;
    ClipToFront(clipped, level->gates[0].polygon.GetPlane());
    EXPECT_TRUE(clipped.points.empty());
}

// Four leaves in a row along x, each 100 wide and z from -50 to 50, with openings at
// x = 0, 100 and 200. Seen from above:
//
//        leaf 0 | leaf 1 | leaf 2 | leaf 3          full openings: the ends see each other
//
//        leaf 0 |_ leaf 1  _| leaf 2 |_ leaf 3      slits at z = -50..-40, 40..50, -50..-40
//
// A line through the first two slits climbs at least 0.8 in z per unit of x, so it is at
// z >= 120 when it reaches the third: leaf 0 sees leaf 2 but not leaf 3.
TEST(GateVisibilityTest, CorridorEndsSeeEachOtherUnlessTheOpeningsZigZag) {
    struct Case {
        const char* what;
        float low[3];  // z range of each opening
        float high[3];
        Bytes firstSees;
        Bytes lastSees;
    };
    const Case cases[] = {
        {"full openings", {-50, -50, -50}, {50, 50, 50}, {0, 1, 1, 1}, {1, 1, 1, 0}},
        {"zig-zag slits", {-50, 40, -50}, {-40, 50, -40}, {0, 1, 1, 0}, {0, 1, 1, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<HandPortal> openings;
        for (int k = 0; k < 3; ++k) {
            openings.push_back({OpeningAlongX(100.0f * k, c.low[k], c.high[k]), k, k + 1});
        }
        auto level = HandLevel({{-50, 50, 0}, {50, 50, 0}, {150, 50, 0}, {250, 50, 0}}, openings);
        level->ComputePvs();
        EXPECT_EQ(level->leaves[0].pvs, c.firstSees);
        EXPECT_EQ(level->leaves[3].pvs, c.lastSees);
    }
}

// Gates run smallest flood first; gates with equal floods keep their index order, so the
// sets come out the same on every run. The order shows in which gate is newly finished
// each time the pass reports progress.
TEST(GateVisibilityTest, GatesFinishInStableOrderOfFloodSize) {
    auto level = levels::CompileTree(GenerateMaze({6, 6, 3, 0.3, 2}));
    level->BuildPortals();
    level->BuildGates();
    level->FloodMightSee();
    const std::vector<Gate>& gates = level->gates;
    std::vector<int32_t> finished;
    std::vector<uint8_t> counted(gates.size(), 0);
    level->CalcVisibility([&](const VisibilityTally& tally) {
        const int64_t done = tally.committed;
        EXPECT_EQ(tally.total, static_cast<int64_t>(gates.size()));
        for (size_t g = 0; g < gates.size(); ++g) {
            if (gates[g].progress == GATE_DONE && counted[g] == 0) {
                counted[g] = 1;
                finished.push_back(static_cast<int32_t>(g));
            }
        }
        EXPECT_EQ(static_cast<int64_t>(finished.size()), done);
    });
    ASSERT_EQ(finished.size(), gates.size());
    for (size_t k = 1; k < finished.size(); ++k) {
        const Gate& before = gates[finished[k - 1]];
        const Gate& after = gates[finished[k]];
        EXPECT_TRUE(before.mightSeeCount < after.mightSeeCount ||
                    (before.mightSeeCount == after.mightSeeCount && finished[k - 1] < finished[k]))
            << "gate " << finished[k - 1] << " finished before gate " << finished[k];
    }
}

// Properties at world points of block levels (cell (i, j) centred at x = (i-1) * 100,
// z = (j-1) * 100). Every "sees" pair is first shown to be a real sight line, so it must
// hold whatever leaves the tree makes.
struct SightCase {
    const char* what;
    Vector3 from;
    Vector3 to;
    bool sees;
};

void CheckSights(const std::vector<std::string>& picture, const std::vector<SightCase>& cases) {
    const levels::CompiledLevel level = levels::CompileWithPvs(GridFromPicture(picture));
    WallIndex walls(level.walls);
    for (const SightCase& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.sees) {
            ASSERT_TRUE(walls.IsClear(c.from, c.to)) << "the case is no sight line";
        }
        EXPECT_EQ(Sees(*level.compiler, c.from, c.to), c.sees);
        EXPECT_EQ(Sees(*level.compiler, c.to, c.from), c.sees);
    }
}

// Two rooms of 3 x 3 cells and a door in the middle of the wall between them:
//
//   #########
//   #A..#...#
//   #.......#
//   #...#..B#
//   #########
TEST(GateVisibilityTest, TwoRoomsJoinedByADoorSeeEachOther) {
    CheckSights({"#########", "#...#...#", "#.......#", "#...#...#", "#########"},
                {
                    {"room centres", CellPoint(2, 2), CellPoint(6, 2), true},
                    {"corner A to corner B across the door", {0, 10, 0}, {600, 90, 200}, true},
                    {"door to a far corner", CellPoint(4, 2), CellPoint(7, 1), true},
                });
}

// Two rooms over a hall, each with a door in the hall's north wall:
//
//   #########
//   #A..#..B#    room 1 (columns 1-3) and room 3 (columns 5-7)
//   #...#...#
//   ##.###.##    doors at columns 2 and 6
//   #.......#    the hall
//   #...H...#
//   #########
//
// The leaves of A, B and room 3's middle stay above the hall, in their rooms and door cells,
// and no line from there in room 1 to there in room 3 passes the wall between them: they
// do not see each other, while the hall sees both rooms through the doors. (The leaves of
// the door cells themselves reach down into the hall, so those do see each other.)
TEST(GateVisibilityTest, RoomsBehindTheSameWallDoNotSeeEachOther) {
    const std::vector<std::string> picture = {"#########", "#...#...#", "#...#...#", "##.###.##",
                                              "#.......#", "#.......#", "#########"};
    const levels::CompiledLevel level = levels::CompileWithPvs(GridFromPicture(picture));
    const BspCompiler& compiler = *level.compiler;
    const auto insideRoom = [&](Vector3 p, float xMin, float xMax) {
        const Bounds& box = compiler.leaves[compiler.LocateLeaf(p, 0)].bounds;
        return box.center.x - box.halfExtent.x >= xMin && box.center.x + box.halfExtent.x <= xMax &&
               box.center.z + box.halfExtent.z <= 250;
    };
    ASSERT_TRUE(insideRoom(CellPoint(1, 1), -50, 250));
    ASSERT_TRUE(insideRoom(CellPoint(7, 1), 350, 650));
    ASSERT_TRUE(insideRoom(CellPoint(6, 1), 350, 650));
    CheckSights(picture,
                {
                    {"corner A and corner B", CellPoint(1, 1), CellPoint(7, 1), false},
                    {"hall under door 1 to room 1", CellPoint(2, 5), CellPoint(2, 1), true},
                    {"hall under door 2 to room 3", CellPoint(6, 5), CellPoint(6, 2), true},
                    {"corner A and room 3's middle", CellPoint(1, 1), CellPoint(6, 1), false},
                });
}

// One closed room (x and z in [-50, 50], y in [0, 100]) holding a floating cube of side 30
// centred at (0, 50, 0), turned 30 degrees about x and then 30 degrees about y, its faces
// pointing out. The region between one slanted cube face and the room's upper corner is a
// leaf whose box centre lies about 5.3 behind that face's plane although the leaf lies in
// front of it, so the three gates out of it through portals on that plane are oriented as
// if it lay behind: each faces its own source leaf, its flood stops at its target, and the
// leaf misses leaves that clear sight lines reach through two portals (for example from
// (4.457, 17.849, 36.746) to (-40.130, 80.788, 18.604)). Vertical prisms, such as every
// leaf of a block level, always have their box centre on their own side of each portal.
// Points just off each portal's middle orient the gates instead.
TEST(GateVisibilityTest, SlantedCubeInARoomHidesNothingInSight) {
    auto model = BuildMazeModel(GenerateMaze({1, 1, 1, 0.0, 0}), MazeLayout{});
    const double turn = std::acos(-1.0) / 6;
    const auto corner = [&](int sx, int sy, int sz) {
        double x = 15.0 * sx;
        double y = 15.0 * sy;
        double z = 15.0 * sz;
        const double y1 = std::cos(turn) * y - std::sin(turn) * z;
        z = std::sin(turn) * y + std::cos(turn) * z;
        y = y1;
        const double x1 = std::cos(turn) * x + std::sin(turn) * z;
        z = -std::sin(turn) * x + std::cos(turn) * z;
        x = x1;
        return Vector3{static_cast<float>(x), static_cast<float>(50 + y), static_cast<float>(z)};
    };
    // Each face's corners counter-clockwise seen from outside the cube.
    const int faces[6][4][3] = {
        {{1, -1, -1}, {1, 1, -1}, {1, 1, 1}, {1, -1, 1}},
        {{-1, -1, -1}, {-1, -1, 1}, {-1, 1, 1}, {-1, 1, -1}},
        {{-1, 1, -1}, {-1, 1, 1}, {1, 1, 1}, {1, 1, -1}},
        {{-1, -1, -1}, {1, -1, -1}, {1, -1, 1}, {-1, -1, 1}},
        {{-1, -1, 1}, {1, -1, 1}, {1, 1, 1}, {-1, 1, 1}},
        {{-1, -1, -1}, {-1, 1, -1}, {1, 1, -1}, {1, -1, -1}},
    };
    for (const auto& face : faces) {
        PlyFace& added = model->faces.emplace_back();
        added.layers.emplace_back();
        for (int k = 0; k < 4; ++k) {
            added.positionIndex[k] = static_cast<int32_t>(model->positions.size());
            model->positions.push_back(corner(face[k][0], face[k][1], face[k][2]));
            model->cornerLists.emplace_back();
        }
    }
    const levels::CompiledLevel level = levels::CompileWithPvs(*model);
    ASSERT_EQ(level.walls.size(), 12u);
    const VerifyResult result = VerifyPvs(*level.compiler, level.walls, 20000, 1);
    EXPECT_TRUE(result.violations.empty()) << result.violations.size() << " violations";
}

// Leaves whose box centres cannot orient the gates between them. Two slivers mirrored
// across their portal have both centres on its plane; a wedge thinner than the first
// probe's offset has its neighbours' centres behind the portal on both sides. In each
// level, a short clear sight line joins the two leaves named, through that portal (the
// first) or through both portals of the wedge (the second), and the flood alone misses it
// when the gates are turned wrong or missing; so with the leaves' farthest corners asked
// before the centres, as for meshes.
TEST(GateVisibilityTest, LeavesWhoseCentresMisleadStillSeeThroughTheirPortals) {
    struct Case {
        const char* file;
        int32_t from;
        int32_t to;
        bool byCorners;
    };
    const Case cases[] = {
        {"mirrored-slivers.ply", 33, 28, false},
        {"thin-wedge.ply", 170, 323, false},
        {"mirrored-slivers.ply", 33, 28, true},
        {"thin-wedge.ply", 170, 323, true},
    };
    for (const Case& c : cases) {
        std::string reason;
        const auto model =
            LoadModel(std::string(BSPPVS_SOURCE_DIR) + "/tests/data/" + c.file, reason);
        ASSERT_NE(model, nullptr) << c.file << (c.byCorners ? " by corners" : "") << ": " << reason;
        // The rough flood alone shows it, and these quad soups take long to clip.
        BspCompiler compiler;
        compiler.floodOnly = true;
        compiler.orientByCorners = c.byCorners;
        compiler.ImportPolys(LevelMeshFromModel(*model));
        compiler.BuildTree();
        compiler.BuildPortals();
        compiler.ComputePvs();
        ASSERT_GT(compiler.leaves.size(), static_cast<size_t>(std::max(c.from, c.to)))
            << c.file << (c.byCorners ? " by corners" : "");
        EXPECT_EQ(compiler.leaves[c.from].pvs[c.to], 1)
            << c.file << (c.byCorners ? " by corners" : "");
        EXPECT_EQ(compiler.leaves[c.to].pvs[c.from], 1)
            << c.file << (c.byCorners ? " by corners" : "");
    }
}

// A room with a square pillar turned 45 degrees, one face on the room's diagonal: the
// pillar's planes cut the room's corners into right triangles mirrored across the
// diagonal, whose box centres lie on the portals between them. Every portal must still
// get two gates that lead somewhere.
TEST(GateVisibilityTest, PortalsBetweenMirroredTrianglesGetGates) {
    std::vector<std::vector<Vector3>> faces;
    const auto quad = [&](Vector3 a, Vector3 b, Vector3 c, Vector3 d) {
        faces.push_back({a, b, c, d});
    };
    // The room, faces turned inward.
    const float r = 100.0f;
    quad({r, 0, -r}, {r, r, -r}, {-r, r, -r}, {-r, 0, -r});
    quad({-r, 0, r}, {-r, r, r}, {r, r, r}, {r, 0, r});
    quad({r, 0, r}, {r, r, r}, {r, r, -r}, {r, 0, -r});
    quad({-r, 0, -r}, {-r, r, -r}, {-r, r, r}, {-r, 0, r});
    quad({r, 0, r}, {r, 0, -r}, {-r, 0, -r}, {-r, 0, r});
    quad({-r, r, r}, {-r, r, -r}, {r, r, -r}, {r, r, r});
    // The pillar, from y 30 to 70, faces turned outward; its face from p0 to p1 lies on
    // the diagonal x = z.
    const float h = 20.0f * std::sqrt(2.0f);
    const Vector3 foot[4] = {
        {-h / 2, 0, -h / 2}, {h / 2, 0, h / 2}, {-h / 2, 0, 3 * h / 2}, {-3 * h / 2, 0, h / 2}};
    for (int k = 0; k < 4; ++k) {
        const Vector3 p = foot[k];
        const Vector3 q = foot[(k + 1) % 4];
        quad({p.x, 30, p.z}, {p.x, 70, p.z}, {q.x, 70, q.z}, {q.x, 30, q.z});
    }
    quad({foot[0].x, 70, foot[0].z}, {foot[3].x, 70, foot[3].z}, {foot[2].x, 70, foot[2].z},
         {foot[1].x, 70, foot[1].z});
    quad({foot[0].x, 30, foot[0].z}, {foot[1].x, 30, foot[1].z}, {foot[2].x, 30, foot[2].z},
         {foot[3].x, 30, foot[3].z});

    const levels::CompiledLevel level = levels::CompileWithPvs(*levels::ModelFromFaces(faces));
    const BspCompiler& compiler = *level.compiler;
    ASSERT_FALSE(compiler.portals.empty());
    for (size_t g = 0; g < compiler.gates.size(); ++g) {
        EXPECT_NE(compiler.gates[g].targetLeaf, -1) << "gate " << g;
    }
    const VerifyResult result = VerifyPvs(compiler, level.walls, 20000, 1);
    EXPECT_TRUE(result.violations.empty()) << result.violations.size() << " violations";
}

// A level with one corner 131072 units out, where a float's spacing is wider than the
// clipping tolerance: the gates around the sliver it makes are oriented so that a chain
// can pass back and forth between two leaves without its clips ever shrinking. A sight
// line crosses a convex leaf once, so the chains must end; this once recursed until it ran
// out of stack.
TEST(GateVisibilityTest, ChainsEndWhenDegenerateGatesLeadBackAndForth) {
    std::string reason;
    const auto model =
        LoadModel(std::string(BSPPVS_SOURCE_DIR) + "/tests/data/far-corner-sliver.ply", reason);
    ASSERT_NE(model, nullptr) << reason;
    BspCompiler compiler;
    compiler.ImportPolys(LevelMeshFromModel(*model));
    compiler.BuildTree();
    compiler.BuildPortals();
    compiler.ComputePvs();
    ASSERT_EQ(compiler.leaves.size(), 35u);
    for (size_t g = 0; g < compiler.gates.size(); ++g) {
        const Gate& gate = compiler.gates[g];
        EXPECT_EQ(gate.progress, GATE_DONE) << "gate " << g;
        for (size_t x = 0; x < compiler.leaves.size(); ++x) {
            EXPECT_LE(gate.sees[x], gate.mightSee[x]) << "gate " << g << " leaf " << x;
        }
        if (gate.targetLeaf != -1) {
            EXPECT_EQ(gate.sees[gate.targetLeaf], 1) << "gate " << g;
        }
    }
}

}  // namespace
}  // namespace bsppvs
