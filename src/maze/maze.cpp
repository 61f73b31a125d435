#include "maze/maze.h"

#include <algorithm>
#include <array>
#include <cassert>
#include <cmath>

#include "core/random.h"

// The tree is carved by a depth-first walk that keeps its path on an explicit stack (a
// recursive walk would need one frame per room), so carving is linear in the number of
// rooms. Loops and rectangles only open cells, so the maze stays connected. The order of
// every draw is fixed: changing it changes every level made from a seed.

namespace bsppvs {

namespace {

// A room's cell coordinates; both are odd.
struct Room {
    int i = 1;
    int j = 1;
};

// Steps from a room to its four neighbouring rooms, in the order the walk considers them.
constexpr std::array<std::array<int, 2>, 4> ROOM_STEPS = {{{2, 0}, {-2, 0}, {0, 2}, {0, -2}}};

// Rectangles opened by --rooms are MIN_RECTANGLE_ROOMS to
// MIN_RECTANGLE_ROOMS + RECTANGLE_ROOM_CHOICES - 1 rooms a side (less in a narrower maze).
constexpr int MIN_RECTANGLE_ROOMS = 2;
constexpr uint32_t RECTANGLE_ROOM_CHOICES = 2;

int RoomsAlong(int cells) {
    return (cells - 1) / 2;
}

bool IsRoomInside(const MazeGrid& grid, int i, int j) {
    return i >= 1 && j >= 1 && i <= grid.columns - 2 && j <= grid.rows - 2;
}

// The unvisited rooms next to here, in ROOM_STEPS order; returns how many there are.
int UnvisitedNeighbours(const MazeGrid& grid, Room here, std::array<Room, 4>& out) {
    int count = 0;
    for (const auto& step : ROOM_STEPS) {
        const Room next{here.i + step[0], here.j + step[1]};
        if (IsRoomInside(grid, next.i, next.j) && !grid.IsOpen(next.i, next.j)) {
            out[count++] = next;
        }
    }
    return count;
}

// A room is visited once it is open, so the grid itself is the walk's visited set.
void CarveTree(MazeGrid& grid, SplitMix64& random) {
    std::vector<Room> path{Room{}};
    grid.Open(1, 1);
    std::array<Room, 4> candidates;
    while (!path.empty()) {
        const Room here = path.back();
        const int count = UnvisitedNeighbours(grid, here, candidates);
        if (count == 0) {
            path.pop_back();
            continue;
        }
        const Room next = candidates[random.Below(static_cast<uint32_t>(count))];
        grid.Open((here.i + next.i) / 2, (here.j + next.j) / 2);
        grid.Open(next.i, next.j);
        path.push_back(next);
    }
}

// Opens round(fraction * n) of the n walls between two rooms that are still solid, picked
// by the first steps of a Fisher-Yates shuffle of them in row-major order.
void OpenLoops(MazeGrid& grid, SplitMix64& random, double fraction) {
    std::vector<size_t> standing;
    for (int j = 1; j < grid.rows - 1; ++j) {
        for (int i = 1; i < grid.columns - 1; ++i) {
            // Inside the border, the cells with exactly one odd coordinate are the walls.
            if ((i + j) % 2 == 1 && !grid.IsOpen(i, j)) {
                standing.push_back(grid.Index(i, j));
            }
        }
    }
    const double wanted = std::floor(fraction * static_cast<double>(standing.size()) + 0.5);
    const size_t count = std::min(standing.size(), static_cast<size_t>(wanted));
    for (size_t k = 0; k < count; ++k) {
        const size_t pick = k + random.Below(static_cast<uint32_t>(standing.size() - k));
        std::swap(standing[k], standing[pick]);
        grid.open[standing[k]] = 1;
    }
}

uint32_t RectangleSpan(SplitMix64& random, int roomsAlong) {
    const uint32_t span = MIN_RECTANGLE_ROOMS + random.Below(RECTANGLE_ROOM_CHOICES);
    return std::min(span, static_cast<uint32_t>(roomsAlong));
}

// Opens every cell of a rectangle of whole rooms, pillars included, so that it reads as
// one hall. The rectangle never reaches the border.
void OpenRectangles(MazeGrid& grid, SplitMix64& random, int count) {
    const int width = RoomsAlong(grid.columns);
    const int depth = RoomsAlong(grid.rows);
    for (int n = 0; n < count; ++n) {
        // One statement per draw, so the order of draws does not rest on the order in
        // which a compiler evaluates arguments.
        const uint32_t spanX = RectangleSpan(random, width);
        const uint32_t spanZ = RectangleSpan(random, depth);
        const uint32_t firstX = random.Below(static_cast<uint32_t>(width) - spanX + 1);
        const uint32_t firstZ = random.Below(static_cast<uint32_t>(depth) - spanZ + 1);
        const int lastI = static_cast<int>(2 * (firstX + spanX) - 1);
        const int lastJ = static_cast<int>(2 * (firstZ + spanZ) - 1);
        for (int j = static_cast<int>(2 * firstZ + 1); j <= lastJ; ++j) {
            for (int i = static_cast<int>(2 * firstX + 1); i <= lastI; ++i) {
                grid.Open(i, j);
            }
        }
    }
}

}  // namespace

MazeGrid::MazeGrid(int columnCount, int rowCount)
    : columns(columnCount),
      rows(rowCount),
      open(static_cast<size_t>(columnCount) * static_cast<size_t>(rowCount), 0) {}

int MazeGrid::OpenCount() const {
    return static_cast<int>(std::count(open.begin(), open.end(), uint8_t{1}));
}

MazeGrid GenerateMaze(const MazeOptions& options) {
    assert(options.width >= 1 && options.width <= MAX_ROOMS_PER_SIDE && "width out of range");
    assert(options.depth >= 1 && options.depth <= MAX_ROOMS_PER_SIDE && "depth out of range");
    assert(options.loops >= 0.0 && options.loops <= 1.0 && "loops must be a fraction");
    assert(options.rooms >= 0 && "rooms must not be negative");
    MazeGrid grid(2 * options.width + 1, 2 * options.depth + 1);
    SplitMix64 random(options.seed);
    // Loops come before rectangles so that the fraction is one of the walls the tree left,
    // whatever the rectangles would have swallowed.
    CarveTree(grid, random);
    OpenLoops(grid, random, options.loops);
    OpenRectangles(grid, random, options.rooms);
    return grid;
}

}  // namespace bsppvs
