#include "bsp/surface_winding.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace bsppvs {

void ArgumentSum::Add(double re, double im) {
    // atan2(0, 0) is 0: such a number adds nothing, and would zero the product.
    if (re == 0.0 && im == 0.0) {
        return;
    }
    const double productRe = re_ * re - im_ * im;
    const double productIm = re_ * im + im_ * re;
    // With both arguments in [0, pi] their sum passed pi when the product's imaginary part
    // turned negative; with both in (-pi, 0) it reached -pi when that part turned
    // non-negative (and the product is not on the positive real axis). Arguments of
    // opposite signs sum within (-pi, pi].
    if (im_ >= 0.0 && im >= 0.0) {
        if (productIm < 0.0 || (productIm == 0.0 && productRe > 0.0 && re_ < 0.0 && re < 0.0)) {
            ++turns_;
        }
    } else if (im_ < 0.0 && im < 0.0) {
        if (productIm > 0.0 || (productIm == 0.0 && productRe < 0.0)) {
            --turns_;
        }
    }
    re_ = productRe;
    im_ = productIm;
    // Only the direction matters: rescaling by a power of two keeps the product in range
    // without rounding it.
    const double size = std::max(std::fabs(re_), std::fabs(im_));
    if (size > RESCALE_ABOVE || size < RESCALE_BELOW) {
        const int exponent = std::ilogb(size);
        re_ = std::scalbn(re_, -exponent);
        im_ = std::scalbn(im_, -exponent);
    }
}

double ArgumentSum::Sum() const {
    return std::atan2(im_, re_) + 2.0 * std::numbers::pi * static_cast<double>(turns_);
}

namespace {

// A cluster counts as far when the point lies this many radii from its centre; the first
// two terms of its expansion then stand for it to within a few percent of its own share
// (the terms left out shrink with the cube of radius over distance), far below what could
// move a count of 0 or 1 across one half.
constexpr double FAR_CLUSTER_RATIO = 2.0;
constexpr uint32_t TRIANGLES_PER_LEAF = 8;

// The triangle's signed solid angle seen from the origin is twice the argument of this
// complex number (denominator, determinant): negative when the origin lies on the side the
// counter-clockwise normal points to.
void AddSolidAngle(Vector3d a, Vector3d b, Vector3d c, ArgumentSum& half) {
    const double la = Length(a);
    const double lb = Length(b);
    const double lc = Length(c);
    const double det = Dot(a, Cross(b, c));
    const double denominator = la * lb * lc + Dot(a, b) * lc + Dot(b, c) * la + Dot(c, a) * lb;
    half.Add(denominator, det);
}

Vector3d Centroid(const Vector3d& a, const Vector3d& b, const Vector3d& c) {
    return (a + b + c) * (1.0 / 3.0);
}

}  // namespace

SurfaceWinding::SurfaceWinding(const std::vector<Winding>& polygons) {
    for (const Winding& ring : polygons) {
        for (size_t i = 2; i < ring.size(); ++i) {
            triangles_.push_back({Vector3d(ring[0]), Vector3d(ring[i - 1]), Vector3d(ring[i])});
        }
    }
    if (!triangles_.empty()) {
        clusters_.reserve(2 * triangles_.size() / TRIANGLES_PER_LEAF + 2);
        Build(0, static_cast<uint32_t>(triangles_.size()));
    }
}

// Splits the triangles at the median of their centroids along the cluster's longest axis.
int32_t SurfaceWinding::Build(uint32_t first, uint32_t end) {
    const auto index = static_cast<int32_t>(clusters_.size());
    clusters_.emplace_back();
    Vector3d lo(1e300, 1e300, 1e300);
    Vector3d hi(-1e300, -1e300, -1e300);
    Vector3d areaVector;
    Vector3d weighted;
    double area = 0.0;
    for (uint32_t t = first; t < end; ++t) {
        const Triangle& tri = triangles_[t];
        const Vector3d normal = Cross(tri.b - tri.a, tri.c - tri.a) * 0.5;
        areaVector = areaVector + normal;
        const double a = Length(normal);
        weighted = weighted + Centroid(tri.a, tri.b, tri.c) * a;
        area += a;
        for (const Vector3d& v : {tri.a, tri.b, tri.c}) {
            lo = {std::min(lo.x, v.x), std::min(lo.y, v.y), std::min(lo.z, v.z)};
            hi = {std::max(hi.x, v.x), std::max(hi.y, v.y), std::max(hi.z, v.z)};
        }
    }
    const Vector3d centre = area > 0.0 ? weighted * (1.0 / area) : (lo + hi) * 0.5;
    // Both need the centre, so they take a second pass.
    double radius = 0.0;
    std::array<double, 9> spread{};
    for (uint32_t t = first; t < end; ++t) {
        const Triangle& tri = triangles_[t];
        for (const Vector3d& v : {tri.a, tri.b, tri.c}) {
            radius = std::max(radius, Length(v - centre));
        }
        const Vector3d normal = Cross(tri.b - tri.a, tri.c - tri.a) * 0.5;
        const Vector3d offset = Centroid(tri.a, tri.b, tri.c) - centre;
        for (int i = 0; i < 3; ++i) {
            for (int j = 0; j < 3; ++j) {
                spread[3 * i + j] += normal[i] * offset[j];
            }
        }
    }
    clusters_[index] = {centre, radius, areaVector, spread, first, end, -1, -1};
    if (end - first > TRIANGLES_PER_LEAF) {
        const Vector3d extent = hi - lo;
        const int axis =
            extent.x >= extent.y && extent.x >= extent.z ? 0 : (extent.y >= extent.z ? 1 : 2);
        const uint32_t middle = first + (end - first) / 2;
        std::nth_element(triangles_.begin() + first, triangles_.begin() + middle,
                         triangles_.begin() + end, [axis](const Triangle& p, const Triangle& q) {
                             return (p.a + p.b + p.c)[axis] < (q.a + q.b + q.c)[axis];
                         });
        const int32_t low = Build(first, middle);
        const int32_t high = Build(middle, end);
        clusters_[index].low = low;
        clusters_[index].high = high;
    }
    return index;
}

// The solid angle of the cluster's triangles seen from p, r = centre - p, d = |r|: each
// triangle adds the integral over it of n . f(x), f(x) = (x - p) / |x - p|^3, and f taken to
// first order about the centre, f(c) + J (x - c) with J = I / d^3 - 3 r r^T / d^5, gives the
// area vector's term and the spread's (exact per triangle, x being linear over it).
double SurfaceWinding::FarSolidAngle(const Cluster& cluster, Vector3d r, double d) {
    const double d3 = d * d * d;
    const std::array<double, 9>& m = cluster.spread;
    const double trace = m[0] + m[4] + m[8];
    const Vector3d mr = {m[0] * r.x + m[1] * r.y + m[2] * r.z, m[3] * r.x + m[4] * r.y + m[5] * r.z,
                         m[6] * r.x + m[7] * r.y + m[8] * r.z};
    return (Dot(cluster.areaVector, r) + trace - 3.0 * Dot(r, mr) / (d * d)) / d3;
}

double SurfaceWinding::SolidAngleSum(Vector3d p) const {
    double sum = 0.0;
    ArgumentSum half;
    std::vector<int32_t> pending;
    if (!clusters_.empty()) {
        pending.push_back(0);
    }
    while (!pending.empty()) {
        const Cluster& cluster = clusters_[pending.back()];
        pending.pop_back();
        const Vector3d toCentre = cluster.centre - p;
        const double distance = Length(toCentre);
        if (distance > FAR_CLUSTER_RATIO * cluster.radius) {
            sum += FarSolidAngle(cluster, toCentre, distance);
        } else if (cluster.low < 0) {
            for (uint32_t t = cluster.first; t < cluster.end; ++t) {
                const Triangle& tri = triangles_[t];
                AddSolidAngle(tri.a - p, tri.b - p, tri.c - p, half);
            }
        } else {
            pending.push_back(cluster.low);
            pending.push_back(cluster.high);
        }
    }
    return sum + 2.0 * half.Sum();
}

double SurfaceWinding::OpenSpaceAt(Vector3 p) const {
    // Faces face open space, and a point in front of a face sees it at a negative angle,
    // so open space wrapped once by the surface sums to -4 pi.
    return -SolidAngleSum(Vector3d(p)) / (4.0 * std::numbers::pi);
}

}  // namespace bsppvs
