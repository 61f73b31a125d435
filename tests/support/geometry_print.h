#pragma once

// Readable failure messages for the geometry value types: GoogleTest finds these printers
// by argument-dependent lookup, so a failed comparison shows coordinates, not bytes.

#include <ostream>

#include "geometry/bounds.h"
#include "geometry/plane.h"
#include "geometry/vector3.h"

namespace bsppvs {

inline void PrintTo(const Vector3& v, std::ostream* os) {
    *os << "(" << v.x << ", " << v.y << ", " << v.z << ")";
}

inline void PrintTo(const Plane& p, std::ostream* os) {
    *os << "plane(" << p.a << ", " << p.b << ", " << p.c << "; d " << p.d << ")";
}

inline void PrintTo(const Bounds& b, std::ostream* os) {
    *os << "bounds(centre ";
    PrintTo(b.center, os);
    *os << ", half ";
    PrintTo(b.halfExtent, os);
    *os << ")";
}

}  // namespace bsppvs
