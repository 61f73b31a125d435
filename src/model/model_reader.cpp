// Reads a model file section by section, in file order, through a BinaryFile. Every count
// is checked against the bytes still unread before a list is allocated, so a hostile count
// fails at once instead of allocating gigabytes, and the node tree is read with an explicit
// stack of nodes whose sibling subtrees are still to come, so no chain length can overflow
// the call stack. Time and memory are linear in the file size.

#include "model/model_reader.h"

#include <bit>
#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "model/binary_file.h"
#include "model/ply_format.h"

namespace bsppvs {

namespace {

// What the reader is inside, for the message when the input ends there: a record kind and
// its index, or -1 for a single field such as a section count.
struct Place {
    const char* what = "header";
    int64_t index = -1;
};

std::string Describe(Place place) {
    std::string text = place.what;
    if (place.index >= 0) {
        text += ' ';
        text += std::to_string(place.index);
    }
    return text;
}

class ModelReader {
public:
    ModelReader(BinaryFile& file, std::string& reason) : file_(file), reason_(reason) {}

    std::unique_ptr<PlyModel> Read() {
        auto model = std::make_unique<PlyModel>();
        const bool ok = ReadHeader(*model) && ReadColourRecords(*model) &&
                        ReadNameRecords(*model) && ReadPositions(*model) &&
                        ReadSecondaryVectors(*model) && ReadFaces(*model) && ReadNodeTree(*model);
        if (!ok) {
            return nullptr;
        }
        reason_.clear();
        return model;
    }

private:
    bool Fail(std::string text) {
        reason_ = std::move(text);
        return false;
    }

    // One block read of exactly width bytes; the caller assigns its field only on success.
    bool Bytes(void* destination, size_t width) {
        if (file_.Read(destination, width)) {
            return true;
        }
        return Fail("file ends inside " + Describe(place_));
    }

    bool U8(uint8_t& value) { return Bytes(&value, 1); }

    bool I16(int16_t& value) {
        uint8_t b[2];
        if (!Bytes(b, sizeof b)) {
            return false;
        }
        value = static_cast<int16_t>(b[0] | (b[1] << 8));
        return true;
    }

    bool U32(uint32_t& value) {
        uint8_t b[4];
        if (!Bytes(b, sizeof b)) {
            return false;
        }
        value = uint32_t{b[0]} | uint32_t{b[1]} << 8 | uint32_t{b[2]} << 16 | uint32_t{b[3]} << 24;
        return true;
    }

    bool I32(int32_t& value) {
        uint32_t bits = 0;
        if (!U32(bits)) {
            return false;
        }
        value = static_cast<int32_t>(bits);
        return true;
    }

    bool F32(float& value) {
        uint32_t bits = 0;
        if (!U32(bits)) {
            return false;
        }
        value = std::bit_cast<float>(bits);
        return true;
    }

    bool Vec(Vector3& v) { return F32(v.x) && F32(v.y) && F32(v.z); }

    // A zero-ended byte string, read one byte at a time; the zero is not kept.
    bool Name(std::string& name) {
        name.clear();
        for (uint8_t byte = 0;;) {
            if (!U8(byte)) {
                return false;
            }
            if (byte == 0) {
                return true;
            }
            name.push_back(static_cast<char>(byte));
        }
    }

    // Reads a record count and checks it against the format's minimum and against what the
    // unread bytes could hold, given the smallest size of one record. label() names the
    // count in the message and is only built on failure.
    template <typename Label>
    bool Count(int32_t& count, int32_t minimum, uint64_t minRecordBytes, Label label) {
        if (!I32(count)) {
            return false;
        }
        if (count < minimum) {
            const std::string limit =
                minimum == 0 ? "is negative" : "is below " + std::to_string(minimum);
            return Fail(label() + " " + std::to_string(count) + " " + limit);
        }
        const uint64_t needed = static_cast<uint64_t>(count) * minRecordBytes;
        if (needed > file_.BytesRemaining()) {
            return Fail(label() + " " + std::to_string(count) + " needs at least " +
                        std::to_string(needed) + " bytes but " +
                        std::to_string(file_.BytesRemaining()) + " remain");
        }
        return true;
    }

    // A section's record count; the name doubles as the place for a truncation message.
    bool SectionCount(int32_t& count, int32_t minimum, uint64_t minRecordBytes, const char* name) {
        place_ = {name, -1};
        return Count(count, minimum, minRecordBytes, [name] { return std::string(name); });
    }

    bool ReadHeader(PlyModel& model) {
        place_ = {"header", -1};
        model.header = std::make_unique<PlyHeader>();
        PlyHeader& header = *model.header;
        for (size_t i = 0; i < sizeof PLY_MAGIC; ++i) {
            uint8_t byte = 0;
            if (!U8(byte)) {
                return false;
            }
            header.magic[i] = static_cast<char>(byte);
        }
        header.magic[3] = '\0';
        if (std::memcmp(header.magic.data(), PLY_MAGIC, sizeof PLY_MAGIC) != 0) {
            return Fail("bad magic (expected \"PLY\")");
        }
        if (!I32(header.version)) {
            return false;
        }
        if (header.version != PLY_FORMAT_VERSION) {
            return Fail("unsupported version " + std::to_string(header.version) + " (expected " +
                        std::to_string(PLY_FORMAT_VERSION) + ")");
        }
        return true;
    }

    bool Colour(std::array<float, 3>& colour) {
        for (float& channel : colour) {
            uint8_t byte = 0;
            if (!U8(byte)) {
                return false;
            }
            channel = static_cast<float>(byte) * COLOUR_BYTE_SCALE;
        }
        return true;
    }

    bool ReadColourRecords(PlyModel& model) {
        int32_t count = 0;
        if (!SectionCount(count, MIN_COLOUR_RECORDS, COLOUR_RECORD_BYTES, "colour record count")) {
            return false;
        }
        std::vector<PlyColourRecord> records(static_cast<size_t>(count));
        for (size_t i = 0; i < records.size(); ++i) {
            place_ = {"colour record", static_cast<int64_t>(i)};
            PlyColourRecord& record = records[i];
            if (!Colour(record.colourA) || !F32(record.valueA) || !Colour(record.colourB)) {
                return false;
            }
            for (float& value : record.reals) {
                if (!F32(value)) {
                    return false;
                }
            }
        }
        model.colourRecords = std::move(records);
        return true;
    }

    bool ReadNameRecords(PlyModel& model) {
        int32_t count = 0;
        if (!SectionCount(count, MIN_NAME_RECORDS, MIN_NAME_RECORD_BYTES, "name record count")) {
            return false;
        }
        std::vector<PlyNameRecord> records(static_cast<size_t>(count));
        for (size_t i = 0; i < records.size(); ++i) {
            place_ = {"name record", static_cast<int64_t>(i)};
            PlyNameRecord& record = records[i];
            if (!Name(record.name) || !I16(record.valueA) || !I16(record.valueB)) {
                return false;
            }
        }
        model.nameRecords = std::move(records);
        return true;
    }

    // Sections 3 and 4 share one shape: a count, then records of three reals.
    bool ReadVectors(std::vector<Vector3>& target, int32_t minimum, const char* countName,
                     const char* recordName) {
        int32_t count = 0;
        if (!SectionCount(count, minimum, VECTOR_RECORD_BYTES, countName)) {
            return false;
        }
        std::vector<Vector3> vectors(static_cast<size_t>(count));
        for (size_t i = 0; i < vectors.size(); ++i) {
            place_ = {recordName, static_cast<int64_t>(i)};
            if (!Vec(vectors[i])) {
                return false;
            }
        }
        target = std::move(vectors);
        return true;
    }

    bool ReadPositions(PlyModel& model) {
        return ReadVectors(model.positions, MIN_POSITIONS, "position count", "position");
    }

    bool ReadSecondaryVectors(PlyModel& model) {
        return ReadVectors(model.secondaryVectors, MIN_SECONDARY_VECTORS, "secondary vector count",
                           "secondary vector");
    }

    bool ReadLayer(PlyFaceLayer& layer) {
        if (!I32(layer.layerId) || !Vec(layer.layerVector) || !U8(layer.byteA) ||
            !U8(layer.byteB)) {
            return false;
        }
        for (auto& pair : layer.uv) {
            if (!F32(pair[0]) || !F32(pair[1])) {
                return false;
            }
        }
        // The file holds v; the model holds 1 - v, flipped once the layer is complete.
        for (auto& pair : layer.uv) {
            pair[1] = 1.0f - pair[1];
        }
        return true;
    }

    // Appends each corner's secondary index to the list of the position it names, after
    // checking that every corner names a position that exists.
    bool CollectCorners(const PlyFace& face, size_t faceIndex,
                        std::vector<std::vector<int32_t>>& cornerLists) {
        for (size_t k = 0; k < face.positionIndex.size(); ++k) {
            const int32_t index = face.positionIndex[k];
            if (index < 0 || static_cast<size_t>(index) >= cornerLists.size()) {
                return Fail("face " + std::to_string(faceIndex) + " corner " + std::to_string(k) +
                            " names position " + std::to_string(index) + " of " +
                            std::to_string(cornerLists.size()));
            }
        }
        for (size_t k = 0; k < face.positionIndex.size(); ++k) {
            cornerLists[static_cast<size_t>(face.positionIndex[k])].push_back(
                face.secondaryIndex[k]);
        }
        return true;
    }

    bool ReadFace(PlyFace& face, size_t faceIndex, std::vector<std::vector<int32_t>>& cornerLists) {
        place_ = {"face", static_cast<int64_t>(faceIndex)};
        if (!I32(face.tag)) {
            return false;
        }
        for (auto* indices : {&face.positionIndex, &face.secondaryIndex}) {
            for (int32_t& index : *indices) {
                if (!I32(index)) {
                    return false;
                }
            }
        }
        if (!CollectCorners(face, faceIndex, cornerLists)) {
            return false;
        }
        int32_t layerCount = 0;
        if (!Count(layerCount, 0, LAYER_RECORD_BYTES,
                   [faceIndex] { return "face " + std::to_string(faceIndex) + " layer count"; })) {
            return false;
        }
        face.layers.resize(static_cast<size_t>(layerCount));
        for (PlyFaceLayer& layer : face.layers) {
            if (!ReadLayer(layer)) {
                return false;
            }
        }
        return true;
    }

    bool ReadFaces(PlyModel& model) {
        std::vector<std::vector<int32_t>> cornerLists(model.positions.size());
        int32_t count = 0;
        if (!SectionCount(count, MIN_FACES, MIN_FACE_BYTES, "face count")) {
            return false;
        }
        std::vector<PlyFace> faces(static_cast<size_t>(count));
        for (size_t i = 0; i < faces.size(); ++i) {
            if (!ReadFace(faces[i], i, cornerLists)) {
                return false;
            }
        }
        model.faces = std::move(faces);
        model.cornerLists = std::move(cornerLists);
        return true;
    }

    // One node record without its subtrees. The name enters names as soon as it is read,
    // so a later node with the same hash replaces it.
    bool ReadNode(PlyNode& node, int64_t nodeIndex, bool& hasChild, bool& hasSibling,
                  std::map<uint32_t, std::string>& names) {
        place_ = {"node", nodeIndex};
        uint8_t childFlag = 0;
        uint8_t siblingFlag = 0;
        if (!U8(childFlag) || !U8(siblingFlag) || !Name(node.name)) {
            return false;
        }
        hasChild = childFlag != 0;
        hasSibling = siblingFlag != 0;
        node.nameHash = HashName(node.name);
        names[node.nameHash] = node.name;
        if (!Vec(node.origin) || !Vec(node.target) || !Vec(node.upPoint)) {
            return false;
        }
        node.toLocal.LookAt(node.origin, node.target, node.upPoint);
        node.toWorld = node.toLocal.RigidInverse();
        int32_t indexCount = 0;
        if (!Count(indexCount, 0, NODE_INDEX_BYTES,
                   [nodeIndex] { return "node " + std::to_string(nodeIndex) + " index count"; })) {
            return false;
        }
        node.indices.resize(static_cast<size_t>(indexCount));
        for (int32_t& index : node.indices) {
            if (!I32(index)) {
                return false;
            }
        }
        return true;
    }

    // Pre-order without recursion: after a node comes its child subtree, if any, and then
    // the sibling subtree of the most recent node still waiting for one.
    bool ReadNodeTree(PlyModel& model) {
        std::map<uint32_t, std::string> names;
        std::unique_ptr<PlyNode> root;
        std::unique_ptr<PlyNode>* slot = &root;  // where the next node is attached
        PlyNode* parent = nullptr;               // set only when slot is a child link
        std::vector<PlyNode*> awaitingSibling;
        for (int64_t nodeIndex = 0; slot != nullptr; ++nodeIndex) {
            auto node = std::make_unique<PlyNode>();
            node->parent = parent;
            bool hasChild = false;
            bool hasSibling = false;
            if (!ReadNode(*node, nodeIndex, hasChild, hasSibling, names)) {
                return false;
            }
            PlyNode* current = node.get();
            *slot = std::move(node);
            if (hasSibling) {
                awaitingSibling.push_back(current);
            }
            if (hasChild) {
                slot = &current->child;
                parent = current;
            } else if (!awaitingSibling.empty()) {
                slot = &awaitingSibling.back()->sibling;
                awaitingSibling.pop_back();
                parent = nullptr;
            } else {
                slot = nullptr;
            }
        }
        model.root = std::move(root);
        model.nodeNames = std::move(names);
        return true;
    }

    BinaryFile& file_;
    std::string& reason_;
    Place place_;
};

}  // namespace

std::unique_ptr<PlyModel> LoadModelFromBytes(std::span<const uint8_t> bytes, std::string& reason) {
    BinaryFile file(bytes);
    return ModelReader(file, reason).Read();
}

std::unique_ptr<PlyModel> LoadModel(const std::string& fileName, std::string& reason) {
    BinaryFile file;
    if (!file.Open(fileName, BinaryFile::MODE_READ)) {
        reason = "cannot open: " + file.Error();
        return nullptr;
    }
    return ModelReader(file, reason).Read();
}

std::unique_ptr<PlyModel> LoadModel(const std::string& fileName) {
    std::string reason;
    return LoadModel(fileName, reason);
}

}  // namespace bsppvs
