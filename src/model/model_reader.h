#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "model/ply_model.h"

namespace bsppvs {

// Reads one model file. Returns no model when the file cannot be opened or is not a valid
// model file; writes nothing to any output.
std::unique_ptr<PlyModel> LoadModel(const std::string& fileName);

// As LoadModel, and on failure sets reason to one line of text naming what was wrong
// (without the file name), for example "file ends inside face 3".
std::unique_ptr<PlyModel> LoadModel(const std::string& fileName, std::string& reason);

// As LoadModel, reading the file's content from memory instead of from a named file.
std::unique_ptr<PlyModel> LoadModelFromBytes(std::span<const uint8_t> bytes, std::string& reason);

}  // namespace bsppvs
