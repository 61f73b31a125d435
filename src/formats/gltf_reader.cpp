// Reads glTF in three steps: the container is checked by hand (the binary chunk lengths and
// the JSON nesting depth, which the loader trusts), the loader parses the JSON and resolves
// the buffers, and the scene is walked here with an explicit stack, each node once, reading
// every accessor through the checked reader. A budget of vertices and corners proportional
// to the input's size stops a small file from instancing one mesh millions of times. Time
// and memory are linear in the input's size.

#include <tiny_gltf.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <map>

#include "formats/fan_rebuild.h"
#include "formats/gltf_accessor.h"
#include "formats/gltf_format.h"
#include "formats/name_table.h"

namespace bsppvs {

namespace {

constexpr uint32_t GLB_MAGIC = 0x46546C67;  // "glTF", little-endian
constexpr uint32_t GLB_VERSION = 2;
constexpr uint32_t GLB_JSON_CHUNK = 0x4E4F534A;
constexpr uint32_t GLB_BIN_CHUNK = 0x004E4942;
constexpr size_t GLB_HEADER_BYTES = 12;
constexpr size_t GLB_CHUNK_HEADER_BYTES = 8;

// The loader converts JSON into its own values recursively; a deeper file could exhaust the
// stack. Real files nest a handful of levels.
constexpr int MAX_JSON_NESTING = 64;

// An external buffer larger than this is refused before it is read.
constexpr uint64_t MAX_EXTERNAL_BUFFER_BYTES = uint64_t{1} << 31;

// The vertices and triangle corners a file may produce: this many per byte of input
// (including external buffers), and at least the floor, so small levels are never refused.
constexpr uint64_t ELEMENTS_PER_INPUT_BYTE = 16;
constexpr uint64_t MIN_ELEMENT_BUDGET = uint64_t{1} << 20;

// The loader's messages can span lines; the first non-empty one says what went wrong.
std::string FirstLine(const std::string& text) {
    size_t start = text.find_first_not_of(" \t\r\n");
    if (start == std::string::npos) {
        return "cannot be parsed";
    }
    const size_t end = text.find_first_of("\r\n", start);
    return text.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

uint32_t ReadU32(std::span<const uint8_t> bytes, size_t at) {
    return uint32_t{bytes[at]} | uint32_t{bytes[at + 1]} << 8 | uint32_t{bytes[at + 2]} << 16 |
           uint32_t{bytes[at + 3]} << 24;
}

bool Fail(std::string& reason, const std::string& text) {
    reason = text;
    return false;
}

// Checks the binary container and finds its JSON chunk. The loader's own check lets a
// binary chunk's header end past the data, so every length is checked here first.
bool CheckGlb(std::span<const uint8_t> bytes, std::span<const uint8_t>& json, std::string& reason) {
    if (bytes.size() < GLB_HEADER_BYTES + GLB_CHUNK_HEADER_BYTES) {
        return Fail(reason, "glb file ends inside its header");
    }
    if (ReadU32(bytes, 0) != GLB_MAGIC) {
        return Fail(reason, "not a glb file");
    }
    if (ReadU32(bytes, 4) != GLB_VERSION) {
        return Fail(reason, "glb version " + std::to_string(ReadU32(bytes, 4)) + " (expected 2)");
    }
    const uint64_t length = ReadU32(bytes, 8);
    if (length != bytes.size()) {
        return Fail(reason, "glb header gives a length of " + std::to_string(length) +
                                " bytes, but the file has " + std::to_string(bytes.size()));
    }
    const uint64_t jsonLength = ReadU32(bytes, GLB_HEADER_BYTES);
    const uint64_t jsonEnd = GLB_HEADER_BYTES + GLB_CHUNK_HEADER_BYTES + jsonLength;
    if (ReadU32(bytes, GLB_HEADER_BYTES + 4) != GLB_JSON_CHUNK || jsonLength > length ||
        jsonEnd > length) {
        return Fail(reason, "glb JSON chunk of " + std::to_string(jsonLength) +
                                " bytes does not fit in the file");
    }
    if (jsonEnd < length) {
        if (length - jsonEnd < GLB_CHUNK_HEADER_BYTES) {
            return Fail(reason, "glb file ends inside the binary chunk's header");
        }
        const uint64_t binLength = ReadU32(bytes, jsonEnd);
        if (ReadU32(bytes, jsonEnd + 4) != GLB_BIN_CHUNK ||
            binLength > length - jsonEnd - GLB_CHUNK_HEADER_BYTES) {
            return Fail(reason, "glb binary chunk of " + std::to_string(binLength) +
                                    " bytes does not fit in the file");
        }
    }
    json = bytes.subspan(GLB_HEADER_BYTES + GLB_CHUNK_HEADER_BYTES, jsonLength);
    return true;
}

// The deepest nesting of arrays and objects, strings skipped; stops counting past limit.
int JsonNesting(std::span<const uint8_t> text, int limit) {
    int depth = 0;
    int deepest = 0;
    bool inString = false;
    for (size_t i = 0; i < text.size() && deepest <= limit; ++i) {
        const uint8_t c = text[i];
        if (inString) {
            i += c == '\\' ? 1 : 0;
            inString = c != '"';
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            deepest = std::max(deepest, ++depth);
        } else if (c == ']' || c == '}') {
            --depth;
        }
    }
    return deepest;
}

// External files for the loader: only regular files inside the level's own directory, and
// none at all for a level read from memory.
struct FileAccess {
    std::optional<std::string> directory;
};

bool FileExists(const std::string& path, void* user) {
    const FileAccess& access = *static_cast<const FileAccess*>(user);
    if (!access.directory) {
        return false;
    }
    const std::string& directory = *access.directory;
    const std::string prefix = directory.ends_with('/') ? directory : directory + "/";
    std::error_code error;
    return path.starts_with(prefix) && std::filesystem::is_regular_file(path, error);
}

std::string ExpandFilePath(const std::string& path, void*) {
    return path;
}

bool ReadWholeFile(std::vector<unsigned char>* out, std::string* error, const std::string& path,
                   void*) {
    std::error_code sizeError;
    const uintmax_t size = std::filesystem::file_size(path, sizeError);
    if (sizeError || size > MAX_EXTERNAL_BUFFER_BYTES) {
        *error = sizeError ? sizeError.message() : "too large";
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    out->resize(static_cast<size_t>(size));
    if (!in.read(reinterpret_cast<char*>(out->data()), static_cast<std::streamsize>(size))) {
        *error = "cannot be read";
        return false;
    }
    return true;
}

bool WriteWholeFile(std::string* error, const std::string&, const std::vector<unsigned char>&,
                    void*) {
    *error = "the reader writes no files";
    return false;
}

// Images are never decoded: levels need no textures.
bool IgnoreImage(tinygltf::Image*, const int, std::string*, std::string*, int, int,
                 const unsigned char*, int, void*) {
    return true;
}

bool ParseModel(std::span<const uint8_t> bytes, bool binary,
                const std::optional<std::string>& directory, tinygltf::Model& model,
                std::string& reason) {
    std::span<const uint8_t> json = bytes;
    if (binary && !CheckGlb(bytes, json, reason)) {
        return false;
    }
    if (JsonNesting(json, MAX_JSON_NESTING) > MAX_JSON_NESTING) {
        return Fail(reason,
                    "glTF JSON nests deeper than " + std::to_string(MAX_JSON_NESTING) + " levels");
    }
    if (bytes.size() > std::numeric_limits<unsigned int>::max()) {
        return Fail(reason, "glTF file is larger than 4 GiB");
    }
    FileAccess access{directory};
    tinygltf::TinyGLTF loader;
    loader.SetFsCallbacks({FileExists, ExpandFilePath, ReadWholeFile, WriteWholeFile, &access});
    loader.SetImageLoader(IgnoreImage, nullptr);
    std::string error;
    std::string warning;
    const std::string base = directory.value_or("");
    const auto size = static_cast<unsigned int>(bytes.size());
    bool parsed = false;
    try {
        parsed =
            binary ? loader.LoadBinaryFromMemory(&model, &error, &warning, bytes.data(), size, base)
                   : loader.LoadASCIIFromString(&model, &error, &warning,
                                                reinterpret_cast<const char*>(bytes.data()), size,
                                                base);
    } catch (const std::exception& exception) {
        error = exception.what();
    }
    if (!parsed) {
        return Fail(reason, "glTF: " + FirstLine(error));
    }
    if (!model.asset.version.starts_with("2.")) {
        return Fail(reason, "glTF version \"" + model.asset.version + "\" (expected 2.x)");
    }
    if (!model.extensionsRequired.empty()) {
        return Fail(reason, "glTF requires the extension \"" + model.extensionsRequired.front() +
                                "\", which is not read");
    }
    return true;
}

// A 4 x 4 transform in glTF's column-major order: element (row, column) at column * 4 + row.
using Transform = std::array<double, 16>;

constexpr Transform IDENTITY = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};

Transform Multiply(const Transform& a, const Transform& b) {
    Transform product{};
    for (int column = 0; column < 4; ++column) {
        for (int row = 0; row < 4; ++row) {
            double sum = 0.0;
            for (int k = 0; k < 4; ++k) {
                sum += a[k * 4 + row] * b[column * 4 + k];
            }
            product[column * 4 + row] = sum;
        }
    }
    return product;
}

// Translation, then rotation (a unit quaternion x, y, z, w), then scale, as glTF composes them.
Transform FromParts(const std::vector<double>& t, const std::vector<double>& r,
                    const std::vector<double>& s) {
    const double x = r.empty() ? 0.0 : r[0];
    const double y = r.empty() ? 0.0 : r[1];
    const double z = r.empty() ? 0.0 : r[2];
    const double w = r.empty() ? 1.0 : r[3];
    Transform m = {1 - 2 * (y * y + z * z),
                   2 * (x * y + z * w),
                   2 * (x * z - y * w),
                   0,
                   2 * (x * y - z * w),
                   1 - 2 * (x * x + z * z),
                   2 * (y * z + x * w),
                   0,
                   2 * (x * z + y * w),
                   2 * (y * z - x * w),
                   1 - 2 * (x * x + y * y),
                   0,
                   0,
                   0,
                   0,
                   1};
    for (int column = 0; column < 3; ++column) {
        for (int row = 0; row < 3; ++row) {
            m[column * 4 + row] *= s.empty() ? 1.0 : s[static_cast<size_t>(column)];
        }
        m[12 + column] = t.empty() ? 0.0 : t[static_cast<size_t>(column)];
    }
    return m;
}

Vector3 Apply(const Transform& m, Vector3 p) {
    const auto row = [&](int r) {
        return static_cast<float>(m[r] * p.x + m[4 + r] * p.y + m[8 + r] * p.z + m[12 + r]);
    };
    return {row(0), row(1), row(2)};
}

bool IsMarkedPoint(const tinygltf::Node& node) {
    if (node.mesh >= 0) {
        return false;
    }
    const tinygltf::Value& extras = node.extras;
    const bool marked = extras.IsObject() && extras.Has(GLTF_MARK_KEY) &&
                        extras.Get(GLTF_MARK_KEY).IsBool() && extras.Get(GLTF_MARK_KEY).Get<bool>();
    return marked || node.name.starts_with(GLTF_START_PREFIX);
}

// The triangles a primitive's vertex list draws, each as (a, b, c) so that a fan's
// triangles all start at its first vertex.
void Triangulate(int mode, const std::vector<uint32_t>& v, int32_t base,
                 std::vector<std::array<int32_t, 3>>& triangles) {
    const auto at = [&](size_t i) { return base + static_cast<int32_t>(v[i]); };
    if (mode == TINYGLTF_MODE_TRIANGLES) {
        for (size_t i = 0; i + 2 < v.size(); i += 3) {
            triangles.push_back({at(i), at(i + 1), at(i + 2)});
        }
    } else if (mode == TINYGLTF_MODE_TRIANGLE_STRIP) {
        for (size_t i = 0; i + 2 < v.size(); ++i) {
            const size_t odd = i % 2;
            triangles.push_back({at(i), at(i + 1 + odd), at(i + 2 - odd)});
        }
    } else if (mode == TINYGLTF_MODE_TRIANGLE_FAN) {
        for (size_t i = 1; i + 1 < v.size(); ++i) {
            triangles.push_back({at(0), at(i), at(i + 1)});
        }
    }
}

bool IsSurfaceMode(int mode) {
    return mode == TINYGLTF_MODE_TRIANGLES || mode == TINYGLTF_MODE_TRIANGLE_STRIP ||
           mode == TINYGLTF_MODE_TRIANGLE_FAN;
}

bool IsPointOrLineMode(int mode) {
    return mode >= TINYGLTF_MODE_POINTS && mode <= TINYGLTF_MODE_LINE_STRIP;
}

class SceneReader {
public:
    SceneReader(const tinygltf::Model& model, uint64_t budget, std::string& reason)
        : model_(model), budget_(budget), reason_(reason), visited_(model.nodes.size(), 0) {}

    std::optional<LevelMesh> Read() {
        std::vector<int> roots;
        if (!FindRoots(roots)) {
            return std::nullopt;
        }
        for (const int root : roots) {
            if (!Walk(root)) {
                return std::nullopt;
            }
        }
        return std::move(mesh_);
    }

private:
    bool Fail(const std::string& text) { return bsppvs::Fail(reason_, "glTF " + text); }

    bool FindRoots(std::vector<int>& roots) {
        const int scene = model_.defaultScene;
        if (scene >= 0) {
            if (static_cast<size_t>(scene) >= model_.scenes.size()) {
                return Fail("default scene " + std::to_string(scene) + " does not exist");
            }
            roots = model_.scenes[static_cast<size_t>(scene)].nodes;
            return true;
        }
        std::vector<uint8_t> isChild(model_.nodes.size(), 0);
        for (const tinygltf::Node& node : model_.nodes) {
            for (const int child : node.children) {
                if (child >= 0 && static_cast<size_t>(child) < isChild.size()) {
                    isChild[static_cast<size_t>(child)] = 1;
                }
            }
        }
        for (size_t n = 0; n < isChild.size(); ++n) {
            if (!isChild[n]) {
                roots.push_back(static_cast<int>(n));
            }
        }
        return true;
    }

    // Pre-order, children in order, without recursion. A node reached twice would make the
    // walk repeat or never end, so it is refused: glTF's hierarchy is a forest.
    bool Walk(int root) {
        std::vector<std::pair<int, Transform>> pending{{root, IDENTITY}};
        while (!pending.empty()) {
            const auto [index, parent] = pending.back();
            pending.pop_back();
            if (index < 0 || static_cast<size_t>(index) >= model_.nodes.size()) {
                return Fail("node " + std::to_string(index) + " does not exist");
            }
            if (visited_[static_cast<size_t>(index)]++) {
                return Fail("node " + std::to_string(index) + " is reached twice");
            }
            const tinygltf::Node& node = model_.nodes[static_cast<size_t>(index)];
            Transform world;
            if (!LocalTransform(node, index, world)) {
                return false;
            }
            world = Multiply(parent, world);
            if (!ReadNode(node, world)) {
                return false;
            }
            for (auto child = node.children.rbegin(); child != node.children.rend(); ++child) {
                pending.emplace_back(*child, world);
            }
        }
        return true;
    }

    bool LocalTransform(const tinygltf::Node& node, int index, Transform& local) {
        const auto sized = [](const std::vector<double>& values, size_t size) {
            return values.empty() || values.size() == size;
        };
        if (!sized(node.matrix, 16) || !sized(node.translation, 3) || !sized(node.rotation, 4) ||
            !sized(node.scale, 3)) {
            return Fail("node " + std::to_string(index) +
                        " has a transform with the wrong number of values");
        }
        if (node.matrix.empty()) {
            local = FromParts(node.translation, node.rotation, node.scale);
        } else {
            std::copy(node.matrix.begin(), node.matrix.end(), local.begin());
        }
        return true;
    }

    bool ReadNode(const tinygltf::Node& node, const Transform& world) {
        if (IsMarkedPoint(node)) {
            mesh_.points.push_back({node.name, Apply(world, ORIGIN)});
            return true;
        }
        if (node.mesh < 0) {
            return true;
        }
        if (static_cast<size_t>(node.mesh) >= model_.meshes.size()) {
            return Fail("mesh " + std::to_string(node.mesh) + " does not exist");
        }
        const tinygltf::Mesh& mesh = model_.meshes[static_cast<size_t>(node.mesh)];
        const int32_t group = groups_.IndexOf(node.name.empty() ? mesh.name : node.name);
        // Primitives of one mesh often share their positions; they are read once per node.
        std::map<int, std::pair<int32_t, size_t>> firstPosition;
        for (const tinygltf::Primitive& primitive : mesh.primitives) {
            if (!ReadPrimitive(primitive, world, group, firstPosition)) {
                return false;
            }
        }
        return true;
    }

    // Counts vertices and corners against the budget.
    bool Spend(uint64_t elements) {
        if (elements > budget_) {
            return Fail(
                "scene holds more vertices and corners than a file of this size "
                "justifies");
        }
        budget_ -= elements;
        return true;
    }

    // The first level position of the primitive's positions and their count, read now
    // unless this node has read them already.
    bool Positions(int accessor, const Transform& world,
                   std::map<int, std::pair<int32_t, size_t>>& firstPosition,
                   std::pair<int32_t, size_t>& found) {
        if (const auto known = firstPosition.find(accessor); known != firstPosition.end()) {
            found = known->second;
            return true;
        }
        std::vector<Vector3> positions;
        if (!ReadPositionAccessor(model_, accessor, positions, reason_) ||
            !Spend(positions.size())) {
            return false;
        }
        if (mesh_.positions.size() + positions.size() >
            static_cast<size_t>(std::numeric_limits<int32_t>::max())) {
            return Fail("scene holds more positions than a level can index");
        }
        found = {static_cast<int32_t>(mesh_.positions.size()), positions.size()};
        // Untransformed positions are copied, so they keep every bit.
        const bool identity = world == IDENTITY;
        for (const Vector3& p : positions) {
            mesh_.positions.push_back(identity ? p : Apply(world, p));
        }
        firstPosition.emplace(accessor, found);
        return true;
    }

    bool ReadPrimitive(const tinygltf::Primitive& primitive, const Transform& world, int32_t group,
                       std::map<int, std::pair<int32_t, size_t>>& firstPosition) {
        if (IsPointOrLineMode(primitive.mode)) {
            return true;
        }
        if (!IsSurfaceMode(primitive.mode)) {
            return Fail("primitive mode " + std::to_string(primitive.mode) + " does not exist");
        }
        const auto position = primitive.attributes.find("POSITION");
        if (position == primitive.attributes.end()) {
            return Fail("primitive has no POSITION attribute");
        }
        std::pair<int32_t, size_t> positions;
        if (!Positions(position->second, world, firstPosition, positions)) {
            return false;
        }
        std::vector<uint32_t> vertices;
        if (primitive.indices >= 0) {
            if (!ReadIndexAccessor(model_, primitive.indices, positions.second, vertices,
                                   reason_)) {
                return false;
            }
        } else {
            for (size_t i = 0; i < positions.second; ++i) {
                vertices.push_back(static_cast<uint32_t>(i));
            }
        }
        int32_t material = -1;
        if (!MaterialOf(primitive, material)) {
            return false;
        }
        std::vector<std::array<int32_t, 3>> triangles;
        Triangulate(primitive.mode, vertices, positions.first, triangles);
        if (!Spend(3 * uint64_t{triangles.size()})) {
            return false;
        }
        AppendRebuiltFans(triangles, group, material, mesh_);
        return true;
    }

    bool MaterialOf(const tinygltf::Primitive& primitive, int32_t& material) {
        if (primitive.material < 0) {
            return true;
        }
        if (static_cast<size_t>(primitive.material) >= model_.materials.size()) {
            return Fail("material " + std::to_string(primitive.material) + " does not exist");
        }
        material =
            materials_.IndexOf(model_.materials[static_cast<size_t>(primitive.material)].name);
        return true;
    }

    const tinygltf::Model& model_;
    uint64_t budget_ = 0;  // vertices and corners still allowed
    std::string& reason_;
    std::vector<uint8_t> visited_;  // per node: 1 once walked
    LevelMesh mesh_;
    NameTable groups_{mesh_.groups};
    NameTable materials_{mesh_.materials};
};

}  // namespace

std::optional<LevelMesh> ReadGltf(std::span<const uint8_t> bytes, bool binary,
                                  const std::optional<std::string>& directory,
                                  std::string& reason) {
    tinygltf::Model model;
    if (!ParseModel(bytes, binary, directory, model, reason)) {
        return std::nullopt;
    }
    uint64_t inputBytes = bytes.size();
    for (const tinygltf::Buffer& buffer : model.buffers) {
        inputBytes += buffer.data.size();
    }
    const uint64_t budget = std::max(MIN_ELEMENT_BUDGET, ELEMENTS_PER_INPUT_BYTE * inputBytes);
    return SceneReader(model, budget, reason).Read();
}

}  // namespace bsppvs
