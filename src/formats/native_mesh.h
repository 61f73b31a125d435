#pragma once

// The native model file and the level mesh, both ways. The native file holds only
// four-cornered faces and no group or material names; marked points ride in its node tree.

#include <memory>
#include <optional>
#include <string>

#include "level/level_mesh.h"
#include "model/ply_model.h"

namespace bsppvs {

// Marked points in the native file: each child of the root node whose name starts with
// this prefix is one point, named by the rest of the node name, at the node's origin. The
// origin is read as a world position, as face positions are: the compiler never applies
// node frames. Other nodes are left alone; mazes have no marked points.
inline constexpr char NATIVE_MARK_PREFIX[] = "mark:";

// Each face becomes one polygon of the same corners in the same order, welded by WeldRing
// (the import's rule: (A, B, A, C) welds to (B, A, C)); faces left with fewer than three
// corners, or naming a position that does not exist, are dropped. Positions are copied
// whole, so polygon corners keep the model's position indices.
LevelMesh LevelMeshFromModel(const PlyModel& model);

// A model SaveModel accepts and LoadModel reads back to the same polygons: a triangle
// (a, b, c) becomes the face (a, b, c, c), a quad stays as it is, and a polygon of more
// corners is cut into the fan of triangles (c0, ci, ci+1), since the format has only
// four-cornered faces. Group and material names are lost. Marked points become nodes by
// the convention above. Expects a mesh that CheckLevelMesh accepts; SaveModel refuses the
// result of a mesh without polygons, as the format needs at least one face.
std::unique_ptr<PlyModel> ModelFromLevelMesh(const LevelMesh& mesh);

// The compiler's rule for a native model, applied to every corner of every face before any
// corner is welded away: each position a face names must be finite and within
// MAX_COORDINATE. Returns the first problem as one line naming the face, corner and
// position, in the same words as the compiler's own check of a model, or nothing.
std::optional<std::string> CheckNativeGeometry(const PlyModel& model);

}  // namespace bsppvs
