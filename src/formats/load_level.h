#pragma once

// Loading a level from a file of any format the compiler reads into the level mesh.

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "formats/level_format.h"
#include "level/level_mesh.h"

namespace bsppvs {

enum class UpAxis { Y, Z };

struct LevelLoadOptions {
    // The file's up axis. A z-up file is turned y-up with (x, y, z) -> (x, z, -y), a
    // rotation, so counter-clockwise polygons stay counter-clockwise.
    UpAxis up = UpAxis::Y;
    // Multiplies every position and marked point after the turn; must be finite and above
    // zero. The defaults change nothing, so a native file loads bit for bit.
    float scale = 1.0f;
};

// Reads a level file, deciding its format by its content, never by its name: the native
// magic "PLY" is a native model file (read by LoadModel, then checked by the compiler's rules
// for native models), the binary glTF magic a .glb file, text whose first non-blank
// character is '{' glTF JSON (external buffers read from the file's directory), and other
// text with at least one OBJ face or point an OBJ file. The mesh must then pass
// CheckLevelMesh and every marked point must be finite and within MAX_COORDINATE. On failure
// returns nothing and sets reason to one line, without the file name, for example
// "OBJ line 3: vertex coordinate \"x\" is not a finite number" or "not a level file: ...".
// When format is given, it is set to the format the content was read as.
std::optional<LevelMesh> LoadLevel(const std::string& path, const LevelLoadOptions& options,
                                   std::string& reason, LevelFormat* format = nullptr);

// As LoadLevel, reading the file's content from memory. There is no directory to resolve
// external glTF buffers in, so a glTF file naming one fails.
std::optional<LevelMesh> LoadLevelFromBytes(std::span<const uint8_t> bytes,
                                            const LevelLoadOptions& options, std::string& reason,
                                            LevelFormat* format = nullptr);

}  // namespace bsppvs
