#include "portals/portal_cover.h"

#include <cmath>

#include "core/parallel_for.h"
#include "geometry/tolerances.h"

namespace bsppvs {

namespace {

constexpr size_t PORTALS_PER_SLICE = 256;

// The pieces of the fragments that lie outside the convex face, each convex. A piece
// counts only where a corner stands more than EPSILON beyond one of the face's edges, so
// the seams where neighbouring faces meet are not taken for gaps.
std::vector<Winding> OutsideFace(const std::vector<Winding>& fragments, const Winding& face,
                                 Vector3 normal) {
    std::vector<Winding> outside;
    const size_t n = face.size();
    for (Winding rest : fragments) {
        for (size_t i = 0; i < n && !rest.empty(); ++i) {
            Vector3 out = Cross(Subtract(face[(i + 1) % n], face[i]), normal);
            const float length = std::sqrt(Dot(out, out));
            if (length <= 0.0f) {
                continue;
            }
            out = Scale(out, 1.0f / length);
            const Plane edge(out, Dot(out, face[i]));
            Winding beyond;
            Winding within;
            const SplitCounts counts = SplitRing(rest, edge, EPSILON, &beyond, &within);
            if (counts.front > 0) {
                outside.push_back(std::move(beyond));
                rest = counts.back > 0 ? std::move(within) : Winding{};
            }
        }
    }
    return outside;
}

}  // namespace

std::vector<const Poly*> FacesInPlane(const BspTree& tree, int32_t leaf, const Plane& plane,
                                      bool structuralOnly) {
    std::vector<const Poly*> faces;
    const BspLeaf& l = tree.leaves[leaf];
    const int32_t end = structuralOnly && l.firstDetailPoly >= 0 ? l.firstDetailPoly : l.endPoly;
    for (int32_t p = l.firstPoly; p < end; ++p) {
        const Poly& face = tree.polys[p];
        bool inPlane = !face.points.empty();
        for (const Vector3& v : face.points) {
            inPlane = inPlane && std::fabs(plane.SignedDistance(v)) <= POLY_CLASSIFY_EPSILON;
        }
        // A sliver of a face can have every corner within the tolerance of the plane while
        // it stands across it (its corners on the line where the two planes meet); seen
        // from the plane its edges enclose everything, so it would close any opening.
        const Vector3 normal = ComputeNormal(face.points);
        const float length = std::sqrt(Dot(normal, normal));
        inPlane = inPlane && length > 0.0f &&
                  std::fabs(Dot(normal, plane.Normal())) >= NEARLY_PARALLEL_COSINE * length;
        if (inPlane) {
            faces.push_back(&face);
        }
    }
    return faces;
}

std::vector<const Poly*> FacesOnPortal(const BspTree& tree, Portal& portal, bool structuralOnly) {
    const Plane& plane = portal.GetPlane();
    std::vector<const Poly*> faces;
    for (const int32_t leaf : portal.leafIndices) {
        const std::vector<const Poly*> more = FacesInPlane(tree, leaf, plane, structuralOnly);
        faces.insert(faces.end(), more.begin(), more.end());
    }
    return faces;
}

bool WhollyCovered(const Winding& opening, const std::vector<const Poly*>& faces) {
    std::vector<Winding> uncovered = {opening};
    for (const Poly* face : faces) {
        // The edges' outward sides follow from the face's own turn, whichever way it faces.
        const Vector3 normal = ComputeNormal(face->points);
        if (Dot(normal, normal) == 0.0f) {
            continue;
        }
        uncovered = OutsideFace(uncovered, face->points, normal);
        if (uncovered.empty()) {
            return true;
        }
    }
    return false;
}

std::vector<uint8_t> FindCoveredPortals(const BspTree& tree, std::vector<Portal>& portals,
                                        int32_t threads) {
    std::vector<uint8_t> covered(portals.size(), 0);
    ParallelFor(threads, portals.size(), PORTALS_PER_SLICE, [&](size_t begin, size_t end) {
        for (size_t k = begin; k < end; ++k) {
            Portal& portal = portals[k];
            const std::vector<const Poly*> faces = FacesOnPortal(tree, portal, true);
            covered[k] = !faces.empty() && WhollyCovered(portal.points, faces) ? 1 : 0;
        }
    });
    return covered;
}

}  // namespace bsppvs
