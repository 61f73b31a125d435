#pragma once

// Leaves thinner than the tolerances where sight lines cross them. On meshes, faces meant to
// be one surface come on planes a hair apart and crossing at a slight angle; the wedge of open
// space between two such planes is a leaf, or the thin edge of a larger leaf, whose portals
// on either side lie within POLY_CLASSIFY_EPSILON of each other's planes there. The
// visibility pass takes a gate that lies on the plane of the gate before it for one no
// sight line passes through both, so every chain across the wedge ends there, though a
// line crossing it crosses no face.

#include <cstdint>
#include <vector>

#include "portals/portal.h"

namespace bsppvs {

// For every leaf, every two of its portals whose planes are within NEARLY_PARALLEL_COSINE
// and whose parts within POLY_CLASSIFY_EPSILON of each other's planes overlap by more than
// a strip of that width: an opening joining the two leaves beyond, the overlap of the two
// parts.
// Only pairs of leaves that no portal of `portals` joins, each pair once, in the order of
// the leaves and their portals. With `crossable`, only the leaves it marks 1 are crossed;
// with `crossed`, it is set to the leaf each opening crosses.
std::vector<Portal> OpeningsAcrossThinLeaves(std::vector<Portal>& portals, size_t leafCount,
                                             const std::vector<uint8_t>* crossable = nullptr,
                                             std::vector<int32_t>* crossed = nullptr);

}  // namespace bsppvs
