// bspview: compiles the level "maze-1.ply" from the working directory into a BSP tree,
// portals and per-leaf PVS, then shows the result in a window where a sphere can be moved
// from leaf to leaf. It takes no options of its own; the command line goes to the toolkit.

#include <GL/glut.h>

#include <cstddef>
#include <iostream>
#include <memory>
#include <optional>
#include <string>

#include "bsp/model_check.h"
#include "compile/bsp_compiler.h"
#include "core/deep_stack.h"
#include "model/model_reader.h"
#include "viewer/debug_render.h"
#include "viewer/key_bindings.h"
#include "viewer/view_state.h"
#include "viewer/window.h"

namespace bsppvs {
namespace {

constexpr char MODEL_FILE_NAME[] = "maze-1.ply";
constexpr char LOG_FILE_NAME[] = "log.txt";
constexpr char PROGRAM_NAME[] = "bspview";
// Without a level there is nothing to compile or show.
constexpr int LOAD_FAILED_STATUS = 1;

// Flushed, so that each count shows as soon as its stage is done (and with it the key
// reference written before).
void PrintCount(const char* label, size_t count) {
    std::cout << label << count << std::endl;
}

void ReportLoadFailure(const std::string& reason) {
    std::cerr << PROGRAM_NAME << ": cannot load \"" << MODEL_FILE_NAME << "\": " << reason
              << std::endl;
}

}  // namespace
}  // namespace bsppvs

int main(int argc, char** argv) {
    using namespace bsppvs;
    ViewState& view = viewState;

    // The key table is complete before the window exists, so no key event finds it empty.
    RegisterKeys(view.keyBindings);
    // The window comes before the compile because recording display lists needs its context.
    OpenWindow(&argc, argv);
    // Needs the context just made; set once, every frame relies on it.
    SetRenderState();
    // Registered now, but the toolkit calls them only from the main loop, after the compile.
    RegisterCallbacks();
    // Printed before the compile so the user can read it while a large level compiles.
    PrintKeyReference(std::cout);
    // Created or truncated at every start and never written; a failure to open is harmless.
    view.logFile.open(LOG_FILE_NAME);

    // The level is the program's only input: without it nothing below can run.
    std::string reason;
    std::unique_ptr<PlyModel> model = LoadModel(MODEL_FILE_NAME, reason);
    if (!model) {
        ReportLoadFailure(reason);
        return LOAD_FAILED_STATUS;
    }
    // A file can be well formed and still name coordinates the compiler cannot work with.
    if (const std::optional<std::string> problem = CheckModelGeometry(*model)) {
        ReportLoadFailure(*problem);
        return LOAD_FAILED_STATUS;
    }

    // Created before the import it receives; lives until the process ends.
    view.compiler = std::make_unique<BspCompiler>();
    BspCompiler& compiler = *view.compiler;
    // The compile stages recurse as deep as the level is; they run on a stack to match,
    // one after another, while this thread waits.
    RunOnDeepStack([&] {
        // The model is read only here; the compiler holds its own copies of the polygons.
        compiler.ImportPolys(*model);
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
    // The sphere's start leaf decides which PVS is drawn first.
    view.currentLeaf = compiler.LocateLeaf(view.spherePosition, ROOT_NODE);
    view.pvsList = RecordNewList([] { DrawPvs(viewState.currentLeaf); });
    // Culling last, so that nothing above depends on it; frames inherit it from here.
    ApplyCulling(view.cullFaces);

    // From here on only the callbacks run; the loop never returns (Escape exits).
    glutMainLoop();
    return 0;
}
