#pragma once

#include "bsp/bsp_tree.h"
#include "geometry/vector3.h"

namespace bsppvs {

// Whether some stretch of the segment from p to q lies in the tree's solid space. In a
// closed level solid space lies behind the walls, so a segment that enters it also crosses
// a polygon; in a level that is not closed, the space behind a face's plane is solid well
// beyond the face's outline, and no set can see through it. The segment is pushed down the
// tree and cut at each plane it crosses; a stretch within the point tolerance of a plane
// goes to the front side, as point location tries first.
bool CrossesSolid(const BspTree& tree, Vector3 p, Vector3 q);

}  // namespace bsppvs
