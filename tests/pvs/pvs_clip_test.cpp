// The two polygon clips the visibility recursion is made of, on small cases whose answer
// can be worked out by hand.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "../support/geometry_print.h"
#include "bsp/build_poly.h"
#include "geometry/bounds.h"
#include "pvs/polygon_clips.h"

namespace bsppvs {
namespace {

constexpr float CLOSE = 1e-4f;

BuildPoly PolyOf(const Winding& ring) {
    BuildPoly poly;
    poly.SetPoints(ring);
    return poly;
}

// A square in the plane x = x0 with half side h about the x axis, facing +x.
BuildPoly SquareAlongX(float x0, float h, float centreY = 0, float centreZ = 0) {
    return PolyOf({{x0, centreY - h, centreZ - h},
                   {x0, centreY + h, centreZ - h},
                   {x0, centreY + h, centreZ + h},
                   {x0, centreY - h, centreZ + h}});
}

void ExpectBox(const Winding& points, Vector3 min, Vector3 max) {
    ASSERT_FALSE(points.empty());
    const Bounds box = Bounds::FromPoints(points);
    const Vector3 lo = Subtract(box.center, box.halfExtent);
    const Vector3 hi = Add(box.center, box.halfExtent);
    EXPECT_NEAR(lo.x, min.x, CLOSE);
    EXPECT_NEAR(lo.y, min.y, CLOSE);
    EXPECT_NEAR(lo.z, min.z, CLOSE);
    EXPECT_NEAR(hi.x, max.x, CLOSE);
    EXPECT_NEAR(hi.y, max.y, CLOSE);
    EXPECT_NEAR(hi.z, max.z, CLOSE);
}

// The square x, y in [0, 10] at z = 0 against planes that cut it, miss it, hold it, or
// pass within the point tolerance of its corners.
TEST(PvsClipTest, ClipToFrontKeepsWhatLiesBeyondThePlane) {
    const Winding square = {{0, 0, 0}, {10, 0, 0}, {10, 10, 0}, {0, 10, 0}};
    const float diagonal = 1.0f / std::sqrt(2.0f);
    struct Case {
        const char* what;
        Plane plane;
        bool empty;
        Vector3 min;
        Vector3 max;
        size_t corners;
    };
    const Case cases[] = {
        {"x = 5 facing +x", {1, 0, 0, 5}, false, {5, 0, 0}, {10, 10, 0}, 4},
        {"x = 5 facing -x", {-1, 0, 0, -5}, false, {0, 0, 0}, {5, 10, 0}, 4},
        {"x = -1 facing +x: all in front", {1, 0, 0, -1}, false, {0, 0, 0}, {10, 10, 0}, 4},
        {"x = 11 facing +x: all behind", {1, 0, 0, 11}, true, {}, {}, 0},
        {"its own plane", {0, 0, 1, 0}, true, {}, {}, 0},
        {"its own plane reversed", {0, 0, -1, 0}, true, {}, {}, 0},
        {"corners 0.0005 in front count as on", {1, 0, 0, 9.9995f}, true, {}, {}, 0},
        {"corners 0.002 in front count", {1, 0, 0, 9.998f}, false, {9.998f, 0, 0}, {10, 10, 0}, 4},
        {"the far diagonal",
         {diagonal, diagonal, 0, 10 * diagonal},
         false,
         {0, 0, 0},
         {10, 10, 0},
         3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        BuildPoly poly = PolyOf(square);
        ClipToFront(poly, c.plane);
        if (c.empty) {
            EXPECT_TRUE(poly.points.empty());
            EXPECT_TRUE(poly.triangleIndices.empty());
            continue;
        }
        EXPECT_EQ(poly.points.size(), c.corners);
        EXPECT_EQ(poly.triangleIndices.size(), 3 * (c.corners - 2));
        ExpectBox(poly.points, c.min, c.max);
    }
    // Unclipped, the polygon keeps its corners in order.
    BuildPoly whole = PolyOf(square);
    ClipToFront(whole, {1, 0, 0, -1});
    EXPECT_EQ(whole.points, square);
}

// The source A is the square of half side 1 at x = 0, the target B the square of half side
// 0.5 at x = 1. Lines through both spread to half side 2 at x = 2, so a generator there is
// cut down to that square, by the planes from A's edges to B's corners (keeping the front)
// or from B's edges to A's corners (keeping the back).
TEST(PvsClipTest, SeparatingPlanesCutTheGeneratorToWhatTheChainLetsThrough) {
    BuildPoly source = SquareAlongX(0, 1);
    BuildPoly target = SquareAlongX(1, 0.5f);
    struct Case {
        const char* what;
        BuildPoly generator;
        bool fromTarget;  // A and B swapped, keeping the back part
        bool empty;
        Vector3 min;
        Vector3 max;
    };
    const Case cases[] = {
        {"large generator, source edges",
         SquareAlongX(2, 10),
         false,
         false,
         {2, -2, -2},
         {2, 2, 2}},
        {"large generator, target edges", SquareAlongX(2, 10), true, false, {2, -2, -2}, {2, 2, 2}},
        {"generator off to the side", SquareAlongX(2, 0.5f, 5.5f, 5.5f), false, true, {}, {}},
        {"generator off to the side, target edges",
         SquareAlongX(2, 0.5f, 5.5f, 5.5f),
         true,
         true,
         {},
         {}},
        {"generator inside the spread", SquareAlongX(2, 1), false, false, {2, -1, -1}, {2, 1, 1}},
        {"generator half in", SquareAlongX(2, 2, 3, 0), false, false, {2, 1, -2}, {2, 2, 2}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        BuildPoly generator = c.generator;
        const int32_t count = c.fromTarget ? ClipBySeparatingPlanes(target, source, generator, 1)
                                           : ClipBySeparatingPlanes(source, target, generator, 0);
        EXPECT_EQ(count, static_cast<int32_t>(generator.points.size()));
        if (c.empty) {
            EXPECT_EQ(count, 0);
            continue;
        }
        ExpectBox(generator.points, c.min, c.max);
    }
}

// Separating planes need A wholly behind and B wholly in front. Two squares side by side
// in one plane have none (every candidate plane holds A), so nothing is cut; neither is
// anything cut when B overlaps A's plane.
TEST(PvsClipTest, NoSeparatingPlaneCutsNothing) {
    const BuildPoly generator = SquareAlongX(2, 10);
    struct Case {
        const char* what;
        BuildPoly a;
        BuildPoly b;
    };
    const Case cases[] = {
        {"side by side in one plane", SquareAlongX(0, 1, 0, 0), SquareAlongX(0, 1, 0, 3)},
        {"B straddles A's plane", SquareAlongX(0, 1),
         PolyOf({{-1, 0, -1}, {1, 0, -1}, {1, 0, 1}, {-1, 0, 1}})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        for (const int32_t keepBack : {0, 1}) {
            BuildPoly a = c.a;
            BuildPoly b = c.b;
            BuildPoly clipped = generator;
            EXPECT_EQ(ClipBySeparatingPlanes(a, b, clipped, keepBack), 4);
            EXPECT_EQ(clipped.points, generator.points);
        }
    }
}

// The planes the reach cull wraps round the far polygon are the search's own: on random
// pairs of polygons, one for every edge of the near polygon the search finds a separating
// plane through, and the same plane.
TEST(PvsClipTest, TangentSeparatorsAreTheSearchsPlanes) {
    std::mt19937 engine(7);
    auto uniform = [&](float lo, float hi) {
        return std::uniform_real_distribution<float>(lo, hi)(engine);
    };
    // A convex polygon of n corners on a circle of radius r about centre, in the plane
    // spanned by u and v.
    auto polygon = [&](Vector3 centre, Vector3 u, Vector3 v, float r, int n) {
        std::vector<float> angles;
        for (int i = 0; i < n; ++i) {
            angles.push_back(uniform(0.0f, 6.2831853f));
        }
        std::sort(angles.begin(), angles.end());
        Winding ring;
        for (const float t : angles) {
            ring.push_back(Add(centre, Add(Scale(u, r * std::cos(t)), Scale(v, r * std::sin(t)))));
        }
        return ring;
    };
    auto onEdge = [](const Plane& plane, const Winding& a, size_t i) {
        return std::fabs(plane.SignedDistance(a[i])) < 1e-3f &&
               std::fabs(plane.SignedDistance(a[(i + 1) % a.size()])) < 1e-3f;
    };
    int compared = 0;
    for (int trial = 0; trial < 300; ++trial) {
        // a about the origin in the plane x = 0; b beyond x = 0, tilted at random.
        const Winding a = polygon({0, 0, 0}, {0, 1, 0}, {0, 0, 1}, uniform(0.5f, 4), 3 + trial % 5);
        Vector3 u{uniform(-0.5f, 0.5f), 1, uniform(-0.5f, 0.5f)};
        Normalize(u);
        Vector3 v = Cross(u, {uniform(-0.5f, 0.5f), uniform(-0.5f, 0.5f), 1});
        Normalize(v);
        v = Cross(v, u);
        const float r = uniform(0.5f, 3);
        const Winding b = polygon({r + uniform(0.5f, 6), uniform(-3, 3), uniform(-3, 3)}, u, v, r,
                                  3 + trial / 5 % 5);
        std::vector<Plane> searched;
        ForEachSeparatingPlane(a, b, [&](const Plane& plane) {
            searched.push_back(plane);
            return true;
        });
        std::vector<Plane> wrapped;
        TangentSeparators(a, b, wrapped);
        for (const Plane& plane : wrapped) {
            const bool found = std::any_of(searched.begin(), searched.end(), [&](const Plane& s) {
                return std::fabs(s.a - plane.a) < 1e-5f && std::fabs(s.b - plane.b) < 1e-5f &&
                       std::fabs(s.c - plane.c) < 1e-5f && std::fabs(s.d - plane.d) < 1e-4f;
            });
            EXPECT_TRUE(found) << "trial " << trial;
        }
        for (size_t i = 0; i < a.size(); ++i) {
            auto through = [&](const Plane& plane) { return onEdge(plane, a, i); };
            EXPECT_EQ(std::any_of(searched.begin(), searched.end(), through),
                      std::any_of(wrapped.begin(), wrapped.end(), through))
                << "trial " << trial << " edge " << i;
        }
        compared += static_cast<int>(wrapped.size());
    }
    EXPECT_GT(compared, 300);
}

}  // namespace
}  // namespace bsppvs
