#pragma once

// The block maze as a grid of square cells, each open or solid. A maze of w x d rooms
// lives in a grid of (2w + 1) x (2d + 1) cells: rooms sit at odd (i, j), the cells between
// two rooms are the walls that carving may open, the cells at even (i, j) are pillars, and
// the outer ring of cells is the border, which stays solid.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace bsppvs {

// The largest maze side in rooms. It keeps every count of cells, corners and faces far
// inside 32-bit indices (1024 x 1024 rooms already give some 8.6 million faces).
inline constexpr int MAX_ROOMS_PER_SIDE = 1024;

struct MazeGrid {
    int columns = 0;  // cells along x: 2 * rooms along x + 1
    int rows = 0;     // cells along z: 2 * rooms along z + 1
    // One byte per cell, 1 for open and 0 for solid, cell (i, j) at j * columns + i.
    std::vector<uint8_t> open;

    MazeGrid() = default;
    // An all-solid grid of columns x rows cells.
    MazeGrid(int columnCount, int rowCount);

    // Cells outside the grid count as solid, so neighbour tests need no bounds checks.
    bool IsOpen(int i, int j) const {
        return i >= 0 && j >= 0 && i < columns && j < rows && open[Index(i, j)] != 0;
    }
    void Open(int i, int j) { open[Index(i, j)] = 1; }
    int OpenCount() const;

    std::size_t Index(int i, int j) const {
        return static_cast<std::size_t>(j) * static_cast<std::size_t>(columns) +
               static_cast<std::size_t>(i);
    }

    friend bool operator==(const MazeGrid&, const MazeGrid&) = default;
};

struct MazeOptions {
    int width = 8;  // rooms along x, 1 to MAX_ROOMS_PER_SIDE
    int depth = 8;  // rooms along z, 1 to MAX_ROOMS_PER_SIDE
    uint64_t seed = 1;
    // Fraction in [0, 1] of the walls between two rooms that the carved tree left
    // standing, opened afterwards to make loops.
    double loops = 0.0;
    // Number of small rectangles of rooms opened whole, the cells between them included.
    int rooms = 0;
};

// Carves a perfect maze (exactly one path between any two rooms) from room (1, 1) by a
// randomised depth-first walk, then opens the loop walls and the rectangles, all drawn
// from one stream seeded by options.seed. Linear in the number of cells. Cell (1, 1) is
// always open and the border always solid.
MazeGrid GenerateMaze(const MazeOptions& options);

}  // namespace bsppvs
