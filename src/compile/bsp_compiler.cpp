#include "compile/bsp_compiler.h"

#include "bsp/import.h"
#include "bsp/tree_builder.h"
#include "portals/portal_builder.h"
#include "pvs/visibility.h"

namespace bsppvs {

void BspCompiler::Compile(const LevelMesh& level, const ProgressFn& progress) {
    // The level's polygons become flat convex polygons; nothing reads the level afterwards.
    ImportPolys(level);
    RunStagesAfterImport(progress);
}

void BspCompiler::Compile(const PlyModel& model, const ProgressFn& progress) {
    ImportPolys(model);
    RunStagesAfterImport(progress);
}

void BspCompiler::RunStagesAfterImport(const ProgressFn& progress) {
    // Consumes the imported polygons.
    BuildTree();
    // Portals are cut from the finished tree's node planes.
    BuildPortals();
    // Visibility flows through the portals, so it needs all of them.
    ComputePvs(progress);
}

void BspCompiler::ImportPolys(const LevelMesh& level) {
    bsppvs::ImportPolys(level, buildPolys);
}

void BspCompiler::ImportPolys(const PlyModel& model) {
    bsppvs::ImportPolys(model, buildPolys);
}

bool BspCompiler::BuildTree() {
    return TreeBuilder(*this, threads).BuildTree(buildPolys);
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
