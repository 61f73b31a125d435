#pragma once

#include <algorithm>
#include <limits>
#include <span>

#include "geometry/vector3.h"

namespace bsppvs {

// Per-axis running minimum and maximum of a stream of points. Bounds are built through it
// so that a box can be folded from the corners of many polygons without gathering them.
struct MinMax {
    Vector3 min{std::numeric_limits<float>::infinity(), std::numeric_limits<float>::infinity(),
                std::numeric_limits<float>::infinity()};
    Vector3 max{-std::numeric_limits<float>::infinity(), -std::numeric_limits<float>::infinity(),
                -std::numeric_limits<float>::infinity()};
    bool empty = true;

    void Fold(Vector3 p) {
        min = {std::min(min.x, p.x), std::min(min.y, p.y), std::min(min.z, p.z)};
        max = {std::max(max.x, p.x), std::max(max.y, p.y), std::max(max.z, p.z)};
        empty = false;
    }
    void Fold(std::span<const Vector3> points) {
        for (const Vector3& p : points) {
            Fold(p);
        }
    }
};

// An axis-aligned box held as centre and half-extent. A new box is all zeros.
struct Bounds {
    Vector3 center;
    Vector3 halfExtent;

    // The box of the folded points. An empty fold gives the new, all-zero box rather than
    // the NaN centre that infinite start values would produce.
    static Bounds FromMinMax(const MinMax& mm) {
        if (mm.empty) {
            return {};
        }
        return {Scale(Add(mm.max, mm.min), 0.5f), Scale(Subtract(mm.max, mm.min), 0.5f)};
    }

    static Bounds FromPoints(std::span<const Vector3> points) {
        MinMax mm;
        mm.Fold(points);
        return FromMinMax(mm);
    }

    // Starts from the box's own min and max, recovered from centre and half-extent (with
    // their rounding), so extending is not the same as one fold over all points.
    MinMax ToMinMax() const {
        MinMax mm;
        mm.min = Subtract(center, halfExtent);
        mm.max = Add(center, halfExtent);
        mm.empty = false;
        return mm;
    }

    void Extend(std::span<const Vector3> points) {
        MinMax mm = ToMinMax();
        mm.Fold(points);
        *this = FromMinMax(mm);
    }

    friend bool operator==(const Bounds&, const Bounds&) = default;
};

inline bool IsFinite(const Bounds& b) {
    return IsFinite(b.center) && IsFinite(b.halfExtent);
}

}  // namespace bsppvs
