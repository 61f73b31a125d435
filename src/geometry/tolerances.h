#pragma once

// Every tolerance of the compiler, named for what it measures.
//
// Ordering that must hold: POINT_EPSILON (point on a plane) is ten times smaller than
// POLY_CLASSIFY_EPSILON (polygon against a plane). A polygon only counts as spanning when
// some corner lies beyond the coarse tolerance on each side, so a split at the fine
// tolerance always yields two non-empty pieces.

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

// A turn at a polygon's corner against its facing, relative to the product of the two
// edges' lengths, beyond which the corner counts as reflex. Corners on a straight line are
// not reflex. Rebuilding polygons from triangles keeps a polygon only while no corner is.
inline constexpr float REFLEX_TURN_SINE = 1e-5f;

// Squared length below which a separating plane's normal is too short to trust.
inline constexpr float SEPARATOR_MIN_LENGTH_SQ = 0.01f;

// Coordinates beyond this magnitude are refused: the compiler's tolerances are absolute
// (a thousandth of a unit), and a float this large no longer resolves them.
inline constexpr float MAX_COORDINATE = 1e7f;

}  // namespace bsppvs
