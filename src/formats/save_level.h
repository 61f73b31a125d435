#pragma once

// Writing a level mesh in any format the compiler reads.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "formats/level_format.h"
#include "level/level_mesh.h"

namespace bsppvs {


// The format a file name's extension asks for, ignoring case; nothing for any other
// extension. Only for choosing what to write: reading decides by content.
std::optional<LevelFormat> FormatForFileName(const std::string& path);

// Writes the mesh in the format, to a file or to memory. The mesh must pass CheckLevelMesh
// and its marked points must be finite. Returns false and sets reason to one line, without
// the file name, when the mesh cannot be written in the format or the file cannot be written.
bool SaveLevel(const LevelMesh& mesh, const std::string& path, LevelFormat format,
               std::string& reason);
bool SaveLevelToBytes(const LevelMesh& mesh, LevelFormat format, std::vector<uint8_t>& bytes,
                      std::string& reason);

}  // namespace bsppvs
