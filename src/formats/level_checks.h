#pragma once

#include <optional>
#include <string>

#include "level/level_mesh.h"

namespace bsppvs {

// What every loaded or saved level must satisfy: CheckLevelMesh's rules for the polygons,
// and every marked point finite with no coordinate beyond MAX_COORDINATE. Returns the first
// problem as one line, or nothing.
std::optional<std::string> CheckLevel(const LevelMesh& mesh);

}  // namespace bsppvs
