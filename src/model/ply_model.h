#pragma once

// The in-memory form of one model file: every section in file order, plus the per-position
// corner lists and node-name map the reader derives. Only the faces' corner position
// indices and the positions are read outside this subsystem.

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "geometry/vector3.h"
#include "model/matrix4.h"

namespace bsppvs {

struct PlyHeader {
    // The file's three magic bytes and a terminating zero, so it reads as "PLY".
    std::array<char, 4> magic{0, 0, 0, 0};
    int32_t version = 0;

    friend bool operator==(const PlyHeader&, const PlyHeader&) = default;
};

struct PlyColourRecord {
    std::array<float, 3> colourA{};  // red, green, blue in [0, 1]
    float valueA = 0.0f;
    std::array<float, 3> colourB{};  // red, green, blue in [0, 1]
    std::array<float, 8> reals{};

    friend bool operator==(const PlyColourRecord&, const PlyColourRecord&) = default;
};

struct PlyNameRecord {
    std::string name;  // without the terminating zero
    int16_t valueA = 0;
    int16_t valueB = 0;

    friend bool operator==(const PlyNameRecord&, const PlyNameRecord&) = default;
};

struct PlyFaceLayer {
    int32_t layerId = 0;
    Vector3 layerVector;
    uint8_t byteA = 0;
    uint8_t byteB = 0;
    // One (u, v) pair per corner 0..3; v is held as 1 - the value in the file.
    std::array<std::array<float, 2>, 4> uv{};

    friend bool operator==(const PlyFaceLayer&, const PlyFaceLayer&) = default;
};

struct PlyFace {
    int32_t tag = 0;
    // Index into positions of corners 0..3; corners may coincide.
    std::array<int32_t, 4> positionIndex{};
    std::array<int32_t, 4> secondaryIndex{};
    std::vector<PlyFaceLayer> layers;

    friend bool operator==(const PlyFace&, const PlyFace&) = default;
};

struct PlyNode {
    PlyNode* parent = nullptr;  // not owned; set only on nodes reached through a child link
    std::unique_ptr<PlyNode> child;
    std::unique_ptr<PlyNode> sibling;
    Vector3 origin;
    Vector3 target;
    Vector3 upPoint;
    Matrix4 toLocal;  // LookAt(origin, target, upPoint)
    Matrix4 toWorld;  // toLocal.RigidInverse()
    std::vector<int32_t> indices;
    uint32_t nameHash = 0;  // HashName(name)
    std::string name;

    PlyNode() = default;
    PlyNode(const PlyNode&) = delete;
    PlyNode& operator=(const PlyNode&) = delete;
    // Frees the subtrees without recursing, so chains of any length cannot overflow the
    // stack.
    ~PlyNode();
};

class PlyModel {
public:
    PlyModel() = default;
    PlyModel(const PlyModel&) = delete;
    PlyModel& operator=(const PlyModel&) = delete;
    // The one virtual operation: a model is always destroyed whole through a pointer to it.
    virtual ~PlyModel();

    std::unique_ptr<PlyHeader> header;
    std::vector<PlyColourRecord> colourRecords;
    std::vector<PlyNameRecord> nameRecords;
    std::vector<Vector3> positions;
    std::vector<Vector3> secondaryVectors;
    std::vector<PlyFace> faces;
    // One list per position, same index: the secondary index of every face corner naming
    // that position, in face order and, within a face, corner order.
    std::vector<std::vector<int32_t>> cornerLists;
    std::unique_ptr<PlyNode> root;
    // Node name hash to the name of the last node (in pre-order) with that hash.
    std::map<uint32_t, std::string> nodeNames;
};

// The hash of a byte string: each byte sign-extended, h = (h << 6) ^ (h & 0xFFF00000) ^ c.
uint32_t HashName(const std::string& name);

}  // namespace bsppvs
