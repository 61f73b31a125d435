// Portal building on trees small enough to know every piece: the square laid on a node's
// plane, how pieces are cut and collect leaves on their way down, which pieces are kept,
// and how two pieces joining the same leaves are merged.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <list>
#include <string>
#include <vector>

#include "../support/compiler_levels.h"
#include "../support/geometry_print.h"
#include "compile/bsp_compiler.h"
#include "geometry/tolerances.h"
#include "portals/portal_builder.h"
#include "portals/portal_cover.h"
#include "portals/thin_leaves.h"

namespace bsppvs {
namespace {

PortalBuilder Builder(BspCompiler& compiler) {
    return PortalBuilder(compiler, compiler.portals);
}

BspNode MakeNode(Plane plane, Bounds bounds, int32_t front, int32_t frontIsLeaf, int32_t back) {
    BspNode node;
    node.plane = plane;
    node.bounds = bounds;
    node.front = front;
    node.frontIsLeaf = frontIsLeaf;
    node.back = back;
    return node;
}

const Bounds UNIT_BOX{{0, 0, 0}, {1, 1, 1}};

// The square for a node: on the node's plane, centred on the box centre's projection,
// counter-clockwise about the normal, built across the axis least aligned with the
// normal (ties to X, then Y). That axis is perpendicular to the square's sides u, so its
// component of the edge from corner 1 to corner 2 (which is 2u) is exactly zero. A whole
// square (meshes) covers the box's every corner seen along the normal, so every opening
// the box holds; the plain one falls short of some on oblique planes.
TEST(MakeNodePortalTest, SquareOnNodePlane) {
    struct SquareCase {
        const char* what;
        Vector3 normal;
        float d;
        Bounds bounds;
        int axis;
    };
    const float s = 1.0f / std::sqrt(3.0f);
    const float h = std::sqrt(0.5f);
    const SquareCase cases[] = {
        {"+z", {0, 0, 1}, 5, {{1, 2, 3}, {3, 4, 0}}, 0},
        {"-z", {0, 0, -1}, 2, {{1, 2, 3}, {3, 4, 0}}, 0},
        {"+y", {0, 1, 0}, -7, {{10, 0, 10}, {5, 5, 5}}, 0},
        {"+x", {1, 0, 0}, 3, {{0, 0, 0}, {0, 2, 2}}, 1},
        {"-x", {-1, 0, 0}, 3, {{0, 0, 0}, {0, 2, 2}}, 1},
        {"equal components", {s, s, s}, 1, UNIT_BOX, 0},
        {"equal negative components", {-s, s, -s}, 1, UNIT_BOX, 0},
        {"x and y tie below z", {0.5f, -0.5f, h}, 0, UNIT_BOX, 0},
        {"y and z tie below x", {h, 0.5f, 0.5f}, 0, UNIT_BOX, 1},
        {"z smallest", {0.6f, 0.8f, 0}, 4, {{100, 50, 20}, {40, 30, 0}}, 2},
    };
    for (const SquareCase& c : cases) {
        for (const bool whole : {false, true}) {
            BspCompiler compiler;
            const BspNode node = MakeNode(Plane(c.normal, c.d), c.bounds, 0, 1, -1);
            PortalBuilder builder = Builder(compiler);
            builder.WholeSquares(whole);
            Portal square = builder.MakeNodePortal(node);
            ASSERT_EQ(square.points.size(), 4u) << c.what;
            EXPECT_EQ(square.triangleIndices, (std::vector<int32_t>{0, 1, 2, 0, 2, 3})) << c.what;
            EXPECT_EQ(square.planeValid, 0) << c.what;
            EXPECT_EQ(square.usedAsSplitter, 0) << c.what;
            EXPECT_TRUE(square.leafIndices.empty()) << c.what;

            const Vector3 side = Subtract(square.points[2], square.points[1]);
            const float along[3] = {side.x, side.y, side.z};
            EXPECT_EQ(along[c.axis], 0.0f) << c.what;
            const Plane plane = square.GetPlane();
            EXPECT_NEAR(plane.a, c.normal.x, 1e-5f) << c.what;
            EXPECT_NEAR(plane.b, c.normal.y, 1e-5f) << c.what;
            EXPECT_NEAR(plane.c, c.normal.z, 1e-5f) << c.what;
            Vector3 sum = ORIGIN;
            for (const Vector3& p : square.points) {
                EXPECT_NEAR(node.plane.SignedDistance(p), 0.0f, 1e-4f) << c.what;
                sum = Add(sum, p);
            }
            const Vector3 centre = c.bounds.center;
            const Vector3 q = Subtract(centre, Scale(c.normal, Dot(c.normal, centre) - c.d));
            EXPECT_NEAR(sum.x / 4, q.x, 1e-4f) << c.what;
            EXPECT_NEAR(sum.y / 4, q.y, 1e-4f) << c.what;
            EXPECT_NEAR(sum.z / 4, q.z, 1e-4f) << c.what;
            // Each half side is the half-extent's length, times the sine between axis and
            // normal unless whole.
            const float k = std::sqrt(Dot(c.bounds.halfExtent, c.bounds.halfExtent));
            const float normal[3] = {c.normal.x, c.normal.y, c.normal.z};
            const float sine = whole ? 1.0f : std::sqrt(1.0f - normal[c.axis] * normal[c.axis]);
            EXPECT_NEAR(std::sqrt(Dot(side, side)), 2 * k * sine, 1e-4f * (1 + k)) << c.what;
            bool coversCorners = true;
            for (int corner = 0; corner < 8; ++corner) {
                const Vector3 e = c.bounds.halfExtent;
                const Vector3 p =
                    Add(centre, {(corner & 1) != 0 ? e.x : -e.x, (corner & 2) != 0 ? e.y : -e.y,
                                 (corner & 4) != 0 ? e.z : -e.z});
                for (size_t i = 0; i < 4; ++i) {
                    const Vector3 a = square.points[i];
                    const Vector3 edge = Subtract(square.points[(i + 1) % 4], a);
                    const float inside = Dot(Cross(edge, Subtract(p, a)), c.normal);
                    coversCorners = coversCorners && inside >= -1e-4f * (1 + k * k);
                }
            }
            EXPECT_TRUE(coversCorners || (!whole && sine < 1.0f)) << c.what;
            if (std::string(c.what) == "equal components") {
                EXPECT_EQ(coversCorners, whole) << "the plain square misses corners";
            }
        }
    }
}

TEST(MakeNodePortalTest, ExactSquare) {
    BspCompiler compiler;
    Portal square = Builder(compiler).MakeNodePortal(
        MakeNode(Plane(0, 0, 1, 5), {{1, 2, 3}, {3, 4, 0}}, 0, 1, -1));
    EXPECT_EQ(square.points, (Winding{{6, 7, 5}, {-4, 7, 5}, {-4, -3, 5}, {6, -3, 5}}));
    EXPECT_EQ(square.GetPlane(), Plane(0, 0, 1, 5));
}

// Node 0 (z = 0): leaf 0 above, node 1 below. Node 1 (z = -10): leaf 1 above, solid
// below. Node 0's square lies in its own plane: it reaches leaf 0 in front, then node 1,
// which puts it in leaf 1. Node 1's square lies behind node 0 and reaches leaf 1 only.
TEST(BuildPortalsTest, TwoNodeTree) {
    BspCompiler compiler;
    compiler.nodes = {MakeNode(Plane(0, 0, 1, 0), UNIT_BOX, 0, 1, 1),
                      MakeNode(Plane(0, 0, 1, -10), UNIT_BOX, 1, 1, -1)};
    compiler.leaves.resize(2);

    Portal lower = Builder(compiler).MakeNodePortal(compiler.nodes[1]);
    std::list<Portal> pieces;
    Builder(compiler).ClipPortal(lower, pieces, 0);
    ASSERT_EQ(pieces.size(), 1u);
    EXPECT_EQ(pieces.front().leafIndices, (std::vector<int32_t>{1}));

    compiler.BuildPortals();
    ASSERT_EQ(compiler.portals.size(), 1u);
    Portal& portal = compiler.portals[0];
    EXPECT_EQ(portal.leafIndices, (std::vector<int32_t>{0, 1}));
    EXPECT_EQ(portal.points.size(), 4u);
    EXPECT_EQ(portal.GetPlane(), Plane(0, 0, 1, 0));
}

TEST(BuildPortalsTest, TreesWithoutPortals) {
    // A level without polygons: an empty tree, and nothing to lay squares on.
    BspCompiler empty;
    empty.BuildTree();
    empty.BuildPortals();
    EXPECT_TRUE(empty.portals.empty());

    // One node: its square reaches only the leaf in front.
    BspCompiler single;
    single.nodes = {MakeNode(Plane(0, 1, 0, 0), UNIT_BOX, 0, 1, -1)};
    single.leaves.resize(1);
    single.BuildPortals();
    EXPECT_TRUE(single.portals.empty());

    // Three coplanar nodes, each with a leaf in front: every square collects all three
    // leaves and is not stored.
    BspCompiler stacked;
    stacked.nodes = {MakeNode(Plane(0, 0, 1, 0), UNIT_BOX, 0, 1, 1),
                     MakeNode(Plane(0, 0, -1, 0), UNIT_BOX, 1, 1, 2),
                     MakeNode(Plane(0, 0, 1, 0), UNIT_BOX, 2, 1, -1)};
    stacked.leaves.resize(3);
    Portal square = Builder(stacked).MakeNodePortal(stacked.nodes[0]);
    std::list<Portal> pieces;
    Builder(stacked).ClipPortal(square, pieces, 0);
    ASSERT_EQ(pieces.size(), 1u);
    EXPECT_EQ(pieces.front().leafIndices, (std::vector<int32_t>{0, 1, 2}));
    stacked.BuildPortals();
    EXPECT_TRUE(stacked.portals.empty());

    // For meshes: leaf 1 squeezed to nothing is passed through, and the piece joins leaves
    // 0 and 2, listing leaf 1 after them (and recorded as passed by that portal); or,
    // crowded pieces kept, every two of the three are joined.
    const std::vector<uint8_t> squeezed = {0, 1, 0};
    std::vector<Portal> passed;
    std::vector<std::vector<int32_t>> passedBy;
    PortalBuilder passing(stacked, passed);
    passing.PassThrough(squeezed);
    passing.RecordPassed(passedBy);
    passing.BuildPortals();
    ASSERT_EQ(passed.size(), 1u);
    EXPECT_EQ(passed[0].leafIndices, (std::vector<int32_t>{0, 2, 1}));
    EXPECT_EQ(passedBy, (std::vector<std::vector<int32_t>>{{1}}));
    std::vector<Portal> joined;
    PortalBuilder joining(stacked, joined);
    joining.JoinCrowded(true);
    joining.BuildPortals();
    std::vector<std::vector<int32_t>> pairs;
    for (const Portal& portal : joined) {
        pairs.push_back(portal.leafIndices);
    }
    EXPECT_EQ(pairs, (std::vector<std::vector<int32_t>>{{0, 1}, {0, 2}, {1, 2}}));
}

// Node 0 (x = 0): leaf 0 on the +x side, node 1 behind. Node 1 (z = -10): leaf 1 above,
// solid below. A square on z = 0 spans node 0: it is cut there (at tolerance 0.001), the
// piece in front is listed before the piece behind, and both keep the leaves collected
// before the cut.
TEST(ClipPortalTest, SpanningSquareIsCutFrontPieceFirst) {
    BspCompiler compiler;
    compiler.nodes = {MakeNode(Plane(1, 0, 0, 0), UNIT_BOX, 0, 1, 1),
                      MakeNode(Plane(0, 0, 1, -10), UNIT_BOX, 1, 1, -1)};
    Portal square = Builder(compiler).MakeNodePortal(
        MakeNode(Plane(0, 0, 1, 0), {{0, 0, 0}, {3, 4, 0}}, 0, 1, -1));
    square.leafIndices = {7};
    std::list<Portal> pieces;
    Builder(compiler).ClipPortal(square, pieces, 0);
    ASSERT_EQ(pieces.size(), 2u);
    const Portal& front = pieces.front();
    const Portal& back = pieces.back();
    EXPECT_EQ(front.leafIndices, (std::vector<int32_t>{7, 0}));
    EXPECT_EQ(back.leafIndices, (std::vector<int32_t>{7, 1}));
    EXPECT_EQ(front.points.size(), 4u);
    EXPECT_EQ(back.points.size(), 4u);
    for (const Vector3& p : front.points) {
        EXPECT_GE(p.x, 0.0f);
    }
    for (const Vector3& p : back.points) {
        EXPECT_LE(p.x, 0.0f);
    }

    // With solid space behind node 0, the back piece is lost.
    compiler.nodes[0].back = -1;
    pieces.clear();
    Portal again = Builder(compiler).MakeNodePortal(
        MakeNode(Plane(0, 0, 1, 0), {{0, 0, 0}, {3, 4, 0}}, 0, 1, -1));
    Builder(compiler).ClipPortal(again, pieces, 0);
    ASSERT_EQ(pieces.size(), 1u);
    EXPECT_EQ(pieces.front().leafIndices, (std::vector<int32_t>{0}));
}

// A piece counts as spanning only beyond 0.01 on both sides, but is then cut at 0.001: a
// corner 0.005 in front of the plane stays in the front piece alone, and the edge from
// the corner behind it gets a crossing point of its own.
TEST(ClipPortalTest, CutsFinerThanItClassifies) {
    BspCompiler compiler;
    compiler.nodes = {MakeNode(Plane(1, 0, 0, 0), UNIT_BOX, 0, 1, 1),
                      MakeNode(Plane(0, 1, 0, -10), UNIT_BOX, 1, 1, -1)};
    Portal triangle;
    triangle.SetPoints({{-1, 0, 0}, {0.005f, 0, 1}, {1, 0, -1}});
    std::list<Portal> pieces;
    Builder(compiler).ClipPortal(triangle, pieces, 0);
    ASSERT_EQ(pieces.size(), 2u);
    const Portal& front = pieces.front();
    EXPECT_EQ(front.leafIndices, (std::vector<int32_t>{0}));
    ASSERT_EQ(front.points.size(), 4u);
    EXPECT_NEAR(front.points[0].x, 0.0f, 1e-6f);
    EXPECT_NEAR(front.points[0].z, 1.0f / 1.005f, 1e-6f);
    EXPECT_EQ(front.points[1], (Vector3{0.005f, 0, 1}));
    const Portal& back = pieces.back();
    EXPECT_EQ(back.leafIndices, (std::vector<int32_t>{1}));
    EXPECT_EQ(back.points.size(), 3u);

    // A ring tilted a hair off the plane z = 0, behind it but for an edge 0.005 in front,
    // goes whole into the solid space behind and is lost. With thin parts split (meshes),
    // the part in front and the strip within the coarse tolerance behind reach leaf 0, the
    // rest is lost; a ring across the plane keeps no such strip.
    compiler.nodes = {MakeNode(Plane(0, 0, 1, 0), UNIT_BOX, 0, 1, -1)};
    const Winding tilted = {{0, 0, -0.02f}, {10, 0, 0.005f}, {10, 10, 0.005f}, {0, 10, -0.02f}};
    const Winding across = {{0, 0, -1}, {1, 0, 0.005f}, {2, 0, -1}};
    for (const bool isTilted : {true, false}) {
        const Winding& ring = isTilted ? tilted : across;
        Portal piece;
        piece.SetPoints(ring);
        pieces.clear();
        Portal copy = piece;
        Builder(compiler).ClipPortal(copy, pieces, 0);
        EXPECT_TRUE(pieces.empty());
        PortalBuilder thin = Builder(compiler);
        thin.SplitThinParts(true);
        thin.ClipPortal(piece, pieces, 0);
        ASSERT_EQ(pieces.size(), isTilted ? 2u : 1u);
        float lowest = 1.0f;
        for (const Portal& kept : pieces) {
            EXPECT_EQ(kept.leafIndices, (std::vector<int32_t>{0}));
            for (const Vector3& p : kept.points) {
                lowest = std::min(lowest, p.z);
            }
        }
        if (isTilted) {
            EXPECT_NEAR(lowest, -POLY_CLASSIFY_EPSILON, 1e-6f);
        } else {
            EXPECT_GE(lowest, -EPSILON);
        }
    }
}

Portal PortalBetween(int32_t p, int32_t q, float halfSide) {
    Portal portal;
    portal.SetPoints({{-halfSide, -halfSide, 0},
                      {halfSide, -halfSide, 0},
                      {halfSide, halfSide, 0},
                      {-halfSide, halfSide, 0}});
    portal.leafIndices = {p, q};
    return portal;
}

// A second portal for a stored leaf pair, in either order, never takes a new index; it
// replaces the stored polygon (and leaf order) only when strictly larger.
TEST(AddPortalTest, MergesByUnorderedLeafPair) {
    EXPECT_FLOAT_EQ(PortalSize(PortalBetween(0, 1, 3)), std::sqrt(18.0f));
    struct AddStep {
        const char* what;
        int32_t p, q;
        float halfSide;
        bool expectedNew;
    };
    const AddStep steps[] = {
        {"new pair (0, 1): portal 0", 0, 1, 1, true},
        {"new pair (1, 2): portal 1", 1, 2, 1, true},
        {"(1, 0), larger: replaces portal 0", 1, 0, 2, false},
        {"(0, 1), equal: portal 0 stays", 0, 1, 2, false},
        {"(0, 1), smaller: dropped", 0, 1, 0.5f, false},
        {"(2, 1), smaller: dropped", 2, 1, 0.5f, false},
        {"new pair (3, 0): portal 2", 3, 0, 1, true},
    };
    BspCompiler compiler;
    PortalBuilder builder(compiler, compiler.portals);
    for (const AddStep& step : steps) {
        Portal portal = PortalBetween(step.p, step.q, step.halfSide);
        // Lifting the whole portal marks which step stored it without changing its size.
        for (Vector3& corner : portal.points) {
            corner.z = static_cast<float>(&step - steps);
        }
        EXPECT_EQ(builder.AddPortal(portal), step.expectedNew) << step.what;
    }
    ASSERT_EQ(compiler.portals.size(), 3u);
    EXPECT_EQ(compiler.portals[0].leafIndices, (std::vector<int32_t>{1, 0}));
    EXPECT_EQ(compiler.portals[0].points[0].z, 2.0f);
    EXPECT_EQ(compiler.portals[1].leafIndices, (std::vector<int32_t>{1, 2}));
    EXPECT_EQ(compiler.portals[1].points[0].z, 1.0f);
    EXPECT_EQ(compiler.portals[2].leafIndices, (std::vector<int32_t>{3, 0}));

    // On meshes, pieces of one pair from several squares in one plane each cover a part of
    // the face the two leaves share: the stored portal becomes the hull of pieces that
    // touch, whichever is larger. A piece apart, or off the plane, still only replaces a
    // smaller one.
    BspCompiler mesh;
    PortalBuilder thin(mesh, mesh.portals);
    thin.SplitThinParts(true);
    Portal left = PortalBetween(0, 1, 1);
    Portal right = PortalBetween(1, 0, 0.5f);
    for (Vector3& corner : right.points) {
        corner.x += 1.5f;
    }
    EXPECT_TRUE(thin.AddPortal(left));
    EXPECT_FALSE(thin.AddPortal(right));
    ASSERT_EQ(mesh.portals.size(), 1u);
    const Bounds joined = Bounds::FromPoints(mesh.portals[0].points);
    EXPECT_NEAR(joined.center.x, 0.5f, 1e-5f);
    EXPECT_NEAR(joined.halfExtent.x, 1.5f, 1e-5f);
    EXPECT_GT(Dot(ComputeNormal(mesh.portals[0].points), left.GetPlane().Normal()), 0.99f);
    Portal apart = PortalBetween(0, 1, 0.5f);
    Portal lifted = PortalBetween(0, 1, 0.5f);
    for (size_t i = 0; i < apart.points.size(); ++i) {
        apart.points[i].x += 5.0f;
        lifted.points[i].z = 1.0f;
    }
    EXPECT_FALSE(thin.AddPortal(apart));
    EXPECT_FALSE(thin.AddPortal(lifted));
    EXPECT_NEAR(Bounds::FromPoints(mesh.portals[0].points).halfExtent.x, 1.5f, 1e-5f);
}

// A two-sided wall: both nodes' squares join leaves 0 and 1 and are the same size, so the
// first one, node 0's, is kept and faces node 0's way.
TEST(BuildPortalsTest, EqualDuplicateKeepsFirst) {
    for (const bool literal : {false, true}) {
        BspCompiler compiler;
        compiler.buildPolys.push_back(
            levels::MakeBuildPoly({{0, 0, 0}, {4, 0, 0}, {4, 4, 0}, {0, 4, 0}}));
        compiler.buildPolys.push_back(
            levels::MakeBuildPoly({{0, 0, 0}, {0, 4, 0}, {4, 4, 0}, {4, 0, 0}}));
        compiler.BuildTree();
        ASSERT_EQ(compiler.nodes.size(), 2u);
        if (literal) {
            reference::BuildPortals(compiler);
        } else {
            compiler.BuildPortals();
        }
        ASSERT_EQ(compiler.portals.size(), 1u);
        EXPECT_EQ(compiler.portals[0].leafIndices, (std::vector<int32_t>{0, 1}));
        EXPECT_EQ(compiler.portals[0].GetPlane(), Plane(0, 0, 1, 0));
    }
}

// The exact cover of an opening by faces in its plane, facing either way: seams where faces
// meet (or overlap) are closed, while a gap a little wider than the tolerance, a face a
// little off the plane, or a sliver across it, leaves the opening open.
TEST(PortalCoverTest, OnlyFacesThatLeaveNoGapCoverAnOpening) {
    const Winding opening = {{0, 0, 0}, {4, 0, 0}, {4, 4, 0}, {0, 4, 0}};
    const auto quad = [](float x0, float y0, float x1, float y1, float z, bool up) {
        Poly face;
        face.SetPoints(up ? Winding{{x0, y0, z}, {x1, y0, z}, {x1, y1, z}, {x0, y1, z}}
                          : Winding{{x0, y0, z}, {x0, y1, z}, {x1, y1, z}, {x1, y0, z}});
        return face;
    };
    struct CoverCase {
        const char* what;
        std::vector<Poly> faces;
        bool covered;
    };
    const CoverCase cases[] = {
        {"one larger face", {quad(-1, -1, 5, 5, 0, true)}, true},
        {"two faces meeting on a seam, facing opposite ways",
         {quad(-1, -1, 2, 5, 0, true), quad(2, -1, 5, 5, 0, false)},
         true},
        {"four overlapping faces",
         {quad(-1, -1, 2.5f, 2.5f, 0, true), quad(1.5f, -1, 5, 2.5f, 0, true),
          quad(-1, 1.5f, 2.5f, 5, 0, false), quad(1.5f, 1.5f, 5, 5, 0, true)},
         true},
        {"a seam 0.01 wide", {quad(-1, -1, 2, 5, 0, true), quad(2.01f, -1, 5, 5, 0, true)}, false},
        {"a corner left bare",
         {quad(-1, -1, 5, 3.9f, 0, true), quad(-1, 3.5f, 3.9f, 5, 0, true)},
         false},
        {"a face in front of the plane", {quad(-1, -1, 5, 5, 0.1f, true)}, false},
        {"a sliver standing across the plane, its corners within the tolerance of it",
         {[] {
             Poly sliver;
             sliver.SetPoints({{2, -1, 0}, {2, 5, 0}, {2, -1, 0.005f}});
             return sliver;
         }()},
         false},
        {"no face", {}, false},
    };
    for (const CoverCase& c : cases) {
        BspTree tree;
        tree.polys = c.faces;
        BspLeaf leaf;
        leaf.firstPoly = 0;
        leaf.endPoly = static_cast<int32_t>(c.faces.size());
        tree.leaves = {leaf};
        const std::vector<const Poly*> faces = FacesInPlane(tree, 0, Plane(0, 0, 1, 0), true);
        EXPECT_EQ(!faces.empty() && WhollyCovered(opening, faces), c.covered) << c.what;
        // Detail never closes an opening.
        tree.leaves[0].firstDetailPoly = 0;
        EXPECT_TRUE(FacesInPlane(tree, 0, Plane(0, 0, 1, 0), true).empty()) << c.what;
    }
}

// Leaf 1 is a wedge between the plane z = 0 and one tilted a hair off it: a portal to leaf 0
// on each of its faces would leave the two leaves beyond joined only through gates that lie
// on each other's planes, which no chain follows.
TEST(ThinLeavesTest, LeavesAcrossAWedgeAreJoinedWhereItsPortalsOverlap) {
    // In the plane z = tilt * (x - level).
    const auto square = [](int32_t p, int32_t q, float x0, float x1, float tilt,
                           float level = 0.0f) {
        Portal portal;
        const float z0 = tilt * (x0 - level);
        const float z1 = tilt * (x1 - level);
        portal.SetPoints(Winding{{x0, 0, z0}, {x1, 0, z1}, {x1, 10, z1}, {x0, 10, z0}});
        portal.leafIndices = {p, q};
        return portal;
    };
    struct Case {
        const char* what;
        std::vector<Portal> portals;
        // The pair the one opening joins, over the overlap [5, 10] x [0, 10]; empty for none.
        std::vector<int32_t> joins;
        // The leaves that may be crossed; empty for all.
        std::vector<uint8_t> crossable = {};
    };
    const float hair = 0.0004f;
    const std::vector<Case> cases = {
        {"a wedge: its portals overlap on 5 x 10",
         {square(0, 1, 0, 10, 0), square(1, 2, 5, 15, hair / 15)},
         {0, 2}},
        {"a wedge whose planes cross: its portals lie within the tolerance of each other "
         "only on 5 x 10",
         {square(0, 1, 0, 10, 0), square(1, 2, 5, 15, 0.004f, 7.5f)},
         {0, 2}},
        {"two portals of one face side by side",
         {square(0, 1, 0, 10, 0), square(1, 2, 10, 20, 0)},
         {}},
        {"planes 0.1 apart: a leaf with room in it",
         {square(0, 1, 0, 10, 0), square(1, 2, 5, 15, 0.1f / 15)},
         {}},
        {"a wedge, only other leaves crossable",
         {square(0, 1, 0, 10, 0), square(1, 2, 5, 15, hair / 15)},
         {},
         {1, 0, 1}},
        {"the two leaves joined already",
         {square(0, 1, 0, 10, 0), square(1, 2, 5, 15, hair / 15), square(0, 2, 20, 30, 1)},
         {}},
    };
    for (const Case& c : cases) {
        std::vector<Portal> portals = c.portals;
        std::vector<int32_t> crossed;
        const std::vector<Portal> openings = OpeningsAcrossThinLeaves(
            portals, 3, c.crossable.empty() ? nullptr : &c.crossable, &crossed);
        if (c.joins.empty()) {
            EXPECT_TRUE(openings.empty()) << c.what;
            continue;
        }
        ASSERT_EQ(openings.size(), 1u) << c.what;
        EXPECT_EQ(openings[0].leafIndices, c.joins) << c.what;
        EXPECT_EQ(crossed, std::vector<int32_t>{1}) << c.what;
        EXPECT_NEAR(PortalSize(openings[0]), std::sqrt(2.5f * 2.5f + 5.0f * 5.0f), 0.01f) << c.what;
    }
}

}  // namespace
}  // namespace bsppvs
