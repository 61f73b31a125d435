#include "solid/solid_space.h"

#include <algorithm>
#include <cmath>
#include <deque>
#include <functional>
#include <unordered_set>

#include "bsp/surface_winding.h"
#include "core/parallel_for.h"
#include "geometry/tolerances.h"
#include "portals/portal_builder.h"
#include "portals/portal_cover.h"
#include "portals/thin_leaves.h"

namespace bsppvs {

namespace {

// A region is open space when the surface winds round a point inside it more than half way,
// and clearly open when nearly all the way: then not even the outside fill, which a crack
// can lead astray, makes it solid.
constexpr double OPEN_WINDING = 0.5;
constexpr double CLEARLY_OPEN_WINDING = 0.9;
// A pocket, regions that faces close on every side and that nothing outside them reaches,
// is open when the surface wraps some of it this far: the space under a grating, a liquid's
// surface or a one-sided face, where a player may stand though the faces round it do not
// all face in. Calling it open costs its leaves, whose openings out faces cover.
constexpr double POCKET_WINDING = 0.25;
// Where on an opening the cover test looks: its middle and points this far towards each
// corner and each edge's middle.
constexpr float COVER_SAMPLE_REACH = 0.9f;
constexpr size_t LEAVES_PER_SLICE = 64;
// Openings narrower than this part of the level's size are cracks that rounding leaves
// where faces meet, not holes: the outside fill does not pass through them.
constexpr float CRACK_WIDTH_RELATIVE = 2e-4f;

// The plane's normal turned the way the face's corners run round it. A face closes an
// opening whichever side it faces.
Vector3 FacingNormal(const Poly& face, Vector3 normal) {
    const size_t n = face.points.size();
    Vector3 turn = ORIGIN;
    for (size_t i = 0; i < n; ++i) {
        turn = Add(turn, Cross(face.points[i], face.points[(i + 1) % n]));
    }
    return Dot(turn, normal) < 0.0f ? Scale(normal, -1.0f) : normal;
}

// Whether p, in the plane of the face, lies inside it (allowing TOUCH_DISTANCE); normal is
// the face's FacingNormal.
bool InsideFace(const Poly& face, Vector3 normal, Vector3 p) {
    const size_t n = face.points.size();
    for (size_t i = 0; i < n; ++i) {
        const Vector3 a = face.points[i];
        const Vector3 b = face.points[(i + 1) % n];
        const Vector3 edge = Subtract(b, a);
        const Vector3 out = Cross(edge, normal);
        const float length = std::sqrt(Dot(out, out));
        if (length > 0.0f && Dot(out, Subtract(p, a)) / length > float(TOUCH_DISTANCE)) {
            return false;
        }
    }
    return true;
}

// Whether faces of the two leaves the opening joins cover all of it, judged at sample
// points spread over it.
bool Covered(const BspTree& tree, Portal& portal) {
    // The tree holds no detail yet: every face counts.
    const std::vector<const Poly*> faces = FacesOnPortal(tree, portal, false);
    if (faces.empty()) {
        return false;
    }
    const Plane& plane = portal.GetPlane();
    const Winding& ring = portal.points;
    const Vector3 middle = AverageCorner(ring);
    std::vector<Vector3> samples = {middle};
    for (size_t i = 0; i < ring.size(); ++i) {
        const Vector3 edgeMiddle = Scale(Add(ring[i], ring[(i + 1) % ring.size()]), 0.5f);
        for (const Vector3 toward : {ring[i], edgeMiddle}) {
            samples.push_back(Add(middle, Scale(Subtract(toward, middle), COVER_SAMPLE_REACH)));
        }
    }
    std::vector<std::pair<const Poly*, Vector3>> closers;
    for (const Poly* face : faces) {
        closers.emplace_back(face, FacingNormal(*face, plane.Normal()));
    }
    return std::all_of(samples.begin(), samples.end(), [&](Vector3 s) {
        return std::any_of(closers.begin(), closers.end(), [&](const auto& face) {
            return InsideFace(*face.first, face.second, s);
        });
    });
}

// The openings that no face closes, as an adjacency list of (leaf, portal) per leaf.
struct OpenGraph {
    std::vector<Portal> portals;
    std::vector<std::vector<std::pair<int32_t, int32_t>>> exits;
    // Per portal, the regions squeezed to nothing that it passed.
    std::vector<std::vector<int32_t>> passed;
};

// The nodes whose planes bound a region without volume from opposite sides, nearly
// parallel: a wedge's two faces, the only planes its openings lie in.
std::vector<uint8_t> WedgeFaces(const BspTree& tree, const std::vector<uint8_t>& noVolume) {
    std::vector<uint8_t> marked(tree.nodes.size(), 0);
    if (tree.nodes.empty()) {
        return marked;
    }
    // The nodes above a node, each with its plane's normal turned towards the side the
    // way down takes.
    struct Step {
        int32_t node;
        Vector3 inward;
    };
    struct Visit {
        int32_t node;
        // The number of nodes above it, the last of them `from`.
        size_t depth;
        Step from;
    };
    std::vector<Step> path;
    std::vector<Visit> stack = {{0, 0, {}}};
    while (!stack.empty()) {
        const Visit visit = stack.back();
        stack.pop_back();
        path.resize(visit.depth == 0 ? 0 : visit.depth - 1);
        if (visit.depth > 0) {
            path.push_back(visit.from);
        }
        const BspNode& node = tree.nodes[visit.node];
        const Vector3 normal = node.plane.Normal();
        if (node.back != -1) {
            stack.push_back({node.back, visit.depth + 1, {visit.node, Scale(normal, -1.0f)}});
        }
        if (node.frontIsLeaf == 0) {
            stack.push_back({node.front, visit.depth + 1, {visit.node, normal}});
            continue;
        }
        if (noVolume[node.front] == 0) {
            continue;
        }
        path.push_back({visit.node, normal});
        for (size_t i = 0; i < path.size(); ++i) {
            for (size_t j = i + 1; j < path.size(); ++j) {
                if (Dot(path[i].inward, path[j].inward) < -NEARLY_PARALLEL_COSINE) {
                    marked[path[i].node] = 1;
                    marked[path[j].node] = 1;
                }
            }
        }
    }
    return marked;
}

// Where two planes meant to be one cross at a slight angle, the region between them is a
// wedge thinner than a polygon's tolerance: without volume, but thicker than the point
// tolerance, so a piece in one plane stops short of the far side of the other and no
// opening passes it. Across each such wedge, where its openings on either side lie along
// each other, the two regions beyond are joined directly; a sight line there crosses no
// face. Costs a second cut of the squares of those faces' nodes, without passing through.
void AddOpeningsAcrossWedges(const BspTree& sized, const std::vector<uint8_t>& noVolume,
                             int32_t threads, OpenGraph& graph) {
    const std::vector<uint8_t> faces = WedgeFaces(sized, noVolume);
    if (std::find(faces.begin(), faces.end(), 1) == faces.end()) {
        return;
    }
    std::vector<Portal> plain;
    PortalBuilder builder(sized, plain);
    builder.WholeSquares(true);
    builder.CutOnly(faces);
    builder.BuildPortals(threads);
    std::unordered_set<uint64_t> joined;
    for (const Portal& portal : graph.portals) {
        joined.insert(LeafPairKey(portal.leafIndices[0], portal.leafIndices[1]));
    }
    std::vector<int32_t> wedges;
    std::vector<Portal> openings =
        OpeningsAcrossThinLeaves(plain, noVolume.size(), &noVolume, &wedges);
    for (size_t k = 0; k < openings.size(); ++k) {
        const std::vector<int32_t>& pair = openings[k].leafIndices;
        if (noVolume[pair[0]] == 0 && noVolume[pair[1]] == 0 &&
            joined.insert(LeafPairKey(pair[0], pair[1])).second) {
            graph.portals.push_back(std::move(openings[k]));
            graph.passed.push_back({wedges[k]});
        }
    }
}

// A region squeezed to nothing between two planes that coincide still takes its share of
// every opening that lies in those planes; the openings pass through such regions, or a
// piece that collects more than two leaves that way would be dropped and the two regions
// it really joins cut off from each other. Their faces still close the openings they lie
// on. Squares are sized by the regions' own boxes (most regions hold no polygon, so the
// boxes of the polygons fall short) and cover the whole of them on oblique planes.
OpenGraph BuildOpenGraph(const BspTree& tree, const std::vector<LeafCell>& cells,
                         const Bounds& world, float crackWidth, int32_t threads) {
    std::vector<uint8_t> noVolume(cells.size(), 0);
    for (size_t i = 0; i < cells.size(); ++i) {
        noVolume[i] = cells[i].hasVolume ? 0 : 1;
    }
    // The portal builder reads the nodes alone.
    BspTree sized;
    sized.nodes = tree.nodes;
    const std::vector<Bounds> regions = ComputeNodeRegionBounds(tree, world);
    for (size_t k = 0; k < sized.nodes.size(); ++k) {
        if (regions[k].halfExtent != ORIGIN) {
            sized.nodes[k].bounds = regions[k];
        }
    }
    OpenGraph graph;
    PortalBuilder builder(sized, graph.portals);
    builder.WholeSquares(true);
    builder.PassThrough(noVolume);
    builder.RecordPassed(graph.passed);
    builder.BuildPortals(threads);
    graph.passed.resize(graph.portals.size());
    AddOpeningsAcrossWedges(sized, noVolume, threads, graph);
    graph.exits.resize(tree.leaves.size());
    for (size_t k = 0; k < graph.portals.size(); ++k) {
        Portal& portal = graph.portals[k];
        if (RingWidth(portal.points) < crackWidth || Covered(tree, portal)) {
            continue;
        }
        const int32_t a = portal.leafIndices[0];
        const int32_t b = portal.leafIndices[1];
        graph.exits[a].emplace_back(b, static_cast<int32_t>(k));
        graph.exits[b].emplace_back(a, static_cast<int32_t>(k));
    }
    return graph;
}

// Breadth first from every leaf on the world's boundary: per leaf, the portal it was
// reached through (-1 for the boundary leaves themselves), or -2 when not reached.
std::vector<int32_t> FloodFromOutside(const std::vector<LeafCell>& cells, const OpenGraph& graph) {
    constexpr int32_t UNREACHED = -2;
    std::vector<int32_t> via(cells.size(), UNREACHED);
    std::deque<int32_t> queue;
    for (size_t i = 0; i < cells.size(); ++i) {
        if (cells[i].reachesBoundary || !cells[i].hasVolume) {
            via[i] = -1;
            queue.push_back(static_cast<int32_t>(i));
        }
    }
    while (!queue.empty()) {
        const int32_t leaf = queue.front();
        queue.pop_front();
        for (const auto& [next, portal] : graph.exits[leaf]) {
            if (via[next] == UNREACHED) {
                via[next] = portal;
                queue.push_back(next);
            }
        }
    }
    return via;
}

// Where the segment from p to q leaves the box (p inside it); q when it does not.
Vector3 LeavingBox(Vector3 p, Vector3 q, const Bounds& box) {
    float t = 1.0f;
    const float from[3] = {p.x, p.y, p.z};
    const float to[3] = {q.x, q.y, q.z};
    const float lo[3] = {box.center.x - box.halfExtent.x, box.center.y - box.halfExtent.y,
                         box.center.z - box.halfExtent.z};
    const float hi[3] = {box.center.x + box.halfExtent.x, box.center.y + box.halfExtent.y,
                         box.center.z + box.halfExtent.z};
    for (int k = 0; k < 3; ++k) {
        const float step = to[k] - from[k];
        if (step > 0.0f && to[k] > hi[k]) {
            t = std::min(t, (hi[k] - from[k]) / step);
        } else if (step < 0.0f && to[k] < lo[k]) {
            t = std::min(t, (lo[k] - from[k]) / step);
        }
    }
    return Add(p, Scale(Subtract(q, p), std::max(t, 0.0f)));
}

// The way out from leaf, following the portals the flood came through.
Leak TraceLeak(Vector3 insidePoint, int32_t leaf, const std::vector<int32_t>& via, OpenGraph& graph,
               const std::vector<LeafCell>& cells, const std::vector<uint8_t>& open,
               const Bounds& levelBox) {
    Leak leak;
    leak.insidePoint = insidePoint;
    leak.path.push_back(insidePoint);
    bool breachFound = false;
    while (via[leaf] >= 0) {
        Portal& portal = graph.portals[via[leaf]];
        const int32_t next =
            portal.leafIndices[0] == leaf ? portal.leafIndices[1] : portal.leafIndices[0];
        leak.path.push_back(AverageCorner(portal.points));
        if (!breachFound && open[leaf] != 0 && open[next] == 0) {
            leak.breach = AverageCorner(portal.points);
            breachFound = true;
        }
        leaf = next;
    }
    const LeafCell& last = cells[leaf];
    leak.path.push_back(last.reachesBoundary ? last.boundaryPoint : last.inside);
    if (!breachFound) {
        // No opening leads from open space to solid: the way leaves by a region that is
        // open up to the world's boundary. The hole is where it leaves the level's box.
        const Vector3 from = leak.path[leak.path.size() - 2];
        leak.breach = LeavingBox(from, leak.path.back(), levelBox);
    }
    return leak;
}

// Near a loose edge of the surface the winding number changes inside one region; a region
// is judged by the most wrapped of its probes, since calling open space solid hides it,
// while calling a little solid space open only costs a larger set. Regions without volume
// are never open.
double HighestWinding(const LeafCell& cell, const SurfaceWinding& winding) {
    if (!cell.hasVolume) {
        return 0.0;
    }
    // A shell facing the wrong way (normals turned inward on a closed object, a room built
    // inside out) winds round its inside -1 times: it still wraps it.
    const auto wrapped = [&](Vector3 p) { return std::fabs(winding.OpenSpaceAt(p)); };
    double highest = wrapped(cell.inside);
    for (const Vector3& p : cell.probes) {
        if (highest > CLEARLY_OPEN_WINDING) {
            break;
        }
        highest = std::max(highest, wrapped(p));
    }
    return highest;
}

// Every region joined to one of the leaves `from` (-1 for none) by openings no face closes,
// passing only through regions `passes` accepts (a leaf of `from` too must pass).
std::vector<uint8_t> Reach(const std::vector<int32_t>& from, const OpenGraph& graph,
                           const std::function<bool(int32_t)>& passes) {
    std::vector<uint8_t> seen(graph.exits.size(), 0);
    std::deque<int32_t> queue;
    const auto visit = [&](int32_t leaf) {
        if (leaf >= 0 && seen[leaf] == 0 && passes(leaf)) {
            seen[leaf] = 1;
            queue.push_back(leaf);
        }
    };
    for (const int32_t leaf : from) {
        visit(leaf);
    }
    while (!queue.empty()) {
        const int32_t leaf = queue.front();
        queue.pop_front();
        for (const auto& [next, portal] : graph.exits[leaf]) {
            visit(next);
        }
    }
    return seen;
}

// Per leaf, 1 when it lies in a pocket: a group of solid regions with volume, joined to each
// other by openings no face closes and by no such opening to anything else, none on the
// world's boundary, that the surface wraps more than POCKET_WINDING somewhere. Under a
// liquid's surface, or a grating, the faces round such a group do not all face in, and
// faces that split it (a slope below) make it several regions.
std::vector<uint8_t> Pockets(const OpenGraph& graph, const std::vector<LeafCell>& cells,
                             const std::vector<double>& wound, const std::vector<uint8_t>& open) {
    const size_t count = cells.size();
    std::vector<uint8_t> pocket(count, 0);
    std::vector<uint8_t> seen(count, 0);
    std::vector<int32_t> group;
    for (size_t start = 0; start < count; ++start) {
        if (seen[start] != 0 || open[start] != 0 || !cells[start].hasVolume) {
            continue;
        }
        // The whole group, then whether it is closed.
        group.assign(1, static_cast<int32_t>(start));
        seen[start] = 1;
        bool closed = true;
        double wrapped = 0.0;
        for (size_t k = 0; k < group.size(); ++k) {
            const int32_t leaf = group[k];
            closed = closed && !cells[leaf].reachesBoundary;
            wrapped = std::max(wrapped, wound[leaf]);
            for (const auto& [next, portal] : graph.exits[leaf]) {
                if (open[next] != 0 || !cells[next].hasVolume) {
                    closed = false;
                } else if (seen[next] == 0) {
                    seen[next] = 1;
                    group.push_back(next);
                }
            }
        }
        if (closed && wrapped > POCKET_WINDING) {
            for (const int32_t leaf : group) {
                pocket[leaf] = 1;
            }
        }
    }
    return pocket;
}

}  // namespace

SolidSpace FindSolidSpace(const BspTree& tree, const std::vector<Winding>& surface,
                          const SolidSpaceOptions& options) {
    SolidSpace space;
    const size_t leafCount = tree.leaves.size();
    const Bounds world = WorldBox(surface);
    space.cells = ComputeLeafCells(tree, world);
    const SurfaceWinding winding(surface);
    std::vector<double> wound(leafCount, 0.0);
    ParallelFor(options.threads, leafCount, LEAVES_PER_SLICE, [&](size_t begin, size_t end) {
        for (size_t i = begin; i < end; ++i) {
            wound[i] = HighestWinding(space.cells[i], winding);
        }
    });
    std::vector<uint8_t> open(leafCount, 0);
    for (size_t i = 0; i < leafCount; ++i) {
        open[i] = wound[i] > OPEN_WINDING ? 1 : 0;
    }
    space.emptyLeaf = open;
    const float size = 2.0f * std::sqrt(Dot(world.halfExtent, world.halfExtent));
    OpenGraph graph =
        BuildOpenGraph(tree, space.cells, world, CRACK_WIDTH_RELATIVE * size, options.threads);
    const std::vector<int32_t> via = FloodFromOutside(space.cells, graph);
    space.outsideLeaves = std::count_if(via.begin(), via.end(), [](int32_t v) { return v != -2; });
    // Per point known to be inside, its leaf (-1 when in none).
    std::vector<int32_t> insideLeaves;
    for (const Vector3& p : options.insidePoints) {
        insideLeaves.push_back(tree.LocateLeaf(p, 0));
    }
    for (size_t k = 0; k < insideLeaves.size(); ++k) {
        const int32_t leaf = insideLeaves[k];
        const Vector3 p = options.insidePoints[k];
        if (leaf >= 0 && via[leaf] != -2) {
            MinMax all;
            for (const Winding& ring : surface) {
                all.Fold(ring);
            }
            space.leak = TraceLeak(p, leaf, via, graph, space.cells, open, Bounds::FromMinMax(all));
            break;
        }
    }
    // Without a point known to be inside, the fill could not tell a leak from the outside,
    // and a leaking level would lose all its open space to it.
    // A crack can lead the fill into the level, where it would cut the open space into a
    // patchwork: sight lines between the regions it spares would cross regions it took
    // with no face in the way. So it spares, with every region wrapped nearly all the way,
    // all the space joined to one through regions wrapped more than half way.
    std::vector<int32_t> clearlyOpen;
    for (size_t i = 0; i < leafCount; ++i) {
        if (wound[i] >= CLEARLY_OPEN_WINDING) {
            clearlyOpen.push_back(static_cast<int32_t>(i));
        }
    }
    const std::vector<uint8_t> spared =
        Reach(clearlyOpen, graph, [&](int32_t leaf) { return wound[leaf] > OPEN_WINDING; });
    std::vector<uint8_t> filled(leafCount, 0);
    if (!options.insidePoints.empty() && !space.leak) {
        for (size_t i = 0; i < leafCount; ++i) {
            if (via[i] != -2 && spared[i] == 0) {
                filled[i] = 1;
                space.emptyLeaf[i] = 0;
            }
        }
    }
    // With points known to be inside, space joined to open space or to such a point by
    // openings no face closes is open too, however little the surface wraps it, unless the
    // fill took it: a player walks there, and a sight line that crosses no face passes
    // through it (out of a hole in a leaking level and back in). Calling it solid would
    // hide it and cut such lines from the sets. Without such points nothing tells the
    // outside from the inside, and the winding alone decides.
    std::vector<int32_t> from = insideLeaves;
    for (size_t i = 0; i < leafCount && !insideLeaves.empty(); ++i) {
        if (space.emptyLeaf[i] != 0) {
            from.push_back(static_cast<int32_t>(i));
        }
    }
    const std::vector<uint8_t> joined = Reach(from, graph, [&](int32_t leaf) {
        return filled[leaf] == 0 && space.cells[leaf].hasVolume;
    });
    for (size_t i = 0; i < leafCount; ++i) {
        space.emptyLeaf[i] |= joined[i];
    }
    const std::vector<uint8_t> pockets = Pockets(graph, space.cells, wound, space.emptyLeaf);
    for (size_t i = 0; i < leafCount; ++i) {
        space.emptyLeaf[i] |= pockets[i];
    }
    for (size_t leaf = 0; leaf < leafCount; ++leaf) {
        for (const auto& [next, k] : graph.exits[leaf]) {
            if (static_cast<int32_t>(leaf) < next && !graph.passed[k].empty() &&
                space.emptyLeaf[leaf] != 0 && space.emptyLeaf[next] != 0) {
                space.openingsAcrossSlivers.push_back(graph.portals[k]);
                space.openingsAcrossSlivers.back().leafIndices.resize(2);
            }
        }
    }
    return space;
}

}  // namespace bsppvs
