#include "geometry/polygon.h"

#include <algorithm>
#include <cmath>

#include "geometry/segment.h"
#include "geometry/tolerances.h"

namespace bsppvs {

Vector3 AverageCorner(const Winding& ring) {
    Vector3 sum = ORIGIN;
    for (const Vector3& p : ring) {
        sum = Add(sum, p);
    }
    return Scale(sum, 1.0f / static_cast<float>(std::max<size_t>(ring.size(), 1)));
}

float RingWidth(const Winding& ring) {
    float area = 0.0f;
    float longest = 0.0f;
    for (size_t i = 0; i < ring.size(); ++i) {
        const Vector3 edge = Subtract(ring[(i + 1) % ring.size()], ring[i]);
        longest = std::max(longest, std::sqrt(Dot(edge, edge)));
        if (i >= 2) {
            const Vector3 c = Cross(Subtract(ring[i - 1], ring[0]), Subtract(ring[i], ring[0]));
            area += 0.5f * std::sqrt(Dot(c, c));
        }
    }
    return longest > 0.0f ? 2.0f * area / longest : 0.0f;
}

Vector3 ComputeNormal(const Winding& ring) {
    Vector3 sum = ORIGIN;
    const size_t n = ring.size();
    for (size_t i = 0; i < n; ++i) {
        const Vector3& vi = ring[i];
        const Vector3& vj = ring[i + 1 < n ? i + 1 : 0];
        sum.x += (vi.y - vj.y) * (vi.z + vj.z);
        sum.y += (vi.z - vj.z) * (vi.x + vj.x);
        sum.z += (vi.x - vj.x) * (vi.y + vj.y);
    }
    const float lengthSq = sum.x * sum.x + sum.y * sum.y + sum.z * sum.z;
    const float scale = 1.0f / std::sqrt(lengthSq);
    const Vector3 normal = Scale(sum, scale);
    if (!(lengthSq > 0.0f) || !IsFinite(normal)) {
        return ORIGIN;
    }
    return normal;
}

Plane ComputePlane(const Winding& ring) {
    const Vector3 normal = ComputeNormal(ring);
    const float d = ring.empty() ? 0.0f : Dot(normal, ring.front());
    return Plane(normal, d);
}

void Poly::RebuildFan() {
    triangleIndices.clear();
    const auto n = static_cast<int32_t>(points.size());
    if (n >= 3) {
        triangleIndices.reserve(3 * static_cast<size_t>(n - 2));
    }
    for (int32_t i = 2; i < n; ++i) {
        triangleIndices.push_back(0);
        triangleIndices.push_back(i - 1);
        triangleIndices.push_back(i);
    }
}

void Poly::SetPoints(const Winding& ring) {
    planeValid = 0;
    if (&ring != &points) {
        points = ring;
    }
    RebuildFan();
}

void Poly::SetPoints(Winding&& ring) {
    planeValid = 0;
    if (&ring != &points) {
        points = std::move(ring);
    }
    RebuildFan();
}

void Poly::SetReversed(const Poly& other) {
    Winding reversed(other.points.rbegin(), other.points.rend());
    SetPoints(std::move(reversed));
}

const Plane& Poly::GetPlane() {
    if (planeValid == 0) {
        plane = ComputePlane(points);
        planeValid = 1;
    }
    return plane;
}

SplitCounts SplitRing(const Winding& ring, const Plane& plane, float tol, Winding* front,
                      Winding* back) {
    SplitCounts counts;
    const size_t n = ring.size();
    const auto append = [](Winding* out, Vector3 p) {
        if (out != nullptr) {
            out->push_back(p);
        }
    };
    if (n == 0) {
        return counts;
    }
    // Each vertex is classified once and its side carried to the next edge.
    const Side firstSide = plane.ClassifyPoint(ring[0], tol);
    Side si = firstSide;
    for (size_t i = 0; i < n; ++i) {
        const Vector3& vi = ring[i];
        const Vector3& vj = ring[i + 1 < n ? i + 1 : 0];
        const Side sj = i + 1 < n ? plane.ClassifyPoint(vj, tol) : firstSide;
        // The crossing is always parametrised from the current vertex to the next, with
        // the fixed parallel tolerance, whatever the split's own tolerance. Both ends lie
        // beyond tol on opposite sides, so the parallel case cannot arise for a unit
        // normal; should it, the crossing falls back to the current vertex.
        const auto crossing = [&]() {
            const float t = IntersectSegment(plane, {vi, vj}, EPSILON).value_or(0.0f);
            return Add(Scale(Subtract(vj, vi), t), vi);
        };
        if (si == SIDE_FRONT) {
            append(front, vi);
            ++counts.front;
            if (sj == SIDE_BACK) {
                const Vector3 p = crossing();
                append(front, p);
                append(back, p);
            }
        } else if (si == SIDE_BACK) {
            append(back, vi);
            ++counts.back;
            if (sj == SIDE_FRONT) {
                const Vector3 p = crossing();
                append(front, p);
                append(back, p);
            }
        } else {
            append(front, vi);
            append(back, vi);
        }
        si = sj;
    }
    return counts;
}

bool Poly::Split(const Plane& plane, Poly& front, Poly& back, float tol) const {
    // A convex ring cut by a plane gains at most two corners on each side; room for them up
    // front saves the rings growing corner by corner.
    Winding frontRing;
    Winding backRing;
    frontRing.reserve(points.size() + 2);
    backRing.reserve(points.size() + 2);
    const SplitCounts counts = SplitRing(points, plane, tol, &frontRing, &backRing);
    if (counts.front > 0) {
        front.SetPoints(std::move(frontRing));
    }
    if (counts.back > 0) {
        back.SetPoints(std::move(backRing));
    }
    return counts.front > 0 && counts.back > 0;
}

bool Poly::ClipInPlace(const Plane& plane, float tol, bool keepBack, Winding& scratch) {
    // Most clips cut nothing: a first pass that only classifies finds those without
    // copying the ring. It classifies exactly as the split does, so the outcome is the same.
    const Side cutSide = keepBack ? SIDE_FRONT : SIDE_BACK;
    const Side keptSide = keepBack ? SIDE_BACK : SIDE_FRONT;
    bool anyKept = false;
    bool anyCut = false;
    for (const Vector3& p : points) {
        const Side side = plane.ClassifyPoint(p, tol);
        anyKept = anyKept || side == keptSide;
        anyCut = anyCut || side == cutSide;
    }
    if (anyKept && !anyCut) {
        return false;
    }
    scratch.clear();
    const SplitCounts counts =
        SplitRing(points, plane, tol, keepBack ? nullptr : &scratch, keepBack ? &scratch : nullptr);
    const int kept = keepBack ? counts.back : counts.front;
    const int cut = keepBack ? counts.front : counts.back;
    if (kept > 0 && cut == 0) {
        // Nothing crossed: the part is the ring itself, in the same order.
        return false;
    }
    if (kept > 0) {
        points.swap(scratch);
    } else {
        points.clear();
    }
    planeValid = 0;
    RebuildFan();
    return true;
}

Winding InsideFaceEdges(Winding ring, const Winding& face, Vector3 normal, float margin,
                        size_t minPoints) {
    Winding cut;
    for (size_t i = 0; i < face.size() && ring.size() >= minPoints; ++i) {
        const Vector3 corner = face[i];
        const Vector3 out = Cross(Subtract(face[(i + 1) % face.size()], corner), normal);
        const float length = std::sqrt(Dot(out, out));
        if (length == 0.0f) {
            continue;
        }
        const Vector3 n = Scale(out, 1.0f / length);
        cut.clear();
        SplitRing(ring, Plane(n, Dot(n, corner) + margin), EPSILON, nullptr, &cut);
        ring.swap(cut);
    }
    return ring;
}

Winding ConvexHullInPlane(const std::vector<const Poly*>& polys, Vector3 normal) {
    const float ax = std::fabs(normal.x);
    const float ay = std::fabs(normal.y);
    const float az = std::fabs(normal.z);
    const int drop = (ax >= ay && ax >= az) ? 0 : (ay >= az ? 1 : 2);
    const auto u = [drop](Vector3 p) { return drop == 0 ? p.y : p.x; };
    const auto v = [drop](Vector3 p) { return drop == 2 ? p.y : p.z; };
    std::vector<Vector3> points;
    for (const Poly* poly : polys) {
        points.insert(points.end(), poly->points.begin(), poly->points.end());
    }
    if (points.size() < 3) {
        return {};
    }
    std::sort(points.begin(), points.end(),
              [&](Vector3 a, Vector3 b) { return u(a) < u(b) || (u(a) == u(b) && v(a) < v(b)); });
    const auto turn = [&](Vector3 o, Vector3 a, Vector3 b) {
        return static_cast<double>(u(a) - u(o)) * (v(b) - v(o)) -
               static_cast<double>(v(a) - v(o)) * (u(b) - u(o));
    };
    // Andrew's monotone chain: the lower chain, then the upper, counterclockwise in (u, v).
    Winding hull(2 * points.size());
    size_t n = 0;
    for (size_t i = 0; i < points.size(); ++i) {
        while (n >= 2 && turn(hull[n - 2], hull[n - 1], points[i]) <= 0.0) {
            --n;
        }
        hull[n++] = points[i];
    }
    for (size_t i = points.size() - 1, lower = n + 1; i-- > 0;) {
        while (n >= lower && turn(hull[n - 2], hull[n - 1], points[i]) <= 0.0) {
            --n;
        }
        hull[n++] = points[i];
    }
    hull.resize(n > 0 ? n - 1 : 0);
    return hull;
}

}  // namespace bsppvs
