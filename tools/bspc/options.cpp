#include "options.h"

#include <CLI/CLI.hpp>
#include <cmath>
#include <limits>
#include <sstream>

#include "exit_status.h"

namespace bsppvs {

namespace {

std::string CheckPoint(const std::string& text) {
    return ParsePoint(text) ? std::string() : "expected X,Y,Z, got " + text;
}

std::string CheckSeconds(const std::string& text) {
    double s = 0.0;
    std::istringstream in(text);
    return in >> s && std::isfinite(s) && s > 0.0 ? std::string()
                                                  : "expected a positive number of seconds";
}

const auto PAIRS = CLI::Range(int64_t{1}, std::numeric_limits<int64_t>::max());

void AddOutputOptions(CLI::App& app, BspcOptions& o) {
    app.add_option("level", o.level, "level file to compile (native, OBJ, glTF or glb)")
        ->required();
    app.add_flag("--info", o.info, "print the level file's section counts and stop");
    app.add_option("--json", o.jsonFile, "write the compiled result as JSON (- for stdout)");
    app.add_option("--locate", o.locate, "print the leaf holding the point X,Y,Z")
        ->check(CheckPoint);
    app.add_flag("--time", o.time, "print each stage's wall time to standard error");
    app.add_flag("-q,--quiet", o.quiet, "print only errors (and what was asked for)");
    app.add_flag("--progress", o.progress, "show visibility progress on standard error");
    app.add_option("--max-seconds", o.maxSeconds,
                   "stop with exit status 4 when the run takes longer than S seconds, leaving "
                   "no partial output file")
        ->check(CheckSeconds);
}

void AddCompileOptions(CLI::App& app, BspcOptions& o, std::vector<std::string>& inside) {
    app.add_option("--threads", o.threads,
                   "worker threads (default: one per core); the output does not depend on it")
        ->check(CLI::Range(1, 256));
    app.add_option("--clip-steps", o.clipSteps,
                   "separating-plane clipping steps of the visibility pass, 0 to 4 (default 4; "
                   "fewer is faster and gives larger sets)")
        ->check(CLI::Range(0, 4));
    app.add_flag("--fast", o.floodOnly,
                 "stop the visibility pass after the flood: each gate sees what its flood "
                 "reached (much faster, larger sets)");
    app.add_option("--cluster-size", o.clusterSize,
                   "leaves under a node whose region fits in a cube of side S share one set: "
                   "much faster on big levels, larger sets; 0 gives every leaf its own (the "
                   "default for native files); for OBJ and glTF the default is 0 when at most "
                   "12000 openings join leaves, else twice the median leaf size, grown until "
                   "at most 20000 openings join clusters")
        ->check(CLI::NonNegativeNumber);
    app.add_option("--max-chains", o.maxChains,
                   "chains one gate's recursion may follow, shared out among the ways on; a "
                   "chain cut short sees all it still might: bounds the time, larger sets; 0 "
                   "for no limit (the default for native files); for OBJ and glTF the default "
                   "is 2000")
        ->check(CLI::NonNegativeNumber);
    app.add_option("--reach-cull", o.reachCull,
                   "chains drop the leaves no sight line through them can reach, and stop "
                   "sooner: on (the default for OBJ and glTF; much faster on open levels, sets "
                   "as tight or tighter) or off (the default for native files)")
        ->check(CLI::IsMember({"on", "off"}));
    app.add_option("--block-covered", o.blockCovered,
                   "portals that the level's own faces cover wholly pass no sight line: on "
                   "(the default for OBJ and glTF, whose faces can have open space on both "
                   "sides; faster, smaller sets) or off (the default for native files)")
        ->check(CLI::IsMember({"on", "off"}));
    app.add_option("--mutual-sets", o.mutualSets,
                   "each leaf's set keeps only the leaves whose sets list it (sight is "
                   "mutual): on (the default for OBJ and glTF; tighter sets, as sound) or off "
                   "(the default for native files)")
        ->check(CLI::IsMember({"on", "off"}));
    app.add_option("--up", o.up, "the level's up axis (y or z); a z-up level is turned y-up")
        ->check(CLI::IsMember({"y", "z"}));
    app.add_option("--scale", o.scale, "multiplies every position (for another unit)")
        ->check(CLI::PositiveNumber);
    app.add_option("--solid", o.solid,
                   "how solid space is decided: rule (behind faces; the default for native "
                   "files) or winding (winding number and outside fill; the default for OBJ "
                   "and glTF)")
        ->check(CLI::IsMember({"rule", "winding"}));
    app.add_option("--merge", o.merge,
                   "join coplanar triangles that share an edge into convex polygons before the "
                   "tree is built: on (the default for OBJ and glTF), all (polygons of more "
                   "than three corners too, for levels whose floors and walls come as many "
                   "quads) or off (the default for native files)")
        ->check(CLI::IsMember({"on", "all", "off"}));
    app.add_option("--detail", o.detail,
                   "whether groups named detail* are detail, which neither splits the tree nor "
                   "blocks a sight line: on (the default for OBJ and glTF) or off")
        ->check(CLI::IsMember({"on", "off"}));
    app.add_option("--detail-width", o.detailWidth,
                   "flat patches of faces thinner than W (area over diameter) are detail too, "
                   "so trim and ledges stop slicing rooms; only for meshes whose walls go on "
                   "behind such pieces; 0 for none (the default)")
        ->check(CLI::NonNegativeNumber);
    app.add_option("--inside", inside,
                   "a point X,Y,Z in the level's open space, besides its marked points; with "
                   "--solid winding, a leak to it from outside is reported")
        ->check(CheckPoint);
    app.add_option("--leak-file", o.leakFile,
                   "when the level leaks, write the way in as points, one 'x y z' per line");
}

void AddCheckOptions(CLI::App& app, BspcOptions& o) {
    app.add_option("--verify", o.verifyPairs,
                   "check the PVS with N random pairs of points; exit 3 when a clear sight line "
                   "joins two leaves that do not list each other")
        ->check(PAIRS);
    app.add_option("--verify-mesh", o.verifyMeshPairs,
                   "as --verify, but only the level's own polygons block a sight line: the "
                   "tree's solid space is not trusted")
        ->check(PAIRS);
    app.add_option("--reference", o.referenceFile,
                   "compare with the structure the level shipped with (a .map.json file): "
                   "playable points in solid space, sight-line misses, visible fractions");
    app.add_option("--reference-points", o.referencePoints,
                   "points drawn in the reference's playable space (default 300)")
        ->check(PAIRS);
    app.add_option("--seed", o.seed, "seed of the checks' random points (default 1)");
}

}  // namespace

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

std::optional<int> ParseBspcOptions(int argc, char** argv, BspcOptions& options) {
    CLI::App app{"bspc: compile a level into a BSP tree, portals and potentially visible sets"};
    std::vector<std::string> inside;
    AddOutputOptions(app, options);
    AddCompileOptions(app, options, inside);
    AddCheckOptions(app, options);
    try {
        app.parse(argc, argv);
        // A seed with nothing to draw points for is a mistake worth saying.
        if (app.count("--seed") > 0 && options.verifyPairs == 0 && options.verifyMeshPairs == 0 &&
            options.referenceFile.empty()) {
            throw CLI::ValidationError("--seed", "needs --verify, --verify-mesh or --reference");
        }
    } catch (const CLI::ParseError& e) {
        const int code = app.exit(e);
        return code == 0 ? EXIT_OK : EXIT_USAGE;
    }
    for (const std::string& text : inside) {
        options.inside.push_back(*ParsePoint(text));
    }
    return std::nullopt;
}

}  // namespace bsppvs
