// Feeds arbitrary bytes to the level loader, whichever format they look like: native, OBJ,
// glTF JSON or glb. Beyond not crashing, hanging, leaking or tripping a sanitizer: every
// failure is one line of text, and every level that loads can be written in each format and
// read back, through OBJ with the same polygons and marked points, corner for corner. A
// broken promise aborts with a line naming it.
//
// The seeds in corpus/level_reader/ are one small level in each format, written by the
// library itself: a room with groups, materials, a pentagon and marked points.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "formats/load_level.h"
#include "formats/save_level.h"

namespace {

using namespace bsppvs;

[[noreturn]] void Broken(const char* promise) {
    std::fprintf(stderr, "broken promise: %s\n", promise);
    std::abort();
}

void CheckReason(const std::string& reason) {
    if (reason.empty() || reason.find('\n') != std::string::npos) {
        Broken("a failure gives one non-empty line");
    }
}

// Corner positions polygon by polygon, and marked points, to the bit.
bool SameGeometry(const LevelMesh& a, const LevelMesh& b) {
    if (a.polygons.size() != b.polygons.size() || a.points.size() != b.points.size()) {
        return false;
    }
    for (size_t p = 0; p < a.polygons.size(); ++p) {
        const std::span<const int32_t> ringA = a.Ring(p);
        const std::span<const int32_t> ringB = b.Ring(p);
        if (ringA.size() != ringB.size()) {
            return false;
        }
        for (size_t i = 0; i < ringA.size(); ++i) {
            if (a.positions[static_cast<size_t>(ringA[i])] !=
                b.positions[static_cast<size_t>(ringB[i])]) {
                return false;
            }
        }
    }
    for (size_t i = 0; i < a.points.size(); ++i) {
        if (a.points[i].position != b.points[i].position) {
            return false;
        }
    }
    return true;
}

void CheckRewrites(const LevelMesh& mesh) {
    for (const LevelFormat format :
         {LevelFormat::NATIVE, LevelFormat::OBJ, LevelFormat::GLTF, LevelFormat::GLB}) {
        std::vector<uint8_t> bytes;
        std::string reason;
        if (!SaveLevelToBytes(mesh, format, bytes, reason)) {
            CheckReason(reason);
            continue;
        }
        const std::optional<LevelMesh> back = LoadLevelFromBytes(bytes, {}, reason);
        // OBJ text without a face or a point is no level by design, so an empty level
        // written as OBJ is not one either.
        const bool empty = mesh.polygons.empty() && mesh.points.empty();
        if (!back && format == LevelFormat::OBJ && empty) {
            continue;
        }
        if (!back) {
            std::fprintf(stderr, "format %d: %s\n", static_cast<int>(format), reason.c_str());
            Broken("a written level reads back");
        }
        if (format == LevelFormat::OBJ && !SameGeometry(mesh, *back)) {
            Broken("OBJ gives back the same polygons and points");
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string reason;
    const std::optional<LevelMesh> mesh = LoadLevelFromBytes({data, size}, {}, reason);
    if (!mesh) {
        CheckReason(reason);
        return 0;
    }
    CheckRewrites(*mesh);
    return 0;
}
