#pragma once

#include <optional>
#include <string>

#include "geometry/tolerances.h"

namespace bsppvs {

class PlyModel;

// Checks that every position a face names can be compiled: finite, and no coordinate
// beyond MAX_COORDINATE in magnitude. Returns the first problem as one line naming the
// face, corner and position, or nothing when the model is fit for the import. Positions
// that no face names are never read, so they are not checked.
std::optional<std::string> CheckModelGeometry(const PlyModel& model);

}  // namespace bsppvs
