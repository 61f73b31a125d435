#include "bsp/plane_snap.h"

#include <array>
#include <cmath>
#include <map>
#include <vector>

#include "geometry/tolerances.h"

namespace bsppvs {

namespace {

// A normal within this of an axis is that axis.
Vector3 SnapToAxis(Vector3 n) {
    const float c[3] = {n.x, n.y, n.z};
    for (int k = 0; k < 3; ++k) {
        if (std::fabs(c[k]) >= 1.0f - PLANE_SNAP_NORMAL) {
            // Built component by component: negating the axis would give the other
            // components the sign of zero below zero.
            float axis[3] = {0.0f, 0.0f, 0.0f};
            axis[k] = c[k] < 0.0f ? -1.0f : 1.0f;
            return {axis[0], axis[1], axis[2]};
        }
    }
    return n;
}

// Whether every corner lies within PLANE_SNAP_DISTANCE of the plane, so that the polygon
// still classifies as lying in it.
bool Holds(const Plane& plane, const Poly& poly) {
    for (const Vector3& p : poly.points) {
        if (std::fabs(plane.SignedDistance(p)) > PLANE_SNAP_DISTANCE) {
            return false;
        }
    }
    return true;
}

// The plane of the ring along the snapped normal, through the mean of its corners, when it
// holds them; else the ring's own.
Plane SnappedPlane(const Poly& poly) {
    const Plane own = ComputePlane(poly.points);
    const Vector3 n = SnapToAxis(own.Normal());
    double sum = 0.0;
    for (const Vector3& p : poly.points) {
        sum += double(n.x) * p.x + double(n.y) * p.y + double(n.z) * p.z;
    }
    const double count = static_cast<double>(std::max<size_t>(poly.points.size(), 1));
    const Plane snapped(n, static_cast<float>(sum / count));
    return Holds(snapped, poly) ? snapped : own;
}

using Cell = std::array<int64_t, 4>;

// The planes met so far, by a grid cell of their normal and distance; a plane is looked
// for in its own cell and the neighbouring ones.
class PlaneTable {
public:
    Plane Find(const Plane& plane, const Poly& poly) {
        const Cell home = CellOf(plane);
        for (int64_t da = -1; da <= 1; ++da) {
            for (int64_t db = -1; db <= 1; ++db) {
                for (int64_t dc = -1; dc <= 1; ++dc) {
                    for (int64_t dd = -1; dd <= 1; ++dd) {
                        const auto found =
                            byCell_.find({home[0] + da, home[1] + db, home[2] + dc, home[3] + dd});
                        if (found == byCell_.end()) {
                            continue;
                        }
                        for (const size_t i : found->second) {
                            if (Same(planes_[i], plane) && Holds(planes_[i], poly)) {
                                return planes_[i];
                            }
                        }
                    }
                }
            }
        }
        byCell_[home].push_back(planes_.size());
        planes_.push_back(plane);
        return plane;
    }

private:
    static Cell CellOf(const Plane& p) {
        return {std::llround(p.a / PLANE_SNAP_NORMAL), std::llround(p.b / PLANE_SNAP_NORMAL),
                std::llround(p.c / PLANE_SNAP_NORMAL), std::llround(p.d / PLANE_SNAP_DISTANCE)};
    }
    static bool Same(const Plane& p, const Plane& q) {
        return std::fabs(p.a - q.a) <= PLANE_SNAP_NORMAL &&
               std::fabs(p.b - q.b) <= PLANE_SNAP_NORMAL &&
               std::fabs(p.c - q.c) <= PLANE_SNAP_NORMAL &&
               std::fabs(p.d - q.d) <= PLANE_SNAP_DISTANCE;
    }

    std::vector<Plane> planes_;
    std::map<Cell, std::vector<size_t>> byCell_;
};

}  // namespace

void SnapPlanes(BuildPolyList& polys) {
    PlaneTable table;
    for (BuildPoly& poly : polys) {
        const Plane own = SnappedPlane(poly);
        if (own.Normal() == ORIGIN) {
            continue;  // no area: left to compute its own (zero) plane
        }
        poly.plane = table.Find(own, poly);
        poly.planeValid = 1;
    }
}

}  // namespace bsppvs
