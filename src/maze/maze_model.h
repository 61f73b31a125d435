#pragma once

// Turning a maze grid into a level model: the surface that bounds the open cells, as
// four-cornered faces over one welded table of corner positions.

#include <cstdint>
#include <memory>

#include "maze/maze.h"
#include "model/ply_model.h"

namespace bsppvs {

// Where the grid sits in the world. y is up; the floor is at y = 0 and the ceiling at
// y = height. Cell (i, j), i along x and j along z, is a square of side cellSize centred
// at x = (i - 1) * cellSize, z = (j - 1) * cellSize, so cell (1, 1), which is always open,
// is centred on the origin.
struct MazeLayout {
    float cellSize = 100.0f;  // world units, > 0
    float height = 100.0f;    // world units, > 0
};

// Face tags: what part of a cell a face bounds.
inline constexpr int32_t FACE_TAG_FLOOR = 0;
inline constexpr int32_t FACE_TAG_CEILING = 1;
inline constexpr int32_t FACE_TAG_WALL = 2;

// The name of the model's root node and of its one name record.
inline constexpr char MAZE_NODE_NAME[] = "maze";

// A model with no positions, secondary vectors or faces yet, but with every other table a
// level file needs: the "PLY" header, one stone-grey colour record, and the name record and
// root node named MAZE_NODE_NAME, whose frame is the world's. The generated levels start
// from it.
std::unique_ptr<PlyModel> NewLevelModel();

// World x of the centre of column i (and, the same way, world z of the centre of row j).
float CellCentre(const MazeLayout& layout, int index);

// The number of faces BuildMazeModel makes: two per open cell (floor and ceiling) and one
// per side an open cell shares with a solid cell (the cells beyond the border count as
// solid).
int64_t CountMazeFaces(const MazeGrid& grid);

// Every open cell gets a floor facing up, a ceiling facing down and a wall on each side
// it shares with a solid cell, facing into the open cell. Each face's corners run
// counter-clockwise seen from the open side, so its Newell normal (right-hand rule)
// points into the open space, and each corner's secondary index names that unit normal in
// the six-entry secondary table. Identical corners share one position, numbered in order
// of first use; faces go cell by cell in row-major order (j outer, i inner). Each face has
// one layer of texture coordinates: world coordinates divided by cellSize, taken along the
// two axes that span the face.
std::unique_ptr<PlyModel> BuildMazeModel(const MazeGrid& grid, const MazeLayout& layout);

}  // namespace bsppvs
