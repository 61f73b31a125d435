#pragma once

// Openings that the level's own faces close. On a real mesh a face can have open space on
// both sides (a wall whose back the fill did not reach, a floor over a void), so a portal
// can lie wholly on faces: no sight line passes through it, and the visibility pass need
// not follow it.

#include <cstdint>
#include <vector>

#include "bsp/bsp_tree.h"
#include "portals/portal.h"

namespace bsppvs {

// The polygons listed in the leaf whose corners all lie in the plane (within
// POLY_CLASSIFY_EPSILON); with structuralOnly, not the pieces of detail polygons, which
// never block a sight line.
std::vector<const Poly*> FacesInPlane(const BspTree& tree, int32_t leaf, const Plane& plane,
                                      bool structuralOnly);

// The faces of the portal's leaves (its two, and any it passed through) that lie in its
// plane (FacesInPlane).
std::vector<const Poly*> FacesOnPortal(const BspTree& tree, Portal& portal, bool structuralOnly);

// Whether the faces, all in the opening's plane and facing either way, leave no part of it
// uncovered wider than EPSILON: the exact difference of convex polygons, not samples.
bool WhollyCovered(const Winding& opening, const std::vector<const Poly*>& faces);

// Per portal, 1 when the structural faces of its two leaves cover it wholly.
std::vector<uint8_t> FindCoveredPortals(const BspTree& tree, std::vector<Portal>& portals,
                                        int32_t threads);

}  // namespace bsppvs
