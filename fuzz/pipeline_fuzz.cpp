// Feeds arbitrary bytes through the whole compiler: the model reader, the geometry check and,
// for every model both accept, each compile stage in turn (polygon import, tree, portals,
// visibility). Beyond not crashing, hanging, leaking or tripping a sanitizer, what each stage
// leaves must keep the shape the stages promise; a broken promise aborts with a line naming
// it, so that the saved input comes with a diagnosis.
//
// The seeds in corpus/pipeline/ are small levels: mazes from the build's mazegen tool (the
// larger ones without their texture layers, which the compiler never reads, so that they fit
// the fuzzing length limit) and two hand-made rooms: one around a pillar, whose leaves form a
// ring, and two rooms joined by a doorway, with a lone triangle and a non-flat quad.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <unordered_set>
#include <vector>

#include "compile/bsp_compiler.h"
#include "compile/shape_check.h"
#include "core/deep_stack.h"
#include "formats/native_mesh.h"
#include "model/model_reader.h"
#include "model/ply_model.h"

namespace {

using namespace bsppvs;

// Each face becomes at most two polygons, and the tree's splits can multiply those, so the
// tree and portal stages grow faster than linearly in the face count. At the 4096-byte input
// length the fuzz script uses a model holds at most about a hundred faces (40 bytes each),
// so this only bites on longer inputs, such as a run with a larger -max_len, where it keeps
// each input quick. The position table needs no limit of its own: only positions that faces
// name are ever read after loading, and reading them is linear in the input.
constexpr size_t MAX_FACES = 256;

// Portal building pushes one square per node down the whole tree, so it costs about nodes
// times depth; a split-heavy input can turn a few hundred faces into thousands of nodes.
constexpr size_t MAX_NODES = 2048;

// The visibility pass holds two bytes per leaf for every gate (two gates per portal) and
// one byte per leaf for every leaf, and its recursion follows chains of gates through the
// leaves. Small caps keep those arrays to a few hundred kilobytes and each input quick,
// while leaving room for every seed level and many mutations of it.
constexpr size_t MAX_LEAVES = 128;
constexpr size_t MAX_PORTALS = 256;

// A broken invariant is a finding: say which and stop.
void Require(const std::optional<std::string>& problem) {
    if (problem) {
        std::fprintf(stderr, "pipeline invariant broken: %s\n", problem->c_str());
        std::abort();
    }
}

void Compile(const PlyModel& model) {
    // One thread, the default: the output is the same for every thread count, and one thread
    // keeps each input's run, its coverage and any sanitizer report repeatable.
    BspCompiler compiler;
    compiler.ImportPolys(LevelMeshFromModel(model));
    compiler.BuildTree();
    Require(CheckTreeShape(compiler));
    if (compiler.nodes.size() > MAX_NODES) {
        return;
    }
    compiler.BuildPortals();
    Require(CheckPortalShape(compiler));
    if (compiler.leaves.size() > MAX_LEAVES || compiler.portals.size() > MAX_PORTALS) {
        return;
    }
    compiler.ComputePvs();
    Require(CheckVisibilityShape(compiler));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string reason;
    const std::unique_ptr<PlyModel> model = LoadModelFromBytes({data, size}, reason);
    if (!model || model->faces.size() > MAX_FACES) {
        return 0;
    }
    if (const std::optional<std::string> problem = CheckNativeGeometry(*model)) {
        if (problem->empty() || problem->find('\n') != std::string::npos) {
            Require("geometry check refused without a one-line reason");
        }
        return 0;
    }
    // Portal clipping recurses as deep as the tree and the visibility pass as long as its
    // chains of gates, so the stages run on the deep stack the programs give them.
    RunOnDeepStack([&] { Compile(*model); });
    return 0;
}
