#pragma once

// glTF 2.0, as JSON text (.gltf) or as a binary container (.glb).
//
// Reading walks the default scene, or every root node when no scene is the default, and
// applies each node's transform (matrix, or translation, rotation and scale) to its mesh's
// positions. Primitives drawn as triangles, triangle strips or triangle fans are read;
// points and lines are skipped. Fans are rebuilt into polygons (see fan_rebuild.h). A
// polygon's group is its node's name, or its mesh's name when the node has none; its
// material is the primitive's material name.
//
// Marked points: a node without a mesh becomes a marked point, named by the node and placed
// at its world translation, when its name starts with GLTF_START_PREFIX or its extras object
// holds GLTF_MARK_KEY set to true. Writing gives every marked point that key.
//
// Writing makes one node per group (polygons without a group share one unnamed node), each
// with its own mesh: one float position accessor for the group's corners and one primitive
// per run of polygons of one material, each polygon a fan of triangles from its corner 0.
// A .gltf file is self-contained: its one buffer is embedded as a base64 data URI, so no
// sibling file can go missing. A .glb file holds the buffer in its binary chunk.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "level/level_mesh.h"

namespace bsppvs {

inline constexpr char GLTF_START_PREFIX[] = "start";
inline constexpr char GLTF_MARK_KEY[] = "markedPoint";

// Reads a .gltf (binary false) or .glb (binary true) file's bytes. External buffers are read
// from directory only, named relative to it; with no directory (bytes from memory) a file
// naming an external buffer fails. Every accessor, buffer view and buffer range is checked
// before anything is read, and a file may not instance more geometry than its size
// justifies. On failure sets reason to one line and returns nothing.
std::optional<LevelMesh> ReadGltf(std::span<const uint8_t> bytes, bool binary,
                                  const std::optional<std::string>& directory, std::string& reason);

// Writes the mesh as a self-contained .gltf (binary false) or .glb (binary true) file's
// bytes. Expects a mesh that CheckLevelMesh accepts.
bool WriteGltf(const LevelMesh& mesh, bool binary, std::vector<uint8_t>& bytes,
               std::string& reason);

}  // namespace bsppvs
