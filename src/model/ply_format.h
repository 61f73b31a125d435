#pragma once

// Constants of the model file format shared by the reader and the writer. The file is
// little-endian and packed; the sizes are sizes in the file, not in memory.

#include <bit>
#include <cstddef>
#include <cstdint>

namespace bsppvs {

inline constexpr char PLY_MAGIC[3] = {'P', 'L', 'Y'};  // no terminator in the file
inline constexpr int32_t PLY_FORMAT_VERSION = 2;

// Minimum record counts per section; a lower count makes the file invalid.
inline constexpr int32_t MIN_COLOUR_RECORDS = 1;
inline constexpr int32_t MIN_NAME_RECORDS = 0;
inline constexpr int32_t MIN_POSITIONS = 1;
inline constexpr int32_t MIN_SECONDARY_VECTORS = 1;
inline constexpr int32_t MIN_FACES = 1;

// Sizes of the fixed records, and the smallest size of records that hold a name or a
// list, which is what a count is checked against before anything is allocated.
inline constexpr uint64_t COLOUR_RECORD_BYTES = 42;
inline constexpr uint64_t MIN_NAME_RECORD_BYTES = 5;  // empty name: zero byte + 2 x int16
inline constexpr uint64_t VECTOR_RECORD_BYTES = 12;
inline constexpr uint64_t MIN_FACE_BYTES = 40;  // fixed part, no layers
inline constexpr uint64_t LAYER_RECORD_BYTES = 50;
inline constexpr uint64_t NODE_INDEX_BYTES = 4;

// Colour channels are stored as bytes and held as byte x COLOUR_BYTE_SCALE, the float
// nearest 1/255, so 0 reads as 0.0 and 255 as exactly 1.0.
inline constexpr float COLOUR_BYTE_SCALE = std::bit_cast<float>(0x3B808081u);
inline constexpr float COLOUR_BYTE_MAX = 255.0f;

}  // namespace bsppvs
