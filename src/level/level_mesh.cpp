#include "level/level_mesh.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <sstream>

#include "geometry/tolerances.h"
#include "geometry/vector3d.h"

namespace bsppvs {

namespace {

bool Usable(float v) {
    return std::isfinite(v) && std::fabs(v) <= MAX_COORDINATE;
}

int32_t IndexOf(std::vector<std::string>& names, const std::string& name) {
    for (size_t i = names.size(); i-- > 0;) {
        if (names[i] == name) {
            return static_cast<int32_t>(i);
        }
    }
    names.push_back(name);
    return static_cast<int32_t>(names.size() - 1);
}

const std::string& NameOf(const std::vector<std::string>& names, int32_t index) {
    static const std::string none;
    return index >= 0 && static_cast<size_t>(index) < names.size() ? names[index] : none;
}

float Squared(float v) {
    return v * v;
}

// The squared distance from p to the polygon with the given corners: to its plane when p
// projects inside it, else to its nearest edge.
double SquaredDistanceToPolygon(const std::vector<Vector3d>& ring, Vector3d p) {
    Vector3d normal;
    for (size_t i = 0; i < ring.size(); ++i) {
        normal = normal + Cross(ring[i], ring[(i + 1) % ring.size()]);
    }
    const double area = Length(normal);
    bool inside = area > 0.0;
    double best = 1e300;
    for (size_t i = 0; i < ring.size(); ++i) {
        const Vector3d a = ring[i];
        const Vector3d b = ring[(i + 1) % ring.size()];
        const Vector3d edge = b - a;
        inside = inside && Dot(Cross(edge, p - a), normal) >= 0.0;
        const double t = std::clamp(Dot(p - a, edge) / std::max(Dot(edge, edge), 1e-300), 0.0, 1.0);
        const Vector3d nearest = a + edge * t;
        best = std::min(best, Dot(p - nearest, p - nearest));
    }
    if (inside) {
        const double h = Dot(p - ring[0], normal) / area;
        best = std::min(best, h * h);
    }
    return best;
}

}  // namespace

bool IsDetailName(const std::string& name) {
    static constexpr char PREFIX[] = "detail";
    constexpr size_t length = sizeof PREFIX - 1;
    if (name.size() < length) {
        return false;
    }
    for (size_t i = 0; i < length; ++i) {
        if (std::tolower(static_cast<unsigned char>(name[i])) != PREFIX[i]) {
            return false;
        }
    }
    return true;
}

int32_t NearestPolygon(const LevelMesh& mesh, Vector3 p) {
    int32_t nearest = -1;
    double best = 1e300;
    std::vector<Vector3d> ring;
    for (size_t f = 0; f < mesh.polygons.size(); ++f) {
        ring.clear();
        for (const int32_t index : mesh.Ring(f)) {
            if (index >= 0 && static_cast<size_t>(index) < mesh.positions.size()) {
                ring.emplace_back(mesh.positions[index]);
            }
        }
        if (ring.empty()) {
            continue;
        }
        const double d = SquaredDistanceToPolygon(ring, Vector3d(p));
        if (d < best) {
            best = d;
            nearest = static_cast<int32_t>(f);
        }
    }
    return nearest;
}

bool SameWithinWeldDistance(Vector3 p, Vector3 q) {
    return Squared(p.x - q.x) < WELD_DISTANCE_SQ && Squared(p.y - q.y) < WELD_DISTANCE_SQ &&
           Squared(p.z - q.z) < WELD_DISTANCE_SQ;
}

void WeldRing(const std::vector<Vector3>& positions, std::vector<int32_t>& ring) {
    size_t kept = 0;
    for (size_t i = 0; i < ring.size(); ++i) {
        bool dropped = false;
        for (size_t j = i + 1; j < ring.size() && !dropped; ++j) {
            dropped = SameWithinWeldDistance(positions[ring[i]], positions[ring[j]]);
        }
        if (!dropped) {
            ring[kept++] = ring[i];
        }
    }
    ring.resize(kept);
}

int32_t LevelMesh::AddPolygon(std::span<const int32_t> ring, int32_t group) {
    LevelPolygon& polygon = polygons.emplace_back();
    polygon.firstCorner = static_cast<uint32_t>(corners.size());
    polygon.cornerCount = static_cast<uint32_t>(ring.size());
    polygon.group = group;
    corners.insert(corners.end(), ring.begin(), ring.end());
    return static_cast<int32_t>(polygons.size() - 1);
}

int32_t LevelMesh::GroupIndex(const std::string& name) {
    return IndexOf(groups, name);
}

int32_t LevelMesh::MaterialIndex(const std::string& name) {
    return IndexOf(materials, name);
}

const std::string& LevelMesh::GroupName(size_t polygon) const {
    return NameOf(groups, polygons[polygon].group);
}

const std::string& LevelMesh::MaterialName(size_t polygon) const {
    return NameOf(materials, polygons[polygon].material);
}

std::optional<std::string> CheckLevelMesh(const LevelMesh& mesh) {
    for (size_t f = 0; f < mesh.polygons.size(); ++f) {
        const LevelPolygon& polygon = mesh.polygons[f];
        if (polygon.cornerCount < 3 ||
            size_t{polygon.firstCorner} + polygon.cornerCount > mesh.corners.size()) {
            std::ostringstream problem;
            problem << "polygon " << f << " has " << polygon.cornerCount
                    << " corners; a polygon needs at least 3";
            return problem.str();
        }
        const std::span<const int32_t> ring = mesh.Ring(polygon);
        for (size_t corner = 0; corner < ring.size(); ++corner) {
            const int32_t index = ring[corner];
            std::ostringstream problem;
            problem << "polygon " << f << " corner " << corner << " names position " << index;
            if (index < 0 || static_cast<size_t>(index) >= mesh.positions.size()) {
                problem << " of " << mesh.positions.size();
                return problem.str();
            }
            const Vector3 p = mesh.positions[index];
            if (!Usable(p.x) || !Usable(p.y) || !Usable(p.z)) {
                problem << " at (" << p.x << ", " << p.y << ", " << p.z << ")";
                problem << (IsFinite(p) ? ", beyond the largest usable coordinate 1e+07"
                                        : ", which is not finite");
                return problem.str();
            }
        }
    }
    return std::nullopt;
}

}  // namespace bsppvs
