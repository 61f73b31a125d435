#include "bsp/leaf_cells.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "geometry/tolerances.h"
#include "geometry/vector3d.h"

namespace bsppvs {

namespace {

// How far the world box stands off the level's polygons: a part of the level's size and a
// few units more, so that the box's sides never coincide with a face.
constexpr double WORLD_MARGIN_RELATIVE = 0.01;
constexpr double WORLD_MARGIN_ABSOLUTE = 16.0;
// Corners within this distance of a cutting plane, relative to the region's size, count as
// on it: the cut then keeps them on both sides without making new corners.
constexpr double CUT_TOLERANCE_RELATIVE = 1e-9;
// Corners of a region towards which probes are kept, half way and nearly all the way from
// its middle: enough to see a region whose inside the surface wraps only in one corner
// (near a loose edge), few enough to stay cheap.
constexpr size_t CELL_PROBE_CORNERS = 16;
constexpr double PROBE_REACHES[] = {0.5, 0.9};

struct PlaneD {
    Vector3d normal;  // points out of the region
    double d = 0.0;

    double Distance(Vector3d p) const { return Dot(normal, p) - d; }
};

struct Face {
    PlaneD plane;
    // Empty when the plane only touches the region, or no longer reaches it.
    std::vector<Vector3d> ring;
    bool onWorldBox = false;
};

// A convex region as the planes that bound it, each with the face it makes. Planes whose
// face has gone stay: in exact arithmetic they would be redundant, but a face cut down to
// a sliver thinner than the cut's tolerance can still bound the region, and losing it
// would open the region to infinity.
using Region = std::vector<Face>;

// The part of the ring behind the plane (distance <= tol).
std::vector<Vector3d> KeepBehind(const std::vector<Vector3d>& ring, const PlaneD& plane,
                                 double tol) {
    std::vector<Vector3d> kept;
    const size_t n = ring.size();
    for (size_t i = 0; i < n; ++i) {
        const Vector3d& p = ring[i];
        const Vector3d& q = ring[(i + 1) % n];
        const double dp = plane.Distance(p);
        const double dq = plane.Distance(q);
        if (dp <= tol) {
            kept.push_back(p);
        }
        if ((dp < -tol && dq > tol) || (dp > tol && dq < -tol)) {
            kept.push_back(p + (q - p) * (dp / (dp - dq)));
        }
    }
    return kept;
}

Region BoxRegion(const Bounds& box) {
    const Vector3d c(box.center);
    const Vector3d h(box.halfExtent);
    Region region;
    for (int axis = 0; axis < 3; ++axis) {
        for (const double sign : {-1.0, 1.0}) {
            Vector3d normal;
            (axis == 0 ? normal.x : axis == 1 ? normal.y : normal.z) = sign;
            Face face;
            face.plane = {normal, Dot(normal, c) + h[axis]};
            face.onWorldBox = true;
            // The side as a square larger than the box, cut down by the other sides below.
            const Vector3d u = axis == 0 ? Vector3d(0, 1, 0) : Vector3d(1, 0, 0);
            const Vector3d v = Cross(normal, u);
            const double size = 2.0 * Length(h) + 1.0;
            const Vector3d centre = c + normal * h[axis];
            face.ring = {centre + u * size + v * size, centre - u * size + v * size,
                         centre - u * size - v * size, centre + u * size - v * size};
            region.push_back(std::move(face));
        }
    }
    for (Face& face : region) {
        for (const Face& other : region) {
            if (&other != &face) {
                face.ring = KeepBehind(face.ring, other.plane, 0.0);
            }
        }
    }
    return region;
}

double RegionSize(const Region& region) {
    double size = 0.0;
    for (const Face& face : region) {
        for (const Vector3d& p : face.ring) {
            size = std::max({size, std::fabs(p.x), std::fabs(p.y), std::fabs(p.z)});
        }
    }
    return size;
}

// The part of the region behind the plane (whose normal then points out of it), with the
// new face the plane makes; empty when nothing of it lies behind.
Region CutRegion(const Region& region, const PlaneD& plane) {
    // A plane without a normal (the splitter of a node made from a polygon without area)
    // puts every point on it, so neither side loses anything.
    if (Dot(plane.normal, plane.normal) == 0.0) {
        return region;
    }
    const double tol = CUT_TOLERANCE_RELATIVE * std::max(1.0, RegionSize(region));
    Region kept;
    bool anyBehind = false;
    for (const Face& face : region) {
        for (const Vector3d& p : face.ring) {
            anyBehind = anyBehind || plane.Distance(p) < -tol;
        }
    }
    if (!anyBehind) {
        return kept;
    }
    for (const Face& face : region) {
        std::vector<Vector3d> ring = KeepBehind(face.ring, plane, tol);
        if (ring.size() < 3) {
            ring.clear();
        }
        kept.push_back({face.plane, std::move(ring), face.onWorldBox});
    }
    // The new face: a square on the plane as large as the region, cut by every old face.
    Face cap;
    cap.plane = plane;
    const Vector3d n = plane.normal;
    const Vector3d axis = std::fabs(n.x) < 0.6 ? Vector3d(1, 0, 0) : Vector3d(0, 1, 0);
    const Vector3d u = Cross(n, axis) * (1.0 / Length(Cross(n, axis)));
    const Vector3d v = Cross(n, u);
    const double size = 4.0 * RegionSize(region) + 1.0;
    // The normal comes from a float plane and is a rounding off unit length; the point of
    // the plane nearest the origin divides by its square length, or the cap would stand
    // off the plane by d times that error, farther than the cut's tolerance, and a later
    // cut by the same plane turned round would take the face away.
    const Vector3d centre = n * (plane.d / Dot(n, n));
    cap.ring = {centre + u * size + v * size, centre - u * size + v * size,
                centre - u * size - v * size, centre + u * size - v * size};
    for (const Face& face : region) {
        cap.ring = KeepBehind(cap.ring, face.plane, tol);
    }
    if (cap.ring.size() < 3) {
        cap.ring.clear();
    }
    kept.push_back(std::move(cap));
    return kept;
}

LeafCell Summarize(const Region& region) {
    LeafCell cell;
    MinMax box;
    Vector3d sum;
    Vector3d boundarySum;
    size_t count = 0;
    size_t boundaryCount = 0;
    size_t faces = 0;
    for (const Face& face : region) {
        faces += face.ring.empty() ? 0 : 1;
        cell.reachesBoundary = cell.reachesBoundary || (face.onWorldBox && !face.ring.empty());
        for (const Vector3d& p : face.ring) {
            sum = sum + p;
            box.Fold(p.ToFloat());
            ++count;
            if (face.onWorldBox) {
                boundarySum = boundarySum + p;
                ++boundaryCount;
            }
        }
    }
    if (boundaryCount > 0) {
        cell.boundaryPoint = (boundarySum * (1.0 / static_cast<double>(boundaryCount))).ToFloat();
    }
    // Convex, so its depth behind a face is its width across that face; a region thinner
    // than a polygon's own tolerance anywhere is a slice of a plane, such as the space
    // between two coplanar splitters.
    double thinnest = faces >= 4 && count > 0 ? 1e300 : 0.0;
    for (const Face& face : region) {
        double depth = 0.0;
        for (const Face& other : region) {
            for (const Vector3d& p : other.ring) {
                depth = std::max(depth, -face.plane.Distance(p));
            }
        }
        thinnest = std::min(thinnest, depth);
    }
    cell.hasVolume = thinnest > POLY_CLASSIFY_EPSILON;
    if (count > 0) {
        const Vector3d inside = sum * (1.0 / static_cast<double>(count));
        cell.inside = inside.ToFloat();
        cell.bounds = Bounds::FromMinMax(box);
        // The first corners of the faces' rings, each probed once: neighbouring faces share
        // their corners, and a probe asked twice only costs a second winding number.
        std::vector<Vector3d> probed;
        size_t corners = 0;
        for (const Face& face : region) {
            for (const Vector3d& p : face.ring) {
                const auto same = [&](const Vector3d& q) {
                    return q.x == p.x && q.y == p.y && q.z == p.z;
                };
                if (corners++ >= CELL_PROBE_CORNERS ||
                    std::any_of(probed.begin(), probed.end(), same)) {
                    continue;
                }
                probed.push_back(p);
                for (const double reach : PROBE_REACHES) {
                    cell.probes.push_back((inside + (p - inside) * reach).ToFloat());
                }
            }
        }
    }
    return cell;
}

PlaneD Toward(const Plane& plane, bool front) {
    // The kept side lies behind the returned plane.
    const Vector3d normal(plane.Normal());
    return front ? PlaneD{normal * -1.0, -static_cast<double>(plane.d)}
                 : PlaneD{normal, static_cast<double>(plane.d)};
}

}  // namespace

namespace {

// The box of the folded corners, grown as WorldBox promises.
Bounds GrownBox(const MinMax& all) {
    if (all.empty) {
        return {};
    }
    const Bounds box = Bounds::FromMinMax(all);
    const Vector3 h = box.halfExtent;
    const double largest = std::max({h.x, h.y, h.z});
    const auto margin = static_cast<float>(WORLD_MARGIN_RELATIVE * largest + WORLD_MARGIN_ABSOLUTE);
    return {box.center, {h.x + margin, h.y + margin, h.z + margin}};
}

}  // namespace

Bounds WorldBox(const std::vector<Winding>& polygons) {
    MinMax all;
    for (const Winding& ring : polygons) {
        all.Fold(ring);
    }
    return GrownBox(all);
}

Bounds WorldBox(const std::vector<Poly>& polygons) {
    MinMax all;
    for (const Poly& poly : polygons) {
        all.Fold(poly.points);
    }
    return GrownBox(all);
}

namespace {

// Cuts the world box down the tree, handing every node its region and every leaf its cell.
template <typename AtNode, typename AtLeaf>
void WalkRegions(const BspTree& tree, const Bounds& world, AtNode atNode, AtLeaf atLeaf) {
    if (tree.nodes.empty()) {
        return;
    }
    std::vector<std::pair<int32_t, Region>> pending;
    pending.emplace_back(0, BoxRegion(world));
    while (!pending.empty()) {
        auto [k, region] = std::move(pending.back());
        pending.pop_back();
        atNode(k, region);
        const BspNode& node = tree.nodes[k];
        Region front = CutRegion(region, Toward(node.plane, true));
        Region back = CutRegion(region, Toward(node.plane, false));
        if (node.frontIsLeaf != 0) {
            atLeaf(node.front, front);
        } else if (node.front >= 0) {
            pending.emplace_back(node.front, std::move(front));
        }
        if (node.back >= 0) {
            pending.emplace_back(node.back, std::move(back));
        }
    }
}

}  // namespace

std::vector<LeafCell> ComputeLeafCells(const BspTree& tree, const Bounds& world) {
    std::vector<LeafCell> cells(tree.leaves.size());
    WalkRegions(
        tree, world, [](int32_t, const Region&) {},
        [&](int32_t leaf, const Region& region) { cells[leaf] = Summarize(region); });
    return cells;
}

std::vector<Bounds> ComputeNodeRegionBounds(const BspTree& tree, const Bounds& world) {
    std::vector<Bounds> boxes(tree.nodes.size());
    WalkRegions(
        tree, world,
        [&](int32_t k, const Region& region) {
            MinMax box;
            for (const Face& face : region) {
                for (const Vector3d& p : face.ring) {
                    box.Fold(p.ToFloat());
                }
            }
            boxes[k] = Bounds::FromMinMax(box);
        },
        [](int32_t, const Region&) {});
    return boxes;
}

}  // namespace bsppvs
