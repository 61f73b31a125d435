// Gates: every portal becomes two one-way gates, each leading into the leaf on the side its
// polygon faces. Which leaf is in front is read from points just off the portal's middle,
// or failing that from the leaves' box centres.

#include <algorithm>
#include <cmath>

#include "geometry/tolerances.h"
#include "pvs/visibility.h"

namespace bsppvs {

namespace {

enum class Orientation { BACK, ON, FRONT };

Orientation OrientCenter(const Plane& plane, Vector3 center) {
    switch (plane.ClassifyPoint(center, EPSILON)) {
        case SIDE_BACK:
            return Orientation::BACK;
        case SIDE_FRONT:
            return Orientation::FRONT;
        default:
            return Orientation::ON;
    }
}

// The leaf just in front of the portal's middle when the leaf just behind it is the
// portal's other leaf, else -1. The first probes stand far enough off the plane for point
// location to tell the sides apart at any coordinate size; a leaf thinner than that is
// probed again closer in, down to a few times the point tolerance.
int32_t ProbeFrontLeaf(const BspTree& tree, const Portal& portal, const Plane& plane) {
    if (portal.points.empty()) {
        return -1;
    }
    Vector3 sum = ORIGIN;
    float extent = 0.0f;
    for (const Vector3& p : portal.points) {
        sum = Add(sum, p);
        extent = std::max({extent, std::fabs(p.x), std::fabs(p.y), std::fabs(p.z)});
    }
    const Vector3 middle = Scale(sum, 1.0f / static_cast<float>(portal.points.size()));
    const Vector3 normal = plane.Normal();
    const int32_t a = portal.leafIndices[0];
    const int32_t b = portal.leafIndices[1];
    float offset = std::max(PROBE_OFFSET, extent * PROBE_RELATIVE_OFFSET);
    const float closest = std::max(PROBE_CLOSEST_OFFSET, extent * PROBE_RELATIVE_OFFSET);
    for (; offset >= closest; offset *= PROBE_STEP) {
        const int32_t front = tree.LocateLeaf(Add(middle, Scale(normal, offset)), 0);
        const int32_t back = tree.LocateLeaf(Subtract(middle, Scale(normal, offset)), 0);
        if ((front == a && back == b) || (front == b && back == a)) {
            return front;
        }
    }
    return -1;
}

// Which side of the plane the convex leaf lies on, read from the corner of its polygons
// and of its other portals farthest from the plane: the whole leaf lies on one side, so
// the farthest corner tells which, however thin or slanted the leaf.
Orientation FarthestCornerSide(const BspTree& tree, const std::vector<Portal>& portals,
                               const std::vector<int32_t>& leafPortals, int32_t leaf,
                               const Plane& plane) {
    float farthest = 0.0f;
    const auto fold = [&](const Winding& ring) {
        for (const Vector3& p : ring) {
            const float d = plane.SignedDistance(p);
            if (std::fabs(d) > std::fabs(farthest)) {
                farthest = d;
            }
        }
    };
    const BspLeaf& l = tree.leaves[leaf];
    for (int32_t p = l.firstPoly; p < l.endPoly; ++p) {
        fold(tree.polys[p].points);
    }
    for (const int32_t k : leafPortals) {
        fold(portals[k].points);
    }
    if (farthest > EPSILON) {
        return Orientation::FRONT;
    }
    return farthest < -EPSILON ? Orientation::BACK : Orientation::ON;
}

// The leaf in front of the plane by FarthestCornerSide when the two leaves' corners agree,
// else -1.
int32_t FrontLeafByCorners(const BspTree& tree, const std::vector<Portal>& portals,
                           const std::vector<std::vector<int32_t>>& leafPortals, int32_t a,
                           int32_t b, const Plane& plane) {
    const Orientation sideA = FarthestCornerSide(tree, portals, leafPortals[a], a, plane);
    const Orientation sideB = FarthestCornerSide(tree, portals, leafPortals[b], b, plane);
    if (sideA != sideB) {
        if (sideA == Orientation::FRONT || sideB == Orientation::BACK) {
            return a;
        }
        return b;
    }
    return -1;
}

}  // namespace

void BuildGates(BspTree& tree, std::vector<Portal>& portals, std::vector<Gate>& gates,
                ZeroedArena& gateSets, const GateRules& rules) {
    std::vector<BspLeaf>& leaves = tree.leaves;
    gates.clear();
    for (BspLeaf& leaf : leaves) {
        leaf.gateIndices.clear();
    }
    const size_t leafCount = leaves.size();
    gates.reserve(2 * portals.size());
    // The sets of earlier gates go; the flood stores the new ones.
    gateSets.Reset();
    std::vector<std::vector<int32_t>> leafPortals(rules.orientByCorners ? leafCount : 0);
    for (size_t k = 0; k < portals.size() && rules.orientByCorners; ++k) {
        for (const int32_t leaf : portals[k].leafIndices) {
            leafPortals[leaf].push_back(static_cast<int32_t>(k));
        }
    }
    for (size_t k = 0; k < portals.size(); ++k) {
        Portal& portal = portals[k];
        const auto forward = static_cast<int32_t>(2 * k);
        const auto backward = forward + 1;
        Gate gate0;
        Gate gate1;
        const int32_t a = portal.leafIndices[0];
        const int32_t b = portal.leafIndices[1];
        const Plane& plane = portal.GetPlane();
        const Orientation sideA = OrientCenter(plane, leaves[a].bounds.center);
        const Orientation sideB = OrientCenter(plane, leaves[b].bounds.center);
        // A leaf's box centre need not lie inside the leaf: for a slanted leaf it can fall
        // on the far side of the portal, which would turn both gates the wrong way and hide
        // everything beyond them, and two leaves mirrored across the portal (the halves of
        // a box cut along its diagonal) have both centres on it, which would leave the
        // portal without gates. Where points just off the portal's middle say plainly which
        // leaf is in front, they decide; otherwise (for meshes, whose thin slanted leaves
        // often defeat the probes) the corners of the two leaves farthest from the plane,
        // and failing those the centres.
        int32_t probed = ProbeFrontLeaf(tree, portal, plane);
        if (probed == -1 && rules.orientByCorners) {
            probed = FrontLeafByCorners(tree, portals, leafPortals, a, b, plane);
        }
        // Both centres on the plane and no plain answer: the gates keep their numbers but
        // lead nowhere. So do the gates of a closed portal.
        const bool open = rules.closed.empty() || rules.closed[k] == 0;
        if (open && (probed != -1 || sideA != Orientation::ON || sideB != Orientation::ON)) {
            gate0.polygon = static_cast<const BuildPoly&>(portal);
            gate1.polygon.SetReversed(portal);
            // gate0 keeps the portal's facing, so it leads into whichever leaf is in front.
            bool aInFront = sideA == Orientation::FRONT ||
                            (sideA == Orientation::ON && sideB == Orientation::BACK);
            if (probed != -1) {
                aInFront = probed == a;
            }
            const int32_t frontLeaf = aInFront ? a : b;
            const int32_t backLeaf = aInFront ? b : a;
            gate0.sourceLeaf = backLeaf;
            gate0.targetLeaf = frontLeaf;
            gate1.sourceLeaf = frontLeaf;
            gate1.targetLeaf = backLeaf;
            leaves[a].gateIndices.push_back(aInFront ? backward : forward);
            leaves[b].gateIndices.push_back(aInFront ? forward : backward);
        }
        for (Gate* gate : {&gate0, &gate1}) {
            gate->mightSee = LeafBits(leafCount);
            gate->sees = LeafBits(leafCount);
            gates.push_back(std::move(*gate));
        }
    }
}

}  // namespace bsppvs
