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
#include "core/deep_stack.h"
#include "bsp/model_check.h"
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

void Require(bool holds, const char* what, size_t index = SIZE_MAX) {
    if (holds) {
        return;
    }
    if (index == SIZE_MAX) {
        std::fprintf(stderr, "pipeline invariant broken: %s\n", what);
    } else {
        std::fprintf(stderr, "pipeline invariant broken: %s (at %zu)\n", what, index);
    }
    std::abort();
}

bool InRange(int32_t index, size_t count) {
    return index >= 0 && static_cast<size_t>(index) < count;
}

// The tree consumed the imported list, its children follow their parents, and the leaves'
// polygon ranges tile polys in leaf order.
void CheckTree(const BspCompiler& c) {
    Require(c.buildPolys.empty(), "the tree left imported polygons unconsumed");
    const size_t leafCount = c.leaves.size();
    const size_t nodeCount = c.nodes.size();
    for (size_t k = 0; k < nodeCount; ++k) {
        const BspNode& node = c.nodes[k];
        Require(IsFinite(node.plane) && IsFinite(node.bounds), "node plane or box not finite", k);
        if (node.frontIsLeaf != 0) {
            Require(InRange(node.front, leafCount), "node front leaf out of range", k);
        } else {
            Require(InRange(node.front, nodeCount) && static_cast<size_t>(node.front) > k,
                    "node front child not after its parent", k);
        }
        Require(node.back == -1 ||
                    (InRange(node.back, nodeCount) && static_cast<size_t>(node.back) > k),
                "node back child not after its parent", k);
    }
    int32_t next = 0;
    for (size_t i = 0; i < leafCount; ++i) {
        const BspLeaf& leaf = c.leaves[i];
        Require(leaf.firstPoly == next && leaf.endPoly >= leaf.firstPoly,
                "leaf polygon range does not follow the previous one", i);
        next = leaf.endPoly;
        Require(IsFinite(leaf.bounds), "leaf box not finite", i);
        const int32_t located = c.LocateLeaf(leaf.bounds.center, 0);
        Require(located == -1 || InRange(located, leafCount),
                "point location answered neither a leaf nor solid space", i);
    }
    Require(static_cast<size_t>(next) == c.polys.size(), "leaf ranges do not cover polys");
    for (size_t p = 0; p < c.polys.size(); ++p) {
        Require(c.polys[p].points.size() >= 3, "leaf polygon with fewer than three corners", p);
        Require(IsFinite(c.polys[p]), "leaf polygon not finite", p);
    }
}

// Every stored portal joins two different, existing leaves, no pair twice.
void CheckPortals(const BspCompiler& c) {
    const size_t leafCount = c.leaves.size();
    std::unordered_set<uint64_t> pairs;
    for (size_t k = 0; k < c.portals.size(); ++k) {
        const Portal& portal = c.portals[k];
        Require(portal.leafIndices.size() == 2, "portal without exactly two leaves", k);
        const int32_t a = portal.leafIndices[0];
        const int32_t b = portal.leafIndices[1];
        Require(InRange(a, leafCount) && InRange(b, leafCount), "portal leaf out of range", k);
        Require(a != b, "portal joins a leaf to itself", k);
        const auto lo = static_cast<uint64_t>(std::min(a, b));
        const auto hi = static_cast<uint64_t>(std::max(a, b));
        Require(pairs.insert(lo << 32 | hi).second, "two portals join the same leaves", k);
        Require(IsFinite(portal), "portal not finite", k);
    }
}

// Gates 2k and 2k+1 look both ways through portal k (or lead nowhere), every leaf's set has
// one 0-or-1 byte per leaf, holds each leaf a gate of it leads into, and nothing is seen
// through a gate that its flood did not reach.
void CheckVisibility(const BspCompiler& c) {
    const size_t leafCount = c.leaves.size();
    Require(c.gates.size() == 2 * c.portals.size(), "not two gates per portal");
    for (size_t g = 0; g < c.gates.size(); ++g) {
        const Gate& gate = c.gates[g];
        const Portal& portal = c.portals[g / 2];
        const Gate& twin = c.gates[g ^ 1];
        if (gate.targetLeaf == -1) {
            Require(gate.sourceLeaf == -1, "gate from a leaf leads nowhere", g);
        } else {
            const int32_t a = portal.leafIndices[0];
            const int32_t b = portal.leafIndices[1];
            Require((gate.sourceLeaf == a && gate.targetLeaf == b) ||
                        (gate.sourceLeaf == b && gate.targetLeaf == a),
                    "gate does not join its portal's leaves", g);
            Require(twin.sourceLeaf == gate.targetLeaf && twin.targetLeaf == gate.sourceLeaf,
                    "gate and its twin do not look opposite ways", g);
        }
        Require(gate.mightSee.size() == leafCount && gate.sees.size() == leafCount,
                "gate sets not one byte per leaf", g);
        for (size_t j = 0; j < leafCount; ++j) {
            Require(gate.mightSee[j] <= 1, "gate flood byte neither 0 nor 1", g);
            Require(gate.sees[j] <= gate.mightSee[j], "gate sees a leaf its flood did not reach",
                    g);
        }
        Require(IsFinite(gate.polygon), "gate polygon not finite", g);
    }
    for (size_t i = 0; i < leafCount; ++i) {
        const BspLeaf& leaf = c.leaves[i];
        Require(leaf.pvs.size() == leafCount, "leaf set not one byte per leaf", i);
        for (const uint8_t byte : leaf.pvs) {
            Require(byte <= 1, "leaf set byte neither 0 nor 1", i);
        }
        for (const int32_t g : leaf.gateIndices) {
            Require(InRange(g, c.gates.size()) && c.gates[g].sourceLeaf == static_cast<int32_t>(i),
                    "leaf lists a gate that does not start in it", i);
            Require(leaf.pvs[c.gates[g].targetLeaf] == 1,
                    "leaf does not see the leaf beyond one of its gates", i);
        }
    }
}

void Compile(const PlyModel& model) {
    // One thread, the default: the output is the same for every thread count, and one thread
    // keeps each input's run, its coverage and any sanitizer report repeatable.
    BspCompiler compiler;
    compiler.ImportPolys(model);
    compiler.BuildTree();
    CheckTree(compiler);
    if (compiler.nodes.size() > MAX_NODES) {
        return;
    }
    compiler.BuildPortals();
    CheckPortals(compiler);
    if (compiler.leaves.size() > MAX_LEAVES || compiler.portals.size() > MAX_PORTALS) {
        return;
    }
    compiler.ComputePvs();
    CheckVisibility(compiler);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string reason;
    const std::unique_ptr<PlyModel> model = LoadModelFromBytes({data, size}, reason);
    if (!model || model->faces.size() > MAX_FACES) {
        return 0;
    }
    if (const std::optional<std::string> problem = CheckModelGeometry(*model)) {
        Require(!problem->empty() && problem->find('\n') == std::string::npos,
                "geometry check refused without a one-line reason");
        return 0;
    }
    // Portal clipping recurses as deep as the tree and the visibility pass as long as its
    // chains of gates, so the stages run on the deep stack the programs give them.
    RunOnDeepStack([&] { Compile(*model); });
    return 0;
}
