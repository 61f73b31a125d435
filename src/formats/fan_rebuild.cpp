#include "formats/fan_rebuild.h"

#include <cassert>
#include <cmath>
#include <vector>

#include "geometry/polygon.h"
#include "geometry/tolerances.h"

namespace bsppvs {

namespace {

float Squared(float v) {
    return v * v;
}

bool SameDirection(Vector3 a, Vector3 b) {
    return Squared(a.x - b.x) < FLAT_NORMAL_DIFFERENCE_SQ &&
           Squared(a.y - b.y) < FLAT_NORMAL_DIFFERENCE_SQ &&
           Squared(a.z - b.z) < FLAT_NORMAL_DIFFERENCE_SQ;
}

// Whether the way previous -> corner -> next turns against the facing normal.
bool IsReflex(Vector3 previous, Vector3 corner, Vector3 next, Vector3 normal) {
    const Vector3 in = Subtract(corner, previous);
    const Vector3 out = Subtract(next, corner);
    const float lengths = std::sqrt(Dot(in, in) * Dot(out, out));
    return Dot(Cross(in, out), normal) < -REFLEX_SINE * lengths;
}

// One polygon being grown from a fan: its corners as position indices and as points, and
// the normal of its first triangle, which every later triangle must share.
class FanBuilder {
public:
    FanBuilder(LevelMesh& mesh, int32_t group, int32_t material)
        : mesh_(mesh), group_(group), material_(material) {}

    void Add(const std::array<int32_t, 3>& triangle) {
        if (Continues(triangle)) {
            ring_.push_back(triangle[2]);
            points_.push_back(PositionOf(triangle[2]));
            return;
        }
        Flush();
        for (const int32_t corner : triangle) {
            ring_.push_back(corner);
            points_.push_back(PositionOf(corner));
        }
        normal_ = ComputeNormal(points_);
    }

    // Appends the polygon grown so far, if any, and starts afresh.
    void Flush() {
        WeldRing(mesh_.positions, ring_);
        if (ring_.size() >= 3) {
            mesh_.AddPolygon(ring_, group_);
            mesh_.polygons.back().material = material_;
        }
        ring_.clear();
        points_.clear();
    }

private:
    Vector3 PositionOf(int32_t index) const {
        assert(index >= 0 && static_cast<size_t>(index) < mesh_.positions.size() &&
               "triangle corners name existing positions");
        return mesh_.positions[static_cast<size_t>(index)];
    }

    bool Continues(const std::array<int32_t, 3>& triangle) {
        // A polygon whose first triangle has no area has no facing to keep.
        if (points_.empty() || points_.size() >= MAX_REBUILT_CORNERS || normal_ == ORIGIN) {
            return false;
        }
        const Vector3 a = points_.front();
        const Vector3 z = points_.back();
        const Vector3 added = PositionOf(triangle[2]);
        if (PositionOf(triangle[0]) != a || PositionOf(triangle[1]) != z ||
            !SameDirection(ComputeNormal({a, z, added}), normal_)) {
            return false;
        }
        // Only the corners at z, the added point and a change their turn.
        const Vector3 beforeZ = points_[points_.size() - 2];
        if (IsReflex(beforeZ, z, added, normal_) || IsReflex(z, added, a, normal_) ||
            IsReflex(added, a, points_[1], normal_)) {
            return false;
        }
        points_.push_back(added);
        const bool flat = SameDirection(ComputeNormal(points_), normal_);
        points_.pop_back();
        return flat;
    }

    LevelMesh& mesh_;
    int32_t group_ = -1;
    int32_t material_ = -1;
    std::vector<int32_t> ring_;
    Winding points_;
    Vector3 normal_;  // of the first triangle; valid while points_ is not empty
};

}  // namespace

void AppendRebuiltFans(std::span<const std::array<int32_t, 3>> triangles, int32_t group,
                       int32_t material, LevelMesh& mesh) {
    FanBuilder builder(mesh, group, material);
    for (const std::array<int32_t, 3>& triangle : triangles) {
        builder.Add(triangle);
    }
    builder.Flush();
}

}  // namespace bsppvs
