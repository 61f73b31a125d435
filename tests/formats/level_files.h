#pragma once

// Levels for the format tests, built in code, and ways to compare and tamper with them.

#include <bit>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "formats/load_level.h"
#include "formats/save_level.h"
#include "level/level_mesh.h"

namespace bsppvs::test {

inline std::string Exact(Vector3 p) {
    char text[96];
    std::snprintf(text, sizeof text, "(%a, %a, %a)", p.x, p.y, p.z);
    return text;
}

// One line per polygon (corner coordinates to the bit, group and material when names are
// kept) and per marked point, so meshes compare whatever their position numbering.
inline std::vector<std::string> Describe(const LevelMesh& mesh, bool names = true) {
    std::vector<std::string> lines;
    for (size_t p = 0; p < mesh.polygons.size(); ++p) {
        std::string line = names ? mesh.GroupName(p) + "/" + mesh.MaterialName(p) + ":" : "";
        for (const int32_t corner : mesh.Ring(p)) {
            line += Exact(mesh.positions[static_cast<size_t>(corner)]);
        }
        lines.push_back(line);
    }
    for (const MarkedPoint& point : mesh.points) {
        lines.push_back("point " + point.name + " " + Exact(point.position));
    }
    return lines;
}

// Appends a polygon of new positions.
inline void AddRing(LevelMesh& mesh, const std::vector<Vector3>& corners,
                    const std::string& group = "", const std::string& material = "") {
    std::vector<int32_t> ring;
    for (const Vector3& corner : corners) {
        ring.push_back(static_cast<int32_t>(mesh.positions.size()));
        mesh.positions.push_back(corner);
    }
    mesh.AddPolygon(ring, group.empty() ? -1 : mesh.GroupIndex(group));
    mesh.polygons.back().material = material.empty() ? -1 : mesh.MaterialIndex(material);
}

// A room 4 wide (x), 3 high (y) and 5 deep (z), its six quads facing in, over shared
// corners, in groups and materials; then triangles of random corners and marked points at
// random places, which check that every coordinate reads back to the bit.
//
//        3 +------+ 7          y
//         /|     /|            |
//      2 +------+ 6|           +-- x
//        | 1 +--|---+ 5       /
//        |/     |/           z
//      0 +------+ 4
inline LevelMesh RoomWithDebris(uint32_t seed) {
    LevelMesh mesh;
    for (int i = 0; i < 8; ++i) {
        mesh.positions.push_back({4.0f * (i / 4), 3.0f * (i / 2 % 2), 5.0f * (1 - i % 2)});
    }
    const auto quad = [&](std::vector<int32_t> ring, const std::string& group,
                          const std::string& material) {
        mesh.AddPolygon(ring, mesh.GroupIndex(group));
        mesh.polygons.back().material = material.empty() ? -1 : mesh.MaterialIndex(material);
    };
    quad({0, 4, 5, 1}, "floor", "stone");
    quad({2, 3, 7, 6}, "ceiling", "");
    quad({0, 1, 3, 2}, "walls", "stone");
    quad({4, 6, 7, 5}, "walls", "stone");
    quad({1, 5, 7, 3}, "walls", "wood");
    quad({0, 2, 6, 4}, "walls", "wood");
    std::mt19937 random(seed);
    std::uniform_real_distribution<float> coordinate(-1000.0f, 1000.0f);
    const auto point = [&] {
        return Vector3{coordinate(random), coordinate(random), coordinate(random)};
    };
    for (int t = 0; t < 8; ++t) {
        AddRing(mesh, {point(), point(), point()}, "debris");
    }
    // Any float down to the smallest magnitudes, and far enough inside the largest usable
    // coordinate to be scaled up.
    const auto anyFloat = [&] {
        for (;;) {
            const auto f = std::bit_cast<float>(static_cast<uint32_t>(random()));
            if (std::isfinite(f) && std::fabs(f) <= 1e6f) {
                return f;
            }
        }
    };
    mesh.points.push_back({"start", {anyFloat(), anyFloat(), anyFloat()}});
    mesh.points.push_back({"lamp 2", {anyFloat(), anyFloat(), anyFloat()}});
    return mesh;
}

inline std::vector<uint8_t> Saved(const LevelMesh& mesh, LevelFormat format) {
    std::vector<uint8_t> bytes;
    std::string reason;
    EXPECT_TRUE(SaveLevelToBytes(mesh, format, bytes, reason)) << reason;
    return bytes;
}

inline std::optional<LevelMesh> Loaded(const std::vector<uint8_t>& bytes, std::string& reason,
                                       const LevelLoadOptions& options = {}) {
    return LoadLevelFromBytes(bytes, options, reason);
}

inline std::vector<uint8_t> Bytes(const std::string& text) {
    return {text.begin(), text.end()};
}

// A glTF document as JSON, for tampering with what the writer made.
inline nlohmann::json Json(const std::vector<uint8_t>& gltf) {
    return nlohmann::json::parse(gltf.begin(), gltf.end());
}

inline std::vector<uint8_t> JsonBytes(const nlohmann::json& document) {
    return Bytes(document.dump());
}

}  // namespace bsppvs::test
