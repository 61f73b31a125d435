#include "level/thin_patches.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <unordered_map>

#include "core/disjoint_sets.h"
#include "geometry/tolerances.h"

namespace bsppvs {

namespace {

struct PatchPlane {
    Vector3 normal = ORIGIN;  // unit, or zero for a polygon without area
    float d = 0.0f;
    float area = 0.0f;
};

PatchPlane PlaneOf(const LevelMesh& mesh, size_t polygon) {
    const std::span<const int32_t> ring = mesh.Ring(polygon);
    Vector3 twiceArea = ORIGIN;
    Vector3 sum = ORIGIN;
    for (size_t i = 0; i < ring.size(); ++i) {
        const Vector3 p = mesh.positions[ring[i]];
        twiceArea = Add(twiceArea, Cross(p, mesh.positions[ring[(i + 1) % ring.size()]]));
        sum = Add(sum, p);
    }
    const float length = std::sqrt(Dot(twiceArea, twiceArea));
    if (!(length > 0.0f)) {
        return {};
    }
    const Vector3 normal = Scale(twiceArea, 1.0f / length);
    const Vector3 middle = Scale(sum, 1.0f / static_cast<float>(ring.size()));
    return {normal, Dot(normal, middle), 0.5f * length};
}

bool SamePlane(const PatchPlane& a, const PatchPlane& b) {
    return a.area > 0.0f && b.area > 0.0f && Dot(a.normal, b.normal) > THIN_PATCH_NORMAL_DOT &&
           std::fabs(a.d - b.d) <= POLY_CLASSIFY_EPSILON;
}

struct PositionKey {
    uint32_t x, y, z;
    bool operator==(const PositionKey&) const = default;
};
struct PositionHash {
    size_t operator()(const PositionKey& k) const {
        return (size_t{k.x} * 0x9E3779B97F4A7C15ull) ^ (size_t{k.y} * 0xC2B2AE3D27D4EB4Full) ^ k.z;
    }
};

PositionKey KeyOf(Vector3 p) {
    PositionKey key{};
    std::memcpy(&key.x, &p.x, 4);
    std::memcpy(&key.y, &p.y, 4);
    std::memcpy(&key.z, &p.z, 4);
    return key;
}

// Joins the polygons that share a position and a plane into patches. Positions are
// compared by value, since formats that share nothing by index still repeat exact
// coordinates where faces meet.
DisjointSets JoinPatches(const LevelMesh& mesh, const std::vector<PatchPlane>& planes) {
    std::unordered_map<PositionKey, std::vector<int32_t>, PositionHash> atPosition;
    for (size_t f = 0; f < mesh.polygons.size(); ++f) {
        for (const int32_t corner : mesh.Ring(f)) {
            atPosition[KeyOf(mesh.positions[corner])].push_back(static_cast<int32_t>(f));
        }
    }
    DisjointSets patches(mesh.polygons.size());
    for (auto& [key, polygons] : atPosition) {
        // Each polygon joins the first earlier one in its plane: that chains every plane's
        // polygons at this position into one patch.
        for (size_t i = 1; i < polygons.size(); ++i) {
            for (size_t j = 0; j < i; ++j) {
                if (SamePlane(planes[polygons[i]], planes[polygons[j]])) {
                    patches.Join(polygons[i], polygons[j]);
                    break;
                }
            }
        }
    }
    return patches;
}

// About the largest distance between two of the points: the farthest from the farthest
// from the first.
float Diameter(const std::vector<Vector3>& points) {
    const auto farthestFrom = [&](Vector3 p) {
        Vector3 best = p;
        float bestSq = 0.0f;
        for (const Vector3& q : points) {
            const Vector3 step = Subtract(q, p);
            if (Dot(step, step) > bestSq) {
                bestSq = Dot(step, step);
                best = q;
            }
        }
        return best;
    };
    const Vector3 a = farthestFrom(points.front());
    const Vector3 step = Subtract(farthestFrom(a), a);
    return std::sqrt(Dot(step, step));
}

}  // namespace

std::vector<uint8_t> ThinPatches(const LevelMesh& mesh, float width) {
    const size_t count = mesh.polygons.size();
    std::vector<PatchPlane> planes(count);
    for (size_t f = 0; f < count; ++f) {
        planes[f] = PlaneOf(mesh, f);
    }
    DisjointSets patches = JoinPatches(mesh, planes);
    std::vector<float> area(count, 0.0f);
    std::vector<std::vector<Vector3>> points(count);
    for (size_t f = 0; f < count; ++f) {
        const int32_t root = patches.Root(static_cast<int32_t>(f));
        area[root] += planes[f].area;
        for (const int32_t corner : mesh.Ring(f)) {
            points[root].push_back(mesh.positions[corner]);
        }
    }
    std::vector<uint8_t> thin(count, 0);
    for (size_t f = 0; f < count; ++f) {
        const int32_t root = patches.Root(static_cast<int32_t>(f));
        if (root == static_cast<int32_t>(f)) {
            const float diameter = points[f].empty() ? 0.0f : Diameter(points[f]);
            thin[f] = !(diameter > 0.0f) || area[f] / diameter < width ? 1 : 0;
        }
    }
    for (size_t f = 0; f < count; ++f) {
        thin[f] = thin[patches.Root(static_cast<int32_t>(f))];
    }
    return thin;
}

}  // namespace bsppvs
