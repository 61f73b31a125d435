#include "formats/load_level.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string_view>
#include <vector>

#include "formats/gltf_format.h"
#include "formats/level_checks.h"
#include "formats/native_mesh.h"
#include "formats/obj_format.h"
#include "geometry/tolerances.h"
#include "model/model_reader.h"

namespace bsppvs {

namespace {

constexpr std::string_view NATIVE_MAGIC = "PLY";
constexpr std::string_view GLB_MAGIC = "glTF";
constexpr std::string_view UTF8_BYTE_ORDER_MARK = "\xEF\xBB\xBF";
constexpr std::string_view TEXT_BLANKS = " \t\r\n";

enum class Content { Empty, Native, Glb, GltfJson, Binary, Text };

Content Sniff(std::string_view text) {
    if (text.empty()) {
        return Content::Empty;
    }
    if (text.starts_with(NATIVE_MAGIC)) {
        return Content::Native;
    }
    if (text.starts_with(GLB_MAGIC)) {
        return Content::Glb;
    }
    // Text holds no zero bytes; anything else with one is no format we know.
    if (text.find('\0') != std::string_view::npos) {
        return Content::Binary;
    }
    if (text.starts_with(UTF8_BYTE_ORDER_MARK)) {
        text.remove_prefix(UTF8_BYTE_ORDER_MARK.size());
    }
    const size_t first = text.find_first_not_of(TEXT_BLANKS);
    return first != std::string_view::npos && text[first] == '{' ? Content::GltfJson
                                                                 : Content::Text;
}

std::optional<LevelMesh> ReadNative(std::span<const uint8_t> bytes, std::string& reason) {
    const std::unique_ptr<PlyModel> model = LoadModelFromBytes(bytes, reason);
    if (!model) {
        return std::nullopt;
    }
    if (const std::optional<std::string> problem = CheckNativeGeometry(*model)) {
        reason = *problem;
        return std::nullopt;
    }
    return LevelMeshFromModel(*model);
}

std::optional<LevelMesh> ReadAnyFormat(std::span<const uint8_t> bytes,
                                       const std::optional<std::string>& directory,
                                       std::string& reason, LevelFormat& format) {
    const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    switch (Sniff(text)) {
        case Content::Empty:
            reason = "not a level file: the file is empty";
            return std::nullopt;
        case Content::Native:
            format = LevelFormat::NATIVE;
            return ReadNative(bytes, reason);
        case Content::Glb:
            format = LevelFormat::GLB;
            return ReadGltf(bytes, true, directory, reason);
        case Content::GltfJson:
            format = LevelFormat::GLTF;
            return ReadGltf(bytes, false, directory, reason);
        case Content::Binary:
            reason = "not a level file: binary data that is neither a model file nor glb";
            return std::nullopt;
        case Content::Text:
            format = LevelFormat::OBJ;
            return ReadObj(text, reason);
    }
    return std::nullopt;
}

// The up-axis turn, then the scale. With the defaults nothing is touched.
void Orient(LevelMesh& mesh, const LevelLoadOptions& options) {
    const auto place = [&](Vector3& p) {
        if (options.up == UpAxis::Z) {
            p = {p.x, p.z, -p.y};
        }
        if (options.scale != 1.0f) {
            p = Scale(p, options.scale);
        }
    };
    for (Vector3& p : mesh.positions) {
        place(p);
    }
    for (MarkedPoint& point : mesh.points) {
        place(point.position);
    }
}

// Names from files can hold line breaks; a reason is always one line.
std::string OneLine(std::string text) {
    for (char& c : text) {
        c = static_cast<unsigned char>(c) < ' ' ? ' ' : c;
    }
    return text;
}

std::optional<LevelMesh> Load(std::span<const uint8_t> bytes,
                              const std::optional<std::string>& directory,
                              const LevelLoadOptions& options, std::string& reason,
                              LevelFormat* format) {
    if (!std::isfinite(options.scale) || !(options.scale > 0.0f)) {
        std::ostringstream text;
        text << "scale " << options.scale << " is not a finite number above zero";
        reason = text.str();
        return std::nullopt;
    }
    LevelFormat read = LevelFormat::NATIVE;
    std::optional<LevelMesh> mesh = ReadAnyFormat(bytes, directory, reason, read);
    if (format != nullptr) {
        *format = read;
    }
    if (mesh) {
        Orient(*mesh, options);
        if (const std::optional<std::string> problem = CheckLevel(*mesh)) {
            reason = *problem;
            mesh.reset();
        }
    }
    if (!mesh) {
        reason = OneLine(reason);
    }
    return mesh;
}

bool ReadFile(const std::string& path, std::vector<uint8_t>& bytes, std::string& reason) {
    const auto fail = [&](const char* what) {
        reason = std::string(what) + (errno != 0 ? std::strerror(errno) : "unknown error");
        return false;
    };
    errno = 0;
    std::error_code error;
    if (std::filesystem::is_directory(path, error)) {
        reason = "cannot open: is a directory";
        return false;
    }
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in) {
        return fail("cannot open: ");
    }
    const std::streamoff size = in.tellg();
    in.seekg(0);
    bytes.resize(static_cast<size_t>(std::max<std::streamoff>(size, 0)));
    if (!in.read(reinterpret_cast<char*>(bytes.data()),
                 static_cast<std::streamsize>(bytes.size()))) {
        return fail("cannot read: ");
    }
    return true;
}

}  // namespace

std::optional<LevelMesh> LoadLevel(const std::string& path, const LevelLoadOptions& options,
                                   std::string& reason, LevelFormat* format) {
    std::vector<uint8_t> bytes;
    if (!ReadFile(path, bytes, reason)) {
        return std::nullopt;
    }
    const std::filesystem::path directory = std::filesystem::path(path).parent_path();
    return Load(bytes, directory.empty() ? "." : directory.string(), options, reason, format);
}

std::optional<LevelMesh> LoadLevelFromBytes(std::span<const uint8_t> bytes,
                                            const LevelLoadOptions& options, std::string& reason,
                                            LevelFormat* format) {
    return Load(bytes, std::nullopt, options, reason, format);
}

}  // namespace bsppvs
