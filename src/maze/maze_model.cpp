#include "maze/maze_model.h"

#include <array>
#include <cassert>
#include <string>
#include <vector>

#include "model/ply_format.h"

// One pass over the cells in row-major order emits each open cell's faces from a table of
// six face shapes. Corners are welded through a table indexed by grid line, row line and
// level (floor or ceiling), so welding costs one lookup per corner and the numbering is
// the order of first use. Time and memory are linear in the number of cells.

namespace bsppvs {

namespace {

// The secondary table: one unit normal per face direction, in this order.
enum FaceNormal : int32_t {
    NORMAL_UP,
    NORMAL_DOWN,
    NORMAL_POSITIVE_X,
    NORMAL_NEGATIVE_X,
    NORMAL_POSITIVE_Z,
    NORMAL_NEGATIVE_Z,
};
constexpr std::array<Vector3, 6> FACE_NORMALS = {{
    {0.0f, 1.0f, 0.0f},
    {0.0f, -1.0f, 0.0f},
    {1.0f, 0.0f, 0.0f},
    {-1.0f, 0.0f, 0.0f},
    {0.0f, 0.0f, 1.0f},
    {0.0f, 0.0f, -1.0f},
}};

// A corner of a cell, as steps from the cell's low corner: along x (0 or 1 grid line),
// up (0 at the floor, 1 at the ceiling) and along z (0 or 1 grid line).
struct CornerStep {
    int x = 0;
    int up = 0;
    int z = 0;
};

// World axis numbers, for choosing the texture coordinates of a face.
constexpr int WORLD_X = 0;
constexpr int WORLD_Y = 1;
constexpr int WORLD_Z = 2;

struct FaceShape {
    int32_t tag = FACE_TAG_FLOOR;
    int32_t normal = NORMAL_UP;
    // The neighbouring cell, as a step in columns and rows, that must be solid for this
    // face to exist; (0, 0) for the floor and the ceiling, which every open cell has.
    int neighbourX = 0;
    int neighbourZ = 0;
    // Counter-clockwise seen from inside the cell, so the Newell normal is `normal`.
    std::array<CornerStep, 4> corners{};
    // The world axes whose coordinates become u and v.
    int uAxis = WORLD_X;
    int vAxis = WORLD_Z;
};

// In the order the faces of one cell are emitted. A wall faces away from the solid
// neighbour it stands against.
constexpr std::array<FaceShape, 6> FACE_SHAPES = {{
    {FACE_TAG_FLOOR,
     NORMAL_UP,
     0,
     0,
     {{{0, 0, 0}, {0, 0, 1}, {1, 0, 1}, {1, 0, 0}}},
     WORLD_X,
     WORLD_Z},
    {FACE_TAG_CEILING,
     NORMAL_DOWN,
     0,
     0,
     {{{0, 1, 0}, {1, 1, 0}, {1, 1, 1}, {0, 1, 1}}},
     WORLD_X,
     WORLD_Z},
    {FACE_TAG_WALL,
     NORMAL_POSITIVE_X,
     -1,
     0,
     {{{0, 0, 0}, {0, 1, 0}, {0, 1, 1}, {0, 0, 1}}},
     WORLD_Z,
     WORLD_Y},
    {FACE_TAG_WALL,
     NORMAL_NEGATIVE_X,
     1,
     0,
     {{{1, 0, 0}, {1, 0, 1}, {1, 1, 1}, {1, 1, 0}}},
     WORLD_Z,
     WORLD_Y},
    {FACE_TAG_WALL,
     NORMAL_POSITIVE_Z,
     0,
     -1,
     {{{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}}},
     WORLD_X,
     WORLD_Y},
    {FACE_TAG_WALL,
     NORMAL_NEGATIVE_Z,
     0,
     1,
     {{{0, 0, 1}, {0, 1, 1}, {1, 1, 1}, {1, 0, 1}}},
     WORLD_X,
     WORLD_Y},
}};

// Grid line a runs between cells a - 1 and a, half a cell below the centre of cell a.
constexpr double GRID_LINE_OFFSET = 1.5;
constexpr int LEVELS = 2;  // floor and ceiling

// A light stone grey for the surfaces, black for the second colour; channel bytes as the
// file stores them.
constexpr std::array<int, 3> SURFACE_COLOUR_BYTES = {192, 188, 180};

bool HasFace(const MazeGrid& grid, const FaceShape& shape, int i, int j) {
    const bool isCap = shape.neighbourX == 0 && shape.neighbourZ == 0;
    return isCap || !grid.IsOpen(i + shape.neighbourX, j + shape.neighbourZ);
}

// Emits the faces of the open cells into a model, welding corners as it goes.
class SurfaceBuilder {
public:
    SurfaceBuilder(const MazeGrid& grid, const MazeLayout& layout, PlyModel& model)
        : grid_(grid),
          layout_(layout),
          model_(model),
          lineCount_(grid.columns + 1),
          positionOfCorner_(
              static_cast<size_t>(grid.columns + 1) * static_cast<size_t>(grid.rows + 1) * LEVELS,
              -1) {}

    void AddCell(int i, int j) {
        for (const FaceShape& shape : FACE_SHAPES) {
            if (HasFace(grid_, shape, i, j)) {
                AddFace(shape, i, j);
            }
        }
    }

private:
    void AddFace(const FaceShape& shape, int i, int j) {
        PlyFace& face = model_.faces.emplace_back();
        face.tag = shape.tag;
        PlyFaceLayer& layer = face.layers.emplace_back();
        for (size_t k = 0; k < shape.corners.size(); ++k) {
            const CornerStep step = shape.corners[k];
            const int line = i + step.x;
            const int row = j + step.z;
            const int32_t position = CornerPosition(line, step.up, row);
            face.positionIndex[k] = position;
            face.secondaryIndex[k] = shape.normal;
            model_.cornerLists[static_cast<size_t>(position)].push_back(shape.normal);
            // Coordinates in cells, exact for the grid lines.
            const std::array<double, 3> inCells = {
                line - GRID_LINE_OFFSET,
                step.up * (static_cast<double>(layout_.height) / layout_.cellSize),
                row - GRID_LINE_OFFSET};
            // The model holds 1 - v.
            layer.uv[k] = {static_cast<float>(inCells[shape.uAxis]),
                           static_cast<float>(1.0 - inCells[shape.vAxis])};
        }
    }

    // The position index of a corner, created on first use.
    int32_t CornerPosition(int line, int up, int row) {
        const size_t key = (static_cast<size_t>(row) * static_cast<size_t>(lineCount_) +
                            static_cast<size_t>(line)) *
                               LEVELS +
                           static_cast<size_t>(up);
        int32_t& index = positionOfCorner_[key];
        if (index < 0) {
            index = static_cast<int32_t>(model_.positions.size());
            model_.positions.push_back(CornerPoint(line, up, row));
            model_.cornerLists.emplace_back();
        }
        return index;
    }

    Vector3 CornerPoint(int line, int up, int row) const {
        const double size = layout_.cellSize;
        return {static_cast<float>((line - GRID_LINE_OFFSET) * size),
                up == 0 ? 0.0f : layout_.height,
                static_cast<float>((row - GRID_LINE_OFFSET) * size)};
    }

    const MazeGrid& grid_;
    const MazeLayout& layout_;
    PlyModel& model_;
    int lineCount_ = 0;  // grid lines along x
    // Position index per (row line, grid line, level), -1 until the corner is first used.
    std::vector<int32_t> positionOfCorner_;
};

float ColourChannel(int byte) {
    return static_cast<float>(byte) * COLOUR_BYTE_SCALE;
}

void AddTables(PlyModel& model) {
    model.header = std::make_unique<PlyHeader>();
    model.header->magic = {PLY_MAGIC[0], PLY_MAGIC[1], PLY_MAGIC[2], 0};
    model.header->version = PLY_FORMAT_VERSION;

    PlyColourRecord& colour = model.colourRecords.emplace_back();
    for (size_t c = 0; c < colour.colourA.size(); ++c) {
        colour.colourA[c] = ColourChannel(SURFACE_COLOUR_BYTES[c]);
    }
    model.nameRecords.push_back(PlyNameRecord{MAZE_NODE_NAME, 0, 0});
}

// One root node that looks along +z with +y up, so its frame is the world's.
void AddRootNode(PlyModel& model) {
    auto root = std::make_unique<PlyNode>();
    root->name = MAZE_NODE_NAME;
    root->nameHash = HashName(root->name);
    root->target = AXIS_Z;
    root->upPoint = AXIS_Y;
    root->toLocal.LookAt(root->origin, root->target, root->upPoint);
    root->toWorld = root->toLocal.RigidInverse();
    model.nodeNames[root->nameHash] = root->name;
    model.root = std::move(root);
}

}  // namespace

std::unique_ptr<PlyModel> NewLevelModel() {
    auto model = std::make_unique<PlyModel>();
    AddTables(*model);
    AddRootNode(*model);
    return model;
}

float CellCentre(const MazeLayout& layout, int index) {
    return static_cast<float>((index - 1) * static_cast<double>(layout.cellSize));
}

int64_t CountMazeFaces(const MazeGrid& grid) {
    int64_t count = 0;
    for (int j = 0; j < grid.rows; ++j) {
        for (int i = 0; i < grid.columns; ++i) {
            if (!grid.IsOpen(i, j)) {
                continue;
            }
            for (const FaceShape& shape : FACE_SHAPES) {
                count += HasFace(grid, shape, i, j) ? 1 : 0;
            }
        }
    }
    return count;
}

std::unique_ptr<PlyModel> BuildMazeModel(const MazeGrid& grid, const MazeLayout& layout) {
    assert(layout.cellSize > 0.0f && layout.height > 0.0f && "cells need a size");
    auto model = NewLevelModel();
    model->secondaryVectors.assign(FACE_NORMALS.begin(), FACE_NORMALS.end());
    model->faces.reserve(static_cast<size_t>(CountMazeFaces(grid)));
    SurfaceBuilder builder(grid, layout, *model);
    for (int j = 0; j < grid.rows; ++j) {
        for (int i = 0; i < grid.columns; ++i) {
            if (grid.IsOpen(i, j)) {
                builder.AddCell(i, j);
            }
        }
    }
    assert(!model->faces.empty() && "cell (1, 1) is open, so the model has faces");
    return model;
}

}  // namespace bsppvs
