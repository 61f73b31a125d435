#pragma once

// The compiler holds every record the compile stages produce, by value in arrays, linked by
// 32-bit index with -1 for none. The stages run once each, in this order: ImportPolys,
// BuildTree, BuildPortals, ComputePvs; LocateLeaf may be called any time after BuildTree.
// The stages live in the libraries of their subsystems (bsp, portals, pvs); this header
// declares them all because they share the one object.

#include <cstdint>
#include <functional>
#include <list>
#include <unordered_map>
#include <vector>

#include "bsp/bsp_leaf.h"
#include "bsp/bsp_node.h"
#include "bsp/build_poly.h"
#include "bsp/classify.h"
#include "bsp/splitter_search.h"
#include "geometry/polygon.h"
#include "portals/portal.h"
#include "pvs/gate.h"

namespace bsppvs {

class PlyModel;

// Called by long stages with the work done and the work in all; may be empty.
using ProgressFn = std::function<void(int64_t done, int64_t total)>;

class BspCompiler {
public:
    // The imported polygons in import order; the tree construction consumes it.
    BuildPolyList buildPolys;
    // The polygons of all leaves, leaf after leaf.
    std::vector<Poly> polys;
    // The convex empty regions, numbered in the order they were made.
    std::vector<BspLeaf> leaves;
    // The tree; node 0 is the root and every child's index is greater than its parent's.
    std::vector<BspNode> nodes;
    // Openings between pairs of leaves.
    std::vector<Portal> portals;
    // Gates 2k and 2k+1 are the two directions of portal k.
    std::vector<Gate> gates;
    // The storage of the gates' and the leaves' byte arrays, one block each.
    LeafByteStore gateBytes;
    LeafByteStore pvsBytes;
    // How many of the four separating-plane clipping steps the visibility pass runs.
    int32_t clipSteps = 4;

    // Use the literal quadratic scans (splitter search classifying every pair, portal merge
    // scanning every stored portal) instead of their faster equivalents. The results are
    // identical; tests compare the two.
    bool literal = false;

    // Worker threads for the work whose result does not depend on its order (the splitter
    // counts of a node, the portal squares of the nodes, the flood of each gate). The
    // output is the same for every count; 1 runs everything on the calling thread.
    int32_t threads = 1;

    // Stop the visibility pass after the flood: every gate sees what its flood reached.
    // Much faster, with larger sets; the viewer never sets it.
    bool floodOnly = false;

    // Appends the model's faces to buildPolys as welded, flat polygons.
    void ImportPolys(const PlyModel& model);

    // Turns buildPolys into nodes, leaves and polys. Always true. An empty buildPolys gives
    // an empty tree (no nodes, no leaves).
    bool BuildTree();

    // The leaf holding point p, walking down from node nodeIndex; -1 for solid space, and
    // -1 when the tree has no nodes.
    int32_t LocateLeaf(Vector3 p, int32_t nodeIndex) const;

    // Fills portals from the node planes.
    void BuildPortals();

    // The visibility pass: gates, flood, recursive clipping, then every leaf's pvs.
    void ComputePvs(const ProgressFn& progress = {});
    void BuildGates();
    void FloodMightSee();
    void CalcVisibility(const ProgressFn& progress = {});
    void CompilePvsArray();

    // Tree construction steps, public so tests can pin them.
    bool BuildNode(BuildPolyList& list, int32_t nodeIndex);
    BuildPoly ChooseSplitter(BuildPolyList& list);
    static int32_t SplitterScore(int32_t front, int32_t back, int32_t spanning);
    static bool AllUsedAsSplitters(const BuildPolyList& list);
    Bounds NodeBounds(int32_t nodeIndex, const BuildPolyList& front, const BuildPolyList& back);
    void MakeLeaf(BuildPolyList& front, const Bounds& leafBounds, int32_t nodeIndex);

    // Portal building steps.
    Portal MakeNodePortal(const BspNode& node) const;
    void ClipPortal(Portal& portal, std::list<Portal>& output, int32_t nodeIndex);
    bool AddPortal(const Portal& portal);

private:
    // The best candidate of list; counts holds the candidates' counts in list order (they
    // are computed when it is empty) and loses the chosen one's entry.
    BuildPolyList::iterator ChooseSplitterIn(BuildPolyList& list, std::vector<SideCounts>& counts);
    BuildPoly TakeSplitter(BuildPolyList& list, std::vector<SideCounts>& counts);

    // Stored portal index by unordered leaf pair, kept in step with portals by AddPortal.
    std::unordered_map<uint64_t, int32_t> portalByLeafPair_;
};

}  // namespace bsppvs
