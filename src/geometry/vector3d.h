#pragma once

#include <cmath>

#include "geometry/vector3.h"

namespace bsppvs {

// A point or direction in double precision, for the analyses that must not round as the
// compiler's own single-precision geometry does: solid angles, convex cells, sight lines.
struct Vector3d {
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;

    Vector3d() = default;
    Vector3d(double x_, double y_, double z_) : x(x_), y(y_), z(z_) {}
    explicit Vector3d(Vector3 v) : x(v.x), y(v.y), z(v.z) {}

    Vector3 ToFloat() const {
        return {static_cast<float>(x), static_cast<float>(y), static_cast<float>(z)};
    }
    double operator[](int axis) const { return axis == 0 ? x : (axis == 1 ? y : z); }
};

inline Vector3d operator+(Vector3d u, Vector3d v) {
    return {u.x + v.x, u.y + v.y, u.z + v.z};
}
inline Vector3d operator-(Vector3d u, Vector3d v) {
    return {u.x - v.x, u.y - v.y, u.z - v.z};
}
inline Vector3d operator*(Vector3d v, double s) {
    return {v.x * s, v.y * s, v.z * s};
}
inline double Dot(Vector3d u, Vector3d v) {
    return u.x * v.x + u.y * v.y + u.z * v.z;
}
inline Vector3d Cross(Vector3d u, Vector3d v) {
    return {u.y * v.z - u.z * v.y, u.z * v.x - u.x * v.z, u.x * v.y - u.y * v.x};
}
inline double Length(Vector3d v) {
    return std::sqrt(Dot(v, v));
}

}  // namespace bsppvs
