// bspc: compiles a model file headlessly and prints what the viewer prints for it, with
// optional JSON output, point location and stage timings.

#include <unistd.h>

#include <CLI/CLI.hpp>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <limits>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bsp/model_check.h"
#include "compile/bsp_compiler.h"
#include "compile/compile_json.h"
#include "core/deadline.h"
#include "core/deep_stack.h"
#include "core/stopwatch.h"
#include "model/model_reader.h"
#include "pvs/pvs_stats.h"
#include "verify/sight_line_check.h"

namespace {

using namespace bsppvs;

constexpr int EXIT_OK = 0;
constexpr int EXIT_BAD_MODEL = 1;
constexpr int EXIT_USAGE = 2;
constexpr int EXIT_PVS_VIOLATION = 3;
constexpr int EXIT_TOO_LARGE = 5;

struct Options {
    std::string model;
    std::string jsonFile;
    std::vector<std::string> locate;
    bool info = false;
    bool time = false;
    bool quiet = false;
    bool progress = false;
    int32_t threads = 0;  // 0: one per core
    int32_t clipSteps = 4;
    bool floodOnly = false;
    int64_t verifyPairs = 0;  // 0: no check
    uint64_t verifySeed = 1;
    double maxSeconds = 0.0;  // 0: no time limit
    std::string solid;        // "rule" or "winding"; empty: by the level's format
};

// Wall time of each stage, printed on request to standard error.
class StageClock {
public:
    explicit StageClock(bool enabled) : enabled_(enabled) {}

    template <typename Fn>
    void Run(const char* stage, Fn&& fn) {
        const Stopwatch watch;
        fn();
        const double elapsed = watch.Seconds();
        total_ += elapsed;
        if (enabled_) {
            std::fprintf(stderr, "time %-10s %9.3f s\n", stage, elapsed);
        }
    }
    void PrintTotal() const {
        if (enabled_) {
            std::fprintf(stderr, "time %-10s %9.3f s\n", "total", total_);
        }
    }

private:
    bool enabled_;
    double total_ = 0.0;
};

int32_t DefaultThreadCount() {
    const unsigned cores = std::thread::hardware_concurrency();
    return cores > 0 ? static_cast<int32_t>(cores) : 1;
}

// Where the report goes: standard output, unless the JSON goes there, so that the JSON
// stays parseable when piped.
std::ostream& Report(const Options& options) {
    return options.jsonFile == "-" ? std::cerr : std::cout;
}

void PrintLine(const Options& options, const std::string& label, int64_t value) {
    if (!options.quiet) {
        Report(options) << label << value << std::endl;
    }
}

int64_t CountNodes(const PlyModel& model) {
    int64_t count = 0;
    std::vector<const PlyNode*> pending;
    if (model.root) {
        pending.push_back(model.root.get());
    }
    while (!pending.empty()) {
        const PlyNode* node = pending.back();
        pending.pop_back();
        ++count;
        if (node->sibling) {
            pending.push_back(node->sibling.get());
        }
        if (node->child) {
            pending.push_back(node->child.get());
        }
    }
    return count;
}

void PrintInfo(const PlyModel& model) {
    std::cout << "colour records " << model.colourRecords.size() << "\n"
              << "name records " << model.nameRecords.size() << "\n"
              << "positions " << model.positions.size() << "\n"
              << "secondary vectors " << model.secondaryVectors.size() << "\n"
              << "faces " << model.faces.size() << "\n"
              << "nodes " << CountNodes(model) << "\n"
              << "node names " << model.nodeNames.size() << std::endl;
}

std::optional<Vector3> ParsePoint(const std::string& text) {
    Vector3 p;
    char comma1 = 0;
    char comma2 = 0;
    std::istringstream in(text);
    if (!(in >> p.x >> comma1 >> p.y >> comma2 >> p.z) || comma1 != ',' || comma2 != ',') {
        return std::nullopt;
    }
    in >> std::ws;
    if (!in.eof()) {
        return std::nullopt;
    }
    return p;
}

// Redraws one progress line on standard error.
ProgressFn MakeProgress(const Options& options) {
    const bool show = !options.quiet && (options.progress || isatty(STDERR_FILENO) != 0);
    if (!show) {
        return {};
    }
    return [last = int64_t{-1}](int64_t done, int64_t total) mutable {
        const int64_t percent = total > 0 ? 100 * done / total : 100;
        if (percent != last || done == total) {
            last = percent;
            std::fprintf(stderr, "\rvisibility %3lld%% (%lld of %lld gates)", (long long)percent,
                         (long long)done, (long long)total);
            if (done == total) {
                std::fputc('\n', stderr);
            }
        }
    };
}

void PrintPvsSummary(const Options& options, const BspCompiler& compiler) {
    if (options.quiet) {
        return;
    }
    const PvsStats stats = ComputePvsStats(compiler, compiler.portals.size());
    char line[128];
    std::snprintf(line, sizeof line,
                  "pvs average %.2f largest %lld\npvs bytes %.0f gate bytes %.0f", stats.average,
                  (long long)stats.largest, stats.setBytes, stats.gateBytes);
    Report(options) << line << std::endl;
}

void PrintVerify(const Options& options, const VerifyResult& result) {
    std::ostream& out = Report(options);
    out << "verify pairs " << result.pairs << " clear " << result.clearPairs << " violations "
        << result.violations.size() << " confirmed " << result.confirmedPairs << " of "
        << result.visiblePairs << " visible pairs\n";
    const auto point = [](Vector3 p) {
        char text[96];
        std::snprintf(text, sizeof text, "(%.9g,%.9g,%.9g)", p.x, p.y, p.z);
        return std::string(text);
    };
    for (const VerifyViolation& v : result.violations) {
        out << "violation leaves " << v.leafA << " " << v.leafB << " points " << point(v.pointA)
            << " " << point(v.pointB) << " sees " << int(v.aSeesB) << " " << int(v.bSeesA) << "\n";
    }
    out.flush();
}

// The visibility pass holds two bytes per leaf for every gate and one byte per leaf for
// every leaf. Says how much before allocating it, and refuses when the machine could never
// hold it.
bool CheckVisibilityMemory(const Options& options, const BspCompiler& compiler) {
    const VisibilityMemory memory =
        VisibilityMemoryNeeded(compiler.portals.size(), compiler.leaves.size());
    const double gateBytes = memory.gateBytes;
    const double setBytes = memory.setBytes;
    const double machineBytes =
        static_cast<double>(sysconf(_SC_PHYS_PAGES)) * static_cast<double>(sysconf(_SC_PAGESIZE));
    constexpr double MIB = 1024.0 * 1024.0;
    char line[160];
    std::snprintf(line, sizeof line, "memory sets %.1f MiB gates %.1f MiB of %.1f MiB",
                  setBytes / MIB, gateBytes / MIB, machineBytes / MIB);
    // On standard error with the other progress notes, so that standard output keeps the
    // viewer's own lines together.
    if (!options.quiet) {
        std::cerr << line << std::endl;
    }
    if (machineBytes > 0 && gateBytes + setBytes > machineBytes) {
        std::cerr << "bspc: cannot compute the visibility of \"" << options.model << "\": it needs "
                  << (gateBytes + setBytes) / MIB << " MiB and the machine has "
                  << machineBytes / MIB << " MiB" << std::endl;
        return false;
    }
    return true;
}

bool WriteJson(const Options& options, const BspCompiler& compiler, Deadline* deadline) {
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

int Compile(const Options& options, Deadline* deadline) {
    StageClock clock(options.time);
    std::string reason;
    std::unique_ptr<PlyModel> model;
    clock.Run("load", [&] { model = LoadModel(options.model, reason); });
    if (!model) {
        std::cerr << "bspc: cannot load \"" << options.model << "\": " << reason << std::endl;
        return EXIT_BAD_MODEL;
    }
    if (options.info) {
        PrintInfo(*model);
        return EXIT_OK;
    }
    if (const std::optional<std::string> problem = CheckModelGeometry(*model)) {
        std::cerr << "bspc: cannot compile \"" << options.model << "\": " << *problem << std::endl;
        return EXIT_BAD_MODEL;
    }
    BspCompiler compiler;
    compiler.threads = options.threads > 0 ? options.threads : DefaultThreadCount();
    compiler.clipSteps = options.clipSteps;
    compiler.floodOnly = options.floodOnly;
    if (options.solid == "winding") {
        compiler.solidRule = SolidRule::WINDING;
    }
    clock.Run("import", [&] { compiler.ImportPolys(*model); });
    // The check needs the level's polygons whole; the tree construction splits and consumes
    // the imported list.
    std::vector<Poly> walls;
    if (options.verifyPairs > 0) {
        walls.assign(compiler.buildPolys.begin(), compiler.buildPolys.end());
    }
    model.reset();  // nothing reads the model after the import
    clock.Run("tree", [&] { compiler.BuildTree(); });
    PrintLine(options, "poly count ", static_cast<int64_t>(compiler.polys.size()));
    PrintLine(options, "node count ", static_cast<int64_t>(compiler.nodes.size()));
    PrintLine(options, "leaf count ", static_cast<int64_t>(compiler.leaves.size()));
    clock.Run("portals", [&] { compiler.BuildPortals(); });
    PrintLine(options, "portal count ", static_cast<int64_t>(compiler.portals.size()));
    if (!CheckVisibilityMemory(options, compiler)) {
        return EXIT_TOO_LARGE;
    }
    clock.Run("gates", [&] { compiler.BuildGates(); });
    clock.Run("flood", [&] { compiler.FloodMightSee(); });
    clock.Run("visibility", [&] { compiler.CalcVisibility(MakeProgress(options)); });
    clock.Run("pvs", [&] { compiler.CompilePvsArray(); });
    PrintLine(options, "TriCount ", LeafTriangleCount(compiler));
    PrintPvsSummary(options, compiler);
    int status = EXIT_OK;
    if (options.verifyPairs > 0) {
        VerifyResult result;
        clock.Run("verify", [&] {
            result = VerifyPvs(compiler, walls, options.verifyPairs, options.verifySeed);
        });
        PrintVerify(options, result);
        status = result.violations.empty() ? EXIT_OK : EXIT_PVS_VIOLATION;
    }
    clock.PrintTotal();

    for (const std::string& text : options.locate) {
        const Vector3 p = *ParsePoint(text);
        Report(options) << "locate " << text << " -> " << compiler.LocateLeaf(p, 0) << "\n";
    }
    Report(options).flush();
    if (!options.jsonFile.empty() && !WriteJson(options, compiler, deadline)) {
        return EXIT_BAD_MODEL;
    }
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    const auto start = Deadline::Clock::now();
    Options options;
    CLI::App app{"bspc: compile a level into a BSP tree, portals and potentially visible sets"};
    app.add_option("model", options.model, "model file to compile")->required();
    app.add_flag("--info", options.info, "print the model file's section counts and stop");
    app.add_option("--json", options.jsonFile, "write the compiled result as JSON (- for stdout)");
    app.add_option("--locate", options.locate, "print the leaf holding the point X,Y,Z")
        ->check([](const std::string& text) {
            return ParsePoint(text) ? std::string() : "expected X,Y,Z, got " + text;
        });
    app.add_flag("--time", options.time, "print each stage's wall time to standard error");
    app.add_flag("-q,--quiet", options.quiet, "print only errors (and what was asked for)");
    app.add_flag("--progress", options.progress, "show visibility progress on standard error");
    app.add_option("--threads", options.threads,
                   "worker threads (default: one per core); the output does not depend on it")
        ->check(CLI::Range(1, 256));
    app.add_option("--clip-steps", options.clipSteps,
                   "separating-plane clipping steps of the visibility pass, 0 to 4 (default 4; "
                   "fewer is faster and gives larger sets)")
        ->check(CLI::Range(0, 4));
    app.add_option("--solid", options.solid,
                   "how solid space is decided: rule (behind faces) or winding (winding number "
                   "and outside fill, for real meshes)")
        ->check(CLI::IsMember({"rule", "winding"}));
    app.add_flag("--fast", options.floodOnly,
                 "stop the visibility pass after the flood: each gate sees what its flood "
                 "reached (much faster, larger sets)");
    auto* verify = app.add_option("--verify", options.verifyPairs,
                                  "check the PVS with N random pairs of points; exit 3 when a "
                                  "clear sight line joins two leaves that do not list each other")
                       ->check(CLI::Range(int64_t{1}, std::numeric_limits<int64_t>::max()));
    app.add_option("--seed", options.verifySeed, "seed of the --verify pairs (default 1)")
        ->needs(verify);
    app.add_option("--max-seconds", options.maxSeconds,
                   "stop with exit status 4 when the run takes longer than S seconds, leaving "
                   "no partial output file")
        ->check([](const std::string& text) {
            double s = 0.0;
            std::istringstream in(text);
            return in >> s && std::isfinite(s) && s > 0.0 ? std::string()
                                                          : "expected a positive number of seconds";
        });
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int code = app.exit(e);
        return code == 0 ? EXIT_OK : EXIT_USAGE;
    }
    std::optional<Deadline> deadline;
    if (options.maxSeconds > 0.0) {
        std::ostringstream message;
        message << "bspc: stopped after " << options.maxSeconds << " s (--max-seconds)";
        deadline.emplace(options.maxSeconds, start, message.str());
    }
    // The stages that recurse as deep as the level is get a stack to match.
    int status = EXIT_OK;
    RunOnDeepStack([&] { status = Compile(options, deadline ? &*deadline : nullptr); });
    return status;
}
