// The small value types: side tests at the tolerance boundaries, segment crossings, boxes
// and the cross product the portal squares are built with.

#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <vector>

#include "../support/geometry_print.h"
#include "geometry/bounds.h"
#include "geometry/plane.h"
#include "geometry/segment.h"
#include "geometry/tolerances.h"
#include "geometry/vector3.h"

namespace bsppvs {
namespace {

struct SideCase {
    float z;  // signed distance from the plane z = 0
    float tol;
    Side expected;
};

// The band [-tol, +tol] is closed: a distance of exactly tol is on the plane.
TEST(PlaneTest, ClassifyPointUsesClosedToleranceBand) {
    const Plane floor(0.0f, 0.0f, 1.0f, 0.0f);
    const SideCase cases[] = {
        {0.0f, EPSILON, SIDE_ON},
        {0.001f, EPSILON, SIDE_ON},
        {-0.001f, EPSILON, SIDE_ON},
        {0.0011f, EPSILON, SIDE_FRONT},
        {-0.0011f, EPSILON, SIDE_BACK},
        {0.01f, POLY_CLASSIFY_EPSILON, SIDE_ON},
        {0.0101f, POLY_CLASSIFY_EPSILON, SIDE_FRONT},
        {-0.0101f, POLY_CLASSIFY_EPSILON, SIDE_BACK},
        {5.0f, 0.0f, SIDE_FRONT},
        {0.0f, 0.0f, SIDE_ON},
    };
    for (const SideCase& c : cases) {
        EXPECT_EQ(floor.ClassifyPoint({3.0f, -7.0f, c.z}, c.tol), c.expected)
            << "z " << c.z << " tol " << c.tol;
    }
}

struct SegmentCase {
    const char* what;
    Plane plane;
    Segment segment;
    float tol;
    std::optional<float> expected;
};

TEST(SegmentTest, IntersectSegment) {
    const Plane floor(0.0f, 0.0f, 1.0f, 0.0f);
    const SegmentCase cases[] = {
        {"crossing at its middle", floor, {{0, 0, -1}, {0, 0, 1}}, EPSILON, 0.5f},
        {"parametrised from start", floor, {{0, 0, 1}, {0, 0, -3}}, EPSILON, 0.25f},
        {"plane off the origin", Plane(0, 0, 1, 2), {{5, 5, 0}, {5, 5, 4}}, EPSILON, 0.5f},
        {"parallel, in the plane", floor, {{0, 0, 0}, {4, 4, 0}}, EPSILON, std::nullopt},
        {"parallel, far away", floor, {{0, 0, 50}, {4, -4, 50}}, EPSILON, std::nullopt},
        {"parallel, zero length", floor, {{1, 1, 1}, {1, 1, 1}}, EPSILON, std::nullopt},
        // |denominator| < tol is parallel; exactly tol is not.
        {"denominator below tol",
         floor,
         {{0, 0, -0.0005f}, {0, 0, 0.0004f}},
         EPSILON,
         std::nullopt},
        {"denominator at tol", floor, {{0, 0, 0}, {0, 0, 0.001f}}, EPSILON, 0.0f},
        // t is not clamped to the segment.
        {"beyond the end", floor, {{0, 0, 1}, {0, 0, 2}}, EPSILON, -1.0f},
    };
    for (const SegmentCase& c : cases) {
        const std::optional<float> t = IntersectSegment(c.plane, c.segment, c.tol);
        ASSERT_EQ(t.has_value(), c.expected.has_value()) << c.what;
        if (t) {
            EXPECT_FLOAT_EQ(*t, *c.expected) << c.what;
        }
    }
}

TEST(BoundsTest, FromPointsAndExtend) {
    const Vector3 single[] = {{1, 2, 3}};
    const Bounds point = Bounds::FromPoints(single);
    EXPECT_EQ(point.center, (Vector3{1, 2, 3}));
    EXPECT_EQ(point.halfExtent, (Vector3{0, 0, 0}));

    // Each axis takes its own minimum and maximum, from whichever points hold them.
    const Vector3 spread[] = {{4, -1, 0}, {-2, 3, 10}, {0, 0, -2}};
    Bounds box = Bounds::FromPoints(spread);
    EXPECT_EQ(box.center, (Vector3{1, 1, 4}));
    EXPECT_EQ(box.halfExtent, (Vector3{3, 2, 6}));

    // Extending by points inside changes nothing; a point outside moves only the faces it
    // lies beyond.
    const Vector3 inside[] = {{0, 0, 0}, {4, 3, 10}};
    box.Extend(inside);
    EXPECT_EQ(box.center, (Vector3{1, 1, 4}));
    EXPECT_EQ(box.halfExtent, (Vector3{3, 2, 6}));
    const Vector3 outside[] = {{-6, 1, 11}};
    box.Extend(outside);
    EXPECT_EQ(box.center, (Vector3{-1, 1, 4.5f}));
    EXPECT_EQ(box.halfExtent, (Vector3{5, 2, 6.5f}));

    // A new box is all zeros, and extending it starts from that zero-sized box at the
    // origin, not from nothing.
    Bounds fresh;
    const Vector3 far[] = {{2, 4, 6}};
    fresh.Extend(far);
    EXPECT_EQ(fresh.center, (Vector3{1, 2, 3}));
    EXPECT_EQ(fresh.halfExtent, (Vector3{1, 2, 3}));
}

TEST(VectorTest, CrossFollowsRightHandRule) {
    struct CrossCase {
        Vector3 u, v, expected;
    };
    const CrossCase cases[] = {
        {AXIS_X, AXIS_Y, AXIS_Z}, {AXIS_Y, AXIS_Z, AXIS_X},
        {AXIS_Z, AXIS_X, AXIS_Y}, {AXIS_Y, AXIS_X, Negated(AXIS_Z)},
        {AXIS_X, AXIS_X, ORIGIN}, {{1, 2, 3}, {4, 5, 6}, {-3, 6, -3}},
    };
    for (const CrossCase& c : cases) {
        EXPECT_EQ(Cross(c.u, c.v), c.expected);
    }
    EXPECT_EQ(AXES[0], AXIS_X);
    EXPECT_EQ(AXES[1], AXIS_Y);
    EXPECT_EQ(AXES[2], AXIS_Z);
}

}  // namespace
}  // namespace bsppvs
