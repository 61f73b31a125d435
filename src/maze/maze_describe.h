#pragma once

// The grid in a form other tools can read without parsing the model: a JSON object
//   {"cellSize": s, "height": h, "origin": [x, z], "grid": [row 0, row 1, ...]}
// where row j is a string of one character per column i, '#' for a solid cell and '.' for
// an open one, and origin is the world (x, z) of the centre of cell (0, 0). The centre of
// cell (i, j) is then (origin[0] + i * s, origin[1] + j * s); the cell spans half a cell
// either way, and the open space runs from y = 0 to y = h.

#include <string>

#include "maze/maze.h"
#include "maze/maze_model.h"

namespace bsppvs {

inline constexpr char DESCRIBE_SOLID = '#';
inline constexpr char DESCRIBE_OPEN = '.';

// The JSON text, indented, one grid row per line, ending with a newline.
std::string DescribeMaze(const MazeGrid& grid, const MazeLayout& layout);

}  // namespace bsppvs
