#include "pvs/flood_tables.h"

#include <algorithm>
#include <cmath>

#include "geometry/bounds.h"

namespace bsppvs {

GateProjections::Sphere GateProjections::SphereAround(const Winding& corners) {
    Sphere sphere;
    if (corners.empty()) {
        return sphere;
    }
    MinMax box;
    box.Fold(corners);
    sphere.centre = Scale(Add(box.min, box.max), 0.5f);
    for (const Vector3& p : corners) {
        const Vector3 d = Subtract(p, sphere.centre);
        sphere.radius = std::max(sphere.radius, std::sqrt(Dot(d, d)));
    }
    sphere.radius *= SPHERE_RADIUS_SAFETY;
    return sphere;
}

GateProjections::GateProjections(std::vector<Gate>& gates, const std::vector<int32_t>& columns,
                                 bool useTables)
    : gates_(gates), columnCount_(columns.size()) {
    std::vector<Plane> normals;
    std::map<std::array<int64_t, 3>, size_t> byKey;
    groupOf_.assign(gates.size(), NO_GROUP);
    margin_.assign(gates.size(), 0.0f);
    float reach = 0.0f;  // the largest coordinate magnitude of any gate's corner
    for (size_t j = 0; j < gates.size(); ++j) {
        if (gates[j].targetLeaf == -1) {
            continue;
        }
        const Plane& plane = gates[j].polygon.GetPlane();
        groupOf_[j] = FindGroup(plane, normals, byKey);
        for (const Vector3& p : gates[j].polygon.points) {
            reach = std::max({reach, std::fabs(p.x), std::fabs(p.y), std::fabs(p.z)});
        }
    }
    for (size_t j = 0; j < gates.size(); ++j) {
        if (groupOf_[j] != NO_GROUP) {
            margin_[j] = MarginOf(gates[j].polygon.plane, normals[groupOf_[j]], reach);
        }
    }
    reach_ = reach;
    spheres_.assign(gates.size(), Sphere{});
    for (size_t j = 0; j < gates.size(); ++j) {
        spheres_[j] = SphereAround(gates[j].polygon.points);
    }
    groupCount_ = normals.size();
    if (!useTables || groupCount_ > MAX_TABLE_NORMALS ||
        groupCount_ * gates.size() > MAX_TABLE_ENTRIES) {
        groupCount_ = 0;  // too many normals: classify directly
        return;
    }
    // A flood holds its source gate i fixed: the front test reads each exit's largest
    // value along i's normal (one row per normal, walked along the exits), the back test
    // reads i's smallest value along each exit's normal (one row per gate, walked along
    // the normals). Each table is laid out so that its reads stay in one row.
    // Every entry is written below, so the tables skip the zeroing a vector would do,
    // and they come on large pages: tens of megabytes taken page by page cost more in
    // page faults than filling them.
    const size_t frontEntries = groupCount_ * columnCount_;
    const size_t behindEntries = groupCount_ * gates.size();
    tables_.Reset(frontEntries + behindEntries, sizeof(float), true);
    maxByNormal_ = reinterpret_cast<float*>(tables_.Take(frontEntries * sizeof(float)));
    minByGate_ = reinterpret_cast<float*>(tables_.Take(behindEntries * sizeof(float)));
    constexpr size_t NO_COLUMN = SIZE_MAX;
    std::vector<size_t> columnOf(gates.size(), NO_COLUMN);
    for (size_t c = 0; c < columnCount_; ++c) {
        columnOf[columns[c]] = c;
    }
    for (size_t j = 0; j < gates.size(); ++j) {
        for (size_t g = 0; g < groupCount_; ++g) {
            const Range range = ExtentAlong(normals[g], gates[j].polygon);
            minByGate_[j * groupCount_ + g] = range.min;
            if (columnOf[j] != NO_COLUMN) {
                maxByNormal_[g * columnCount_ + columnOf[j]] = range.max;
            }
        }
    }
}

}  // namespace bsppvs
