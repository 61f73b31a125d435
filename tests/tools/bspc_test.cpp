// bspc end to end: what it prints for a level, checked against the same level compiled in
// process, its JSON output, point location, the sight-line check, and its exit statuses.

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "../support/pvs_levels.h"
#include "maze/maze.h"
#include "maze/maze_model.h"
#include "model/model_writer.h"
#include "verify/sight_line_check.h"
#include "verify/wall_index.h"

namespace bsppvs {
namespace {

namespace fs = std::filesystem;

struct BspcOutput {
    int status = -1;
    std::string out;
    std::string err;
};

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

// A maze level written to a scratch directory, and the same level compiled in process.
class BspcRun : public ::testing::Test {
protected:
    static constexpr MazeOptions MAZE = {6, 5, 4, 0.3, 1};

    static void SetUpTestSuite() {
        std::string pattern = (fs::temp_directory_path() / "bspc_test_XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = new fs::path(pattern);
        const auto model = BuildMazeModel(GenerateMaze(MAZE), MazeLayout{});
        std::string reason;
        ASSERT_TRUE(SaveModel(*model, PathOf("maze.ply"), reason)) << reason;
        level_ = new levels::CompiledLevel(levels::CompileWithPvs(*model));
    }
    static void TearDownTestSuite() {
        fs::remove_all(*dir_);
        delete dir_;
        delete level_;
    }

    static std::string PathOf(const std::string& name) { return (*dir_ / name).string(); }
    static std::string Quoted(const std::string& text) { return "\"" + text + "\""; }
    static std::string Model() { return Quoted(PathOf("maze.ply")); }
    static const BspCompiler& Compiled() { return *level_->compiler; }

    static std::string Contents(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    // Runs bspc with the arguments, standard output and error caught in files.
    static BspcOutput Bspc(const std::string& arguments) {
        const std::string out = PathOf("out.txt");
        const std::string err = PathOf("err.txt");
        const std::string command = Quoted(BSPC_PATH) + " " + arguments + " >" + Quoted(out) +
                                    " 2>" + Quoted(err) + " </dev/null";
        const int status = std::system(command.c_str());
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, Contents(out), Contents(err)};
    }

    static int64_t TriangleCount(const BspCompiler& compiler) {
        int64_t count = 0;
        for (const Poly& poly : compiler.polys) {
            count += static_cast<int64_t>(poly.triangleIndices.size() / 3);
        }
        return count;
    }

    static inline fs::path* dir_ = nullptr;
    static inline levels::CompiledLevel* level_ = nullptr;
};

TEST_F(BspcRun, PrintsTheFiveCountLinesFirstInOrder) {
    const BspcOutput run = Bspc(Model());
    ASSERT_EQ(run.status, 0) << run.err;
    // Standard error holds only the memory note (checked below).
    EXPECT_EQ(Lines(run.err).size(), 1u) << run.err;
    const std::vector<std::string> lines = Lines(run.out);
    ASSERT_GE(lines.size(), 5u);
    const BspCompiler& c = Compiled();
    EXPECT_EQ(lines[0], "poly count " + std::to_string(c.polys.size()));
    EXPECT_EQ(lines[1], "node count " + std::to_string(c.nodes.size()));
    EXPECT_EQ(lines[2], "leaf count " + std::to_string(c.leaves.size()));
    EXPECT_EQ(lines[3], "portal count " + std::to_string(c.portals.size()));
    EXPECT_EQ(lines[4], "TriCount " + std::to_string(TriangleCount(c)));
}

TEST_F(BspcRun, JsonHoldsTheCountsAndTheSets) {
    const BspcOutput run = Bspc(Model() + " --json " + Quoted(PathOf("maze.json")));
    ASSERT_EQ(run.status, 0) << run.err;
    const nlohmann::json json = nlohmann::json::parse(Contents(PathOf("maze.json")));
    const std::vector<std::string> lines = Lines(run.out);
    ASSERT_GE(lines.size(), 5u);
    const std::pair<const char*, const char*> countOfLine[] = {
        {"polys", "poly count "},     {"nodes", "node count "},   {"leaves", "leaf count "},
        {"portals", "portal count "}, {"triangles", "TriCount "},
    };
    for (size_t k = 0; k < std::size(countOfLine); ++k) {
        const auto& [key, label] = countOfLine[k];
        EXPECT_EQ(lines[k], label + std::to_string(json["counts"][key].get<int64_t>())) << key;
    }
    const BspCompiler& c = Compiled();
    ASSERT_EQ(json["leaves"].size(), c.leaves.size());
    EXPECT_EQ(json["nodes"].size(), c.nodes.size());
    EXPECT_EQ(json["portals"].size(), c.portals.size());
    EXPECT_EQ(json["polys"].size(), c.polys.size());
    for (size_t i = 0; i < c.leaves.size(); ++i) {
        std::vector<int64_t> listed;
        for (size_t j = 0; j < c.leaves[i].pvs.size(); ++j) {
            if (c.leaves[i].pvs[j] != 0) {
                listed.push_back(static_cast<int64_t>(j));
            }
        }
        EXPECT_EQ(json["leaves"][i]["pvs"].get<std::vector<int64_t>>(), listed) << "leaf " << i;
    }
}

TEST_F(BspcRun, JsonOnStandardOutputRepeatsByteForByte) {
    const BspcOutput first = Bspc(Model() + " -q --json -");
    const BspcOutput second = Bspc(Model() + " -q --json -");
    ASSERT_EQ(first.status, 0) << first.err;
    ASSERT_EQ(second.status, 0) << second.err;
    EXPECT_FALSE(first.out.empty());
    EXPECT_TRUE(first.out == second.out);
    EXPECT_TRUE(nlohmann::json::parse(first.out).is_object());
}

TEST_F(BspcRun, LocatePrintsTheLeafOfEachPoint) {
    const std::vector<std::string> points = {"0,50,0", "100,50,100", "-20.5,1,30", "5000,50,5000"};
    std::string arguments = Model() + " -q";
    for (const std::string& p : points) {
        arguments += " --locate " + p;
    }
    const BspcOutput run = Bspc(arguments);
    ASSERT_EQ(run.status, 0) << run.err;
    const std::vector<Vector3> world = {
        {0, 50, 0}, {100, 50, 100}, {-20.5f, 1, 30}, {5000, 50, 5000}};
    std::vector<std::string> expected;
    for (size_t k = 0; k < points.size(); ++k) {
        expected.push_back("locate " + points[k] + " -> " +
                           std::to_string(Compiled().LocateLeaf(world[k], 0)));
    }
    EXPECT_EQ(Lines(run.out), expected);
    EXPECT_EQ(expected.back(), "locate 5000,50,5000 -> -1");
}

TEST_F(BspcRun, VerifyPrintsItsSummaryAndRepeats) {
    const BspcOutput run = Bspc(Model() + " -q --verify 3000 --seed 5");
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    const VerifyResult result = VerifyPvs(Compiled(), level_->walls, 3000, 5);
    ASSERT_TRUE(result.violations.empty());
    EXPECT_EQ(run.out, "verify pairs 3000 clear " + std::to_string(result.clearPairs) +
                           " violations 0 confirmed " + std::to_string(result.confirmedPairs) +
                           " of " + std::to_string(result.visiblePairs) + " visible pairs\n");
    EXPECT_EQ(Bspc(Model() + " -q --verify 3000 --seed 5").out, run.out);
    // The default seed is 1.
    EXPECT_EQ(Bspc(Model() + " -q --verify 500").out,
              Bspc(Model() + " -q --verify 500 --seed 1").out);
}

// A file that cannot be read gives status 1 and one line on standard error naming it.
TEST_F(BspcRun, UnreadableModelExitsOneWithOneLineNamingTheFile) {
    const std::string valid = Contents(PathOf("maze.ply"));
    std::ofstream(PathOf("truncated.ply"), std::ios::binary) << valid.substr(0, valid.size() / 2);
    std::ofstream(PathOf("garbage.ply"), std::ios::binary) << "not a model at all";
    for (const std::string name : {"missing.ply", "truncated.ply", "garbage.ply"}) {
        SCOPED_TRACE(name);
        const BspcOutput run = Bspc(Quoted(PathOf(name)) + " --verify 10");
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.out, "");
        const std::vector<std::string> lines = Lines(run.err);
        ASSERT_EQ(lines.size(), 1u) << run.err;
        EXPECT_NE(lines[0].find(PathOf(name)), std::string::npos) << lines[0];
    }
}

TEST_F(BspcRun, BadOptionsExitTwo) {
    const std::string cases[] = {
        "",
        Model() + " --no-such-option",
        Model() + " --locate 1,2",
        Model() + " --locate a,b,c",
        Model() + " --verify 0",
        Model() + " --verify many",
        Model() + " --seed 3",
        Model() + " " + Model(),
        Model() + " --max-seconds 0",
        Model() + " --max-seconds -1",
        Model() + " --max-seconds nan",
        Model() + " --max-seconds soon",
    };
    for (const std::string& arguments : cases) {
        const BspcOutput run = Bspc(arguments);
        EXPECT_EQ(run.status, 2) << arguments;
        EXPECT_EQ(run.out, "") << arguments;
        EXPECT_NE(run.err, "") << arguments;
    }
}

// A run stopped by its time limit exits 4 with a message and leaves the JSON target as it
// was, with no temporary file beside it; a run within its limit writes the target whole.
TEST_F(BspcRun, TimeLimitStopsTheRunLeavingNoPartialFile) {
    const auto big = BuildMazeModel(GenerateMaze({48, 48, 1, 0.6, 20}), MazeLayout{});
    std::string reason;
    ASSERT_TRUE(SaveModel(*big, PathOf("big.ply"), reason)) << reason;
    const std::string json = PathOf("limited.json");
    { std::ofstream(json, std::ios::binary) << "earlier"; }
    const auto filesHere = [] {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(*dir_)) {
            // Leaving out the files that catch the runs' output.
            const std::string name = entry.path().filename().string();
            if (name != "out.txt" && name != "err.txt") {
                names.push_back(name);
            }
        }
        std::sort(names.begin(), names.end());
        return names;
    };
    const std::vector<std::string> before = filesHere();

    const BspcOutput stopped =
        Bspc(Quoted(PathOf("big.ply")) + " --max-seconds 0.001 --json " + Quoted(json));
    EXPECT_EQ(stopped.status, 4) << stopped.err;
    EXPECT_NE(stopped.err.find("stopped after"), std::string::npos) << stopped.err;
    EXPECT_EQ(Contents(json), "earlier");
    EXPECT_EQ(filesHere(), before);

    const BspcOutput finished = Bspc(Model() + " --max-seconds 600 --json " + Quoted(json));
    EXPECT_EQ(finished.status, 0) << finished.err;
    EXPECT_EQ(nlohmann::json::parse(Contents(json))["counts"]["leaves"], Compiled().leaves.size());
    EXPECT_EQ(filesHere(), before);
    fs::remove(PathOf("big.ply"));
    fs::remove(json);
}

// The memory the visibility pass will take is said on standard error before it starts.
TEST_F(BspcRun, StatesTheVisibilityMemoryUnlessQuiet) {
    const std::vector<std::string> lines = Lines(Bspc(Model()).err);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind("memory sets ", 0), 0u) << lines[0];
    EXPECT_NE(lines[0].find(" MiB gates "), std::string::npos) << lines[0];
    EXPECT_EQ(Bspc(Model() + " --quiet").err, "");
}

}  // namespace
}  // namespace bsppvs
