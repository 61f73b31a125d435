#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "model/ply_model.h"

namespace bsppvs {

// Writes a model in the model file format, so that LoadModel reads back an equal model.
// Returns false (and sets reason) when the file cannot be written or the model cannot be
// expressed in the format: no header or one that is not "PLY" version 2, no root, an
// empty colour, position, secondary vector or face table, a corner naming a missing
// position, a name holding a zero byte, or a list too long for a 32-bit count.
// cornerLists and nodeNames are not written: the reader derives them again.
bool SaveModel(const PlyModel& model, const std::string& fileName, std::string& reason);

// As SaveModel, but replaces bytes with the file's content instead of writing a file.
bool SaveModelToBytes(const PlyModel& model, std::vector<uint8_t>& bytes, std::string& reason);

}  // namespace bsppvs
