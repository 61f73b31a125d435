// Levels written in each format read back whole: the same polygons to the bit, with their
// names where the format keeps them; mazes; content, not file names, choosing the reader;
// the up axis and scale; and glTF's triangles joined back into the polygons they came from.

#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "compile/bsp_compiler.h"
#include "compile/compile_json.h"
#include "formats/native_mesh.h"
#include "geometry/polygon.h"
#include "level_files.h"
#include "maze/maze.h"
#include "maze/maze_model.h"

namespace bsppvs::test {
namespace {

namespace fs = std::filesystem;

constexpr LevelFormat ALL_FORMATS[] = {LevelFormat::NATIVE, LevelFormat::OBJ, LevelFormat::GLTF,
                                       LevelFormat::GLB};

// The native format keeps no names; the others keep everything.
bool KeepsNames(LevelFormat format) {
    return format != LevelFormat::NATIVE;
}

std::string CompiledJson(const LevelMesh& mesh, LevelFormat format) {
    BspCompiler compiler;
    compiler.solidRule = IsMeshFormat(format) ? SolidRule::WINDING : SolidRule::BEHIND_FACES;
    compiler.Compile(mesh);
    std::ostringstream out;
    WriteCompilerJson(compiler, out);
    return out.str();
}

TEST(LevelRoundTrip, EveryFormatGivesBackTheSameLevel) {
    for (const uint32_t seed : {1u, 2u, 3u}) {
        const LevelMesh mesh = RoomWithDebris(seed);
        for (const LevelFormat format : ALL_FORMATS) {
            std::string reason;
            const std::optional<LevelMesh> back = Loaded(Saved(mesh, format), reason);
            ASSERT_TRUE(back) << reason;
            EXPECT_EQ(Describe(*back, KeepsNames(format)), Describe(mesh, KeepsNames(format)))
                << "format " << static_cast<int>(format) << ", seed " << seed;
        }
    }
}

// The native format has only four-cornered faces: a pentagon comes back as its fan.
TEST(LevelRoundTrip, NativeCutsLongerPolygonsIntoFans) {
    LevelMesh pentagon;
    AddRing(pentagon, {{0, 0, 0}, {2, 0, 0}, {3, 0, -2}, {1, 0, -3}, {-1, 0, -2}});
    LevelMesh fan;
    const std::vector<Vector3>& p = pentagon.positions;
    for (size_t i = 1; i + 1 < p.size(); ++i) {
        AddRing(fan, {p[0], p[i], p[i + 1]});
    }
    std::string reason;
    const std::optional<LevelMesh> back = Loaded(Saved(pentagon, LevelFormat::NATIVE), reason);
    ASSERT_TRUE(back) << reason;
    EXPECT_EQ(Describe(*back), Describe(fan));
}

// Every format gives back a maze's quads, and compiled with its format's own way of
// finding solid space (the winding number for OBJ and glTF) the same tree, portals and
// sets, byte for byte: on a closed level the winding number agrees with the plain rule.
TEST(LevelRoundTrip, MazesReadBackAsTheirNativeQuadsAndCompileAlike) {
    const MazeOptions mazes[] = {{4, 3, 1, 0.3, 1}, {4, 3, 5, 0.3, 1}, {7, 6, 2, 0.6, 4}};
    for (const MazeOptions& maze : mazes) {
        const auto model = BuildMazeModel(GenerateMaze(maze), MazeLayout{});
        const LevelMesh mesh = LevelMeshFromModel(*model);
        ASSERT_EQ(mesh.polygons.size(), model->faces.size());
        const std::string native = CompiledJson(mesh, LevelFormat::NATIVE);
        for (const LevelFormat format : ALL_FORMATS) {
            std::string reason;
            const std::optional<LevelMesh> back = Loaded(Saved(mesh, format), reason);
            ASSERT_TRUE(back) << reason;
            EXPECT_EQ(Describe(*back), Describe(mesh)) << static_cast<int>(format);
            EXPECT_EQ(CompiledJson(*back, format), native) << static_cast<int>(format);
        }
    }
}

TEST(LevelLoad, ContentNotTheFileNameChoosesTheReader) {
    const fs::path dir =
        fs::temp_directory_path() / ("formats-dispatch-" + std::to_string(getpid()));
    fs::create_directories(dir);
    const LevelMesh mesh = RoomWithDebris(4);
    const std::vector<std::pair<LevelFormat, std::string>> cases = {
        {LevelFormat::NATIVE, "level.obj"},
        {LevelFormat::OBJ, "level.ply"},
        {LevelFormat::GLB, "level.gltf"},
        {LevelFormat::GLTF, "level"},
    };
    for (const auto& [format, name] : cases) {
        std::string reason;
        ASSERT_TRUE(SaveLevel(mesh, (dir / name).string(), format, reason)) << reason;
        const std::optional<LevelMesh> back = LoadLevel((dir / name).string(), {}, reason);
        ASSERT_TRUE(back) << name << ": " << reason;
        EXPECT_EQ(Describe(*back, KeepsNames(format)), Describe(mesh, KeepsNames(format))) << name;
    }

    // A glTF file may keep its buffer in a file beside it.
    nlohmann::json document = Json(Saved(mesh, LevelFormat::GLTF));
    std::string uri = document["buffers"][0]["uri"];
    const std::vector<uint8_t> buffer = Saved(mesh, LevelFormat::GLB);
    // The glb's binary chunk is the same buffer; take it from the end of the file.
    const size_t length = document["buffers"][0]["byteLength"];
    std::ofstream(dir / "level.bin", std::ios::binary)
        .write(reinterpret_cast<const char*>(buffer.data() + buffer.size() - length),
               static_cast<std::streamsize>(length));
    document["buffers"][0]["uri"] = "level.bin";
    std::ofstream(dir / "external.gltf") << document.dump();
    std::string reason;
    const std::optional<LevelMesh> back = LoadLevel((dir / "external.gltf").string(), {}, reason);
    ASSERT_TRUE(back) << reason;
    EXPECT_EQ(Describe(*back), Describe(mesh));
    fs::remove_all(dir);
}

TEST(LevelLoad, UpAxisAndScaleApplyToEveryFormat) {
    const LevelMesh mesh = RoomWithDebris(5);
    struct Case {
        LevelLoadOptions options;
        Vector3 (*place)(Vector3);
    };
    const Case cases[] = {
        {{UpAxis::Y, 1.0f}, [](Vector3 p) { return p; }},
        {{UpAxis::Z, 1.0f},
         [](Vector3 p) {
             return Vector3{p.x, p.z, -p.y};
         }},
        {{UpAxis::Y, 2.0f}, [](Vector3 p) { return Scale(p, 2.0f); }},
        {{UpAxis::Z, 0.5f},
         [](Vector3 p) {
             return Scale(Vector3{p.x, p.z, -p.y}, 0.5f);
         }},
    };
    for (const Case& c : cases) {
        LevelMesh expected = mesh;
        for (Vector3& p : expected.positions) {
            p = c.place(p);
        }
        for (MarkedPoint& point : expected.points) {
            point.position = c.place(point.position);
        }
        // A turn, not a mirror: the floor, facing +y, faces where +y goes.
        const auto floorNormal = [](const LevelMesh& level) {
            Winding ring;
            for (const int32_t corner : level.Ring(0)) {
                ring.push_back(level.positions[static_cast<size_t>(corner)]);
            }
            return ComputeNormal(ring);
        };
        EXPECT_EQ(floorNormal(expected), Scale(c.place(AXIS_Y), 1.0f / c.options.scale));
        for (const LevelFormat format : ALL_FORMATS) {
            std::string reason;
            const std::optional<LevelMesh> back = Loaded(Saved(mesh, format), reason, c.options);
            ASSERT_TRUE(back) << reason;
            EXPECT_EQ(Describe(*back, KeepsNames(format)), Describe(expected, KeepsNames(format)));
        }
    }
}

// Each shape goes out as a glTF fan from corner 0 and must come back as the listed polygons.
TEST(GltfFans, FlatConvexFansComeBackWholeAndOthersStayTriangles) {
    struct Case {
        const char* name;
        std::vector<Vector3> ring;
        std::vector<size_t> cornerCounts;
    };
    const Case cases[] = {
        {"square", {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}}, {4}},
        {"convex pentagon", {{0, 0, 0}, {2, 0, 0}, {3, 2, 0}, {1, 3, 0}, {-1, 2, 0}}, {5}},
        {"tilted hexagon",
         {{0, 0, 0}, {2, 0, 1}, {3, 1, 1.5f}, {2, 2, 1}, {0, 2, 0}, {-1, 1, -0.5f}},
         {6}},
        {"folded quad", {{0, 0, 0}, {1, 0, 0}, {1, 1, 0.5f}, {0, 1, 0}}, {3, 3}},
        {"dart", {{0, 0, 0}, {2, 1, 0}, {0, 2, 0}, {1, 1, 0}}, {3, 3}},
        // Both triangles face up, but the quad turns the wrong way at (4, 1).
        {"notched quad", {{0, 0, 0}, {4, 0, 0}, {4, 1, 0}, {5, 3, 0}}, {3, 3}},
        {"pentagon reflex at its last corner",
         {{0, 0, 0}, {2, 0, 0}, {3, 2, 0}, {1, 3, 0}, {0.8f, 1.5f, 0}},
         {4, 3}},
    };
    for (const Case& c : cases) {
        LevelMesh mesh;
        AddRing(mesh, c.ring);
        std::string reason;
        const std::optional<LevelMesh> back = Loaded(Saved(mesh, LevelFormat::GLB), reason);
        ASSERT_TRUE(back) << reason;
        std::vector<size_t> counts;
        for (const LevelPolygon& polygon : back->polygons) {
            counts.push_back(polygon.cornerCount);
        }
        EXPECT_EQ(counts, c.cornerCounts) << c.name;
        if (c.cornerCounts.size() == 1) {
            EXPECT_EQ(Describe(*back), Describe(mesh)) << c.name;
        }
    }
}

// What the writer never makes but other tools do: strips, fans, node transforms and
// marked points by name.
TEST(GltfScenes, ModesTransformsAndMarkedPointsAreRead) {
    LevelMesh quad;
    AddRing(quad, {{0, 0, 0}, {1, 0, 0}, {1, 0, -1}, {0, 0, -1}}, "tile");
    const nlohmann::json written = Json(Saved(quad, LevelFormat::GLTF));
    const auto load = [](const nlohmann::json& document) {
        std::string reason;
        std::optional<LevelMesh> mesh = Loaded(JsonBytes(document), reason);
        EXPECT_TRUE(mesh) << reason;
        return mesh.value_or(LevelMesh{});
    };
    // The writer stores the quad's corners in order, so without indices a fan of them
    // is the quad and a strip its two triangles (0, 1, 2) and (1, 3, 2).
    for (const auto& [mode, expected] : {std::pair{6, std::vector<size_t>{4}}, {5, {3, 3}}}) {
        nlohmann::json document = written;
        document["meshes"][0]["primitives"][0].erase("indices");
        document["meshes"][0]["primitives"][0]["mode"] = mode;
        const LevelMesh mesh = load(document);
        std::vector<size_t> counts;
        for (size_t p = 0; p < mesh.polygons.size(); ++p) {
            counts.push_back(mesh.polygons[p].cornerCount);
            EXPECT_EQ(mesh.GroupName(p), "tile");
        }
        EXPECT_EQ(counts, expected) << "mode " << mode;
    }

    // The same turn of a quarter about y, scale and move, given in parts and as a matrix.
    const double half = std::sqrt(0.5);
    nlohmann::json parts = written;
    parts["nodes"][0]["translation"] = {10, 20, 30};
    parts["nodes"][0]["rotation"] = {0, half, 0, half};
    parts["nodes"][0]["scale"] = {2, 2, 2};
    nlohmann::json matrix = written;
    matrix["nodes"][0]["matrix"] = {0, 0, -2, 0, 0, 2, 0, 0, 2, 0, 0, 0, 10, 20, 30, 1};
    for (const nlohmann::json& document : {parts, matrix}) {
        const LevelMesh mesh = load(document);
        ASSERT_EQ(mesh.polygons.size(), 1u);
        for (size_t i = 0; i < 4; ++i) {
            const Vector3 p = quad.positions[i];
            const Vector3 q = mesh.positions[static_cast<size_t>(mesh.Ring(0)[i])];
            EXPECT_NEAR(q.x, 10 + 2 * p.z, 1e-5);
            EXPECT_NEAR(q.y, 20 + 2 * p.y, 1e-5);
            EXPECT_NEAR(q.z, 30 - 2 * p.x, 1e-5);
        }
    }

    // Mesh-less nodes named start... are marked points, at their world translation; others
    // are not, whatever their name.
    nlohmann::json points = written;
    points["nodes"][0]["children"] = {1, 2};
    points["nodes"][0]["translation"] = {1, 0, 0};
    points["nodes"].push_back({{"name", "start_red"}, {"translation", {0, 2, 0}}});
    points["nodes"].push_back({{"name", "lamp"}, {"translation", {0, 3, 0}}});
    const LevelMesh mesh = load(points);
    ASSERT_EQ(mesh.points.size(), 1u);
    EXPECT_EQ(mesh.points[0].name, "start_red");
    EXPECT_EQ(mesh.points[0].position, (Vector3{1, 2, 0}));

    // An empty level has no scene to write.
    std::string reason;
    EXPECT_TRUE(Loaded(Saved(LevelMesh{}, LevelFormat::GLTF), reason)) << reason;
}

}  // namespace
}  // namespace bsppvs::test
