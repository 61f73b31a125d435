#pragma once

// What bspc prints: the count lines the viewer prints too, the sets' summary, the checks'
// results and progress, on standard output unless the JSON goes there.

#include <cstdint>
#include <ostream>
#include <string>

#include "compile/bsp_compiler.h"
#include "level/level_mesh.h"
#include "options.h"
#include "verify/reference_map.h"
#include "verify/sight_line_check.h"

namespace bsppvs {

class PlyModel;

// Standard output, unless the JSON goes there, so that the JSON stays parseable when piped.
std::ostream& Report(const BspcOptions& options);
// "label value", unless quiet.
void PrintLine(const BspcOptions& options, const std::string& label, int64_t value);

// The native file's section counts, or the mesh's when it is not a native file.
void PrintModelInfo(const PlyModel& model);
void PrintMeshInfo(const LevelMesh& mesh);

void PrintPvsSummary(const BspcOptions& options, const BspCompiler& compiler);
void PrintVerify(const BspcOptions& options, const char* label, const VerifyResult& result);
void PrintReference(const BspcOptions& options, const ReferenceComparison& result);
// The leak warning, naming the level's polygon nearest the hole.
void PrintLeak(const Leak& leak, const LevelMesh& level, const std::string& levelName);

// Redraws one progress line on standard error; empty when progress is not shown.
VisibilityProgressFn MakeProgress(const BspcOptions& options);

// Wall time of each stage, printed on request to standard error.
class StageClock {
public:
    explicit StageClock(bool enabled) : enabled_(enabled) {}

    template <typename Fn>
    void Run(const char* stage, Fn&& fn);
    void PrintTotal() const;

private:
    void Print(const char* stage, double seconds) const;

    bool enabled_;
    double total_ = 0.0;
};

}  // namespace bsppvs

#include "core/stopwatch.h"

template <typename Fn>
void bsppvs::StageClock::Run(const char* stage, Fn&& fn) {
    const Stopwatch watch;
    fn();
    const double seconds = watch.Seconds();
    total_ += seconds;
    Print(stage, seconds);
}
