#pragma once

// Which regions of a level are open space and which are solid, decided in a way that holds
// on real meshes: faces that cross one another, floors that run into walls, open edges,
// cracks, two-sided detail and faces turned the wrong way. Every region of space is a leaf
// of the tree it is given (see TreeBuilder::ForMeshes). A region is open when the level's
// surface winds round a point inside it, whichever way the surface faces (SurfaceWinding);
// when points known to be inside the level are given and the outside cannot reach them,
// not when the world's boundary reaches it without passing through a face (the outside
// fill), unless the surface wraps it, or space joined to it through regions wrapped more
// than half way, nearly all the way round; and, with such points, whenever open space or
// such a point reaches it that way and the fill did not take it (a sight line that crosses
// no face passes there); and, a pocket that faces close on every side and nothing reaches,
// when the surface wraps it at least a quarter of the way (the pit under a grating).
// When the outside does reach an inside point the level leaks: the shortest way in is
// reported and the fill is not trusted, so the outside joined to the level through its
// holes is open space too.

#include <cstdint>
#include <optional>
#include <vector>

#include "bsp/bsp_tree.h"
#include "bsp/leaf_cells.h"
#include "geometry/polygon.h"
#include "portals/portal.h"

namespace bsppvs {

struct SolidSpaceOptions {
    // Points that lie in the level's open space: player starts and the like.
    std::vector<Vector3> insidePoints;
    int32_t threads = 1;
};

// The shortest way from a point inside the level to the world's boundary that crosses no
// face.
struct Leak {
    // The inside point the outside reached.
    Vector3 insidePoint;
    // From the inside point through the middle of every opening passed to a point in a
    // region on the world's boundary.
    std::vector<Vector3> path;
    // The middle of the opening where the way leaves the level's open space: the hole.
    Vector3 breach;
};

struct SolidSpace {
    // Per leaf of the tree: 1 when open space.
    std::vector<uint8_t> emptyLeaf;
    // Per leaf: its region.
    std::vector<LeafCell> cells;
    // Leaves the outside fill reached (whether or not the fill was applied).
    int64_t outsideLeaves = 0;
    std::optional<Leak> leak;
    // Openings no face closes between two open regions that pass regions squeezed to
    // nothing, with the two regions as leaf indices. Where planes meant to be one lie a
    // hair apart, the sliver between them is such a region; left solid, it cuts the two
    // regions apart in the tree without it, though the sight lines across cross no face.
    std::vector<Portal> openingsAcrossSlivers;
};

SolidSpace FindSolidSpace(const BspTree& tree, const std::vector<Winding>& surface,
                          const SolidSpaceOptions& options);

}  // namespace bsppvs
