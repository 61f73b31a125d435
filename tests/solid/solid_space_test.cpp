// Which space is open on meshes that are not closed and consistent: the winding rule keeps
// every point of a room open whatever loose, crossing or missing faces it holds, still
// calls the space outside and inside pillars solid, and finds the way in when a level
// leaks.

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "../support/mesh_levels.h"

namespace bsppvs {
namespace {

using levels::MeshBuilder;

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
        {"a wall turned the wrong way",
         [](MeshBuilder& l) {
             l.mesh = {};
             l.Box({-200, 0, -200}, {200, 200, 200}, true, 1);
             l.Polygon({{200, 0, -200}, {200, 200, -200}, {200, 200, 200}, {200, 0, 200}});
         },
         RoomPoints(),
         {{0, 300, 0}, {0, -50, 0}}},
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
        EXPECT_FALSE(compiler->leak) << c.what;
    }
}

// The room without its +x wall, a start inside: the way out leaves through the missing
// wall; closed, the same room does not leak.
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
}

}  // namespace
}  // namespace bsppvs
