// The faster searches, the worker threads and the processes sharing the visibility pass must
// not change a single byte of the result: every level below is compiled the plain way
// (quadratic splitter search, portal merge by scanning, flood by full classification, one
// thread) and the fast way with 1, 2 and 4 threads and with 2 and 3 processes of one or
// more threads each (played by threads that pass each other the final sets), and the JSON
// dumps, which hold every node, leaf, set, portal and polygon with exact floats, must be
// identical.

#include <gtest/gtest.h>

#include <deque>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "../support/pvs_levels.h"
#include "../support/reference_compile.h"
#include "../support/sanitized.h"
#include "compile/bsp_compiler.h"
#include "compile/compile_json.h"
#include "formats/native_mesh.h"
#include "maze/maze.h"
#include "maze/maze_model.h"
#include "pvs/gate_exchange.h"

namespace bsppvs {
namespace {

// The processes of a job, played by threads: each published set is copied into every other
// process's inbox.
class LoopbackJob {
public:
    explicit LoopbackJob(int32_t processes) : inboxes_(static_cast<size_t>(processes)) {
        for (int32_t rank = 0; rank < processes; ++rank) {
            exchanges_.emplace_back(*this, rank);
        }
    }
    GateExchange& Process(int32_t rank) { return exchanges_[static_cast<size_t>(rank)]; }

private:
    struct Message {
        int32_t position;
        LeafRange range;
        std::vector<uint64_t> words;
    };
    class Exchange : public GateExchange {
    public:
        Exchange(LoopbackJob& job, int32_t rank) : job_(job), rank_(rank) {}
        int32_t Rank() const override { return rank_; }
        int32_t Processes() const override { return static_cast<int32_t>(job_.inboxes_.size()); }
        void Publish(const Set& set) override {
            const std::lock_guard<std::mutex> lock(job_.mutex_);
            for (size_t peer = 0; peer < job_.inboxes_.size(); ++peer) {
                if (static_cast<int32_t>(peer) != rank_) {
                    job_.inboxes_[peer].push_back(
                        {set.position,
                         set.range,
                         {set.words, set.words + WordsOf(set.range).Size()}});
                }
            }
        }
        void Poll(const Deliver& deliver) override {
            std::deque<Message> arrived;
            {
                const std::lock_guard<std::mutex> lock(job_.mutex_);
                arrived.swap(job_.inboxes_[static_cast<size_t>(rank_)]);
            }
            for (const Message& m : arrived) {
                deliver({m.position, m.range, m.words.data()});
            }
        }
        void Finish() override {}

    private:
        LoopbackJob& job_;
        int32_t rank_;
    };

    std::mutex mutex_;
    std::vector<std::deque<Message>> inboxes_;
    std::deque<Exchange> exchanges_;
};

std::string CompileToJson(const PlyModel& model, bool literal, int32_t threads,
                          GateExchange* peers = nullptr) {
    BspCompiler compiler;
    compiler.threads = threads;
    compiler.peers = peers;
    if (literal) {
        reference::Compile(compiler, model);
    } else {
        compiler.Compile(LevelMeshFromModel(model));
    }
    std::ostringstream out;
    WriteCompilerJson(compiler, out);
    return out.str();
}

TEST(ExactnessTest, FastSearchesAndThreadsGiveTheSameBytes) {
    struct Case {
        MazeOptions maze;
        levels::Shape shape;
    };
    const Case cases[] = {
        {{6, 6, 1, 0.0, 0}, levels::Shape::GRID},     // perfect maze
        {{10, 7, 2, 0.3, 2}, levels::Shape::GRID},    // loops and halls, not square
        {{12, 12, 3, 0.6, 20}, levels::Shape::GRID},  // open: long sight lines, large floods
        {{16, 16, 4, 0.1, 3}, levels::Shape::GRID},
        {{3, 3, 6, 0.6, 2}, levels::Shape::JITTERED},  // slanted walls: clipped chains
    };
    for (const Case& c : cases) {
        const MazeOptions& options = c.maze;
        if (levels::SANITIZED && options.width > 12) {
            continue;  // the smaller mazes take the same paths
        }
        const auto model = BuildMazeModel(GenerateMaze(options), MazeLayout{});
        levels::Reshape(*model, c.shape, options.seed);
        const std::string plain = CompileToJson(*model, true, 1);
        const auto where = [&] {
            std::ostringstream text;
            text << options.width << "x" << options.depth << " seed " << options.seed << " loops "
                 << options.loops << " rooms " << options.rooms;
            return text.str();
        };
        for (const int32_t threads : {1, 2, 4}) {
            EXPECT_EQ(CompileToJson(*model, false, threads), plain)
                << where() << " threads " << threads;
        }
        // Threads per process: processes may run different counts (machines differ).
        const std::vector<std::vector<int32_t>> jobs = {{1, 1}, {1, 1, 1}, {2, 2}, {2, 1, 3}};
        for (const std::vector<int32_t>& threads : jobs) {
            const auto processes = static_cast<int32_t>(threads.size());
            LoopbackJob job(processes);
            std::vector<std::string> outputs(threads.size());
            std::vector<std::thread> ranks;
            for (int32_t rank = 0; rank < processes; ++rank) {
                ranks.emplace_back([&, rank] {
                    outputs[static_cast<size_t>(rank)] = CompileToJson(
                        *model, false, threads[static_cast<size_t>(rank)], &job.Process(rank));
                });
            }
            for (std::thread& rank : ranks) {
                rank.join();
            }
            for (int32_t rank = 0; rank < processes; ++rank) {
                EXPECT_EQ(outputs[static_cast<size_t>(rank)], plain)
                    << where() << " process " << rank << " of " << processes << ", "
                    << threads[static_cast<size_t>(rank)] << " threads";
            }
        }
    }
}

}  // namespace
}  // namespace bsppvs
