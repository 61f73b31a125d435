#include "level/level_mesh.h"

#include <cmath>
#include <sstream>

#include "geometry/tolerances.h"

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

}  // namespace

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
