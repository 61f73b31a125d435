#pragma once

#include <cmath>

namespace bsppvs {

// A point or a direction. All geometry is single precision: every stored result is a
// 32-bit float, and each operation rounds exactly where its formula says.
struct Vector3 {
    float x = 0.0f;
    float y = 0.0f;
    float z = 0.0f;

    friend bool operator==(const Vector3&, const Vector3&) = default;
};

inline constexpr Vector3 ORIGIN{0.0f, 0.0f, 0.0f};
inline constexpr Vector3 AXIS_X{1.0f, 0.0f, 0.0f};
inline constexpr Vector3 AXIS_Y{0.0f, 1.0f, 0.0f};
inline constexpr Vector3 AXIS_Z{0.0f, 0.0f, 1.0f};
// The rows of the identity matrix, indexed by axis number.
inline constexpr Vector3 AXES[3] = {AXIS_X, AXIS_Y, AXIS_Z};

inline Vector3 Add(Vector3 u, Vector3 v) {
    return {u.x + v.x, u.y + v.y, u.z + v.z};
}
inline Vector3 Subtract(Vector3 u, Vector3 v) {
    return {u.x - v.x, u.y - v.y, u.z - v.z};
}
inline Vector3 Scale(Vector3 v, float s) {
    return {s * v.x, s * v.y, s * v.z};
}
inline Vector3 Negated(Vector3 v) {
    return {-v.x, -v.y, -v.z};
}

inline float Dot(Vector3 u, Vector3 v) {
    return u.x * v.x + u.y * v.y + u.z * v.z;
}

inline Vector3 Cross(Vector3 u, Vector3 v) {
    return {u.y * v.z - u.z * v.y, u.z * v.x - u.x * v.z, u.x * v.y - u.y * v.x};
}

// Scales v to unit length in place. A zero vector yields non-finite components: callers
// only normalize vectors that cannot be zero where they call it.
inline void Normalize(Vector3& v) {
    const float lengthSq = v.x * v.x + v.y * v.y + v.z * v.z;
    const float root = std::sqrt(lengthSq);
    const float f = 1.0f / root;
    v.x *= f;
    v.y *= f;
    v.z *= f;
}

inline bool IsFinite(Vector3 v) {
    return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

}  // namespace bsppvs
