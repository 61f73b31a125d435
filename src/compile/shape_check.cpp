#include "compile/shape_check.h"

#include <algorithm>
#include <unordered_set>

namespace bsppvs {

namespace {

bool InRange(int32_t index, size_t count) {
    return index >= 0 && static_cast<size_t>(index) < count;
}

std::string Broken(const char* what, size_t index) {
    return std::string(what) + " (at " + std::to_string(index) + ")";
}

std::optional<std::string> CheckNodes(const BspCompiler& c) {
    const size_t leafCount = c.leaves.size();
    const size_t nodeCount = c.nodes.size();
    for (size_t k = 0; k < nodeCount; ++k) {
        const BspNode& node = c.nodes[k];
        if (!IsFinite(node.plane) || !IsFinite(node.bounds)) {
            return Broken("node plane or box not finite", k);
        }
        const bool frontOk = node.frontIsLeaf != 0
                                 ? InRange(node.front, leafCount)
                                 : InRange(node.front, nodeCount) && size_t(node.front) > k;
        if (!frontOk) {
            return Broken("node front child out of range or not after its parent", k);
        }
        if (node.back != -1 && !(InRange(node.back, nodeCount) && size_t(node.back) > k)) {
            return Broken("node back child out of range or not after its parent", k);
        }
    }
    return std::nullopt;
}

std::optional<std::string> CheckLeaves(const BspCompiler& c) {
    const size_t leafCount = c.leaves.size();
    int32_t next = 0;
    for (size_t i = 0; i < leafCount; ++i) {
        const BspLeaf& leaf = c.leaves[i];
        if (leaf.firstPoly != next || leaf.endPoly < leaf.firstPoly) {
            return Broken("leaf polygon range does not follow the previous one", i);
        }
        next = leaf.endPoly;
        if (!IsFinite(leaf.bounds)) {
            return Broken("leaf box not finite", i);
        }
        const int32_t located = c.LocateLeaf(leaf.bounds.center, 0);
        if (located != -1 && !InRange(located, leafCount)) {
            return Broken("point location answered neither a leaf nor solid space", i);
        }
    }
    if (static_cast<size_t>(next) != c.polys.size()) {
        return "leaf ranges do not cover polys";
    }
    for (size_t p = 0; p < c.polys.size(); ++p) {
        if (c.polys[p].points.size() < 3 || !IsFinite(c.polys[p])) {
            return Broken("leaf polygon with fewer than three corners or not finite", p);
        }
    }
    return std::nullopt;
}

std::optional<std::string> CheckGate(const BspCompiler& c, size_t g) {
    const Gate& gate = c.gates[g];
    const Portal& portal = c.portals[g / 2];
    const Gate& twin = c.gates[g ^ 1];
    const size_t leafCount = c.leaves.size();
    if (gate.targetLeaf == -1) {
        if (gate.sourceLeaf != -1) {
            return Broken("gate from a leaf leads nowhere", g);
        }
    } else {
        const int32_t a = portal.leafIndices[0];
        const int32_t b = portal.leafIndices[1];
        if (!((gate.sourceLeaf == a && gate.targetLeaf == b) ||
              (gate.sourceLeaf == b && gate.targetLeaf == a))) {
            return Broken("gate does not join its portal's leaves", g);
        }
        if (twin.sourceLeaf != gate.targetLeaf || twin.targetLeaf != gate.sourceLeaf) {
            return Broken("gate and its twin do not look opposite ways", g);
        }
    }
    const auto levelWords = static_cast<int32_t>(WordsFor(leafCount));
    for (const LeafBits* set : {&gate.mightSee, &gate.sees}) {
        if (set->size() != leafCount || set->Words().end > levelWords) {
            return Broken("gate set not over the level's leaves", g);
        }
    }
    if (!gate.sees.IsSubsetOf(gate.mightSee)) {
        return Broken("gate sees a leaf its flood did not reach", g);
    }
    if (!IsFinite(gate.polygon)) {
        return Broken("gate polygon not finite", g);
    }
    return std::nullopt;
}

std::optional<std::string> CheckLeafSets(const BspCompiler& c) {
    const size_t leafCount = c.leaves.size();
    for (size_t i = 0; i < leafCount; ++i) {
        const BspLeaf& leaf = c.leaves[i];
        if (leaf.pvs.size() != leafCount) {
            return Broken("leaf set not one byte per leaf", i);
        }
        if (std::any_of(leaf.pvs.begin(), leaf.pvs.end(), [](uint8_t b) { return b > 1; })) {
            return Broken("leaf set byte neither 0 nor 1", i);
        }
        for (const int32_t g : leaf.gateIndices) {
            if (!InRange(g, c.gates.size()) || c.gates[g].sourceLeaf != static_cast<int32_t>(i)) {
                return Broken("leaf lists a gate that does not start in it", i);
            }
            if (leaf.pvs[c.gates[g].targetLeaf] != 1) {
                return Broken("leaf does not see the leaf beyond one of its gates", i);
            }
        }
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::string> CheckTreeShape(const BspCompiler& compiler) {
    if (!compiler.buildPolys.empty()) {
        return "the tree left imported polygons unconsumed";
    }
    if (auto problem = CheckNodes(compiler)) {
        return problem;
    }
    return CheckLeaves(compiler);
}

std::optional<std::string> CheckPortalShape(const BspCompiler& compiler) {
    const size_t leafCount = compiler.leaves.size();
    std::unordered_set<uint64_t> pairs;
    for (size_t k = 0; k < compiler.portals.size(); ++k) {
        const Portal& portal = compiler.portals[k];
        if (portal.leafIndices.size() != 2) {
            return Broken("portal without exactly two leaves", k);
        }
        const int32_t a = portal.leafIndices[0];
        const int32_t b = portal.leafIndices[1];
        if (!InRange(a, leafCount) || !InRange(b, leafCount) || a == b) {
            return Broken("portal leaf out of range, or a portal from a leaf to itself", k);
        }
        const auto lo = static_cast<uint64_t>(std::min(a, b));
        const auto hi = static_cast<uint64_t>(std::max(a, b));
        if (!pairs.insert(lo << 32 | hi).second) {
            return Broken("two portals join the same leaves", k);
        }
        if (!IsFinite(portal)) {
            return Broken("portal not finite", k);
        }
    }
    return std::nullopt;
}

std::optional<std::string> CheckVisibilityShape(const BspCompiler& compiler) {
    if (compiler.gates.size() != 2 * compiler.portals.size()) {
        return "not two gates per portal";
    }
    for (size_t g = 0; g < compiler.gates.size(); ++g) {
        if (auto problem = CheckGate(compiler, g)) {
            return problem;
        }
    }
    return CheckLeafSets(compiler);
}

std::optional<std::string> CheckCompiledShape(const BspCompiler& compiler) {
    if (auto problem = CheckTreeShape(compiler)) {
        return problem;
    }
    if (auto problem = CheckPortalShape(compiler)) {
        return problem;
    }
    return CheckVisibilityShape(compiler);
}

}  // namespace bsppvs
