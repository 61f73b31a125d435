#pragma once

// Meshes give every polygon its own plane, computed from its own corners: polygons that lie
// in one plane get planes that differ in their last bits, and a normal meant to be along an
// axis comes out a hair off it. Used as splitters, such planes cut slivers of space a few
// hundredths thick between them, too thin for any sight line and too thin for portals (a
// portal in one of them touches three leaves and is lost). So before the tree is built the
// polygons' planes are snapped: near-axial normals onto their axis, and nearly equal planes
// onto one plane, which every polygon in it then carries as its cached plane.

#include "bsp/build_poly.h"

namespace bsppvs {

// Gives every polygon of the list a cached plane (planeValid 1) from a table of distinct
// planes. Planes whose normals agree within PLANE_SNAP_NORMAL (per component) and whose
// distances agree within PLANE_SNAP_DISTANCE are one plane, the first one met. Linear in
// the polygons, with a hash of rounded normals.
void SnapPlanes(BuildPolyList& polys);

}  // namespace bsppvs
