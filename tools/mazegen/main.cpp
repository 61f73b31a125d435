// mazegen: makes a block maze level. Parses the options, generates the grid, writes the
// model file, the same level as OBJ or glTF, and the optional grid description, and maps
// failures to exit codes.

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>

#include <CLI/CLI.hpp>

#include "formats/native_mesh.h"
#include "formats/save_level.h"
#include "maze/fan_room.h"
#include "maze/maze.h"
#include "maze/maze_describe.h"
#include "maze/maze_model.h"
#include "model/model_writer.h"

namespace {

using namespace bsppvs;

constexpr int EXIT_OK = 0;
constexpr int EXIT_WRITE_FAILED = 1;
constexpr int EXIT_USAGE = 2;

// Lengths outside this range give levels no compiler tolerance is tuned for.
constexpr float MIN_LENGTH = 0.01f;
constexpr float MAX_LENGTH = 1.0e6f;
constexpr int MAX_RECTANGLES = 1000000;

constexpr char STDOUT_NAME[] = "-";

constexpr char HELP_FOOTER[] =
    R"(Layout: a maze of W x D rooms is a grid of (2W+1) x (2D+1) square cells, i along x and
j along z, each open or solid; the outer ring is solid. y is up, the floor is at y = 0
and the ceiling at the wall height. Cell (i, j) is centred at x = (i-1) * cell size,
z = (j-1) * cell size, so cell (1, 1), always open, is centred on the origin.

--describe writes {"cellSize": s, "height": h, "origin": [x, z], "grid": [...]}:
grid[j] is row j (cells along x at z index j), one character per cell, '#' solid and
'.' open; origin is the world (x, z) of the centre of cell (0, 0), that is [-s, -s],
so cell (i, j) is centred at (origin[0] + i*s, origin[1] + j*s).

--fan-room N writes, instead of a maze, one convex room of N walls, 128 high, whose
floor plan fills a quarter disc of radius 4000 about the y axis, its floor and ceiling
fans of triangles from the corner at the centre: one leaf, at the end of a chain of
3N - 4 nodes. The maze options, --cell-size and --height are ignored.

Exit status: 0 on success, 2 for a usage error, 1 when a file cannot be written.)";

struct CommandLine {
    MazeOptions maze;
    MazeLayout layout;
    std::string output;    // model file; empty for none
    std::string obj;       // the same level as OBJ; empty for none
    std::string gltf;      // the same level as glTF, binary when named .glb; empty for none
    std::string describe;  // grid description file, "-" for standard output; empty for none
    int fanRoomWalls = 0;  // walls of the fan room written instead of a maze; 0 for a maze
    bool quiet = false;
};

void AddOptions(CLI::App& app, CommandLine& line, int& size) {
    const auto sides = CLI::Range(1, MAX_ROOMS_PER_SIDE);
    auto* width = app.add_option("--width", line.maze.width, "rooms along x")->check(sides);
    auto* depth = app.add_option("--depth", line.maze.depth, "rooms along z")->check(sides);
    app.add_option("--size", size, "rooms along both x and z")
        ->check(sides)
        ->excludes(width)
        ->excludes(depth);
    app.add_option("--seed", line.maze.seed, "seed of the random stream");
    app.add_option("--loops", line.maze.loops,
                   "fraction of the walls left between rooms that are opened")
        ->check(CLI::Range(0.0, 1.0));
    app.add_option("--rooms", line.maze.rooms, "number of small halls of 2 to 3 rooms a side")
        ->check(CLI::Range(0, MAX_RECTANGLES));
    app.add_option("--cell-size", line.layout.cellSize, "side of a cell, world units")
        ->check(CLI::Range(MIN_LENGTH, MAX_LENGTH));
    app.add_option("--height", line.layout.height, "wall height, world units")
        ->check(CLI::Range(MIN_LENGTH, MAX_LENGTH));
    app.add_option("-o,--output", line.output, "model file to write");
    app.add_option("--obj", line.obj, "the same level as an OBJ file");
    app.add_option("--gltf", line.gltf, "the same level as a glTF file (.glb: binary)");
    auto* describe = app.add_option("--describe", line.describe,
                                    "grid description (JSON) to write, - for stdout");
    app.add_option("--fan-room", line.fanRoomWalls,
                   "write a convex room of this many walls with fan floor and ceiling instead")
        ->check(CLI::Range(3, MAX_FAN_ROOM_WALLS))
        ->excludes(describe);
    app.add_flag("-q,--quiet", line.quiet, "print no summary");
    app.footer(HELP_FOOTER);
}

void PrintWriteFailure(const std::string& fileName, const std::string& reason) {
    std::cerr << "mazegen: cannot write '" << fileName << "': " << reason << "\n";
}

bool WriteDescription(const std::string& text, const std::string& fileName) {
    if (fileName == STDOUT_NAME) {
        std::cout << text << std::flush;
        return static_cast<bool>(std::cout);
    }
    std::ofstream out(fileName, std::ios::binary | std::ios::trunc);
    if (out) {
        out << text;
        out.close();
    }
    if (!out) {
        PrintWriteFailure(fileName, std::strerror(errno));
        return false;
    }
    return true;
}

bool WriteModel(const PlyModel& model, const std::string& fileName) {
    std::string reason;
    if (!SaveModel(model, fileName, reason)) {
        PrintWriteFailure(fileName, reason);
        return false;
    }
    return true;
}

// The other formats are written from the same model, through the level mesh.
bool WriteOtherFormat(const PlyModel& model, const std::string& fileName, LevelFormat format) {
    std::string reason;
    if (!SaveLevel(LevelMeshFromModel(model), fileName, format, reason)) {
        PrintWriteFailure(fileName, reason);
        return false;
    }
    return true;
}

// The level in every format asked for.
bool WriteLevel(const PlyModel& model, const CommandLine& line) {
    const bool binary = FormatForFileName(line.gltf) == LevelFormat::GLB;
    return (line.output.empty() || WriteModel(model, line.output)) &&
           (line.obj.empty() || WriteOtherFormat(model, line.obj, LevelFormat::OBJ)) &&
           (line.gltf.empty() ||
            WriteOtherFormat(model, line.gltf, binary ? LevelFormat::GLB : LevelFormat::GLTF));
}

void PrintSummary(const MazeGrid& grid) {
    std::cerr << "mazegen: " << grid.columns << " x " << grid.rows << " cells, " << grid.OpenCount()
              << " open, " << CountMazeFaces(grid) << " quads\n";
}

// The fan room: written, then summed up like a maze.
int WriteFanRoom(const CommandLine& line) {
    const auto model = BuildFanRoomModel(line.fanRoomWalls);
    if (!WriteLevel(*model, line)) {
        return EXIT_WRITE_FAILED;
    }
    if (!line.quiet) {
        std::cerr << "mazegen: fan room of " << line.fanRoomWalls << " walls, "
                  << model->faces.size() << " faces\n";
    }
    return EXIT_OK;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{
        "Makes a block maze level: a model file, the same level as OBJ or glTF, and optionally "
        "its grid as JSON."};
    CommandLine line;
    int size = 0;
    AddOptions(app, line, size);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        // --help arrives here too, as a "parse error" with a success code.
        if (error.get_exit_code() == EXIT_OK) {
            return app.exit(error);
        }
        std::cerr << "mazegen: " << error.what() << " (see --help)\n";
        return EXIT_USAGE;
    }
    if (line.output.empty() && line.obj.empty() && line.gltf.empty() && line.describe.empty()) {
        std::cerr << "mazegen: nothing to write: give -o, --obj, --gltf and/or --describe FILE\n";
        return EXIT_USAGE;
    }
    if (line.fanRoomWalls > 0) {
        return WriteFanRoom(line);
    }
    if (size > 0) {
        line.maze.width = size;
        line.maze.depth = size;
    }

    const MazeGrid grid = GenerateMaze(line.maze);
    if (!WriteLevel(*BuildMazeModel(grid, line.layout), line)) {
        return EXIT_WRITE_FAILED;
    }
    if (!line.describe.empty() &&
        !WriteDescription(DescribeMaze(grid, line.layout), line.describe)) {
        return EXIT_WRITE_FAILED;
    }
    if (!line.quiet) {
        PrintSummary(grid);
    }
    return EXIT_OK;
}
