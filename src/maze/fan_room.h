#pragma once

// A convex room whose floor and ceiling are fans of triangles from one corner, every other
// corner on the walls: a level of one leaf whose tree is a chain with many nodes on the
// floor's plane and on the ceiling's, for the tests and benchmarks of the stages that walk
// such chains.

#include <memory>

#include "model/ply_model.h"

namespace bsppvs {

// The floor plan fills a quarter disc of this radius; the ceiling is this high. Both are
// chosen with the corner grid (see BuildFanRoomModel) so that every face's plane comes out
// exact in floats.
inline constexpr float FAN_ROOM_RADIUS = 4000.0f;
inline constexpr float FAN_ROOM_HEIGHT = 128.0f;

// With this many walls the fan's first triangle still stands 0.3 units off the plane of
// the wall it shares two corners with, thirty times the polygon tolerance.
inline constexpr int MAX_FAN_ROOM_WALLS = 20000;

// A room of `walls` walls, 3 to MAX_FAN_ROOM_WALLS. Corner 0 of the floor plan, the fan
// corner, is the origin; corners 1 .. walls - 1 lie evenly along the arc of FAN_ROOM_RADIUS
// from the +x axis to the -z axis, so that the plan turns counter-clockwise about +y. Each
// corner is rounded to a multiple of 1/2048, far inside the polygon tolerance: below 4096
// on that grid, and with a power-of-two height, every sum in the faces' normals is exact
// in floats, so the ceiling's triangles share one plane instead of planes tilted apart by
// rounding, and no wall is cut for want of flatness. Unlike a regular polygon fanned from
// a corner, no triangle is a sliver that the polygon tolerance would lay flat on a wall.
//
// Faces, all turned towards the inside: the floor triangles (corner 0, corner k, corner
// k + 1) for k = 1 .. walls - 2 at y = 0, the ceiling triangles over them, then one
// vertical quad per side, from side (0, 1) round. A triangle repeats its last corner.
// Positions: the floor corners, then the ceiling corners. The secondary table holds up,
// down, then each wall's unit normal in wall order; each corner names its face's normal.
// No texture layers.
std::unique_ptr<PlyModel> BuildFanRoomModel(int walls);

}  // namespace bsppvs
