// Which space is open on meshes that are not closed and consistent: the winding rule keeps
// every point of a room open whatever loose, crossing or missing faces it holds, still
// calls the space outside and inside pillars solid, and finds the way in when a level
// leaks.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <map>
#include <numbers>
#include <string>
#include <tuple>
#include <vector>

#include "../support/mesh_levels.h"
#include "bsp/surface_winding.h"
#include "core/random.h"
#include "verify/sight_line_check.h"

namespace bsppvs {
namespace {

using levels::MeshBuilder;

// Makes polygons that name equal coordinates name one position.
void WeldPositions(LevelMesh& mesh) {
    std::map<std::tuple<float, float, float>, int32_t> first;
    std::vector<int32_t> to(mesh.positions.size());
    for (size_t i = 0; i < mesh.positions.size(); ++i) {
        const Vector3 p = mesh.positions[i];
        to[i] = first.emplace(std::tuple{p.x, p.y, p.z}, static_cast<int32_t>(i)).first->second;
    }
    for (int32_t& corner : mesh.corners) {
        corner = to[corner];
    }
}

// A room 400 x 200 x 400 with its floor at y = 0.
MeshBuilder Room() {
    MeshBuilder level;
    level.Box({-200, 0, -200}, {200, 200, 200}, true);
    return level;
}

struct SolidCase {
    std::string what;
    std::function<void(MeshBuilder&)> build;
    std::vector<Vector3> open;
    std::vector<Vector3> solid;
    bool leaks = false;
};

// Points spread over the room, none near a face.
std::vector<Vector3> RoomPoints() {
    std::vector<Vector3> points;
    for (float x : {-150.0f, -50.0f, 50.0f, 150.0f}) {
        for (float y : {20.0f, 100.0f, 180.0f}) {
            for (float z : {-150.0f, -30.0f, 70.0f, 150.0f}) {
                points.push_back({x, y, z});
            }
        }
    }
    return points;
}

std::vector<Vector3> Without(std::vector<Vector3> points, Vector3 lo, Vector3 hi) {
    std::erase_if(points, [&](Vector3 p) {
        return p.x > lo.x && p.x < hi.x && p.y > lo.y && p.y < hi.y && p.z > lo.z && p.z < hi.z;
    });
    return points;
}

TEST(SolidSpaceTest, RoomsStayOpenWhateverTheyHold) {
    const std::vector<Vector3> outside = {{0, 300, 0}, {-300, 100, 0}, {0, -50, 0}, {0, 100, 400}};
    // A pit under the floor, two of its walls turned the wrong way.
    const auto pit = [](MeshBuilder& l) {
        l.Box({60, -100, 60}, {160, 0, 160}, true, 3);
        for (const int face : {6, 7}) {  // the pit's -x and +x walls
            const LevelPolygon& p = l.mesh.polygons[face];
            std::reverse(l.mesh.corners.begin() + p.firstCorner,
                         l.mesh.corners.begin() + p.firstCorner + p.cornerCount);
        }
    };
    std::vector<Vector3> pitPoints = RoomPoints();
    pitPoints.insert(pitPoints.end(), {{110, -50, 110}, {150, -10, 70}, {70, -90, 150}});
    const SolidCase cases[] = {
        {"a closed room", [](MeshBuilder&) {}, RoomPoints(), outside},
        {"a one-sided sign hanging in the room",
         [](MeshBuilder& l) {
             l.Polygon({{-40, 80, 0}, {40, 80, 0}, {40, 140, 0}, {-40, 140, 0}});
         },
         RoomPoints(), outside},
        {"a pillar",
         [](MeshBuilder& l) {
             l.Box({-100, 0, -100}, {-20, 200, -20}, false);
         },
         Without(RoomPoints(), {-100, 0, -100}, {-20, 200, -20}),
         {{-60, 100, -60}, {-30, 20, -90}}},
        {"a floor that runs through the walls",
         [](MeshBuilder& l) {
             l.Polygon({{-260, 60, -260}, {-260, 60, 260}, {260, 60, 260}, {260, 60, -260}});
         },
         RoomPoints(),
         {{0, 300, 0}, {-300, 100, 0}}},
        {"two crossing two-sided panels",
         [](MeshBuilder& l) {
             l.Box({-120, 40, -2}, {120, 160, 2}, false);
             l.Box({-2, 40, -120}, {2, 160, 120}, false);
         },
         Without(Without(RoomPoints(), {-120, 40, -2}, {120, 160, 2}), {-2, 40, -120},
                 {2, 160, 120}),
         outside},
        {"rooms above and below, a start in each: the faces closing the shared planes face "
         "either way",
         [](MeshBuilder& l) {
             l.Box({-250, 200, -250}, {250, 300, 250}, true).Point({0, 250, 0});
             l.Box({-150, -100, -150}, {150, 0, 150}, true).Point({0, -50, 0});
             l.Point({-150, 100, 150});
         },
         RoomPoints(),
         {{300, 250, 0}, {-300, 100, 0}, {0, -150, 0}}},
        {"a wall turned the wrong way",
         [](MeshBuilder& l) {
             l.mesh = {};
             l.Box({-200, 0, -200}, {200, 200, 200}, true, 1);
             l.Polygon({{200, 0, -200}, {200, 200, -200}, {200, 200, 200}, {200, 0, 200}});
         },
         RoomPoints(),
         {{0, 300, 0}, {0, -50, 0}}},
        {"a room built inside out",
         [](MeshBuilder& l) {
             l.mesh = {};
             l.Box({-200, 0, -200}, {200, 200, 200}, false);
         },
         RoomPoints(), outside},
        {"most faces turned the wrong way, a start inside: the surface hardly winds round "
         "the room, yet players walk there",
         [](MeshBuilder& l) {
             for (const int face : {0, 1, 3, 4}) {  // -x, +x, the ceiling, -z
                 const LevelPolygon& p = l.mesh.polygons[face];
                 std::reverse(l.mesh.corners.begin() + p.firstCorner,
                              l.mesh.corners.begin() + p.firstCorner + p.cornerCount);
             }
             l.Point({0, 100, 0});
         },
         RoomPoints(), outside},
        {"a pit under the floor that faces close on every side, two of its walls turned the "
         "wrong way: the surface winds round it less than half way and nothing reaches it, "
         "yet a player may stand there",
         pit, pitPoints, outside},
        {"the same pit, a rock at its bottom cutting it into regions joined round the rock "
         "(a pool under a liquid's surface)",
         [&](MeshBuilder& l) {
             pit(l);
             l.Polygon({{90, -100, 90}, {130, -100, 90}, {110, -80, 110}});
         },
         pitPoints, outside},
        {"the +z wall missing, and the way out from the start through a door between two "
         "pieces of a wall in one plane: a leak",
         [](MeshBuilder& l) {
             l.mesh = {};
             l.Box({-200, 0, -200}, {200, 200, 200}, true, 5);
             for (const float x : {-200.0f, 40.0f}) {
                 l.Polygon({{x, 0, 10}, {x + 160, 0, 10}, {x + 160, 200, 10}, {x, 200, 10}});
                 l.Polygon({{x, 0, 10}, {x, 200, 10}, {x + 160, 200, 10}, {x + 160, 0, 10}});
             }
             l.Point({0, 100, -100});
         },
         RoomPoints(),
         {},
         true},
    };
    for (const SolidCase& c : cases) {
        MeshBuilder level = Room();
        c.build(level);
        const auto compiler = levels::CompileMesh(level.mesh);
        for (const Vector3& p : c.open) {
            EXPECT_NE(compiler->LocateLeaf(p, 0), -1)
                << c.what << ": (" << p.x << ", " << p.y << ", " << p.z << ") solid";
        }
        for (const Vector3& p : c.solid) {
            EXPECT_EQ(compiler->LocateLeaf(p, 0), -1)
                << c.what << ": (" << p.x << ", " << p.y << ", " << p.z << ") open";
        }
        EXPECT_EQ(compiler->leak.has_value(), c.leaks) << c.what;
        const std::vector<Poly> faces = compiler->polys;
        EXPECT_TRUE(VerifyPvs(*compiler, faces, 500, 1, SolidTrust::NOTHING).violations.empty())
            << c.what;
    }
}

// The room without its +x wall, a start inside: the way out leaves through the missing
// wall; closed, the same room does not leak. What is seen through the hole is seen.
TEST(SolidSpaceTest, LeaksAreTracedFromTheInsidePointThroughTheHole) {
    MeshBuilder open;
    open.Box({-200, 0, -200}, {200, 200, 200}, true, 1).Point({-100, 50, 0});
    const auto leaking = levels::CompileMesh(open.mesh);
    ASSERT_TRUE(leaking->leak);
    const Leak& leak = *leaking->leak;
    EXPECT_EQ(leak.path.front(), (Vector3{-100, 50, 0}));
    EXPECT_GT(leak.path.back().x, 200.0f) << "the way ends outside the room";
    EXPECT_NEAR(leak.breach.x, 200.0f, 1.0f) << "the hole is where the wall is missing";
    EXPECT_NE(leaking->LocateLeaf({-100, 50, 0}, 0), -1) << "a leak keeps the inside open";

    MeshBuilder closed = Room();
    closed.Point({-100, 50, 0});
    EXPECT_FALSE(levels::CompileMesh(closed.mesh)->leak);

    // A second room far off, its open side facing the hole: sight lines leave the first
    // room, cross the world outside, where the surface hardly winds at all, and enter the
    // second; the sets must follow them.
    open.Box({1400, 0, -200}, {1800, 200, 200}, true, 0);
    BspCompiler twoRooms;
    twoRooms.UseDefaultsFor(true);
    twoRooms.Compile(open.mesh);
    const std::vector<Poly> walls = twoRooms.polys;
    EXPECT_TRUE(VerifyPvs(twoRooms, walls, 2000, 1, SolidTrust::NOTHING).violations.empty());
    const int32_t first = twoRooms.LocateLeaf({-100, 50, 0}, 0);
    const int32_t second = twoRooms.LocateLeaf({1700, 100, 0}, 0);
    ASSERT_TRUE(first >= 0 && second >= 0);
    // No plane parts the two holes, so one leaf may hold both points: a leaf is drawn with
    // its set, not listed in it.
    EXPECT_TRUE(first == second || twoRooms.leaves[first].pvs[second] != 0);
}

// The rules for meshes that keep real levels small: a floor of many triangles joined into
// one polygon (a floor of quads too, when asked), and a detailed pillar and a thin trim
// along a wall (detail by its width) that neither split the room nor hide anything, yet are
// listed in the room's leaf. The sets stay sound against clear segments.
TEST(MeshRulesTest, MergedFloorsAndDetailKeepTheRoomOneLeaf) {
    constexpr int CELLS = 6;
    const auto room = [](bool quads) {
        MeshBuilder level;
        level.Box({-200, 0, -200}, {200, 200, 200}, true, 2);  // the floor comes in cells
        for (int i = 0; i < CELLS; ++i) {
            for (int j = 0; j < CELLS; ++j) {
                const float x0 = -200.0f + 400.0f * i / CELLS;
                const float x1 = -200.0f + 400.0f * (i + 1) / CELLS;
                const float z0 = -200.0f + 400.0f * j / CELLS;
                const float z1 = -200.0f + 400.0f * (j + 1) / CELLS;
                if (quads) {
                    level.Polygon({{x0, 0, z0}, {x0, 0, z1}, {x1, 0, z1}, {x1, 0, z0}});
                } else {
                    level.Polygon({{x0, 0, z0}, {x0, 0, z1}, {x1, 0, z1}});
                    level.Polygon({{x0, 0, z0}, {x1, 0, z1}, {x1, 0, z0}});
                }
            }
        }
        level.Box({-50, 0, -50}, {50, 120, 50}, false, -1, "detail_pillar");
        level.Box({192, 100, -200}, {200, 108, 200}, false, -1, "trim");
        // Positions shared as an exporter shares them, so that neighbours share edges.
        WeldPositions(level.mesh);
        return level;
    };
    const struct {
        bool quads;
        bool mergeGivenPolygons;
        size_t structural;  // polygons left to build the tree from
    } floors[] = {{false, false, 6}, {true, false, 5 + CELLS * CELLS}, {true, true, 6}};
    for (const auto& floor : floors) {
        BspCompiler compiler;
        compiler.solidRule = SolidRule::WINDING;
        compiler.mergeTriangles = true;
        compiler.mergeGivenPolygons = floor.mergeGivenPolygons;
        compiler.detailGroups = true;
        compiler.detailWidth = 16.0f;
        compiler.ImportPolys(room(floor.quads).mesh);
        EXPECT_EQ(compiler.buildPolys.size(), floor.structural)
            << "quads " << floor.quads << ", given polygons merged " << floor.mergeGivenPolygons;
        EXPECT_EQ(compiler.detailPolys.size(), 12u) << "the pillar's faces and the trim's";
        if (floor.quads) {
            continue;
        }
        const std::vector<Poly> walls(compiler.buildPolys.begin(), compiler.buildPolys.end());
        compiler.BuildTree();
        compiler.BuildPortals();
        compiler.ComputePvs();
        ASSERT_EQ(compiler.leaves.size(), 1u) << "the pillar splits nothing";
        // The room's six polygons, five of the pillar's and three of the trim's: the
        // pillar's bottom and the trim's back and ends lie on walls facing into solid space,
        // where no one sees them.
        EXPECT_EQ(compiler.leaves[0].endPoly - compiler.leaves[0].firstPoly, 14);
        EXPECT_EQ(compiler.LocateLeaf({0, 60, 0}, 0), 0) << "inside the pillar is the room's leaf";
        EXPECT_TRUE(VerifyPvs(compiler, walls, 500, 1, SolidTrust::NOTHING).violations.empty());
    }
}

// A wall of two faces back to back splits a room into halves, both open. Where its faces
// close the whole opening between the halves, they do not see each other (unless asked
// to); through a doorway they do. Either way the sets stay sound against clear segments.
TEST(MeshRulesTest, OpeningsThatFacesCloseHideWhatLiesBehind) {
    struct WallCase {
        const char* what;
        bool doorway;
        bool blockCovered;
        bool halvesSeeEachOther;
    };
    const WallCase cases[] = {
        {"a closed wall", false, true, false},
        {"a closed wall, openings on faces passed", false, false, true},
        {"a wall with a doorway", true, true, true},
    };
    for (const WallCase& c : cases) {
        MeshBuilder level = Room();
        level.Point({0, 100, -100}).Point({0, 100, 100});
        const float doorTop = c.doorway ? 100.0f : 0.0f;
        for (const bool facingPlusZ : {true, false}) {
            const auto side = [&](std::initializer_list<Vector3> ring) {
                std::vector<Vector3> corners(ring);
                if (!facingPlusZ) {
                    std::reverse(corners.begin(), corners.end());
                }
                level.Polygon({corners[0], corners[1], corners[2], corners[3]});
            };
            side({{-200, 0, 0}, {100, 0, 0}, {100, 200, 0}, {-200, 200, 0}});
            side({{100, doorTop, 0}, {200, doorTop, 0}, {200, 200, 0}, {100, 200, 0}});
        }
        BspCompiler compiler;
        compiler.UseDefaultsFor(true);
        compiler.blockCovered = c.blockCovered;
        compiler.Compile(level.mesh);
        const int32_t a = compiler.LocateLeaf({0, 100, -100}, 0);
        const int32_t b = compiler.LocateLeaf({0, 100, 100}, 0);
        ASSERT_TRUE(a >= 0 && b >= 0 && a != b) << c.what;
        EXPECT_EQ(compiler.leaves[a].pvs[b] != 0, c.halvesSeeEachOther) << c.what;
        const std::vector<Poly> walls = compiler.polys;
        EXPECT_TRUE(VerifyPvs(compiler, walls, 500, 1, SolidTrust::NOTHING).violations.empty())
            << c.what;
    }
}

// The winding number sums one arc tangent per triangle as a product's argument and its
// whole turns: the same sum, whichever way the numbers wrap round.
TEST(SolidSpaceTest, ArgumentsSumAsTheirArcTangents) {
    SplitMix64 random(7);
    const auto anyAngle = [&] { return (2.0 * random.Uniform() - 1.0) * std::numbers::pi; };
    const auto nearHalfTurn = [&] { return std::numbers::pi * (0.999 + 0.001 * random.Uniform()); };
    const std::vector<std::pair<const char*, std::function<double()>>> angles = {
        {"any", anyAngle},
        {"near +pi, winding up", nearHalfTurn},
        {"near -pi, winding down", [&] { return -nearHalfTurn(); }},
        {"exactly pi or 0", [&] { return random.Below(2) == 0 ? std::numbers::pi : 0.0; }},
    };
    for (const auto& [what, angle] : angles) {
        ArgumentSum sum;
        double expected = 0.0;
        for (int i = 0; i < 5000; ++i) {
            // Magnitudes far apart, as a triangle's terms are near and far from the point.
            const double size = std::ldexp(1.0, static_cast<int>(random.Below(120)) - 60);
            const double a = angle();
            const double re = size * std::cos(a);
            const double im = a == std::numbers::pi ? 0.0 : size * std::sin(a);
            expected += std::atan2(im, re);
            sum.Add(re, im);
        }
        sum.Add(0.0, 0.0);  // adds nothing, as atan2(0, 0) is 0
        EXPECT_NEAR(sum.Sum(), expected, 1e-9) << what;
    }
}

// The winding number sums far clusters of triangles by an expansion: it must stay within
// 0.05 (a tenth of the margin to the rule's one half) of the exact sum of every triangle's
// solid angle, inside, outside and near the faces of a room whose walls are finely cut (so
// that most clusters are far). A second term of the wrong sign strays 0.09.
TEST(SolidSpaceTest, FarClustersAddWhatTheirTrianglesWould) {
    std::vector<Winding> faces;
    const float side = 200.0f;
    const int cuts = 12;
    const float step = side / cuts;
    for (int axis = 0; axis < 3; ++axis) {
        for (const float at : {0.0f, side}) {
            for (int i = 0; i < cuts; ++i) {
                for (int j = 0; j < cuts; ++j) {
                    Winding quad;
                    for (const auto& [u, v] :
                         {std::pair{i, j}, {i + 1, j}, {i + 1, j + 1}, {i, j + 1}}) {
                        float p[3];
                        p[axis] = at;
                        p[(axis + 1) % 3] = static_cast<float>(u) * step;
                        p[(axis + 2) % 3] = static_cast<float>(v) * step;
                        quad.push_back({p[0], p[1], p[2]});
                    }
                    // Facing into the room, as the faces of a level face open space.
                    if (at == side) {
                        std::reverse(quad.begin(), quad.end());
                    }
                    faces.push_back(quad);
                }
            }
        }
    }
    // A thin panel, cut as finely, with faces on both sides: the area vectors of clusters
    // holding both cancel, and only the spread tells what such a cluster adds.
    for (const float x : {99.5f, 100.5f}) {
        for (int i = 0; i < cuts; ++i) {
            for (int j = 0; j < cuts; ++j) {
                const float y0 = 40.0f + 10.0f * static_cast<float>(i);
                const float z0 = 40.0f + 10.0f * static_cast<float>(j);
                Winding quad = {
                    {x, y0, z0}, {x, y0 + 10, z0}, {x, y0 + 10, z0 + 10}, {x, y0, z0 + 10}};
                if (x < 100.0f) {
                    std::reverse(quad.begin(), quad.end());
                }
                faces.push_back(quad);
            }
        }
    }
    const SurfaceWinding winding(faces);
    const auto exact = [&](Vector3 p) {
        double sum = 0.0;
        for (const Winding& ring : faces) {
            for (size_t k = 2; k < ring.size(); ++k) {
                const Vector3d a = Vector3d(ring[0]) - Vector3d(p);
                const Vector3d b = Vector3d(ring[k - 1]) - Vector3d(p);
                const Vector3d c = Vector3d(ring[k]) - Vector3d(p);
                const double la = Length(a), lb = Length(b), lc = Length(c);
                sum += 2.0 * std::atan2(Dot(a, Cross(b, c)), la * lb * lc + Dot(a, b) * lc +
                                                                 Dot(b, c) * la + Dot(c, a) * lb);
            }
        }
        return -sum / (4.0 * std::numbers::pi);
    };
    SplitMix64 random(11);
    for (int n = 0; n < 300; ++n) {
        Vector3 p;
        for (float* x : {&p.x, &p.y, &p.z}) {
            *x = static_cast<float>(-100.0 + 400.0 * random.Uniform());
        }
        EXPECT_NEAR(winding.OpenSpaceAt(p), exact(p), 0.05) << p.x << " " << p.y << " " << p.z;
    }
    EXPECT_NEAR(exact({20, 20, 20}), 1.0, 0.02);  // the room wraps its inside once
}

}  // namespace
}  // namespace bsppvs
