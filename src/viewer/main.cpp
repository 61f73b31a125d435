// bspview: compiles a level into a BSP tree, portals and per-leaf PVS, then shows the result
// in a window where a sphere can be moved from leaf to leaf. Without arguments it shows
// "maze-1.ply" from the working directory; given a level file of any format (after the
// toolkit has taken its own options), it shows that one.

#include <GL/glut.h>

#include <cstddef>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>

#include "compile/bsp_compiler.h"
#include "core/deep_stack.h"
#include "formats/load_level.h"
#include "viewer/debug_render.h"
#include "viewer/key_bindings.h"
#include "viewer/view_state.h"
#include "viewer/window.h"

namespace bsppvs {
namespace {

constexpr char MODEL_FILE_NAME[] = "maze-1.ply";
constexpr char LOG_FILE_NAME[] = "log.txt";
constexpr char PROGRAM_NAME[] = "bspview";
constexpr char LEAK_FILE_EXTENSION[] = ".leak";
// Without a level there is nothing to compile or show.
constexpr int LOAD_FAILED_STATUS = 1;
constexpr int USAGE_STATUS = 2;

// Flushed, so that each count shows as soon as its stage is done (and with it the key
// reference written before).
void PrintCount(const char* label, size_t count) {
    std::cout << label << count << std::endl;
}

void ReportLoadFailure(const std::string& fileName, const std::string& reason) {
    std::cerr << PROGRAM_NAME << ": cannot load \"" << fileName << "\": " << reason << std::endl;
}

// What is left of the command line once the toolkit has taken its options: nothing, or
// one level file.
std::optional<std::string> LevelArgument(int argc, char** argv, bool& usageError) {
    usageError = argc > 2;
    if (usageError) {
        std::cerr << "usage: " << PROGRAM_NAME << " [LEVEL]" << std::endl;
    }
    return argc == 2 ? std::optional<std::string>(argv[1]) : std::nullopt;
}

// The way in recorded beside the level (bspc --leak-file), one "x y z" per line; empty when
// there is no such file or it holds no points.
std::vector<Vector3> ReadLeakFile(const std::string& levelFile) {
    std::filesystem::path path(levelFile);
    path.replace_extension(LEAK_FILE_EXTENSION);
    std::ifstream in(path);
    std::vector<Vector3> points;
    Vector3 p;
    while (in >> p.x >> p.y >> p.z) {
        points.push_back(p);
    }
    return points;
}

}  // namespace
}  // namespace bsppvs

int main(int argc, char** argv) {
    using namespace bsppvs;
    ViewState& view = viewState;

    // The window comes before the compile because recording display lists needs its context;
    // opening it also takes the toolkit's own options off the command line.
    OpenWindow(&argc, argv);
    bool usageError = false;
    const std::optional<std::string> levelArgument = LevelArgument(argc, argv, usageError);
    if (usageError) {
        return USAGE_STATUS;
    }
    const bool anyLevel = levelArgument.has_value();
    const std::string levelFile = levelArgument.value_or(MODEL_FILE_NAME);
    // The key table is complete before the first event can arrive.
    RegisterKeys(view.keyBindings, anyLevel);
    // Needs the context just made; set once, every frame relies on it.
    SetRenderState();
    // Registered now, but the toolkit calls them only from the main loop, after the compile.
    RegisterCallbacks();
    // Printed before the compile so the user can read it while a large level compiles.
    PrintKeyReference(std::cout, anyLevel);
    // Created or truncated at every start and never written; a failure to open is harmless.
    view.logFile.open(LOG_FILE_NAME);

    // The level is the program's only input: without it nothing below can run.
    std::string reason;
    LevelFormat format = LevelFormat::NATIVE;
    const std::optional<LevelMesh> level = LoadLevel(levelFile, {}, reason, &format);
    if (!level) {
        ReportLoadFailure(levelFile, reason);
        return LOAD_FAILED_STATUS;
    }

    // Created before the import it receives; lives until the process ends.
    view.compiler = std::make_unique<BspCompiler>();
    BspCompiler& compiler = *view.compiler;
    compiler.UseDefaultsFor(IsMeshFormat(format));
    // The compile stages recurse as deep as the level is; they run on a stack to match,
    // one after another, while this thread waits.
    RunOnDeepStack([&] {
        // The level is read only here; the compiler holds its own copies of the polygons.
        compiler.ImportPolys(*level);
        // Consumes the imported polygons; always succeeds, so its result is not looked at.
        compiler.BuildTree();
        PrintCount("poly count ", compiler.polys.size());
        PrintCount("node count ", compiler.nodes.size());
        PrintCount("leaf count ", compiler.leaves.size());
        // Portals are cut from the finished tree's node planes.
        compiler.BuildPortals();
        PrintCount("portal count ", compiler.portals.size());
        // Visibility flows through the portals, so it needs all of them.
        compiler.ComputePvs();
    });

    // The fixed drawings are recorded once, now that every result they show is final.
    view.leavesList = RecordNewList([] { DrawLeaves(DrawMode::RECORDING); });
    view.portalsList = RecordNewList([] { DrawPortals(DrawMode::RECORDING); });
    // The sphere's start leaf decides which PVS is drawn first. A level of another shape may
    // have solid space at the usual start; its first marked point (a player start) is meant
    // to be stood on.
    view.currentLeaf = compiler.LocateLeaf(view.spherePosition, ROOT_NODE);
    if (anyLevel && view.currentLeaf == NO_LEAF && !level->points.empty()) {
        view.spherePosition = level->points.front().position;
        view.currentLeaf = compiler.LocateLeaf(view.spherePosition, ROOT_NODE);
    }
    if (anyLevel) {
        view.leakPath = ReadLeakFile(levelFile);
    }
    view.pvsList = RecordNewList([] { DrawPvs(viewState.currentLeaf); });
    // Culling last, so that nothing above depends on it; frames inherit it from here.
    ApplyCulling(view.cullFaces);

    // From here on only the callbacks run; the loop never returns (Escape exits).
    glutMainLoop();
    return 0;
}
