#include "report.h"

#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "model/ply_model.h"
#include "pvs/pvs_stats.h"

namespace bsppvs {

namespace {

// Seconds as minutes and seconds, 1:05.
std::string MinutesAndSeconds(double seconds) {
    const auto whole = static_cast<long long>(seconds);
    char text[32];
    std::snprintf(text, sizeof text, "%lld:%02lld", whole / 60, whole % 60);
    return text;
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

std::string PointText(Vector3 p) {
    char text[96];
    std::snprintf(text, sizeof text, "(%.9g,%.9g,%.9g)", p.x, p.y, p.z);
    return text;
}

}  // namespace

std::ostream& Report(const BspcOptions& options) {
    return options.jsonFile == "-" ? std::cerr : std::cout;
}

void PrintLine(const BspcOptions& options, const std::string& label, int64_t value) {
    if (!options.quiet) {
        Report(options) << label << value << std::endl;
    }
}

void PrintModelInfo(const PlyModel& model) {
    std::cout << "colour records " << model.colourRecords.size() << "\n"
              << "name records " << model.nameRecords.size() << "\n"
              << "positions " << model.positions.size() << "\n"
              << "secondary vectors " << model.secondaryVectors.size() << "\n"
              << "faces " << model.faces.size() << "\n"
              << "nodes " << CountNodes(model) << "\n"
              << "node names " << model.nodeNames.size() << std::endl;
}

void PrintMeshInfo(const LevelMesh& mesh) {
    std::cout << "positions " << mesh.positions.size() << "\n"
              << "polygons " << mesh.polygons.size() << "\n"
              << "groups " << mesh.groups.size() << "\n"
              << "materials " << mesh.materials.size() << "\n"
              << "marked points " << mesh.points.size() << std::endl;
}

void PrintPvsSummary(const BspcOptions& options, const BspCompiler& compiler) {
    if (options.quiet) {
        return;
    }
    const PvsStats stats = ComputePvsStats(compiler, compiler.gateSets);
    char line[128];
    std::snprintf(line, sizeof line,
                  "pvs average %.2f largest %lld\npvs bytes %.0f gate bytes %.0f", stats.average,
                  (long long)stats.largest, stats.setBytes, stats.gateBytes);
    Report(options) << line << std::endl;
}

void PrintVerify(const BspcOptions& options, const char* label, const VerifyResult& result) {
    std::ostream& out = Report(options);
    out << label << " pairs " << result.pairs << " clear " << result.clearPairs << " violations "
        << result.violations.size() << " confirmed " << result.confirmedPairs << " of "
        << result.visiblePairs << " visible pairs\n";
    for (const VerifyViolation& v : result.violations) {
        out << "violation leaves " << v.leafA << " " << v.leafB << " points " << PointText(v.pointA)
            << " " << PointText(v.pointB) << " sees " << int(v.aSeesB) << " " << int(v.bSeesA)
            << "\n";
    }
    out.flush();
}

void PrintReference(const BspcOptions& options, const ReferenceComparison& r) {
    const auto fraction = [&](int64_t count) {
        return r.pairs == 0 ? 0.0 : double(count) / double(r.pairs);
    };
    char line[256];
    std::snprintf(line, sizeof line,
                  "reference points %lld in-solid %lld pairs %lld clear %lld misses %lld "
                  "visible ours %.4f shipped %.4f clear %.4f",
                  (long long)r.points, (long long)r.pointsInSolid, (long long)r.pairs,
                  (long long)r.clearPairs, (long long)r.misses, fraction(r.oursVisible),
                  fraction(r.shippedVisible), fraction(r.clearPairs));
    std::ostream& out = Report(options);
    out << line << "\n";
    for (const Vector3& p : r.solidPoints) {
        out << "reference point in solid " << PointText(p) << "\n";
    }
    for (const VerifyViolation& v : r.missed) {
        out << "reference miss leaves " << v.leafA << " " << v.leafB << " points "
            << PointText(v.pointA) << " " << PointText(v.pointB) << " sees " << int(v.aSeesB) << " "
            << int(v.bSeesA) << "\n";
    }
    out.flush();
}

void PrintLeak(const Leak& leak, const LevelMesh& level, const std::string& levelName) {
    std::cerr << "bspc: warning: \"" << levelName << "\" leaks: the point "
              << PointText(leak.insidePoint) << " is reachable from outside the level";
    const int32_t nearest = NearestPolygon(level, leak.breach);
    if (nearest >= 0) {
        std::cerr << "; the hole is near polygon " << nearest;
        const std::string& group = level.GroupName(static_cast<size_t>(nearest));
        if (!group.empty()) {
            std::cerr << " (" << group << ")";
        }
        std::cerr << " at " << PointText(leak.breach);
    }
    std::cerr << std::endl;
}

VisibilityProgressFn MakeProgress(const BspcOptions& options) {
    const bool show = !options.quiet && (options.progress || isatty(STDERR_FILENO) != 0);
    if (!show) {
        return {};
    }
    return [last = int64_t{-1}, clock = Stopwatch()](const VisibilityTally& tally) mutable {
        const int64_t done = tally.committed;
        const int64_t total = tally.total;
        const int64_t percent = total > 0 ? 100 * done / total : 100;
        if (percent == last && done != total) {
            return;
        }
        last = percent;
        // The time so far, not a guess at the time left: gates differ in cost by orders of
        // magnitude, and on a real map the first half of them can take a fifth of the time.
        std::fprintf(stderr,
                     "\rvisibility %3lld%% (%lld of %lld gates committed, %lld run again), %s",
                     (long long)percent, (long long)done, (long long)total, (long long)tally.reruns,
                     MinutesAndSeconds(clock.Seconds()).c_str());
        if (done == total) {
            std::fputc('\n', stderr);
        }
    };
}

void StageClock::Print(const char* stage, double seconds) const {
    if (enabled_) {
        std::fprintf(stderr, "time %-10s %9.3f s\n", stage, seconds);
    }
}

void StageClock::PrintTotal() const {
    Print("total", total_);
}

}  // namespace bsppvs
