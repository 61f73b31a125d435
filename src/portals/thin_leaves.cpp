#include "portals/thin_leaves.h"

#include <cmath>
#include <unordered_set>

#include "geometry/polygon.h"
#include "geometry/tolerances.h"
#include "portals/portal_builder.h"

namespace bsppvs {

namespace {

// The part of a that lies inside b's edges, seen along b's normal.
Winding Overlap(const Winding& a, const Winding& b, Vector3 normal) {
    Winding inside = InsideFaceEdges(a, b, normal, 0.0f, 3);
    return inside.size() >= 3 ? inside : Winding{};
}

// The part of the ring within POLY_CLASSIFY_EPSILON of the plane: where a leaf is a wedge
// between two planes crossing at a slight angle, its portals on either side lie along each
// other only near the line where the planes meet, however far the portals reach.
Winding NearPlane(const Winding& ring, const Plane& plane) {
    const Vector3 n = plane.Normal();
    Winding below;
    SplitRing(ring, Plane(n, plane.d + POLY_CLASSIFY_EPSILON), EPSILON, nullptr, &below);
    Winding near;
    SplitRing(below, Plane(n, plane.d - POLY_CLASSIFY_EPSILON), EPSILON, &near, nullptr);
    return near.size() >= 3 ? near : Winding{};
}

}  // namespace

std::vector<Portal> OpeningsAcrossThinLeaves(std::vector<Portal>& portals, size_t leafCount,
                                             const std::vector<uint8_t>* crossable,
                                             std::vector<int32_t>* crossed) {
    std::vector<std::vector<int32_t>> portalsOf(leafCount);
    std::unordered_set<uint64_t> joined;
    for (size_t k = 0; k < portals.size(); ++k) {
        const std::vector<int32_t>& pair = portals[k].leafIndices;
        portalsOf[pair[0]].push_back(static_cast<int32_t>(k));
        portalsOf[pair[1]].push_back(static_cast<int32_t>(k));
        joined.insert(LeafPairKey(pair[0], pair[1]));
    }
    const auto beyond = [&](int32_t portal, size_t leaf) {
        const std::vector<int32_t>& pair = portals[portal].leafIndices;
        return pair[0] == static_cast<int32_t>(leaf) ? pair[1] : pair[0];
    };
    std::vector<Portal> openings;
    for (size_t leaf = 0; leaf < leafCount; ++leaf) {
        if (crossable != nullptr && (*crossable)[leaf] == 0) {
            continue;
        }
        const std::vector<int32_t>& mine = portalsOf[leaf];
        for (size_t i = 0; i < mine.size(); ++i) {
            Portal& a = portals[mine[i]];
            const Plane& aPlane = a.GetPlane();
            for (size_t j = i + 1; j < mine.size(); ++j) {
                Portal& b = portals[mine[j]];
                const Plane& bPlane = b.GetPlane();
                const int32_t from = beyond(mine[i], leaf);
                const int32_t to = beyond(mine[j], leaf);
                if (std::fabs(Dot(aPlane.Normal(), bPlane.Normal())) < NEARLY_PARALLEL_COSINE ||
                    from == to || joined.count(LeafPairKey(from, to)) != 0) {
                    continue;
                }
                const Winding aNear = NearPlane(a.points, bPlane);
                const Winding bNear = NearPlane(b.points, aPlane);
                if (aNear.empty() || bNear.empty()) {
                    continue;
                }
                // Two portals of one face of the leaf, side by side, overlap only in a
                // strip along their common edge.
                Winding overlap = Overlap(aNear, bNear, bPlane.Normal());
                if (RingWidth(overlap) <= POLY_CLASSIFY_EPSILON) {
                    continue;
                }
                Portal& opening = openings.emplace_back();
                opening.SetPoints(std::move(overlap));
                opening.leafIndices = {from, to};
                joined.insert(LeafPairKey(from, to));
                if (crossed != nullptr) {
                    crossed->push_back(static_cast<int32_t>(leaf));
                }
            }
        }
    }
    return openings;
}

}  // namespace bsppvs
