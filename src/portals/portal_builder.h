#pragma once

// Portal building finds the openings between neighbouring leaves from the tree alone: for
// every node it lays a square on the node's plane, pushes it down the whole tree from the
// root, cutting it at every plane that crosses it and dropping what falls into solid space,
// and keeps each piece that ends up touching exactly two leaves. Where two pieces join the
// same pair of leaves the larger survives, at the index of the first.
//
// The stage itself is BspCompiler::BuildPortals (with MakeNodePortal, ClipPortal and
// AddPortal); this header holds what it measures portals with.

#include "geometry/polygon.h"
#include "portals/portal.h"

namespace bsppvs {

// The length of the half-extent of the polygon's axis-aligned bounding box.
float PortalSize(const Poly& poly);

}  // namespace bsppvs
