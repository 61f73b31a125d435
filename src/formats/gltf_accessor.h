#pragma once

// Reading a glTF accessor's elements. The accessor, its buffer view and the view's buffer
// are checked first, in 64-bit arithmetic that cannot wrap, so every element read lies
// inside the buffer's bytes and nothing is allocated beyond what those bytes hold.

#include <tiny_gltf.h>

#include <cstdint>
#include <string>
#include <vector>

#include "geometry/vector3.h"

namespace bsppvs {

// Appends the elements of a float VEC3 accessor. Returns false and sets reason otherwise.
bool ReadPositionAccessor(const tinygltf::Model& model, int accessor, std::vector<Vector3>& out,
                          std::string& reason);

// Appends the elements of an unsigned byte, short or int SCALAR accessor, each of which must
// be below vertexCount. Returns false and sets reason otherwise.
bool ReadIndexAccessor(const tinygltf::Model& model, int accessor, size_t vertexCount,
                       std::vector<uint32_t>& out, std::string& reason);

}  // namespace bsppvs
