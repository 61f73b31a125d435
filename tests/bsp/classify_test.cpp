// Classifying a polygon against a plane: corners within 0.01 count as on the plane, and a
// polygon wholly on the plane is told apart by the facing of its own normal alone.

#include <gtest/gtest.h>

#include "../support/geometry_print.h"
#include "bsp/classify.h"

namespace bsppvs {
namespace {

Poly MakePoly(const Winding& ring) {
    Poly poly;
    poly.SetPoints(ring);
    return poly;
}

Winding Reversed(Winding ring) {
    return Winding(ring.rbegin(), ring.rend());
}

struct ClassifyCase {
    const char* what;
    Winding ring;
    PolySide expected;
};

TEST(ClassifyPolyTest, AgainstFloorPlane) {
    // Corners are given by their height above the plane z = 0 facing +z; the first three
    // x, y pairs run counter-clockwise seen from above.
    const Plane floor(0, 0, 1, 0);
    const Winding facingUp = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
    const ClassifyCase cases[] = {
        {"in the plane, same facing", facingUp, COPLANAR_SAME},
        {"in the plane, reversed", Reversed(facingUp), COPLANAR_OPPOSITE},
        {"one corner at 0.005", {{0, 0, 0.005f}, {1, 0, 0}, {0, 1, 0}}, COPLANAR_SAME},
        {"one corner at -0.005, reversed", Reversed({{0, 0, -0.005f}, {1, 0, 0}, {0, 1, 0}}),
         COPLANAR_OPPOSITE},
        {"corners at exactly +-0.01", {{0, 0, 0.01f}, {1, 0, -0.01f}, {0, 1, 0}}, COPLANAR_SAME},
        {"one corner at 0.02", {{0, 0, 0.02f}, {1, 0, 0}, {0, 1, 0}}, FRONT},
        {"one corner at -0.02", {{0, 0, -0.02f}, {1, 0, 0}, {0, 1, 0}}, BACK},
        {"wholly above", {{0, 0, 5}, {1, 0, 6}, {0, 1, 7}}, FRONT},
        {"wholly below, facing up", {{0, 0, -5}, {1, 0, -5}, {0, 1, -5}}, BACK},
        {"corners at 1, 0, -1, 0", {{0, 0, 1}, {1, 0, 0}, {1, 1, -1}, {0, 1, 0}}, SPANNING},
        {"corners at 0, 0, 1, -1", {{0, 0, 0}, {1, 0, 0}, {1, 1, 1}, {0, 1, -1}}, SPANNING},
        {"corners at 0.02 and -0.02", {{0, 0, 0.02f}, {1, 0, -0.02f}, {0, 1, 0}}, SPANNING},
        // Every corner within 0.01 of the plane, but tilted by 45 degrees: only the
        // normals decide, and they differ.
        {"tilted sliver", {{0, 0, 0}, {0.005f, 0, 0}, {0, 0.005f, 0.005f}}, COPLANAR_OPPOSITE},
    };
    for (const ClassifyCase& c : cases) {
        Poly poly = MakePoly(c.ring);
        EXPECT_EQ(ClassifyPoly(floor, poly), c.expected) << c.what;
    }
}

// Facing is told by every normal component: each axis plane against a square lying in it,
// facing either way.
TEST(ClassifyPolyTest, FacingOnEveryAxis) {
    const Winding squares[3] = {
        {{0, 0, 0}, {0, 1, 0}, {0, 1, 1}, {0, 0, 1}},  // in x = 0, facing +x
        {{0, 0, 0}, {0, 0, 1}, {1, 0, 1}, {1, 0, 0}},  // in y = 0, facing +y
        {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}},  // in z = 0, facing +z
    };
    for (int axis = 0; axis < 3; ++axis) {
        const Plane plane(AXES[axis], 0);
        Poly same = MakePoly(squares[axis]);
        Poly opposite = MakePoly(Reversed(squares[axis]));
        EXPECT_EQ(ClassifyPoly(plane, same), COPLANAR_SAME) << "axis " << axis;
        EXPECT_EQ(ClassifyPoly(plane, opposite), COPLANAR_OPPOSITE) << "axis " << axis;
        EXPECT_EQ(ClassifyPoly(Plane(Negated(AXES[axis]), 0), same), COPLANAR_OPPOSITE)
            << "axis " << axis;
    }
}

// A polygon without corners has every corner on the plane, so it is coplanar; which way
// it faces is not defined, but nothing must fail.
TEST(ClassifyPolyTest, EmptyPolygonIsCoplanar) {
    Poly empty;
    const PolySide side = ClassifyPoly(Plane(0, 0, 1, 3), empty);
    EXPECT_TRUE(side == COPLANAR_SAME || side == COPLANAR_OPPOSITE) << side;
}

}  // namespace
}  // namespace bsppvs
