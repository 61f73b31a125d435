#pragma once

// How often the level's surface winds round a point: the generalised winding number of its
// polygons, counted so that a point in open space (the side the faces face) gets about 1
// and a point in solid space about 0. Unlike the side of a plane, it does not care whether
// the surface is closed, crosses itself, has cracks or two-sided pieces: each polygon adds
// its solid angle seen from the point, so small faults only move the number a little.
//
// The sum runs over a tree of the polygons' triangles: clusters far from the point (beyond
// FAR_CLUSTER_RATIO times their radius) add the first two terms of the expansion of their
// solid angle about their centre (their summed area vector, and how it spreads about the
// centre), nearer ones are summed triangle by triangle. A query costs about
// log(triangles) clusters plus the triangles near the point.

#include <array>
#include <cstdint>
#include <vector>

#include "geometry/polygon.h"
#include "geometry/vector3d.h"

namespace bsppvs {

// The sum of the arguments (atan2(im, re), each in (-pi, pi]) of many complex numbers, with
// one arc tangent instead of one each: their product's argument, plus the whole turns
// counted as the product goes round. The same sum up to rounding.
class ArgumentSum {
public:
    void Add(double re, double im);
    double Sum() const;

private:
    static constexpr double RESCALE_ABOVE = 0x1.0p+400;
    static constexpr double RESCALE_BELOW = 0x1.0p-400;
    double re_ = 1.0;
    double im_ = 0.0;
    int64_t turns_ = 0;
};

class SurfaceWinding {
public:
    // The triangles of the polygons' fans.
    explicit SurfaceWinding(const std::vector<Winding>& polygons);

    // About 1 in open space and 0 in solid space; between them near holes and loose faces.
    double OpenSpaceAt(Vector3 p) const;

private:
    struct Triangle {
        Vector3d a;
        Vector3d b;
        Vector3d c;
    };
    // A cluster of triangles first to end - 1 (in triangles_ order), with what a far point
    // needs of it, and its two halves (none for a leaf).
    struct Cluster {
        Vector3d centre;
        double radius = 0.0;
        Vector3d areaVector;  // sum of the triangles' normals times their areas
        // Sum over the triangles of (normal times area) (x) (centroid - centre): how the
        // area vector spreads about the centre, for the far sum's second term.
        std::array<double, 9> spread{};
        uint32_t first = 0;
        uint32_t end = 0;
        int32_t low = -1;
        int32_t high = -1;
    };

    int32_t Build(uint32_t first, uint32_t end);
    double SolidAngleSum(Vector3d p) const;
    static double FarSolidAngle(const Cluster& cluster, Vector3d r, double d);

    std::vector<Triangle> triangles_;
    std::vector<Cluster> clusters_;
};

}  // namespace bsppvs
