#pragma once

// The compiled level: the tree, its portals and the visibility sets, with the pipeline that
// makes them. The stages run once each, in the order Compile lists them; LocateLeaf may be
// called any time after BuildTree. Each stage lives in the library of its subsystem (bsp,
// portals, pvs); this object only holds their outputs and runs them in order.

#include <cstdint>
#include <optional>
#include <vector>

#include "bsp/bsp_tree.h"
#include "bsp/build_poly.h"
#include "core/zeroed_arena.h"
#include "core/zeroed_block.h"
#include "portals/portal.h"
#include "pvs/gate.h"
#include "pvs/leaf_clusters.h"
#include "pvs/visibility.h"
#include "solid/solid_space.h"

namespace bsppvs {

struct LevelMesh;

// How the tree decides which side of a face is solid.
enum class SolidRule {
    // Behind a plane with no polygon left to split the space there is solid: right for
    // closed levels whose faces all face the open space, such as the native levels.
    BEHIND_FACES,
    // Every region is judged by the winding number of the level's surface and the fill
    // from the world's boundary (see FindSolidSpace): right on real meshes.
    WINDING,
};

// polys, leaves and nodes, and LocateLeaf, come from the tree.
class BspCompiler : public BspTree {
public:
    // The imported polygons in import order; the tree construction consumes it.
    BuildPolyList buildPolys;
    // The imported detail polygons (see detailGroups): the tree construction files them into
    // the finished leaves.
    BuildPolyList detailPolys;
    // Openings between pairs of leaves.
    std::vector<Portal> portals;
    // Gates 2k and 2k+1 are the two directions of portal k.
    std::vector<Gate> gates;
    // The storage of the gates' sets, packed one after another as the stages make them.
    ZeroedArena gateSets;
    // The storage of the leaves' byte arrays, one block.
    ZeroedBlock pvsBytes;
    // How many of the four separating-plane clipping steps the visibility pass runs.
    int32_t clipSteps = 4;
    // Chains one gate's recursion may follow (see ChainLimits); 0, the default, for no
    // limit.
    int64_t maxChains = 0;
    // Whether chains drop the leaves no sight line through them reaches (see ChainLimits).
    bool dropUnreachable = false;
    // Whether portals that structural faces cover wholly (see FindCoveredPortals) pass no
    // sight line. A mesh's faces can have open space on both sides; the native rule puts
    // solid space behind every face, so no portal lies on one there.
    bool blockCovered = false;
    // Set by BuildGates: the portals blockCovered closed.
    int64_t coveredPortals = 0;
    // Where points just off a portal cannot tell which of its leaves is in front, the
    // leaves' corners farthest from its plane decide before their box centres (see
    // GateRules). Meshes are full of thin slanted leaves that defeat the probes; native
    // files keep the centres, and their exact bytes.
    bool orientByCorners = false;
    // A portal piece that ends with more than two leaves joins every two of them (see
    // PortalBuilder::JoinCrowded) instead of being dropped: meshes come with faces on
    // planes a hair apart and slivers between them; native files keep their exact portals.
    bool joinCrowdedPortals = false;
    // Whether portal pieces are cut wherever they reach past a plane by more than the fine
    // tolerance (see PortalBuilder::SplitThinParts): for meshes, whose planes meant to be
    // one lie a hair apart.
    bool splitThinPortalParts = false;
    // Whether portal squares cover their node's whole box on oblique planes (see
    // PortalBuilder::WholeSquares): for meshes; native files keep their exact portals.
    bool wholePortalSquares = false;
    // Whether each leaf's set keeps only the leaves whose sets list it (see MakeSetsMutual):
    // for meshes, whose chain budget leaves sets one-sided; native files keep their exact
    // sets.
    bool mutualSets = false;
    // Whether two leaves on either side of a leaf thinner than the tolerances are joined by
    // an opening of their own (see OpeningsAcrossThinLeaves): for meshes, where such wedges
    // lie between planes meant to be one.
    bool bridgeThinLeaves = false;

    // Worker threads: the splitter counts of a node, the portal squares of the nodes and the
    // flood of each gate, whose results do not depend on their order, and the recursion,
    // which commits its gates in order. The output is the same for every count; 1 runs
    // everything on the calling thread.
    int32_t threads = 1;
    // Other processes sharing the visibility recursion (see gate_exchange.h), each with
    // `threads` threads of its own; null for none. The output is the same either way.
    GateExchange* peers = nullptr;
    // What the last visibility pass did: gates committed, run again, received.
    VisibilityTally visibilityTally;

    // Leaves under a node whose region fits in a cube of this side share one set (see
    // leaf_clusters.h): the visibility pass runs on far fewer, larger openings, and the sets
    // grow. 0, the default, gives every leaf a set of its own; below 0 makes none when at
    // most maxUnclusteredOpenings openings join leaves, and otherwise picks the size from
    // the level's leaves (CLUSTER_SIZE_PER_MEDIAN_LEAF), grown until at most
    // maxClusterOpenings openings join clusters.
    float clusterSize = 0.0f;
    size_t maxClusterOpenings = MAX_DEFAULT_CLUSTER_OPENINGS;
    size_t maxUnclusteredOpenings = MAX_UNCLUSTERED_OPENINGS;
    // The size the clusters were made with (BuildGates); 0 when there are none.
    float clusterSizeUsed = 0.0f;
    // With clusterSize > 0, set by BuildGates: the clusters and the gates between them,
    // which the flood and the recursion then run on instead of the leaves' gates.
    LeafClusters clusters;
    ClusterGraph clusterGraph;

    // Stop the visibility pass after the flood: every gate sees what its flood reached.
    // Much faster, with larger sets; the viewer never sets it.
    bool floodOnly = false;

    SolidRule solidRule = SolidRule::BEHIND_FACES;
    // Join coplanar triangles that share an edge into convex polygons before the import
    // (see MergeCoplanarPolygons): meshes from other tools come as triangles.
    bool mergeTriangles = false;
    // With mergeTriangles, join given polygons of more than three corners too.
    bool mergeGivenPolygons = false;
    // Polygons of groups whose name marks them as detail (see IsDetailName) take no part in
    // the tree: they neither split it nor block a sight line, and are listed in the leaves
    // they lie in (see FilterDetailIntoLeaves).
    bool detailGroups = false;
    // Polygons of flat patches thinner than this (see ThinPatches) are detail as well; 0 for
    // none.
    float detailWidth = 0.0f;
    // Points in the level's open space (the level's marked points are added on import):
    // with the winding rule they confirm the outside fill, or show that the level leaks.
    std::vector<Vector3> insidePoints;
    // With the winding rule, set by BuildTree: the way in from outside, when there is one.
    std::optional<Leak> leak;
    // With the winding rule, set by BuildTree: openings between two leaves across slivers
    // of solid space thinner than the tolerance (see SolidSpace), which BuildPortals adds
    // where the tree's own portals do not join the two leaves.
    std::vector<Portal> openingsAcrossSlivers;

    // The defaults for a level's format: native levels bound their open space consistently
    // and come as the polygons they are meant to be split by; meshes from other tools need
    // not, come as triangles, and hold far more small structure (the winding rule, merged
    // triangles, detail groups, clusters of the automatic size, and chains that drop the
    // leaves out of their reach).
    void UseDefaultsFor(bool meshFormat);

    // The whole pipeline, stage after stage.
    void Compile(const LevelMesh& level, const VisibilityProgressFn& progress = {});

    // Appends the level's polygons to buildPolys as welded, flat convex polygons.
    void ImportPolys(const LevelMesh& level);
    // Turns buildPolys into nodes, leaves and polys. Always true.
    bool BuildTree();
    // Fills portals from the node planes.
    void BuildPortals();
    // The visibility pass: gates, flood, recursive clipping, then every leaf's pvs.
    void ComputePvs(const VisibilityProgressFn& progress = {});
    void BuildGates();
    void FloodMightSee();
    void CalcVisibility(const VisibilityProgressFn& progress = {});
    void CompilePvsArray();

private:
    // The winding rule's tree: every region a leaf, the solid ones then taken out.
    void BuildTreeOfOpenSpace();
    // The tree and gates the flood and the recursion run on: the clusters' with
    // clusterSize > 0, else the leaves'.
    const BspTree& VisibilityTree() const;
    std::vector<Gate>& VisibilityGates();
};

}  // namespace bsppvs
