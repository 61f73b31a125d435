#include "verify/reference_map.h"

#include <algorithm>
#include <fstream>
#include <nlohmann/json.hpp>

#include "core/random.h"
#include "verify/wall_index.h"

namespace bsppvs {

namespace {

// Starts stand where the player's origin is, a little above the floor; raised this much
// further they keep clear of it whatever the level's scale.
constexpr float START_LIFT = 8.0f;
// Draws of a point before giving up on the reference's playable space.
constexpr int MAX_DRAWS = 100000;

Vector3 ToVector(const nlohmann::json& v) {
    return {v.at(0).get<float>(), v.at(1).get<float>(), v.at(2).get<float>()};
}

std::vector<uint8_t> FromHex(const std::string& hex) {
    std::vector<uint8_t> bytes(hex.size() / 2);
    for (size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<uint8_t>(std::stoi(hex.substr(2 * i, 2), nullptr, 16));
    }
    return bytes;
}

ReferenceMap ParseMap(const nlohmann::json& doc) {
    ReferenceMap map;
    for (const auto& plane : doc.at("planes")) {
        map.planes.push_back(Plane(ToVector(plane.at("normal")), plane.at("dist").get<float>()));
    }
    for (const auto& node : doc.at("nodes")) {
        map.nodes.push_back({node.at("plane").get<int32_t>(), node.at("front").get<int32_t>(),
                             node.at("back").get<int32_t>()});
    }
    for (const auto& leaf : doc.at("leaves")) {
        map.leaves.push_back({leaf.at("cluster").get<int32_t>(), ToVector(leaf.at("min")),
                              ToVector(leaf.at("max"))});
    }
    const auto& clusters = doc.at("clusters");
    map.clusterCount = clusters.at("count").get<int32_t>();
    if (!clusters.at("visible").is_null()) {
        for (const auto& row : clusters.at("visible")) {
            map.visible.push_back(FromHex(row.get<std::string>()));
        }
    }
    for (const auto& start : doc.at("starts")) {
        map.starts.push_back(ToVector(start.at("origin")));
    }
    if (doc.contains("solid_brushes")) {
        for (const auto& brush : doc.at("solid_brushes")) {
            map.solidBrushes.push_back(brush.get<std::vector<int32_t>>());
        }
    }
    return map;
}

// Why the map cannot be used, or empty when every index names something.
std::string Inconsistency(const ReferenceMap& map) {
    for (const ReferenceMap::Node& node : map.nodes) {
        if (node.plane < 0 || static_cast<size_t>(node.plane) >= map.planes.size()) {
            return "a node names a missing plane";
        }
        for (const int32_t child : {node.front, node.back}) {
            const bool ok = child >= 0 ? static_cast<size_t>(child) < map.nodes.size()
                                       : static_cast<size_t>(-(child + 1)) < map.leaves.size();
            if (!ok) {
                return "a node names a missing child";
            }
        }
    }
    for (const std::vector<int32_t>& brush : map.solidBrushes) {
        for (const int32_t plane : brush) {
            if (plane < 0 || static_cast<size_t>(plane) >= map.planes.size()) {
                return "a brush names a missing plane";
            }
        }
    }
    for (const ReferenceMap::Leaf& leaf : map.leaves) {
        if (leaf.cluster >= map.clusterCount) {
            return "a leaf names a missing cluster";
        }
    }
    for (const std::vector<uint8_t>& row : map.visible) {
        if (row.size() * 8 < static_cast<size_t>(map.clusterCount)) {
            return "a visibility row is shorter than the cluster count";
        }
    }
    if (!map.visible.empty() && map.visible.size() != static_cast<size_t>(map.clusterCount)) {
        return "not one visibility row per cluster";
    }
    return "";
}

void MarkSeenFromStarts(ReferenceMap& map) {
    const bool every = map.visible.empty() || map.starts.empty();
    map.seenFromStarts.assign(static_cast<size_t>(std::max(map.clusterCount, 0)), every ? 1 : 0);
    if (every) {
        return;
    }
    for (const Vector3& start : map.starts) {
        const int32_t from = map.ClusterAt({start.x, start.y + START_LIFT, start.z});
        for (int32_t c = 0; from >= 0 && c < map.clusterCount; ++c) {
            if (c == from || map.Sees(from, c)) {
                map.seenFromStarts[c] = 1;
            }
        }
    }
}

}  // namespace

int32_t ReferenceMap::ClusterAt(Vector3 p) const {
    if (nodes.empty()) {
        return -1;
    }
    int32_t child = 0;
    // Children point down the tree, so the walk ends within nodes.size() steps.
    for (size_t steps = 0; child >= 0 && steps <= nodes.size(); ++steps) {
        const Node& node = nodes[child];
        const Plane& plane = planes[node.plane];
        child = plane.SignedDistance(p) >= 0.0f ? node.front : node.back;
    }
    return child < 0 ? leaves[-(child + 1)].cluster : -1;
}

bool ReferenceMap::IsPlayable(Vector3 p) const {
    const int32_t cluster = ClusterAt(p);
    if (cluster < 0 || seenFromStarts[cluster] == 0) {
        return false;
    }
    for (const std::vector<int32_t>& brush : solidBrushes) {
        bool inside = !brush.empty();
        for (size_t i = 0; i < brush.size() && inside; ++i) {
            inside = planes[brush[i]].SignedDistance(p) < 0.0f;
        }
        if (inside) {
            return false;
        }
    }
    return true;
}

bool ReferenceMap::Sees(int32_t a, int32_t b) const {
    if (visible.empty()) {
        return true;
    }
    return ((visible[a][b >> 3] >> (b & 7)) & 1) != 0;
}

std::optional<ReferenceMap> LoadReferenceMap(const std::string& path, std::string& reason) {
    std::ifstream in(path);
    if (!in) {
        reason = "cannot open it";
        return std::nullopt;
    }
    try {
        ReferenceMap map = ParseMap(nlohmann::json::parse(in));
        reason = Inconsistency(map);
        if (!reason.empty()) {
            return std::nullopt;
        }
        MarkSeenFromStarts(map);
        return map;
    } catch (const std::exception& e) {
        reason = std::string("not a reference map: ") + e.what();
        return std::nullopt;
    }
}

ReferenceComparison CompareWithReference(const BspTree& tree, const std::vector<Poly>& surface,
                                         const ReferenceMap& reference, int64_t pointCount,
                                         uint64_t seed) {
    ReferenceComparison result;
    std::vector<const ReferenceMap::Leaf*> playable;
    for (const ReferenceMap::Leaf& leaf : reference.leaves) {
        if (leaf.cluster >= 0) {
            playable.push_back(&leaf);
        }
    }
    SplitMix64 random(seed);
    std::vector<Vector3> points;
    for (int draw = 0;
         draw < MAX_DRAWS && !playable.empty() && static_cast<int64_t>(points.size()) < pointCount;
         ++draw) {
        const ReferenceMap::Leaf& leaf = *playable[random.BelowWide(playable.size())];
        const auto along = [&](float lo, float hi) {
            return static_cast<float>(lo + random.Uniform() * (double(hi) - double(lo)));
        };
        const Vector3 p{along(leaf.min.x, leaf.max.x), along(leaf.min.y, leaf.max.y),
                        along(leaf.min.z, leaf.max.z)};
        if (reference.IsPlayable(p)) {
            points.push_back(p);
        }
    }
    for (const Vector3& start : reference.starts) {
        points.push_back({start.x, start.y + START_LIFT, start.z});
    }
    struct Located {
        Vector3 p;
        int32_t leaf;
        int32_t cluster;
    };
    std::vector<Located> located;
    for (const Vector3& p : points) {
        ++result.points;
        const int32_t leaf = tree.LocateLeaf(p, 0);
        if (leaf < 0) {
            ++result.pointsInSolid;
            if (result.solidPoints.size() < MAX_REPORTED_MISSES) {
                result.solidPoints.push_back(p);
            }
        } else {
            located.push_back({p, leaf, reference.ClusterAt(p)});
        }
    }
    WallIndex walls(surface);
    for (size_t i = 0; i < located.size(); ++i) {
        for (size_t j = i + 1; j < located.size(); ++j) {
            const Located& a = located[i];
            const Located& b = located[j];
            ++result.pairs;
            // Both sets are read from a to b, so the fractions compare like with like.
            const bool ours = a.leaf == b.leaf || tree.leaves[a.leaf].pvs[b.leaf] != 0;
            result.oursVisible += ours ? 1 : 0;
            const bool shipped = a.cluster < 0 || b.cluster < 0 || a.cluster == b.cluster ||
                                 reference.Sees(a.cluster, b.cluster);
            result.shippedVisible += shipped ? 1 : 0;
            if (walls.IsClear(a.p, b.p)) {
                ++result.clearPairs;
                const bool both = a.leaf == b.leaf || (tree.leaves[a.leaf].pvs[b.leaf] != 0 &&
                                                       tree.leaves[b.leaf].pvs[a.leaf] != 0);
                if (!both) {
                    ++result.misses;
                    if (result.missed.size() < MAX_REPORTED_MISSES) {
                        result.missed.push_back({a.leaf, b.leaf, a.p, b.p,
                                                 tree.leaves[a.leaf].pvs[b.leaf] != 0,
                                                 tree.leaves[b.leaf].pvs[a.leaf] != 0});
                    }
                }
            }
        }
    }
    return result;
}

}  // namespace bsppvs
