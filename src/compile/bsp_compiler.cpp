#include "compile/bsp_compiler.h"

#include <algorithm>
#include <unordered_set>

#include "bsp/detail_filter.h"
#include "bsp/import.h"
#include "bsp/leaf_cells.h"
#include "bsp/plane_snap.h"
#include "bsp/solid_leaves.h"
#include "bsp/tree_builder.h"
#include "level/level_mesh.h"
#include "level/polygon_merge.h"
#include "level/thin_patches.h"
#include "portals/portal_builder.h"
#include "portals/portal_cover.h"
#include "portals/thin_leaves.h"
#include "pvs/leaf_clusters.h"
#include "pvs/visibility.h"

namespace bsppvs {

void BspCompiler::Compile(const LevelMesh& level, const VisibilityProgressFn& progress) {
    // The level's polygons become flat convex polygons; nothing reads the level afterwards.
    ImportPolys(level);
    // Consumes the imported polygons.
    BuildTree();
    // Portals are cut from the finished tree's node planes.
    BuildPortals();
    // Visibility flows through the portals, so it needs all of them.
    ComputePvs(progress);
}

namespace {

std::vector<uint8_t> DetailPolygons(const LevelMesh& level, bool byName, float thinnerThan) {
    std::vector<uint8_t> isDetail = thinnerThan > 0.0f
                                        ? ThinPatches(level, thinnerThan)
                                        : std::vector<uint8_t>(level.polygons.size(), 0);
    for (size_t f = 0; f < level.polygons.size() && byName; ++f) {
        isDetail[f] |= IsDetailName(level.GroupName(f)) ? 1 : 0;
    }
    return isDetail;
}

}  // namespace

void BspCompiler::UseDefaultsFor(bool meshFormat) {
    solidRule = meshFormat ? SolidRule::WINDING : SolidRule::BEHIND_FACES;
    mergeTriangles = meshFormat;
    detailGroups = meshFormat;
    clusterSize = meshFormat ? -1.0f : 0.0f;
    dropUnreachable = meshFormat;
    maxChains = meshFormat ? MESH_CHAINS_PER_GATE : 0;
    blockCovered = meshFormat;
    orientByCorners = meshFormat;
    joinCrowdedPortals = meshFormat;
    splitThinPortalParts = meshFormat;
    wholePortalSquares = meshFormat;
    mutualSets = meshFormat;
    bridgeThinLeaves = meshFormat;
}

void BspCompiler::ImportPolys(const LevelMesh& level) {
    const auto import = [&](const LevelMesh& mesh) {
        const std::vector<uint8_t> isDetail = detailGroups || detailWidth > 0.0f
                                                  ? DetailPolygons(mesh, detailGroups, detailWidth)
                                                  : std::vector<uint8_t>{};
        bsppvs::ImportPolys(mesh, isDetail, buildPolys, detailPolys);
    };
    if (mergeTriangles) {
        LevelMesh merged = level;
        MergeCoplanarPolygons(
            merged, mergeGivenPolygons ? MergeScope::EVERY_POLYGON : MergeScope::TRIANGLES);
        import(merged);
    } else {
        import(level);
    }
    for (const MarkedPoint& point : level.points) {
        insidePoints.push_back(point.position);
    }
}

bool BspCompiler::BuildTree() {
    if (solidRule == SolidRule::BEHIND_FACES) {
        TreeBuilder(*this, threads).BuildTree(buildPolys);
    } else {
        BuildTreeOfOpenSpace();
    }
    FilterDetailIntoLeaves(*this, detailPolys);
    return true;
}

void BspCompiler::BuildTreeOfOpenSpace() {
    // Every region becomes a leaf first; then the ones judged solid are taken out. The whole
    // surface, detail included, decides what is open.
    std::vector<Winding> surface;
    surface.reserve(buildPolys.size() + detailPolys.size());
    for (const BuildPolyList* list : {&buildPolys, &detailPolys}) {
        for (const BuildPoly& poly : *list) {
            surface.push_back(poly.points);
        }
    }
    SnapPlanes(buildPolys);
    BspTree everyRegion;
    TreeBuilder builder(everyRegion, threads);
    builder.ForMeshes(true);
    builder.BuildTree(buildPolys);
    const SolidSpace space = FindSolidSpace(everyRegion, surface, {insidePoints, threads});
    std::vector<Bounds> cellBounds;
    cellBounds.reserve(space.cells.size());
    for (const LeafCell& cell : space.cells) {
        cellBounds.push_back(cell.bounds);
    }
    bool reshaped = false;
    std::vector<int32_t> keptIndex;
    static_cast<BspTree&>(*this) = WithoutSolidLeaves(
        everyRegion, space.emptyLeaf, cellBounds, builder.BackCellLeaves(), reshaped, &keptIndex);
    openingsAcrossSlivers = space.openingsAcrossSlivers;
    for (Portal& opening : openingsAcrossSlivers) {
        for (int32_t& leaf : opening.leafIndices) {
            leaf = keptIndex[leaf];
        }
    }
    // Portal squares are sized by their node's box, the box of the polygons that reached it.
    // That covers the node's region while every leaf is bounded by its own polygons, as in
    // the tree the plain rule builds; once regions without polygons are open space, or a
    // node is turned round, a square can fall short and leave part of an opening out. The
    // region's own box covers it.
    if (reshaped) {
        const std::vector<Bounds> regions = ComputeNodeRegionBounds(*this, WorldBox(surface));
        for (size_t k = 0; k < nodes.size(); ++k) {
            nodes[k].bounds = regions[k];
        }
    }
    leak = space.leak;
}

void BspCompiler::BuildPortals() {
    PortalBuilder builder(*this, portals);
    builder.JoinCrowded(joinCrowdedPortals);
    builder.SplitThinParts(splitThinPortalParts);
    builder.WholeSquares(wholePortalSquares);
    builder.BuildPortals(threads);
    // Only where the tree's portals do not already join the two leaves: elsewhere its own
    // portal is the exact opening.
    std::unordered_set<uint64_t> joined;
    for (const Portal& portal : portals) {
        joined.insert(LeafPairKey(portal.leafIndices[0], portal.leafIndices[1]));
    }
    for (const Portal& opening : openingsAcrossSlivers) {
        if (joined.insert(LeafPairKey(opening.leafIndices[0], opening.leafIndices[1])).second) {
            portals.push_back(opening);
        }
    }
    if (bridgeThinLeaves) {
        for (Portal& opening : OpeningsAcrossThinLeaves(portals, leaves.size())) {
            portals.push_back(std::move(opening));
        }
    }
}

void BspCompiler::ComputePvs(const VisibilityProgressFn& progress) {
    BuildGates();
    FloodMightSee();
    CalcVisibility(progress);
    CompilePvsArray();
}

void BspCompiler::BuildGates() {
    GateRules rules;
    if (blockCovered) {
        rules.closed = FindCoveredPortals(*this, portals, threads);
    }
    coveredPortals = std::count(rules.closed.begin(), rules.closed.end(), uint8_t{1});
    rules.orientByCorners = orientByCorners;
    bsppvs::BuildGates(*this, portals, gates, gateSets, rules);
    clusters = {};
    clusterGraph = {};
    // A size given outright is kept whatever the openings. The default makes none where the
    // leaves' own openings are few enough for the pass to run on them, and otherwise grows
    // within the bound.
    const bool byDefault = clusterSize < 0.0f;
    float firstSize = clusterSize;
    if (byDefault) {
        firstSize = CountLeafOpenings(gates, leaves.size()) <= maxUnclusteredOpenings
                        ? 0.0f
                        : CLUSTER_SIZE_PER_MEDIAN_LEAF * MedianLeafSize(*this);
    }
    SizedClusters sized = GroupLeavesWithinOpenings(*this, gates, WorldBox(polys), firstSize,
                                                    byDefault ? maxClusterOpenings : SIZE_MAX);
    clusterSizeUsed = sized.size;
    clusters = std::move(sized.clusters);
    if (clusterSizeUsed > 0.0f) {
        // The leaves' gates stay, with empty sets: they still say which leaves touch.
        clusterGraph = BuildClusterGates(gates, clusters);
    }
}

const BspTree& BspCompiler::VisibilityTree() const {
    return clusterSizeUsed > 0.0f ? clusterGraph.tree : *this;
}

std::vector<Gate>& BspCompiler::VisibilityGates() {
    return clusterSizeUsed > 0.0f ? clusterGraph.gates : gates;
}

void BspCompiler::FloodMightSee() {
    bsppvs::FloodMightSee(VisibilityTree(), VisibilityGates(), gateSets, threads);
}

void BspCompiler::CalcVisibility(const VisibilityProgressFn& progress) {
    if (floodOnly) {
        visibilityTally = SeeWhatTheFloodReached(VisibilityGates(), progress);
    } else {
        visibilityTally = bsppvs::CalcVisibility(VisibilityTree(), VisibilityGates(), gateSets,
                                                 {clipSteps, maxChains, dropUnreachable}, progress,
                                                 {threads, peers});
    }
}

void BspCompiler::CompilePvsArray() {
    if (clusterSizeUsed > 0.0f) {
        CompileClusterPvsArray(*this, clusters, clusterGraph, pvsBytes);
    } else {
        bsppvs::CompilePvsArray(*this, gates, pvsBytes);
    }
    if (mutualSets) {
        MakeSetsMutual(*this);
    }
}

}  // namespace bsppvs
