#pragma once

// bspc's command line: what to compile, how, and what to print or write.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "geometry/vector3.h"

namespace bsppvs {

struct BspcOptions {
    std::string level;
    std::string jsonFile;             // "-" for standard output; empty for none
    std::vector<std::string> locate;  // points X,Y,Z, checked when parsed
    bool info = false;
    bool time = false;
    bool quiet = false;
    bool progress = false;
    int32_t threads = 0;  // 0: one per core
    int32_t clipSteps = 4;
    bool floodOnly = false;
    float clusterSize = -1.0f;  // -1: by the level's format
    int64_t maxChains = -1;     // -1: by the level's format; 0: no limit
    std::string reachCull;      // "on" or "off"; empty: by the level's format
    std::string blockCovered;   // "on" or "off"; empty: by the level's format
    std::string mutualSets;     // "on" or "off"; empty: by the level's format
    std::string up = "y";
    float scale = 1.0f;
    std::string solid;          // "rule" or "winding"; empty: by the level's format
    std::string merge;          // "on" or "off"; empty: by the level's format
    float detailWidth = -1.0f;  // -1: by the level's format
    std::string detail;         // "on" or "off"; empty: by the level's format
    std::vector<Vector3> inside;
    std::string leakFile;
    int64_t verifyPairs = 0;      // 0: no check
    int64_t verifyMeshPairs = 0;  // 0: no check
    uint64_t seed = 1;
    std::string referenceFile;
    int64_t referencePoints = 300;
    double maxSeconds = 0.0;  // 0: no time limit
};

// Parses the command line. On success returns nothing; on --help or a usage error returns
// the exit status, having printed what to.
std::optional<int> ParseBspcOptions(int argc, char** argv, BspcOptions& options);

// "X,Y,Z" as a point.
std::optional<Vector3> ParsePoint(const std::string& text);

}  // namespace bsppvs
