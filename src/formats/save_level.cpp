#include "formats/save_level.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "formats/gltf_format.h"
#include "formats/level_checks.h"
#include "formats/native_mesh.h"
#include "formats/obj_format.h"
#include "model/model_writer.h"

namespace bsppvs {

namespace {

struct Extension {
    const char* text;
    LevelFormat format;
};

constexpr Extension EXTENSIONS[] = {
    {".ply", LevelFormat::NATIVE},
    {".obj", LevelFormat::OBJ},
    {".gltf", LevelFormat::GLTF},
    {".glb", LevelFormat::GLB},
};

bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes, std::string& reason) {
    errno = 0;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (out) {
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
        out.close();
    }
    if (!out) {
        reason =
            std::string("cannot write: ") + (errno != 0 ? std::strerror(errno) : "unknown error");
        return false;
    }
    return true;
}

}  // namespace

std::optional<LevelFormat> FormatForFileName(const std::string& path) {
    std::string extension = std::filesystem::path(path).extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    for (const Extension& known : EXTENSIONS) {
        if (extension == known.text) {
            return known.format;
        }
    }
    return std::nullopt;
}

bool SaveLevelToBytes(const LevelMesh& mesh, LevelFormat format, std::vector<uint8_t>& bytes,
                      std::string& reason) {
    if (const std::optional<std::string> problem = CheckLevel(mesh)) {
        reason = *problem;
        return false;
    }
    switch (format) {
        case LevelFormat::NATIVE:
            return SaveModelToBytes(*ModelFromLevelMesh(mesh), bytes, reason);
        case LevelFormat::OBJ: {
            std::string text;
            if (!WriteObj(mesh, text, reason)) {
                return false;
            }
            bytes.assign(text.begin(), text.end());
            return true;
        }
        case LevelFormat::GLTF:
            return WriteGltf(mesh, false, bytes, reason);
        case LevelFormat::GLB:
            return WriteGltf(mesh, true, bytes, reason);
    }
    reason = "unknown level format";
    return false;
}

bool SaveLevel(const LevelMesh& mesh, const std::string& path, LevelFormat format,
               std::string& reason) {
    std::vector<uint8_t> bytes;
    return SaveLevelToBytes(mesh, format, bytes, reason) && WriteFile(path, bytes, reason);
}

}  // namespace bsppvs
