#pragma once

#include <optional>
#include <string>

namespace bsppvs {

class PlyModel;

// Coordinates beyond this magnitude are refused: the compiler's tolerances are absolute
// (a thousandth of a unit), and a float this large no longer resolves them.
inline constexpr float MAX_COORDINATE = 1e7f;

// Checks that every position a face names can be compiled: finite, and no coordinate
// beyond MAX_COORDINATE in magnitude. Returns the first problem as one line naming the
// face, corner and position, or nothing when the model is fit for the import. Positions
// that no face names are never read, so they are not checked.
std::optional<std::string> CheckModelGeometry(const PlyModel& model);

}  // namespace bsppvs
