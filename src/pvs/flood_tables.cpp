#include "pvs/flood_tables.h"

#include <algorithm>

namespace bsppvs {

GateProjections::GateProjections(std::vector<Gate>& gates) : gates_(gates) {
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
    groupCount_ = normals.size();
    if (groupCount_ * gates.size() > MAX_TABLE_ENTRIES) {
        groupCount_ = 0;  // too many normals: classify directly
        return;
    }
    // A flood holds its source gate i fixed: the front test reads gate j's largest
    // value along i's normal (one row per normal, walked along j), the back test reads
    // i's smallest value along each j's normal (one row per gate, walked along the
    // normals). Each table is laid out so that its reads stay in one row.
    // Every entry is written below, so the tables skip the zeroing a vector would do,
    // and they come on large pages: tens of megabytes taken page by page cost more in
    // page faults than filling them.
    const size_t entries = groupCount_ * gates.size();
    tables_.Reset(2 * entries, sizeof(float), true);
    maxByNormal_ = reinterpret_cast<float*>(tables_.Take(entries * sizeof(float)));
    minByGate_ = reinterpret_cast<float*>(tables_.Take(entries * sizeof(float)));
    for (size_t g = 0; g < groupCount_; ++g) {
        for (size_t j = 0; j < gates.size(); ++j) {
            const Range range = ExtentAlong(normals[g], gates[j].polygon);
            maxByNormal_[g * gates.size() + j] = range.max;
            minByGate_[j * groupCount_ + g] = range.min;
        }
    }
}

}  // namespace bsppvs
