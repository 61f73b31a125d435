#include "maze/maze_describe.h"

#include <charconv>
#include <cstdlib>

#include <nlohmann/json.hpp>

namespace bsppvs {

namespace {

constexpr int JSON_INDENT = 2;
// Room for the shortest text of any float.
constexpr size_t FLOAT_TEXT_CAPACITY = 32;

// The double with the shortest decimal text that reads back as f, so that a size of 0.1
// shows as 0.1 rather than as the float's exact binary value 0.100000001490116...
double ShortestDouble(float f) {
    char text[FLOAT_TEXT_CAPACITY] = {};
    std::to_chars(text, text + FLOAT_TEXT_CAPACITY - 1, f);
    return std::strtod(text, nullptr);
}

std::string RowText(const MazeGrid& grid, int j) {
    std::string row(static_cast<size_t>(grid.columns), DESCRIBE_SOLID);
    for (int i = 0; i < grid.columns; ++i) {
        if (grid.IsOpen(i, j)) {
            row[static_cast<size_t>(i)] = DESCRIBE_OPEN;
        }
    }
    return row;
}

}  // namespace

std::string DescribeMaze(const MazeGrid& grid, const MazeLayout& layout) {
    // Ordered so the small fields come first and the grid, which can be long, last.
    nlohmann::ordered_json description;
    description["cellSize"] = ShortestDouble(layout.cellSize);
    description["height"] = ShortestDouble(layout.height);
    const double origin = ShortestDouble(CellCentre(layout, 0));
    description["origin"] = {origin, origin};
    nlohmann::ordered_json rows = nlohmann::ordered_json::array();
    for (int j = 0; j < grid.rows; ++j) {
        rows.push_back(RowText(grid, j));
    }
    description["grid"] = std::move(rows);
    return description.dump(JSON_INDENT) + "\n";
}

}  // namespace bsppvs
