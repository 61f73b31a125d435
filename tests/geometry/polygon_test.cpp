// The polygon core: the fan kept in step with the ring, the cached plane, the Newell
// normal (including rings without area), and the one split every later stage cuts with.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "../support/geometry_print.h"
#include "geometry/polygon.h"
#include "geometry/tolerances.h"

namespace bsppvs {
namespace {

Poly MakePoly(const Winding& ring) {
    Poly poly;
    poly.SetPoints(ring);
    return poly;
}

TEST(PolygonTest, SetPointsBuildsFanOverRing) {
    struct FanCase {
        size_t pointCount;
        std::vector<int32_t> expected;
    };
    const FanCase cases[] = {
        {0, {}},
        {1, {}},
        {2, {}},
        {3, {0, 1, 2}},
        {4, {0, 1, 2, 0, 2, 3}},
        {5, {0, 1, 2, 0, 2, 3, 0, 3, 4}},
    };
    for (const FanCase& c : cases) {
        Winding ring;
        for (size_t i = 0; i < c.pointCount; ++i) {
            ring.push_back({std::cos(static_cast<float>(i)), std::sin(static_cast<float>(i)), 0});
        }
        Poly poly;
        // A previous ring's fan must not survive the change.
        poly.SetPoints(Winding(6, Vector3{}));
        poly.SetPoints(ring);
        EXPECT_EQ(poly.points, ring) << c.pointCount << " points";
        EXPECT_EQ(poly.triangleIndices, c.expected) << c.pointCount << " points";
    }
}

TEST(PolygonTest, SetReversedReversesRingAndNormal) {
    const Vector3 a{0, 0, 0};
    const Vector3 b{2, 0, 0};
    const Vector3 c{2, 1, 0};
    const Vector3 d{0, 1, 0};
    Poly source = MakePoly({a, b, c, d});
    Poly reversed;
    reversed.GetPlane();  // a cached plane must not outlive the new ring
    reversed.SetReversed(source);

    EXPECT_EQ(reversed.points, (Winding{d, c, b, a}));
    EXPECT_EQ(reversed.triangleIndices, (std::vector<int32_t>{0, 1, 2, 0, 2, 3}));
    EXPECT_EQ(reversed.planeValid, 0);
    EXPECT_EQ(source.GetPlane().Normal(), AXIS_Z);
    EXPECT_EQ(reversed.GetPlane().Normal(), Negated(AXIS_Z));
    EXPECT_EQ(source.points, (Winding{a, b, c, d})) << "the source is only read";
}

// The plane is computed once per change of the ring: a second call returns the cached
// plane even if the points were altered behind the polygon's back, and only SetPoints
// (even with its own ring) makes it compute again.
TEST(PolygonTest, GetPlaneCachesUntilRingIsSet) {
    Poly poly = MakePoly({{0, 0, 2}, {1, 0, 2}, {0, 1, 2}});
    EXPECT_EQ(poly.planeValid, 0);
    const Plane first = poly.GetPlane();
    EXPECT_EQ(first, Plane(0, 0, 1, 2));
    EXPECT_EQ(poly.planeValid, 1);

    for (Vector3& p : poly.points) {
        p.z = 7.0f;
    }
    EXPECT_EQ(poly.GetPlane(), first);

    poly.SetPoints(poly.points);
    EXPECT_EQ(poly.planeValid, 0);
    EXPECT_EQ(poly.points.size(), 3u) << "setting its own ring keeps the ring";
    EXPECT_EQ(poly.GetPlane(), Plane(0, 0, 1, 7));

    // A copy carries the cached plane with it.
    Poly copy = poly;
    EXPECT_EQ(copy.planeValid, 1);
    EXPECT_EQ(copy.plane, Plane(0, 0, 1, 7));
}

TEST(PolygonTest, NewellNormalOfProperRings) {
    struct NormalCase {
        const char* what;
        Winding ring;
        Vector3 expected;
    };
    const float r = 1.0f / std::sqrt(3.0f);
    const NormalCase cases[] = {
        {"unit triangle", {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {0, 0, 1}},
        {"clockwise seen from +z", {{0, 0, 0}, {0, 1, 0}, {1, 0, 0}}, {0, 0, -1}},
        {"wall facing +x", {{5, 0, 0}, {5, 1, 0}, {5, 1, 1}, {5, 0, 1}}, {1, 0, 0}},
        {"slanted triangle", {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}, {r, r, r}},
        {"far from the origin", {{1000, 1000, 50}, {1100, 1000, 50}, {1100, 1100, 50}}, {0, 0, 1}},
    };
    for (const NormalCase& c : cases) {
        const Vector3 n = ComputeNormal(c.ring);
        EXPECT_NEAR(n.x, c.expected.x, 1e-6f) << c.what;
        EXPECT_NEAR(n.y, c.expected.y, 1e-6f) << c.what;
        EXPECT_NEAR(n.z, c.expected.z, 1e-6f) << c.what;
        const Plane plane = ComputePlane(c.ring);
        EXPECT_EQ(plane.Normal(), n) << c.what;
        EXPECT_EQ(plane.d, Dot(n, c.ring.front())) << c.what;
    }
}

// Rings without area have no normal; they must give a finite answer (the zero normal)
// so that nothing non-finite travels on into side tests.
TEST(PolygonTest, RingsWithoutAreaGiveZeroNormal) {
    struct DegenerateCase {
        const char* what;
        Winding ring;
    };
    const DegenerateCase cases[] = {
        {"empty", {}},
        {"one point", {{1, 2, 3}}},
        {"two points", {{0, 0, 0}, {1, 1, 1}}},
        {"three collinear", {{0, 0, 0}, {1, 1, 1}, {2, 2, 2}}},
        {"four collinear", {{0, 0, 0}, {1, 0, 0}, {3, 0, 0}, {2, 0, 0}}},
        {"one point repeated", {{4, 4, 4}, {4, 4, 4}, {4, 4, 4}}},
    };
    for (const DegenerateCase& c : cases) {
        EXPECT_EQ(ComputeNormal(c.ring), ORIGIN) << c.what;
        Poly poly = MakePoly(c.ring);
        const Plane plane = poly.GetPlane();
        EXPECT_TRUE(IsFinite(plane)) << c.what;
        EXPECT_EQ(plane.Normal(), ORIGIN) << c.what;
    }
}

// Output polygons start out with a marker ring and a valid cached plane, so that a test
// can tell an untouched output from a written one.
struct SplitOutputs {
    Poly front;
    Poly back;

    SplitOutputs() {
        for (Poly* p : {&front, &back}) {
            p->SetPoints(Winding{{9, 9, 9}});
            p->plane = Plane(0, 1, 0, 42);
            p->planeValid = 1;
        }
    }
    static bool Untouched(const Poly& p) {
        return p.points == Winding{{9, 9, 9}} && p.planeValid == 1;
    }
};

struct SplitCase {
    const char* what;
    Winding ring;
    Plane plane;
    float tol;
    bool expectedResult;
    std::optional<Winding> expectedFront;  // nullopt: front left untouched
    std::optional<Winding> expectedBack;   // nullopt: back left untouched
};

TEST(PolygonTest, Split) {
    const Winding square = {{-1, -1, 0}, {1, -1, 0}, {1, 1, 0}, {-1, 1, 0}};
    // The third corner lies exactly at the tolerance: it goes to both pieces, and the edges
    // that touch it get no crossing point of their own.
    const Winding touching = {{-1, -1, 0}, {1, -1, 0}, {0.001f, 1, 0}, {-1, 1, 0}};
    const SplitCase cases[] = {
        {"square across x = 0", square, Plane(1, 0, 0, 0), EPSILON, true,
         Winding{{0, -1, 0}, {1, -1, 0}, {1, 1, 0}, {0, 1, 0}},
         Winding{{-1, -1, 0}, {0, -1, 0}, {0, 1, 0}, {-1, 1, 0}}},
        // Off-centre: the crossings lie three quarters along the edges walked from back to
        // front and one quarter along those walked from front to back.
        {"square across x = 0.5", square, Plane(1, 0, 0, 0.5f), EPSILON, true,
         Winding{{0.5f, -1, 0}, {1, -1, 0}, {1, 1, 0}, {0.5f, 1, 0}},
         Winding{{-1, -1, 0}, {0.5f, -1, 0}, {0.5f, 1, 0}, {-1, 1, 0}}},
        {"square in front of x = -1, touching it", square, Plane(1, 0, 0, -1), EPSILON, false,
         square, std::nullopt},
        {"square behind x = 1, touching it", square, Plane(1, 0, 0, 1), EPSILON, false,
         std::nullopt, square},
        {"square in its own plane", square, Plane(0, 0, 1, 0), EPSILON, false, std::nullopt,
         std::nullopt},
        {"square in the reversed plane", square, Plane(0, 0, -1, 0), EPSILON, false, std::nullopt,
         std::nullopt},
        {"corner exactly at tolerance", touching, Plane(1, 0, 0, 0), EPSILON, true,
         Winding{{0, -1, 0}, {1, -1, 0}, {0.001f, 1, 0}},
         Winding{{-1, -1, 0}, {0, -1, 0}, {0.001f, 1, 0}, {-1, 1, 0}}},
        // Two crossings: on the first edge and on the closing edge, from (-1, 1) back to
        // (1, -1); each crossing goes to the front ring, then to the back ring.
        {"triangle cut off a corner",
         {{1, -1, 0}, {1, 1, 0}, {-1, 1, 0}},
         Plane(0, 1, 0, 0),
         EPSILON,
         true,
         Winding{{1, 0, 0}, {1, 1, 0}, {-1, 1, 0}, {0, 0, 0}},
         Winding{{1, -1, 0}, {1, 0, 0}, {0, 0, 0}}},
        // A coarser tolerance puts the corner at 0.005 on the plane: no sliver is cut.
        {"coarse tolerance",
         {{-1, 0, 0}, {0.005f, 0, 1}, {1, 0, -1}},
         Plane(1, 0, 0, 0),
         POLY_CLASSIFY_EPSILON,
         true,
         Winding{{0.005f, 0, 1}, {1, 0, -1}, {0, 0, -0.5f}},
         Winding{{-1, 0, 0}, {0.005f, 0, 1}, {0, 0, -0.5f}}},
    };
    for (const SplitCase& c : cases) {
        const Poly input = MakePoly(c.ring);
        SplitOutputs out;
        EXPECT_EQ(input.Split(c.plane, out.front, out.back, c.tol), c.expectedResult) << c.what;
        EXPECT_EQ(input.points, c.ring) << c.what << ": the input is only read";
        const std::pair<const Poly*, const std::optional<Winding>*> pieces[] = {
            {&out.front, &c.expectedFront}, {&out.back, &c.expectedBack}};
        for (const auto& [piece, expected] : pieces) {
            const char* side = piece == &out.front ? "front" : "back";
            if (!expected->has_value()) {
                EXPECT_TRUE(SplitOutputs::Untouched(*piece)) << c.what << ": " << side;
                continue;
            }
            // Exact: every crossing here lies at a parameter a power of two can express.
            EXPECT_EQ(piece->points, **expected) << c.what << ": " << side;
            EXPECT_EQ(piece->triangleIndices.size(), 3 * (piece->points.size() - 2))
                << c.what << ": " << side;
            EXPECT_EQ(piece->planeValid, 0) << c.what << ": " << side;
        }
    }
}

}  // namespace
}  // namespace bsppvs
