// Broken level files of every format: each gives one line saying what is wrong, never a
// crash, a hang or an allocation beyond what the file holds. And the converter's exit
// status for each kind of failure.

#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "formats/native_mesh.h"
#include "level_files.h"
#include "model/model_reader.h"
#include "model/model_writer.h"

namespace bsppvs::test {
namespace {

namespace fs = std::filesystem;

void ExpectOneLineFailure(const std::vector<uint8_t>& bytes, const std::string& says,
                          const std::string& name, const LevelLoadOptions& options = {}) {
    std::string reason;
    const std::optional<LevelMesh> mesh = Loaded(bytes, reason, options);
    EXPECT_FALSE(mesh) << name;
    EXPECT_NE(reason.find(says), std::string::npos) << name << ": " << reason;
    EXPECT_EQ(reason.find('\n'), std::string::npos) << name << ": " << reason;
}

// Three vertices of a triangle, before whatever a case adds.
std::vector<uint8_t> Obj(const std::string& rest) {
    return Bytes("v 0 0 0\nv 1 0 0\nv 0 1 0\n" + rest);
}

TEST(BadLevels, ObjAndUnknownContent) {
    const std::vector<std::pair<std::vector<uint8_t>, std::string>> cases = {
        {{}, "the file is empty"},
        {Bytes("hello\nworld\n"), "not a level file"},
        {{0x01, 0x00, 0x02, 0x03}, "not a level file"},
        {Obj("f 1 2 4\n"), "line 4: corner \"4\" names vertex 4 of 3"},
        {Obj("f 1 2 -4\n"), "names vertex -4 of 3"},
        {Obj("f 0 1 2\n"), "names vertex 0"},
        {Bytes("f 1 2 3\nv 0 0 0\n"), "names vertex 1 of 0"},
        {Obj("f 1 2 99999999999999999999\n"), "does not start with a vertex number"},
        {Obj("f 1 2 x\n"), "does not start with a vertex number"},
        {Obj("f 1 2 +-1\n"), "does not start with a vertex number"},
        {Obj("f 1/1/1/1 2 3\n"), "is not of the form"},
        {Obj("v nan 0 0\n"), "\"nan\" is not a finite number"},
        {Obj("v 1 x 2\n"), "\"x\" is not a finite number"},
        {Obj("v 1e400 0 0\n"), "not a finite number"},
        {Obj("v 1 2\n"), "a vertex needs three coordinates"},
        {Bytes("v 1e39 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n"), "which is not finite"},
        {Bytes("v 2e7 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n"), "beyond the largest usable"},
        {Bytes("o far\nv 0 3e7 0\np 1\n"), "marked point 0 \"far\""},
        {Obj("p 5\n"), "names vertex 5 of 3"},
    };
    for (const auto& [bytes, says] : cases) {
        ExpectOneLineFailure(bytes, says, std::string(bytes.begin(), bytes.end()));
    }
    ExpectOneLineFailure(Obj("f 1 2 3\n"), "scale 0 is not", "scale 0", {UpAxis::Y, 0.0f});
}

// Every prefix of a valid file fails with one line, except that OBJ text may end at a
// line and still be a level. Native files fail exactly as the model reader says.
TEST(BadLevels, TruncatedFilesOfEveryFormat) {
    const LevelMesh room = RoomWithDebris(7);
    for (const LevelFormat format :
         {LevelFormat::NATIVE, LevelFormat::OBJ, LevelFormat::GLTF, LevelFormat::GLB}) {
        const std::vector<uint8_t> whole = Saved(room, format);
        for (size_t size = 0; size < whole.size(); size += 1 + whole.size() / 150) {
            const std::vector<uint8_t> prefix(whole.begin(), whole.begin() + size);
            std::string reason;
            const std::optional<LevelMesh> mesh = Loaded(prefix, reason);
            const std::string name =
                std::to_string(static_cast<int>(format)) + " cut at " + std::to_string(size);
            EXPECT_TRUE(!mesh || format == LevelFormat::OBJ) << name;
            EXPECT_TRUE(mesh || (!reason.empty() && reason.find('\n') == std::string::npos))
                << name << ": " << reason;
            if (format == LevelFormat::NATIVE && size >= 3) {
                std::string modelReason;
                EXPECT_FALSE(LoadModelFromBytes(prefix, modelReason));
                EXPECT_EQ(reason, modelReason) << name;
            }
        }
    }
}

TEST(BadLevels, NativeGeometryFailsAsTheCompilerSays) {
    LevelMesh mesh;
    AddRing(mesh, {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}});
    for (const float bad : {std::nanf(""), 3e7f, -INFINITY}) {
        const auto model = ModelFromLevelMesh(mesh);
        model->positions[1].y = bad;
        std::vector<uint8_t> bytes;
        std::string reason;
        ASSERT_TRUE(SaveModelToBytes(*model, bytes, reason)) << reason;
        const std::optional<std::string> problem = CheckNativeGeometry(*model);
        ASSERT_TRUE(problem);
        ExpectOneLineFailure(bytes, *problem, *problem);
    }
}

// A valid glTF document of the room, changed in one place per case.
TEST(BadLevels, GltfDocuments) {
    const nlohmann::json room = Json(Saved(RoomWithDebris(8), LevelFormat::GLTF));
    nlohmann::json deep = 0;
    for (int i = 0; i < 100; ++i) {
        deep = nlohmann::json::array({deep});
    }
    // One mesh of many triangles over three corners, instanced by a thousand nodes.
    LevelMesh many;
    AddRing(many, {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}});
    for (int t = 0; t < 2000; ++t) {
        many.AddPolygon(many.Ring(0));
    }
    nlohmann::json instanced = Json(Saved(many, LevelFormat::GLTF));
    for (int n = 0; n < 1000; ++n) {
        instanced["nodes"].push_back({{"mesh", 0}});
        instanced["scenes"][0]["nodes"].push_back(n + 1);
    }
    struct Case {
        const char* name;
        const char* pointer;  // JSON pointer into the room's document
        nlohmann::json value;
        const char* says;
    };
    const Case cases[] = {
        {"huge count", "/accessors/0/count", 1000000000, "reaches beyond the end"},
        {"view beyond buffer", "/bufferViews/0/byteOffset", 1000000,
         "beyond the end of its buffer"},
        {"short stride", "/bufferViews/0/byteStride", 4, "stride shorter"},
        {"float indices", "/accessors/1/componentType", 5126, "wrong element type"},
        {"index out of range", "/accessors/0/count", 3, "names vertex"},
        {"no positions", "/meshes/0/primitives/0/attributes", nlohmann::json::object(),
         "no POSITION"},
        {"missing accessor", "/meshes/0/primitives/0/attributes/POSITION", 99, "does not exist"},
        {"node cycle", "/nodes/0/children", {0}, "node 0 is reached twice"},
        {"missing child", "/nodes/0/children", {99}, "node 99 does not exist"},
        {"missing scene", "/scene", 5, "default scene 5"},
        {"missing mesh", "/nodes/0/mesh", 99, "mesh 99 does not exist"},
        {"missing material", "/meshes/0/primitives/0/material", 99, "material 99"},
        {"unknown mode", "/meshes/0/primitives/0/mode", 9, "mode 9"},
        {"short matrix", "/nodes/0/matrix", {1, 0, 0}, "wrong number of values"},
        {"overflowing scale", "/nodes/0/scale", {1e300, 1e300, 1e300}, "not finite"},
        {"huge scale", "/nodes/0/scale", {1e30, 1e30, 1e30}, "beyond the largest usable"},
        {"deep nesting", "/nodes/0/extras", deep, "nests deeper"},
        {"external buffer", "/buffers/0/uri", "level.bin", "level.bin"},
        {"bad base64", "/buffers/0/uri", "data:application/octet-stream;base64,@@@@", "decode"},
        {"version 1", "/asset/version", "1.0", "version \"1.0\""},
        {"required extension",
         "/extensionsRequired",
         {"KHR_draco_mesh_compression"},
         "KHR_draco_mesh_compression"},
    };
    for (const Case& c : cases) {
        nlohmann::json document = room;
        document[nlohmann::json::json_pointer(c.pointer)] = c.value;
        ExpectOneLineFailure(JsonBytes(document), c.says, c.name);
    }
    ExpectOneLineFailure(JsonBytes(instanced), "more vertices and corners", "instanced");
    ExpectOneLineFailure(Bytes("{\"asset\": "), "glTF", "cut JSON");
}

TEST(BadLevels, GlbContainers) {
    const std::vector<uint8_t> glb = Saved(RoomWithDebris(9), LevelFormat::GLB);
    const auto withWord = [&](size_t at, uint32_t value) {
        std::vector<uint8_t> bytes = glb;
        for (int i = 0; i < 4; ++i) {
            bytes[at + static_cast<size_t>(i)] = static_cast<uint8_t>(value >> (8 * i));
        }
        return bytes;
    };
    const auto word = [&](size_t at) {
        return uint32_t{glb[at]} | uint32_t{glb[at + 1]} << 8 | uint32_t{glb[at + 2]} << 16 |
               uint32_t{glb[at + 3]} << 24;
    };
    const size_t binHeader = 20 + word(12);
    const std::vector<std::pair<std::vector<uint8_t>, std::string>> cases = {
        {Bytes("glTF"), "ends inside its header"},
        {withWord(4, 1), "glb version 1"},
        {withWord(8, word(8) + 4), "header gives a length"},
        {withWord(12, word(12) + 1000), "JSON chunk"},
        {withWord(12, 0xFFFFFFF0u), "JSON chunk"},
        // Beyond the end by less than a chunk header.
        {withWord(binHeader, word(binHeader) + 4), "binary chunk"},
        {withWord(binHeader + 4, 0x12345678u), "binary chunk"},
        {withWord(binHeader, 0xFFFFFFFCu), "binary chunk"},
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        ExpectOneLineFailure(cases[i].first, cases[i].second, "glb case " + std::to_string(i));
    }
}

TEST(Levelconv, ExitStatusSaysWhatWentWrong) {
    const fs::path dir = fs::temp_directory_path() / ("levelconv-" + std::to_string(getpid()));
    fs::create_directories(dir);
    const LevelMesh room = RoomWithDebris(10);
    std::string reason;
    ASSERT_TRUE(SaveLevel(room, (dir / "room.obj").string(), LevelFormat::OBJ, reason));
    std::ofstream(dir / "junk.obj") << "junk\n";
    const auto path = [&](const char* name) {
        std::string quoted(1, '"');
        quoted += (dir / name).string();
        quoted += '"';
        return quoted;
    };
    const std::vector<std::pair<std::string, int>> cases = {
        {path("room.obj") + " " + path("room.glb"), 0},
        {path("room.obj") + " " + path("turned.ply") + " --up z --scale 2", 0},
        {path("missing.obj") + " " + path("out.glb"), 1},
        {path("junk.obj") + " " + path("out.glb"), 1},
        {path("room.obj") + " " + path("missing-dir/out.glb"), 1},
        {path("room.obj") + " " + path("out.txt"), 2},
        {path("room.obj") + " " + path("out.obj") + " --up x", 2},
        {path("room.obj") + " " + path("out.obj") + " --scale -1", 2},
        {path("room.obj"), 2},
    };
    for (const auto& [arguments, status] : cases) {
        const std::string command =
            std::string("\"") + LEVELCONV_PATH + "\" " + arguments + " 2>/dev/null";
        const int result = std::system(command.c_str());
        EXPECT_EQ(WIFEXITED(result) ? WEXITSTATUS(result) : -1, status) << arguments;
    }
    const std::optional<LevelMesh> back = LoadLevel((dir / "room.glb").string(), {}, reason);
    ASSERT_TRUE(back) << reason;
    EXPECT_EQ(Describe(*back), Describe(room));
    fs::remove_all(dir);
}

}  // namespace
}  // namespace bsppvs::test
