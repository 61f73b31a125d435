#pragma once

// Wavefront OBJ text. Polygons are kept whole (never triangulated). A polygon's group is the
// name of the last `g` line before it, or when that is empty, of the last `o` line (an `o`
// line starts a new object and clears the group); its material is the name of the last
// `usemtl` line. No material library is read, so a missing one is no failure. Point
// statements (`p`) become marked points named like a polygon at their place would be.

#include <optional>
#include <string>
#include <string_view>

#include "level/level_mesh.h"

namespace bsppvs {

// Reads OBJ text. Every vertex coordinate must be a finite number and every face or point
// corner must name a vertex defined before it (counting from 1, or backwards from -1).
// Faces with fewer than three corners after WeldRing are dropped. Text with no face or
// point statement is not a level: the reason then starts with "not a level file". On
// failure sets reason to one line ("OBJ line 12: ...") and returns nothing.
std::optional<LevelMesh> ReadObj(std::string_view text, std::string& reason);

// Writes OBJ text: each position a polygon uses as a `v` line, every coordinate in the
// shortest form that reads back to the same float; polygons as `f` lines; a `g` or `usemtl`
// line wherever a polygon's group or material changes; and each marked point as the lines
// `o NAME`, `v` and `p -1`. Whitespace inside a group name reads back as single spaces.
// Fails (and sets reason) only for a name holding a line break, which OBJ cannot carry.
bool WriteObj(const LevelMesh& mesh, std::string& text, std::string& reason);

}  // namespace bsppvs
