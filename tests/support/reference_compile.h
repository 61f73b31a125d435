#pragma once

// The compiler's searches written out as plainly as they are described, for holding the
// fast ones against: the splitter search classifying every pair, the portal stage pushing
// every square through the whole tree and merging by scanning every stored portal, and the
// flood classifying every pair of gates it meets. They share
// only the stages' own steps with the production code.

#include <cstdint>
#include <list>
#include <vector>

#include "bsp/classify.h"
#include "bsp/tree_builder.h"
#include "compile/bsp_compiler.h"
#include "formats/native_mesh.h"
#include "portals/portal_builder.h"
#include "pvs/gate.h"
#include "pvs/set_layout.h"

namespace bsppvs::reference {

// Every candidate's counts by classifying every other element against its plane.
inline std::vector<SideCounts> CountCandidateSides(BuildPolyList& list, int32_t /*threads*/) {
    std::vector<SideCounts> result;
    for (auto candidate = list.begin(); candidate != list.end(); ++candidate) {
        if (candidate->usedAsSplitter != 0) {
            continue;
        }
        const Plane plane = candidate->GetPlane();
        SideCounts counts;
        for (auto other = list.begin(); other != list.end(); ++other) {
            if (other != candidate) {
                counts.Count(ClassifyPoly(plane, *other), 1);
            }
        }
        result.push_back(counts);
    }
    return result;
}

// The plain search when literal, else the one the compiler uses.
inline CandidateCounter Counter(bool literal) {
    if (literal) {
        return CountCandidateSides;
    }
    return bsppvs::CountCandidateSides;
}

// The tree of the compiler's buildPolys, found with the plain splitter search.
inline void BuildTree(BspCompiler& compiler) {
    TreeBuilder(compiler, 1, CountCandidateSides).BuildTree(compiler.buildPolys);
}

// The compiler's portals: every node's square pushed down the whole tree, whatever the
// leaves its pieces hold, and merged by scanning the stored portals for each piece.
inline void BuildPortals(BspCompiler& compiler) {
    PortalBuilder builder(compiler, compiler.portals);
    std::vector<Portal>& portals = compiler.portals;
    for (const BspNode& node : compiler.nodes) {
        Portal square = builder.MakeNodePortal(node);
        std::list<Portal> pieces;
        builder.ClipPortal(square, pieces, 0);
        for (const Portal& piece : pieces) {
            if (piece.leafIndices.size() != 2) {
                continue;
            }
            const int32_t p = piece.leafIndices[0];
            const int32_t q = piece.leafIndices[1];
            size_t i = 0;
            while (i < portals.size() &&
                   !((portals[i].leafIndices[0] == p && portals[i].leafIndices[1] == q) ||
                     (portals[i].leafIndices[0] == q && portals[i].leafIndices[1] == p))) {
                ++i;
            }
            if (i == portals.size()) {
                portals.push_back(piece);
            } else if (PortalSize(piece) > PortalSize(portals[i])) {
                portals[i] = piece;
            }
        }
    }
}

// Every gate's mightSee as the flood is described: the gates that may follow gate i are
// marked in one byte per gate, then the leaves are flooded recursively from its target.
inline std::vector<std::vector<uint8_t>> FloodMightSee(const BspCompiler& compiler) {
    std::vector<Gate> gates = compiler.gates;  // copies, so their plane caches may fill
    const size_t leafCount = compiler.leaves.size();
    std::vector<std::vector<uint8_t>> mightSee(gates.size(), std::vector<uint8_t>(leafCount, 0));
    for (size_t i = 0; i < gates.size(); ++i) {
        if (gates[i].targetLeaf == -1) {
            continue;
        }
        std::vector<uint8_t> frontGates(gates.size(), 0);
        for (size_t j = 0; j < gates.size(); ++j) {
            if (j == i || gates[j].targetLeaf == -1) {
                continue;
            }
            const PolySide beyond = ClassifyPoly(gates[i].polygon.GetPlane(), gates[j].polygon);
            if (beyond != FRONT && beyond != SPANNING) {
                continue;
            }
            const PolySide behind = ClassifyPoly(gates[j].polygon.GetPlane(), gates[i].polygon);
            frontGates[j] = behind == BACK || behind == SPANNING ? 1 : 0;
        }
        std::vector<int32_t> pending = {gates[i].targetLeaf};
        while (!pending.empty()) {
            const int32_t leaf = pending.back();
            pending.pop_back();
            if (mightSee[i][leaf] != 0) {
                continue;
            }
            mightSee[i][leaf] = 1;
            for (const int32_t g : compiler.leaves[leaf].gateIndices) {
                if (frontGates[g] != 0) {
                    pending.push_back(gates[g].targetLeaf);
                }
            }
        }
    }
    return mightSee;
}

// Stores a flood's sets in the compiler's gates, with their counts and ranges, as the
// compiler's own flood leaves them.
inline void StoreFlood(BspCompiler& compiler, const std::vector<std::vector<uint8_t>>& mightSee) {
    const size_t leafCount = compiler.leaves.size();
    for (size_t i = 0; i < compiler.gates.size(); ++i) {
        Gate& gate = compiler.gates[i];
        gate.mightSeeCount = 0;
        gate.mightSeeRange = {};
        std::vector<uint64_t> bits(WordsFor(leafCount), 0);
        for (size_t leaf = 0; leaf < leafCount; ++leaf) {
            if (mightSee[i][leaf] != 0) {
                const auto x = static_cast<int32_t>(leaf);
                bits[WordOf(x)] |= BitOf(x);
                ++gate.mightSeeCount;
                gate.mightSeeRange.Add(x);
            }
        }
        gate.mightSee = StoreSet(bits.data(), gate.mightSeeRange, leafCount, compiler.gateSets);
    }
}

// The whole pipeline with the plain searches: splitter search, portal merge and flood.
inline void Compile(BspCompiler& compiler, const PlyModel& model) {
    compiler.ImportPolys(LevelMeshFromModel(model));
    BuildTree(compiler);
    BuildPortals(compiler);
    compiler.BuildGates();
    StoreFlood(compiler, FloodMightSee(compiler));
    compiler.CalcVisibility();
    compiler.CompilePvsArray();
}

}  // namespace bsppvs::reference
