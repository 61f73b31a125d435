// Node frames are built the way a camera is aimed: first turn the viewing direction onto
// +z about the axis perpendicular to both, then spin about z until the up point sits above
// the origin, then move the origin to zero. Each step is a constant number of float
// operations; trigonometric values are taken in double and rounded once to float, so the
// results do not depend on the platform's float math library.

#include "model/matrix4.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <numbers>

namespace bsppvs {

namespace {

// Squared component difference below which a unit direction already counts as +z. The
// value is the float nearest 0.0001; the bit pattern pins it down exactly.
constexpr float FRAME_ALIGNED_EPSILON_SQ = 0.0001f;
static_assert(std::bit_cast<uint32_t>(FRAME_ALIGNED_EPSILON_SQ) == 0x38D1B717u);

float SinF(float angle) {
    return static_cast<float>(std::sin(static_cast<double>(angle)));
}
float CosF(float angle) {
    return static_cast<float>(std::cos(static_cast<double>(angle)));
}

bool IsAlignedWithZ(Vector3 n) {
    const float dz = n.z - 1.0f;
    return n.x * n.x < FRAME_ALIGNED_EPSILON_SQ && n.y * n.y < FRAME_ALIGNED_EPSILON_SQ &&
           dz * dz < FRAME_ALIGNED_EPSILON_SQ;
}

// The unit vector from origin towards target. Non-finite when the two points coincide.
Vector3 UnitDirection(Vector3 origin, Vector3 target) {
    const Vector3 d = Subtract(target, origin);
    const float length = std::sqrt(Dot(d, d));
    const float r = 1.0f / length;
    return Scale(d, r);
}

void SetTranslationRow(Matrix4& matrix, Vector3 t) {
    matrix.m[3][0] = t.x;
    matrix.m[3][1] = t.y;
    matrix.m[3][2] = t.z;
    matrix.m[3][3] = 1.0f;
}

}  // namespace

Vector3 Matrix4::TransformPoint(Vector3 p) const {
    Vector3 result;
    float* out[3] = {&result.x, &result.y, &result.z};
    for (int column = 0; column < 3; ++column) {
        *out[column] = p.x * m[0][column] + p.y * m[1][column] + p.z * m[2][column] + m[3][column];
    }
    return result;
}

void Matrix4::SetRotation(float angle, Vector3 axis) {
    if (angle == 0.0f) {
        *this = Identity();
        return;
    }
    const float s = SinF(angle);
    const float c = CosF(angle);
    const float t = 1.0f - c;
    const float x = axis.x;
    const float y = axis.y;
    const float z = axis.z;
    // The w column is left alone: every caller starts from a matrix whose w column is
    // already (0, 0, 0, 1).
    m[0][0] = c + t * x * x;
    m[0][1] = t * x * y + s * z;
    m[0][2] = t * x * z - s * y;
    m[1][0] = t * x * y - s * z;
    m[1][1] = c + t * y * y;
    m[1][2] = t * y * z + s * x;
    m[2][0] = t * x * z + s * y;
    m[2][1] = t * y * z - s * x;
    m[2][2] = c + t * z * z;
    m[3][0] = 0.0f;
    m[3][1] = 0.0f;
    m[3][2] = 0.0f;
}

void Matrix4::RotateZ(float angle) {
    if (angle == 0.0f) {
        return;
    }
    const float c = CosF(angle);
    const float s = SinF(angle);
    for (auto& row : m) {
        const float x = row[0];
        const float y = row[1];
        row[0] = x * c - y * s;
        row[1] = x * s + y * c;
    }
}

// A frame whose direction cannot be turned onto +z by the usual axis (the two points
// coincide, or the direction is exactly -z) is handled so that no NaN enters the matrix:
// with no direction at all the frame keeps +z as its direction; a direction along -z is
// turned half a circle about x. The up turn and the translation are applied as for any
// other frame, so toLocal still takes origin to zero and the up point above it.
void Matrix4::LookAt(Vector3 origin, Vector3 target, Vector3 upPoint) {
    *this = Identity();
    const Vector3 n = UnitDirection(origin, target);
    if (!IsAlignedWithZ(n)) {
        const Vector3 across = Cross(n, AXIS_Z);
        const float acrossLength = std::sqrt(Dot(across, across));
        if (acrossLength > 0.0f && std::isfinite(acrossLength)) {
            const Vector3 axis{across.x / acrossLength, across.y / acrossLength,
                               across.z / acrossLength};
            // Rounding can push |n.z| just past 1; arccos must not see that.
            const double cosine = std::clamp(static_cast<double>(Dot(n, AXIS_Z)), -1.0, 1.0);
            SetRotation(static_cast<float>(std::acos(cosine)), axis);
        } else if (n.z < 0.0f) {
            SetRotation(std::numbers::pi_v<float>, AXIS_X);
        }
    }
    const Vector3 w = TransformPoint(Subtract(upPoint, origin));
    const float theta =
        static_cast<float>(std::atan2(-static_cast<double>(w.x), static_cast<double>(w.y)));
    if (theta != 0.0f) {
        RotateZ(-theta);
    }
    SetTranslationRow(*this, TransformPoint(Negated(origin)));
}

Matrix4 Matrix4::RigidInverse() const {
    Matrix4 result;
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            result.m[i][j] = m[j][i];
        }
        result.m[i][3] = 0.0f;
    }
    SetTranslationRow(result, ORIGIN);
    const Vector3 t{m[3][0], m[3][1], m[3][2]};
    SetTranslationRow(result, result.TransformPoint(Negated(t)));
    return result;
}

}  // namespace bsppvs
