#pragma once

// Every tolerance of the compiler, named for what it measures.
//
// Orderings that must hold, and why:
// - EPSILON (a point on a plane) < POLY_CLASSIFY_EPSILON (a polygon's corner on a plane):
//   a polygon only counts as spanning when some corner lies beyond the coarse tolerance on
//   each side, so the portal stage's split at the fine tolerance always yields two pieces.
// - EPSILON < PROBE_CLOSEST_OFFSET < PROBE_OFFSET: a probe must stand clearly off the plane
//   for point location to put it on one side.
// - EPSILON < TOUCH_DISTANCE: the sight-line checks count a segment as blocked farther from
//   a wall than the compiler's clips can cut into it, so grazing lines are never held
//   against the sets.
// - WELD_DISTANCE_SQ is far below EPSILON squared: welding only merges corners that no
//   plane test could tell apart anyway.
// - MAX_COORDINATE keeps float spacing (about 1 at 1e7) from swamping the absolute
//   tolerances entirely; near it they are already coarse.

namespace bsppvs {

// Signed point-to-plane distance within which a point counts as on the plane: point
// location, gate orientation, portal and visibility clipping, and the parallel test of
// segment intersection.
inline constexpr float EPSILON = 0.001f;

// Signed corner-to-plane distance within which a polygon's corner counts as on the plane
// when the whole polygon is classified, and the split tolerance of the tree construction.
inline constexpr float POLY_CLASSIFY_EPSILON = 0.01f;

// Squared difference between two normals' components below which two coplanar polygons
// count as facing the same way.
inline constexpr float NORMAL_MATCH_EPSILON_SQ = 0.001f;

// Squared difference of each coordinate below which two corners of one face are welded
// into one (corners about 1e-5 apart along every axis).
inline constexpr float WELD_DISTANCE_SQ = 1e-10f;

// Squared difference of each component of two unit normals below which a four-cornered
// face counts as flat: the normal of all its corners against that of its first three.
inline constexpr float FLAT_NORMAL_DIFFERENCE_SQ = 1e-10f;

// Distance from a polygon's Newell plane within which every corner of a polygon of more
// than four corners must lie for the polygon to be kept whole (a flat polygon), as when
// coplanar triangles are merged. Far below the classification tolerance, so a polygon
// kept whole classifies as one.
inline constexpr float FLAT_RING_DISTANCE = EPSILON;

// Planes of mesh polygons closer than this (each normal component, and the distance) are
// made one plane before the tree is built, and a normal component this close to 1 makes the
// normal that axis. The distance stays below POLY_CLASSIFY_EPSILON, so every polygon still
// classifies as lying in its snapped plane.
inline constexpr float PLANE_SNAP_NORMAL = 1e-5f;
inline constexpr float PLANE_SNAP_DISTANCE = 0.5f * POLY_CLASSIFY_EPSILON;

// How far beyond a chain's separating plane the box of the gates into a leaf must lie for the
// leaf to count as out of the chain's reach, in units, besides the margin the planes' own
// tolerance needs; and the least source-to-pass distance that margin is scaled by.
inline constexpr float UNREACHABLE_MARGIN = 0.1f;
inline constexpr float UNREACHABLE_MIN_GAP = 1.0f;
// Two mesh polygons that share a corner lie in one flat patch (see ThinPatches) when their
// unit normals' dot product exceeds this and their planes' distances differ by no more than
// POLY_CLASSIFY_EPSILON.
inline constexpr float THIN_PATCH_NORMAL_DOT = 0.9999f;
// Squared length of a separating plane's normal, after normalising it, below which the
// plane is not used: a cross product that is tiny but not zero can normalise to a vector
// far from unit length, or to nothing at all.
inline constexpr float SEPARATOR_MIN_LENGTH_SQ = 0.01f;

// Coordinates beyond this magnitude are refused: the compiler's tolerances are absolute
// (a thousandth of a unit), and a float this large no longer resolves them.
inline constexpr float MAX_COORDINATE = 1e7f;

// How far off a portal's plane the points stand that tell which of its leaves is in front:
// well beyond the point tolerance, and beyond the rounding of large coordinates (relative
// to the largest coordinate of the portal). Leaves thinner than that are probed again at
// PROBE_STEP times the offset, down to PROBE_CLOSEST_OFFSET, which stays a few times
// EPSILON so that point location can still tell the two sides apart.
inline constexpr float PROBE_OFFSET = 0.05f;
inline constexpr float PROBE_RELATIVE_OFFSET = 1e-5f;
inline constexpr float PROBE_STEP = 0.1f;
inline constexpr float PROBE_CLOSEST_OFFSET = 0.004f;

// A turn at a flat face's corner against the face's facing, relative to the product of the
// two edges' lengths (the sine of the turn), beyond which the corner is reflex and the face
// is cut. Corners on a straight line are not reflex.
inline constexpr float REFLEX_SINE = 1e-5f;

// On meshes, a portal piece whose plane is within this cosine of a node's (about 2.5
// degrees) lies along it: the strip of it within POLY_CLASSIFY_EPSILON behind the node's
// plane, where solid space would take it, counts as on the plane (faces meant to be one
// surface come on planes a hair apart, with slivers of solid space between them).
inline constexpr float NEARLY_PARALLEL_COSINE = 0.999f;

// The sight-line checks: a segment that passes within TOUCH_DISTANCE of a polygon counts as
// blocked by it. It is ten times EPSILON, so sight lines that only graze a wall, where the
// compiler's clipping may legitimately cut them off, are never held against it. Stretches
// of a segment in the tree's solid space shorter than SOLID_SLACK are ignored: a sight line
// that grazes a corner of solid space also passes within TOUCH_DISTANCE of a polygon.
inline constexpr double TOUCH_DISTANCE = 0.01;
inline constexpr double SOLID_SLACK = TOUCH_DISTANCE;

static_assert(EPSILON < POLY_CLASSIFY_EPSILON);
static_assert(EPSILON < PROBE_CLOSEST_OFFSET && PROBE_CLOSEST_OFFSET < PROBE_OFFSET);
static_assert(EPSILON < TOUCH_DISTANCE);
static_assert(WELD_DISTANCE_SQ < EPSILON * EPSILON);

}  // namespace bsppvs
