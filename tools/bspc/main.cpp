// bspc: compiles a level file headlessly and prints what the viewer prints for it, with
// optional JSON output, point location, stage timings, checks and leak reports.

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "compile/bsp_compiler.h"
#include "compile/compile_json.h"
#include "core/deadline.h"
#include "core/deep_stack.h"
#include "distributed/process_group.h"
#include "exit_status.h"
#include "formats/load_level.h"
#include "model/model_reader.h"
#include "options.h"
#include "pvs/pvs_stats.h"
#include "report.h"
#include "verify/reference_map.h"
#include "verify/sight_line_check.h"

namespace {

using namespace bsppvs;

// One thread per core, the cores shared between the job's processes on this machine.
int32_t DefaultThreadCount(const ProcessGroup& group) {
    const unsigned cores = std::thread::hardware_concurrency();
    const int32_t all = cores > 0 ? static_cast<int32_t>(cores) : 1;
    return std::max(1, all / group.LocalProcesses());
}

// The visibility pass holds two sets of bits for every gate, each over the leaves its flood
// reaches, and one byte per leaf for every leaf. Says the most that can take before
// allocating any of it (set_layout.h), and refuses when the machine could not hold that much.
bool CheckVisibilityMemory(const BspcOptions& options, const BspCompiler& compiler,
                           int32_t processes) {
    const VisibilityMemory memory =
        VisibilityMemoryNeeded(compiler.portals.size(), compiler.leaves.size());
    const double machineBytes =
        static_cast<double>(sysconf(_SC_PHYS_PAGES)) * static_cast<double>(sysconf(_SC_PAGESIZE));
    constexpr double MIB = 1024.0 * 1024.0;
    char line[160];
    int written =
        std::snprintf(line, sizeof line, "memory sets %.1f MiB gates %.1f MiB of %.1f MiB",
                      memory.setBytes / MIB, memory.gateBytes / MIB, machineBytes / MIB);
    // Every process of a job holds the whole level and every set.
    if (processes > 1 && written > 0 && static_cast<size_t>(written) < sizeof line) {
        std::snprintf(line + written, sizeof line - static_cast<size_t>(written),
                      ", each of %d processes: %.1f MiB in all", static_cast<int>(processes),
                      processes * memory.Total() / MIB);
    }
    // On standard error with the other progress notes, so that standard output keeps the
    // viewer's own lines together.
    if (!options.quiet) {
        std::cerr << line << std::endl;
    }
    if (machineBytes > 0 && memory.Total() > machineBytes) {
        std::cerr << "bspc: cannot compute the visibility of \"" << options.level << "\": it needs "
                  << memory.Total() / MIB << " MiB and the machine has " << machineBytes / MIB
                  << " MiB" << std::endl;
        return false;
    }
    return true;
}

bool WriteJson(const BspcOptions& options, const BspCompiler& compiler, Deadline* deadline) {
    if (options.jsonFile == "-") {
        WriteCompilerJson(compiler, std::cout);
        std::cout.flush();
        return bool(std::cout);
    }
    // Written beside the target and renamed into place: a run that fails or is stopped
    // leaves no partial file. The JSON is the run's last output.
    std::string error;
    const auto write = [&](std::ostream& out) {
        WriteCompilerJson(compiler, out);
        return bool(out);
    };
    if (!WriteFileWhole(options.jsonFile, write, deadline, true, error)) {
        std::cerr << "bspc: " << error << std::endl;
        return false;
    }
    return true;
}

bool WriteLeakFile(const BspcOptions& options, const Leak& leak, Deadline* deadline) {
    std::string error;
    const auto write = [&](std::ostream& out) {
        out.precision(9);
        for (const Vector3& p : leak.path) {
            out << p.x << " " << p.y << " " << p.z << "\n";
        }
        return bool(out);
    };
    if (!WriteFileWhole(options.leakFile, write, deadline, false, error)) {
        std::cerr << "bspc: " << error << std::endl;
        return false;
    }
    return true;
}

// --info: the native file's own section counts, the mesh's for other formats.
int PrintInfo(const BspcOptions& options, const LevelMesh& level, LevelFormat format) {
    if (format != LevelFormat::NATIVE) {
        PrintMeshInfo(level);
        return EXIT_OK;
    }
    std::string reason;
    const std::unique_ptr<PlyModel> model = LoadModel(options.level, reason);
    if (!model) {
        std::cerr << "bspc: cannot load \"" << options.level << "\": " << reason << std::endl;
        return EXIT_BAD_LEVEL;
    }
    PrintModelInfo(*model);
    return EXIT_OK;
}

void Configure(const BspcOptions& options, LevelFormat format, ProcessGroup& group,
               BspCompiler& compiler) {
    compiler.threads = options.threads > 0 ? options.threads : DefaultThreadCount(group);
    if (!group.ThreadsAllowed()) {
        compiler.threads = 1;
    }
    compiler.peers = group.Exchange();
    compiler.clipSteps = options.clipSteps;
    compiler.floodOnly = options.floodOnly;
    compiler.UseDefaultsFor(IsMeshFormat(format));
    if (!options.solid.empty()) {
        compiler.solidRule =
            options.solid == "winding" ? SolidRule::WINDING : SolidRule::BEHIND_FACES;
    }
    if (!options.merge.empty()) {
        compiler.mergeTriangles = options.merge != "off";
        compiler.mergeGivenPolygons = options.merge == "all";
    }
    if (!options.detail.empty()) {
        compiler.detailGroups = options.detail == "on";
    }
    if (options.detailWidth >= 0.0f) {
        compiler.detailWidth = options.detailWidth;
    }
    if (options.clusterSize >= 0.0f) {
        compiler.clusterSize = options.clusterSize;
    }
    if (options.maxChains >= 0) {
        compiler.maxChains = options.maxChains;
    }
    if (!options.reachCull.empty()) {
        compiler.dropUnreachable = options.reachCull == "on";
    }
    if (!options.blockCovered.empty()) {
        compiler.blockCovered = options.blockCovered == "on";
    }
    if (!options.mutualSets.empty()) {
        compiler.mutualSets = options.mutualSets == "on";
    }
    compiler.insidePoints = options.inside;
}

// The checks asked for; false when one found a sight line the sets miss.
bool RunChecks(const BspcOptions& options, const BspCompiler& compiler,
               const std::vector<Poly>& walls, const ReferenceMap* reference, StageClock& clock) {
    bool clean = true;
    if (options.verifyPairs > 0) {
        VerifyResult result;
        clock.Run("verify",
                  [&] { result = VerifyPvs(compiler, walls, options.verifyPairs, options.seed); });
        PrintVerify(options, "verify", result);
        clean = clean && result.violations.empty();
    }
    if (options.verifyMeshPairs > 0) {
        VerifyResult result;
        clock.Run("verify-mesh", [&] {
            result = VerifyPvs(compiler, walls, options.verifyMeshPairs, options.seed,
                               SolidTrust::NOTHING);
        });
        PrintVerify(options, "verify-mesh", result);
        clean = clean && result.violations.empty();
    }
    if (reference != nullptr) {
        ReferenceComparison result;
        clock.Run("reference", [&] {
            result = CompareWithReference(compiler, walls, *reference, options.referencePoints,
                                          options.seed);
        });
        PrintReference(options, result);
        clean = clean && result.misses == 0;
    }
    return clean;
}

int Compile(const BspcOptions& options, ProcessGroup& group, Deadline* deadline) {
    StageClock clock(options.time);
    std::string reason;
    std::optional<LevelMesh> level;
    LevelFormat format = LevelFormat::NATIVE;
    const LevelLoadOptions load{options.up == "z" ? UpAxis::Z : UpAxis::Y, options.scale};
    clock.Run("load", [&] { level = LoadLevel(options.level, load, reason, &format); });
    if (!level) {
        std::cerr << "bspc: cannot load \"" << options.level << "\": " << reason << std::endl;
        return EXIT_BAD_LEVEL;
    }
    if (options.info) {
        return PrintInfo(options, *level, format);
    }
    std::optional<ReferenceMap> reference;
    if (!options.referenceFile.empty()) {
        reference = LoadReferenceMap(options.referenceFile, reason);
        if (!reference) {
            std::cerr << "bspc: cannot load \"" << options.referenceFile << "\": " << reason
                      << std::endl;
            return EXIT_BAD_LEVEL;
        }
    }
    BspCompiler compiler;
    Configure(options, format, group, compiler);
    clock.Run("import", [&] { compiler.ImportPolys(*level); });
    // The checks need the level's polygons whole; the tree construction splits and consumes
    // the imported list.
    std::vector<Poly> walls;
    if (options.verifyPairs > 0 || options.verifyMeshPairs > 0 || reference) {
        walls.assign(compiler.buildPolys.begin(), compiler.buildPolys.end());
    }
    clock.Run("tree", [&] { compiler.BuildTree(); });
    PrintLine(options, "poly count ", static_cast<int64_t>(compiler.polys.size()));
    PrintLine(options, "node count ", static_cast<int64_t>(compiler.nodes.size()));
    PrintLine(options, "leaf count ", static_cast<int64_t>(compiler.leaves.size()));
    if (compiler.leak) {
        PrintLeak(*compiler.leak, *level, options.level);
        if (!options.leakFile.empty() && !WriteLeakFile(options, *compiler.leak, deadline)) {
            return EXIT_BAD_LEVEL;
        }
    }
    clock.Run("portals", [&] { compiler.BuildPortals(); });
    PrintLine(options, "portal count ", static_cast<int64_t>(compiler.portals.size()));
    if (!CheckVisibilityMemory(options, compiler, group.Processes())) {
        return EXIT_TOO_LARGE;
    }
    clock.Run("gates", [&] { compiler.BuildGates(); });
    if (compiler.blockCovered) {
        PrintLine(options, "covered portals ", compiler.coveredPortals);
    }
    if (compiler.clusterSizeUsed > 0.0f) {
        PrintLine(options, "cluster count ", static_cast<int64_t>(compiler.clusters.Count()));
        if (!options.quiet) {
            std::cout << "cluster size " << compiler.clusterSizeUsed << std::endl;
        }
    }
    clock.Run("flood", [&] { compiler.FloodMightSee(); });
    clock.Run("visibility", [&] { compiler.CalcVisibility(MakeProgress(options)); });
    if (options.time) {
        const VisibilityTally& tally = compiler.visibilityTally;
        std::fprintf(stderr, "visibility reruns %lld of %lld gates, %lld from other processes\n",
                     (long long)tally.reruns, (long long)tally.total, (long long)tally.fromPeers);
    }
    clock.Run("pvs", [&] { compiler.CompilePvsArray(); });
    // The other processes of a job have done their share; the first reports and writes.
    if (group.Rank() != 0) {
        return EXIT_OK;
    }
    PrintLine(options, "TriCount ", LeafTriangleCount(compiler));
    PrintPvsSummary(options, compiler);
    const bool clean =
        RunChecks(options, compiler, walls, reference ? &*reference : nullptr, clock);
    clock.PrintTotal();

    for (const std::string& text : options.locate) {
        Report(options) << "locate " << text << " -> " << compiler.LocateLeaf(*ParsePoint(text), 0)
                        << "\n";
    }
    Report(options).flush();
    if (!options.jsonFile.empty() && !WriteJson(options, compiler, deadline)) {
        return EXIT_BAD_LEVEL;
    }
    return clean ? EXIT_OK : EXIT_PVS_VIOLATION;
}

}  // namespace

// The processes of a job other than the first say nothing: they compile what the first
// compiles, and the first says it.
void Silence() {
    const int null = open("/dev/null", O_WRONLY);
    if (null >= 0) {
        dup2(null, STDOUT_FILENO);
        dup2(null, STDERR_FILENO);
        close(null);
    }
}

int main(int argc, char** argv) {
    const auto start = Deadline::Clock::now();
    std::optional<ProcessGroup> group;
    try {
        group.emplace(argc, argv);
    } catch (const std::exception& error) {
        std::cerr << "bspc: " << error.what() << std::endl;
        return EXIT_USAGE;
    }
    if (group->Rank() != 0) {
        Silence();
    }
    BspcOptions options;
    if (const std::optional<int> status = ParseBspcOptions(argc, argv, options)) {
        return *status;
    }
    std::optional<Deadline> deadline;
    if (options.maxSeconds > 0.0) {
        std::ostringstream message;
        message << "bspc: stopped after " << options.maxSeconds << " s (--max-seconds)";
        deadline.emplace(options.maxSeconds, start, message.str());
    }
    // The stages that recurse as deep as the level is get a stack to match.
    int status = EXIT_OK;
    RunOnDeepStack([&] { status = Compile(options, *group, deadline ? &*deadline : nullptr); });
    return status;
}
