#pragma once

// Small structural faces (trim, frames, ledges, the sides of steps) shape no large-scale
// space, yet as splitters they cut every room into thin slices along its walls. They are
// found by the size of the flat patch they belong to, so that a large floor that a tool
// delivered as many small polygons is not taken apart.

#include <cstdint>
#include <vector>

#include "level/level_mesh.h"

namespace bsppvs {

// Per polygon: 1 when the flat patch it lies in is thinner than `width`. A patch is a set of
// polygons joined by shared corners (the same position) that lie in one plane and face the
// same way; its thinness is its area over its diameter (a strip w wide is about w thin, a
// square of side s about 0.7 s). Polygons without area count as thin.
std::vector<uint8_t> ThinPatches(const LevelMesh& mesh, float width);

}  // namespace bsppvs
