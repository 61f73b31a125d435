#pragma once

#include "geometry/vector3.h"

namespace bsppvs {

// A 4 x 4 single-precision matrix acting on points written as rows: p maps to
// x * row 0 + y * row 1 + z * row 2 + row 3 (x, y, z parts only). Rows 0 to 2 hold the
// linear part, row 3 the translation; every matrix built here keeps the w column
// (0, 0, 0, 1).
struct Matrix4 {
    float m[4][4] = {{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}};

    static Matrix4 Identity() { return {}; }

    Vector3 TransformPoint(Vector3 p) const;
    // Becomes the rotation by angle (radians) about the unit axis, right-hand rule.
    void SetRotation(float angle, Vector3 axis);
    // Follows the matrix with a rotation about z (every row's x and y turned).
    void RotateZ(float angle);
    // Becomes the transform into the frame at origin looking at target with upPoint above.
    // Called on an identity matrix.
    void LookAt(Vector3 origin, Vector3 target, Vector3 upPoint);
    // The inverse of a matrix whose linear part is a rotation.
    Matrix4 RigidInverse() const;

    friend bool operator==(const Matrix4&, const Matrix4&) = default;
};

}  // namespace bsppvs
