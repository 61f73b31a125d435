#include "compile/bsp_compiler.h"

#include "bsp/import.h"
#include "bsp/plane_snap.h"
#include "bsp/solid_leaves.h"
#include "bsp/tree_builder.h"
#include "level/level_mesh.h"
#include "level/polygon_merge.h"
#include "portals/portal_builder.h"
#include "pvs/visibility.h"

namespace bsppvs {

void BspCompiler::Compile(const LevelMesh& level, const ProgressFn& progress) {
    // The level's polygons become flat convex polygons; nothing reads the level afterwards.
    ImportPolys(level);
    // Consumes the imported polygons.
    BuildTree();
    // Portals are cut from the finished tree's node planes.
    BuildPortals();
    // Visibility flows through the portals, so it needs all of them.
    ComputePvs(progress);
}

void BspCompiler::ImportPolys(const LevelMesh& level) {
    if (mergeTriangles) {
        LevelMesh merged = level;
        MergeCoplanarTriangles(merged);
        bsppvs::ImportPolys(merged, buildPolys);
    } else {
        bsppvs::ImportPolys(level, buildPolys);
    }
    for (const MarkedPoint& point : level.points) {
        insidePoints.push_back(point.position);
    }
}

bool BspCompiler::BuildTree() {
    if (solidRule == SolidRule::BEHIND_FACES) {
        return TreeBuilder(*this, threads).BuildTree(buildPolys);
    }
    // Every region becomes a leaf first; then the ones judged solid are taken out.
    std::vector<Winding> surface;
    surface.reserve(buildPolys.size());
    for (const BuildPoly& poly : buildPolys) {
        surface.push_back(poly.points);
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
    static_cast<BspTree&>(*this) = WithoutSolidLeaves(everyRegion, space.emptyLeaf, cellBounds,
                                                      builder.BackCellLeaves(), reshaped);
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
    return true;
}

void BspCompiler::BuildPortals() {
    PortalBuilder(*this, portals).BuildPortals(threads);
}

void BspCompiler::ComputePvs(const ProgressFn& progress) {
    BuildGates();
    FloodMightSee();
    CalcVisibility(progress);
    CompilePvsArray();
}

void BspCompiler::BuildGates() {
    bsppvs::BuildGates(*this, portals, gates, gateSets);
}

void BspCompiler::FloodMightSee() {
    bsppvs::FloodMightSee(*this, gates, gateSets, threads);
}

void BspCompiler::CalcVisibility(const ProgressFn& progress) {
    if (floodOnly) {
        SeeWhatTheFloodReached(gates, progress);
    } else {
        bsppvs::CalcVisibility(*this, gates, gateSets, clipSteps, progress);
    }
}

void BspCompiler::CompilePvsArray() {
    bsppvs::CompilePvsArray(*this, gates, pvsBytes);
}

}  // namespace bsppvs
