// The maze generator: the grid's shape over several seeds, the surface it becomes, the
// files it writes, and the bundled level, which must regenerate byte for byte.

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <queue>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "core/random.h"
#include "maze/maze.h"
#include "maze/maze_describe.h"
#include "maze/maze_model.h"
#include "model/model_reader.h"
#include "model/model_writer.h"

namespace bsppvs {
namespace {

namespace fs = std::filesystem;

// Open cells reachable from cell (1, 1) through open side neighbours.
int ReachableOpenCells(const MazeGrid& grid) {
    std::vector<uint8_t> seen(grid.open.size(), 0);
    std::queue<std::pair<int, int>> queue;
    queue.push({1, 1});
    seen[grid.Index(1, 1)] = 1;
    int count = 0;
    while (!queue.empty()) {
        const auto [i, j] = queue.front();
        queue.pop();
        ++count;
        for (const auto& [ni, nj] : {std::pair{i + 1, j}, {i - 1, j}, {i, j + 1}, {i, j - 1}}) {
            if (grid.IsOpen(ni, nj) && !seen[grid.Index(ni, nj)]) {
                seen[grid.Index(ni, nj)] = 1;
                queue.push({ni, nj});
            }
        }
    }
    return count;
}

// Open cells by kind: on the border, rooms (both coordinates odd), pillars (both even) and
// walls (one of each).
struct CellCounts {
    int border = 0;
    int rooms = 0;
    int pillars = 0;
    int walls = 0;
};

CellCounts CountOpen(const MazeGrid& grid) {
    CellCounts counts;
    for (int j = 0; j < grid.rows; ++j) {
        for (int i = 0; i < grid.columns; ++i) {
            const bool onBorder = i == 0 || j == 0 || i == grid.columns - 1 || j == grid.rows - 1;
            const int odd = i % 2 + j % 2;
            int& slot = onBorder   ? counts.border
                        : odd == 2 ? counts.rooms
                        : odd == 0 ? counts.pillars
                                   : counts.walls;
            slot += grid.IsOpen(i, j) ? 1 : 0;
        }
    }
    return counts;
}

TEST(SplitMix64, MatchesTheReferenceStreamAndStaysInBounds) {
    // The first outputs of SplitMix64 from state 0, as published with the algorithm.
    SplitMix64 reference(0);
    EXPECT_EQ(reference.Next64(), 0xE220A8397B1DCDAFull);
    EXPECT_EQ(reference.Next64(), 0x6E789E6AA1B965F4ull);
    for (const uint32_t bound : {1u, 2u, 3u, 7u, 0x80000001u, 0xFFFFFFFFu}) {
        SplitMix64 random(bound);
        for (int draw = 0; draw < 1000; ++draw) {
            ASSERT_LT(random.Below(bound), bound) << "bound " << bound;
        }
    }
}

TEST(MazeGrid, PerfectMazeIsASpanningTreeOfRooms) {
    const std::vector<MazeOptions> cases = {{1, 1, 1, 0.0, 0},  {1, 7, 2, 0.0, 0},
                                            {6, 1, 3, 0.0, 0},  {8, 8, 1, 0.0, 0},
                                            {13, 5, 0, 0.0, 0}, {30, 30, 99, 0.0, 0}};
    for (const MazeOptions& options : cases) {
        SCOPED_TRACE(testing::Message() << options.width << " x " << options.depth);
        const MazeGrid grid = GenerateMaze(options);
        ASSERT_EQ(grid.columns, 2 * options.width + 1);
        ASSERT_EQ(grid.rows, 2 * options.depth + 1);
        const CellCounts open = CountOpen(grid);
        const int rooms = options.width * options.depth;
        EXPECT_EQ(open.rooms, rooms);
        EXPECT_EQ(open.pillars, 0);
        // Connected with one wall fewer than rooms: a tree, so exactly one path between rooms.
        EXPECT_EQ(open.walls, rooms - 1);
        EXPECT_EQ(ReachableOpenCells(grid), grid.OpenCount());
        EXPECT_EQ(open.border, 0);
    }
}

TEST(MazeGrid, LoopsAndHallsOnlyOpenCells) {
    // {loops, halls}; the tree is carved first from the same stream, so every variant
    // must contain the perfect maze of its seed.
    const std::vector<std::pair<double, int>> variants = {{0.1, 0}, {0.5, 0}, {1.0, 0},
                                                          {0.0, 1}, {0.0, 5}, {0.2, 3}};
    for (const uint64_t seed : {1u, 7u, 12345u}) {
        const MazeOptions perfectOptions{12, 9, seed, 0.0, 0};
        const MazeGrid perfect = GenerateMaze(perfectOptions);
        const int standingWalls = 11 * 9 + 12 * 8 - (12 * 9 - 1);
        for (const auto& [loops, halls] : variants) {
            SCOPED_TRACE(testing::Message()
                         << "seed " << seed << " loops " << loops << " halls " << halls);
            const MazeGrid grid = GenerateMaze({12, 9, seed, loops, halls});
            for (size_t cell = 0; cell < grid.open.size(); ++cell) {
                ASSERT_GE(grid.open[cell], perfect.open[cell]);
            }
            const CellCounts open = CountOpen(grid);
            if (halls == 0) {
                const int extra = static_cast<int>(std::floor(loops * standingWalls + 0.5));
                EXPECT_EQ(open.walls, 12 * 9 - 1 + extra);
                EXPECT_EQ(open.pillars, 0);
            } else {
                // A hall of two or more rooms a side opens at least one pillar.
                EXPECT_GT(open.pillars, 0);
            }
            EXPECT_EQ(ReachableOpenCells(grid), grid.OpenCount());
            EXPECT_EQ(open.border, 0);
        }
    }
}

TEST(MazeGrid, SeedDecidesTheMaze) {
    // Kept as strings: GCC 12 at -O3 warns falsely about the memcmp of a set of byte vectors.
    std::set<std::string> distinct;
    for (uint64_t seed = 0; seed < 16; ++seed) {
        const MazeOptions options{8, 8, seed, 0.1, 2};
        EXPECT_EQ(GenerateMaze(options), GenerateMaze(options)) << "seed " << seed;
        const std::vector<uint8_t> open = GenerateMaze(options).open;
        distinct.emplace(open.begin(), open.end());
    }
    EXPECT_EQ(distinct.size(), 16u);
}

Vector3 NewellNormal(const PlyModel& model, const PlyFace& face) {
    Vector3 n;
    for (size_t k = 0; k < 4; ++k) {
        const Vector3 p = model.positions[static_cast<size_t>(face.positionIndex[k])];
        const Vector3 q = model.positions[static_cast<size_t>(face.positionIndex[(k + 1) % 4])];
        n = Add(n,
                {(p.y - q.y) * (p.z + q.z), (p.z - q.z) * (p.x + q.x), (p.x - q.x) * (p.y + q.y)});
    }
    return n;
}

Vector3 Centroid(const PlyModel& model, const PlyFace& face) {
    Vector3 sum;
    for (const int32_t index : face.positionIndex) {
        sum = Add(sum, model.positions[static_cast<size_t>(index)]);
    }
    return Scale(sum, 0.25f);
}

// The grid cell whose square holds the world point's x and z.
std::pair<int, int> CellAt(const MazeLayout& layout, Vector3 p) {
    return {static_cast<int>(std::floor(p.x / layout.cellSize + 1.5f)),
            static_cast<int>(std::floor(p.z / layout.cellSize + 1.5f))};
}

TEST(MazeModel, QuadsBoundTheOpenCellsFacingIn) {
    const MazeLayout layout{64.0f, 40.0f};
    for (const MazeOptions& options :
         {MazeOptions{1, 1, 1, 0.0, 0}, MazeOptions{9, 6, 4, 0.3, 2}}) {
        const MazeGrid grid = GenerateMaze(options);
        const auto model = BuildMazeModel(grid, layout);
        // A floor and a ceiling per open cell, and a wall per open-solid pair of sides.
        int64_t expectedFaces = 2 * int64_t{grid.OpenCount()};
        for (int j = 0; j < grid.rows; ++j) {
            for (int i = 0; i <= grid.columns; ++i) {
                expectedFaces += grid.IsOpen(i - 1, j) != grid.IsOpen(i, j) ? 1 : 0;
            }
        }
        for (int i = 0; i < grid.columns; ++i) {
            for (int j = 0; j <= grid.rows; ++j) {
                expectedFaces += grid.IsOpen(i, j - 1) != grid.IsOpen(i, j) ? 1 : 0;
            }
        }
        ASSERT_EQ(static_cast<int64_t>(model->faces.size()), expectedFaces);

        // Every directed edge once, and its reverse once: a closed, consistently wound
        // surface whose shared corners are welded.
        std::map<std::pair<int32_t, int32_t>, int> edges;
        for (const PlyFace& face : model->faces) {
            const Vector3 n = NewellNormal(*model, face);
            const float area = std::sqrt(Dot(n, n)) / 2.0f;
            const Vector3 unit = Scale(n, 1.0f / (2.0f * area));
            for (const int32_t normal : face.secondaryIndex) {
                ASSERT_EQ(model->secondaryVectors[static_cast<size_t>(normal)], unit);
            }
            const bool isWall = unit.y == 0.0f;
            EXPECT_EQ(face.tag == FACE_TAG_WALL, isWall);
            EXPECT_EQ(area, layout.cellSize * (isWall ? layout.height : layout.cellSize));
            // Half a cell (or half the height) along the normal lies the centre of an open
            // cell; for a wall, half a cell against it the centre of a solid one.
            const Vector3 c = Centroid(*model, face);
            const float halfDepth = (isWall ? layout.cellSize : layout.height) / 2.0f;
            const Vector3 inside = Add(c, Scale(unit, halfDepth));
            EXPECT_EQ(inside.y, layout.height / 2.0f);
            const auto [i, j] = CellAt(layout, inside);
            EXPECT_TRUE(grid.IsOpen(i, j));
            EXPECT_EQ(inside.x, CellCentre(layout, i));
            EXPECT_EQ(inside.z, CellCentre(layout, j));
            if (isWall) {
                const auto [si, sj] = CellAt(layout, Add(c, Scale(unit, -halfDepth)));
                EXPECT_FALSE(grid.IsOpen(si, sj));
            }
            for (size_t k = 0; k < 4; ++k) {
                ++edges[{face.positionIndex[k], face.positionIndex[(k + 1) % 4]}];
            }
        }
        for (const auto& [edge, count] : edges) {
            ASSERT_EQ(count, 1);
            ASSERT_EQ(edges.count({edge.second, edge.first}), 1u);
        }
        std::set<std::tuple<float, float, float>> distinct;
        for (const Vector3& p : model->positions) {
            distinct.insert({p.x, p.y, p.z});
        }
        EXPECT_EQ(distinct.size(), model->positions.size());
    }
}

// A directory of its own for each test, so parallel runs do not share files.
class MazeFiles : public testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("mazegen-" +
                std::string(testing::UnitTest::GetInstance()->current_test_info()->name()) + "-" +
                std::to_string(getpid()));
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string PathOf(const std::string& name) const { return (dir_ / name).string(); }

    static std::string Contents(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    // Runs mazegen with the arguments; returns its exit status.
    static int RunMazegen(const std::string& arguments) {
        const std::string command =
            std::string("\"") + MAZEGEN_PATH + "\" " + arguments + " 2>/dev/null";
        const int status = std::system(command.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    fs::path dir_;
};

TEST_F(MazeFiles, WrittenModelLoadsBackWhole) {
    const MazeGrid grid = GenerateMaze({5, 7, 3, 0.2, 1});
    const auto built = BuildMazeModel(grid, MazeLayout{});
    std::string reason;
    ASSERT_TRUE(SaveModel(*built, PathOf("m.ply"), reason)) << reason;
    const auto loaded = LoadModel(PathOf("m.ply"), reason);
    ASSERT_NE(loaded, nullptr) << reason;
    EXPECT_EQ(loaded->faces, built->faces);
    EXPECT_EQ(loaded->positions, built->positions);
    EXPECT_EQ(loaded->secondaryVectors, built->secondaryVectors);
    EXPECT_EQ(loaded->cornerLists, built->cornerLists);
    EXPECT_EQ(loaded->colourRecords, built->colourRecords);
    EXPECT_EQ(loaded->nameRecords, built->nameRecords);
    EXPECT_EQ(loaded->nodeNames, built->nodeNames);
    ASSERT_NE(loaded->root, nullptr);
    EXPECT_EQ(loaded->root->name, MAZE_NODE_NAME);
    EXPECT_EQ(loaded->root->toLocal, Matrix4::Identity());
}

TEST_F(MazeFiles, DescriptionMatchesTheGrid) {
    const MazeLayout layout{2.5f, 0.1f};
    const MazeGrid grid = GenerateMaze({6, 4, 9, 0.5, 1});
    const auto json = nlohmann::json::parse(DescribeMaze(grid, layout));
    EXPECT_EQ(json["cellSize"], 2.5);
    EXPECT_EQ(json["height"], 0.1);
    EXPECT_EQ(json["origin"], nlohmann::json::array({-2.5, -2.5}));
    ASSERT_EQ(json["grid"].size(), static_cast<size_t>(grid.rows));
    for (int j = 0; j < grid.rows; ++j) {
        const std::string row = json["grid"][static_cast<size_t>(j)];
        ASSERT_EQ(row.size(), static_cast<size_t>(grid.columns));
        for (int i = 0; i < grid.columns; ++i) {
            EXPECT_EQ(row[static_cast<size_t>(i)], grid.IsOpen(i, j) ? '.' : '#') << i << ", " << j;
        }
    }
}

TEST_F(MazeFiles, BundledLevelRegeneratesByteForByte) {
    // The command recorded in data/README.md.
    ASSERT_EQ(
        RunMazegen("--size 12 --seed 1 --loops 0.1 --rooms 3 -o \"" + PathOf("maze-1.ply") + "\""),
        0);
    const std::string bundled = Contents(std::string(BSPPVS_SOURCE_DIR) + "/data/maze-1.ply");
    ASSERT_FALSE(bundled.empty());
    EXPECT_TRUE(Contents(PathOf("maze-1.ply")) == bundled);
}

TEST_F(MazeFiles, ExitStatusSaysWhatWentWrong) {
    const std::string model = " -o \"" + PathOf("m.ply") + "\"";
    const std::vector<std::pair<std::string, int>> cases = {
        {"--size 2 -q" + model, 0},
        {"--size 2 -q --describe \"" + PathOf("m.json") + "\"", 0},
        {"--size 2 -q --obj \"" + PathOf("m.obj") + "\" --gltf \"" + PathOf("m.glb") + "\"", 0},
        {"--obj \"" + PathOf("missing-dir/m.obj") + "\"", 1},
        {"--loops 1.5" + model, 2},
        {"--size 0" + model, 2},
        {"--size 3 --width 4" + model, 2},
        {"--seed x" + model, 2},
        {"--no-such-option" + model, 2},
        {"--size 2", 2},  // nothing to write
        {"--fan-room 60 -q" + model, 0},
        {"--fan-room 2" + model, 2},
        {"--fan-room 60 --describe \"" + PathOf("m.json") + "\"" + model, 2},
        {"-o \"" + PathOf("missing-dir/m.ply") + "\"", 1},
        {"--describe \"" + PathOf("missing-dir/m.json") + "\"", 1},
    };
    for (const auto& [arguments, status] : cases) {
        fs::remove(PathOf("m.ply"));
        EXPECT_EQ(RunMazegen(arguments), status) << arguments;
        if (status == 2) {
            EXPECT_FALSE(fs::exists(PathOf("m.ply"))) << "a usage error wrote " << arguments;
        }
    }
}

}  // namespace
}  // namespace bsppvs
