#pragma once

// The shape tests a polygon's corners are held to before it is kept whole: flat, and
// convex about its own facing.

#include "geometry/polygon.h"

namespace bsppvs {

// Every corner lies within FLAT_RING_DISTANCE of the ring's Newell plane, which exists.
bool IsFlatRing(const Winding& ring);

// No corner turns against the ring's facing by more than REFLEX_SINE (relative to the two
// edges' lengths); corners on a straight line are allowed.
bool IsConvexRing(const Winding& ring);

// Whether the ring turns against its facing (normal) at corner i.
bool IsReflexCorner(const Winding& ring, size_t i, Vector3 normal);

}  // namespace bsppvs
