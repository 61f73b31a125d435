// Time of each compile stage on generated block mazes of 8 to 64 rooms a side (loops 0.1,
// 3 rooms). Every benchmark rebuilds the stages before the one it times, with the clock
// paused, so each figure is one stage alone.

#include <benchmark/benchmark.h>

#include <map>
#include <memory>

#include "compile/bsp_compiler.h"
#include "formats/native_mesh.h"
#include "maze/maze.h"
#include "maze/maze_model.h"

namespace {

using namespace bsppvs;

enum class Stage { IMPORT, TREE, PORTALS, GATES_FLOOD, VISIBILITY, PVS_ARRAYS };

const PlyModel& MazeModel(int rooms) {
    static std::map<int, std::unique_ptr<PlyModel>> cache;
    auto& model = cache[rooms];
    if (!model) {
        MazeOptions options;
        options.width = rooms;
        options.depth = rooms;
        options.seed = 1;
        options.loops = 0.1;
        options.rooms = 3;
        model = BuildMazeModel(GenerateMaze(options), MazeLayout{});
    }
    return *model;
}

// Runs every stage before `stage` on a fresh compiler.
void Prepare(BspCompiler& compiler, const PlyModel& model, Stage stage) {
    if (stage > Stage::IMPORT) {
        compiler.ImportPolys(LevelMeshFromModel(model));
    }
    if (stage > Stage::TREE) {
        compiler.BuildTree();
    }
    if (stage > Stage::PORTALS) {
        compiler.BuildPortals();
    }
    if (stage > Stage::GATES_FLOOD) {
        compiler.BuildGates();
        compiler.FloodMightSee();
    }
    if (stage > Stage::VISIBILITY) {
        compiler.CalcVisibility();
    }
}

void RunStage(BspCompiler& compiler, const PlyModel& model, Stage stage) {
    switch (stage) {
        case Stage::IMPORT:
            compiler.ImportPolys(LevelMeshFromModel(model));
            break;
        case Stage::TREE:
            compiler.BuildTree();
            break;
        case Stage::PORTALS:
            compiler.BuildPortals();
            break;
        case Stage::GATES_FLOOD:
            compiler.BuildGates();
            compiler.FloodMightSee();
            break;
        case Stage::VISIBILITY:
            compiler.CalcVisibility();
            break;
        case Stage::PVS_ARRAYS:
            compiler.CompilePvsArray();
            break;
    }
}

void BM_Stage(benchmark::State& state, Stage stage) {
    const PlyModel& model = MazeModel(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        state.PauseTiming();
        auto compiler = std::make_unique<BspCompiler>();
        Prepare(*compiler, model, stage);
        state.ResumeTiming();
        RunStage(*compiler, model, stage);
        benchmark::DoNotOptimize(compiler->leaves.data());
        state.PauseTiming();
        state.counters["leaves"] = static_cast<double>(compiler->leaves.size());
        state.counters["portals"] = static_cast<double>(compiler->portals.size());
        compiler.reset();
        state.ResumeTiming();
    }
}

void Sizes(benchmark::internal::Benchmark* b) {
    for (int rooms : {8, 16, 32, 64}) {
        b->Arg(rooms);
    }
    b->Unit(benchmark::kMillisecond)->Iterations(3);
}

BENCHMARK_CAPTURE(BM_Stage, import, Stage::IMPORT)->Apply(Sizes);
BENCHMARK_CAPTURE(BM_Stage, tree, Stage::TREE)->Apply(Sizes);
BENCHMARK_CAPTURE(BM_Stage, portals, Stage::PORTALS)->Apply(Sizes);
BENCHMARK_CAPTURE(BM_Stage, gates_flood, Stage::GATES_FLOOD)->Apply(Sizes);
BENCHMARK_CAPTURE(BM_Stage, visibility, Stage::VISIBILITY)->Apply(Sizes);
BENCHMARK_CAPTURE(BM_Stage, pvs_arrays, Stage::PVS_ARRAYS)->Apply(Sizes);

}  // namespace

BENCHMARK_MAIN();
