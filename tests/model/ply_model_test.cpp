#include <gtest/gtest.h>

#include <cmath>

#include "model/matrix4.h"
#include "model/ply_model.h"

namespace bsppvs {
namespace {

constexpr float MAP_TOLERANCE = 1e-5f;

void ExpectNear(Vector3 actual, Vector3 expected) {
    EXPECT_NEAR(actual.x, expected.x, MAP_TOLERANCE);
    EXPECT_NEAR(actual.y, expected.y, MAP_TOLERANCE);
    EXPECT_NEAR(actual.z, expected.z, MAP_TOLERANCE);
}

bool AllFinite(const Matrix4& m) {
    for (const auto& row : m.m) {
        for (const float v : row) {
            if (!std::isfinite(v)) {
                return false;
            }
        }
    }
    return true;
}

struct FrameCase {
    const char* what;
    Vector3 origin, target, upPoint;
    Vector3 targetImage, upImage;
};

// Frames the file's nodes may carry, including the two that defeat the usual axis
// construction (no direction at all, and a direction exactly along -z).
const FrameCase FRAME_CASES[] = {
    {"along x", {0, 0, 0}, {1, 0, 0}, {0, 0, 1}, {0, 0, 1}, {0, 1, 0}},
    {"offset origin", {1, 2, 3}, {4, 6, 3}, {1, 2, 10}, {0, 0, 5}, {0, 7, 0}},
    {"already +z", {0, 0, 0}, {0, 0, 5}, {0, 1, 0}, {0, 0, 5}, {0, 1, 0}},
    {"turn about z only", {0, 0, 0}, {0, 0, 5}, {1, 1, 0}, {0, 0, 5}, {0, std::sqrt(2.0f), 0}},
    {"up on the view line", {0, 0, 0}, {3, 0, 0}, {6, 0, 0}, {0, 0, 3}, {0, 0, 6}},
    {"exactly -z", {0, 0, 0}, {0, 0, -4}, {0, 1, 0}, {0, 0, 4}, {0, 1, 0}},
    {"nearly -z", {0, 0, 0}, {1e-6f, 0, -1}, {0, 1, 0}, {0, 0, 1}, {0, 1, 0}},
    {"target at origin", {1, 1, 1}, {1, 1, 1}, {1, 3, 1}, {0, 0, 0}, {0, 2, 0}},
};

TEST(Matrix4, LookAtTakesFrameToAxesAndBack) {
    for (const FrameCase& c : FRAME_CASES) {
        SCOPED_TRACE(c.what);
        Matrix4 toLocal;
        toLocal.LookAt(c.origin, c.target, c.upPoint);
        const Matrix4 toWorld = toLocal.RigidInverse();
        ASSERT_TRUE(AllFinite(toLocal) && AllFinite(toWorld));
        ExpectNear(toLocal.TransformPoint(c.origin), {0, 0, 0});
        ExpectNear(toLocal.TransformPoint(c.target), c.targetImage);
        ExpectNear(toLocal.TransformPoint(c.upPoint), c.upImage);
        ExpectNear(toWorld.TransformPoint(c.targetImage), c.target);
        ExpectNear(toWorld.TransformPoint(c.upImage), c.upPoint);
        for (int r = 0; r < 4; ++r) {
            EXPECT_EQ(toLocal.m[r][3], r == 3 ? 1.0f : 0.0f);
        }
    }
}

TEST(Matrix4, AlignedFrameIsExactlyIdentity) {
    Matrix4 m;
    m.LookAt({0, 0, 0}, {0, 0, 5}, {0, 1, 0});
    EXPECT_EQ(m, Matrix4::Identity());
}

TEST(Matrix4, ZeroAnglesChangeNothing) {
    Matrix4 m;
    m.SetRotation(0.5f, {0.6f, 0.8f, 0.0f});
    const Matrix4 before = m;
    m.RotateZ(0.0f);
    EXPECT_EQ(m, before);
    m.SetRotation(0.0f, {0.6f, 0.8f, 0.0f});
    EXPECT_EQ(m, Matrix4::Identity());
}

TEST(HashName, SignExtendsBytesAndFoldsHighBits) {
    const struct {
        std::string name;
        uint32_t hash;
    } cases[] = {{"", 0}, {"abc", 395491}, {"\xE9", 0xFFFFFFE9u}, {"Aa", 0x1021}, {"@!", 0x1021}};
    for (const auto& c : cases) {
        EXPECT_EQ(HashName(c.name), c.hash) << c.name;
    }
}

}  // namespace
}  // namespace bsppvs
