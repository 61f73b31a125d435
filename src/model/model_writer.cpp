// Writes a model section by section into a byte buffer, then hands the buffer to the file
// in one block. The model is checked first, so an invalid model never leaves a half-written
// file behind. Linear in the size of the model; the node tree is walked with an explicit
// stack, so chains of any length are written without recursion.

#include "model/model_writer.h"

#include <cmath>
#include <cstring>
#include <limits>

#include "model/binary_file.h"
#include "model/ply_format.h"

namespace bsppvs {

namespace {

// How many one-ulp steps the writer tries when 1 - stored does not read back as stored.
// One step finds it whenever an exact file value exists; the rest is margin.
constexpr int MAX_V_NUDGES = 4;

class ByteWriter {
public:
    explicit ByteWriter(std::vector<uint8_t>& bytes) : bytes_(bytes) {}

    void U8(uint8_t value) { bytes_.push_back(value); }
    void I16(int16_t value) { Unsigned(static_cast<uint16_t>(value), sizeof value); }
    void I32(int32_t value) { Unsigned(static_cast<uint32_t>(value), sizeof value); }
    void Count(size_t count) { I32(static_cast<int32_t>(count)); }
    void F32(float value) { Unsigned(std::bit_cast<uint32_t>(value), sizeof value); }
    void Vec(Vector3 v) {
        F32(v.x);
        F32(v.y);
        F32(v.z);
    }
    void Name(const std::string& name) {
        bytes_.insert(bytes_.end(), name.begin(), name.end());
        U8(0);
    }

private:
    void Unsigned(uint32_t value, size_t width) {
        for (size_t i = 0; i < width; ++i) {
            bytes_.push_back(static_cast<uint8_t>(value >> (8 * i)));
        }
    }

    std::vector<uint8_t>& bytes_;
};

// The byte that reads back as channel (the reader multiplies by the scale); channels
// outside [0, 1], NaN included, are clamped.
uint8_t ColourByte(float channel) {
    if (!(channel > 0.0f)) {
        return 0;
    }
    if (channel >= 1.0f) {
        return static_cast<uint8_t>(COLOUR_BYTE_MAX);
    }
    return static_cast<uint8_t>(std::lround(channel * COLOUR_BYTE_MAX));
}

// The file value f whose flip 1 - f reads back as the stored v. 1 - stored is that value
// whenever both subtractions are exact, which covers every v in [-1, 1.5]; for larger
// magnitudes the two roundings can disagree by an ulp, and since 1 - f falls as f grows,
// stepping f one ulp in the right direction finds the exact value. A stored v that no file
// value produces (say 1e-10) is written as 1 - v, the nearest the format can carry.
float FileV(float stored) {
    const float first = 1.0f - stored;
    float f = first;
    for (int step = 0; step < MAX_V_NUDGES; ++step) {
        const float back = 1.0f - f;
        if (back == stored || std::isnan(back)) {
            return f;
        }
        const float direction = back > stored ? std::numeric_limits<float>::infinity()
                                              : -std::numeric_limits<float>::infinity();
        f = std::nextafter(f, direction);
    }
    return 1.0f - f == stored ? f : first;
}

bool Fail(std::string& reason, std::string text) {
    reason = std::move(text);
    return false;
}

bool FitsCount(size_t size) {
    return size <= static_cast<size_t>(std::numeric_limits<int32_t>::max());
}

bool HasZeroByte(const std::string& name) {
    return name.find('\0') != std::string::npos;
}

bool CheckHeader(const PlyModel& model, std::string& reason) {
    if (!model.header) {
        return Fail(reason, "model has no header");
    }
    const PlyHeader& header = *model.header;
    if (std::memcmp(header.magic.data(), PLY_MAGIC, sizeof PLY_MAGIC) != 0 ||
        header.magic[3] != '\0' || header.version != PLY_FORMAT_VERSION) {
        return Fail(reason, "model header is not \"PLY\" version 2");
    }
    return true;
}

bool CheckTables(const PlyModel& model, std::string& reason) {
    struct Table {
        const char* what;
        size_t size;
    };
    const Table tables[] = {{"colour records", model.colourRecords.size()},
                            {"name records", model.nameRecords.size()},
                            {"positions", model.positions.size()},
                            {"secondary vectors", model.secondaryVectors.size()},
                            {"faces", model.faces.size()}};
    for (const Table& table : tables) {
        if (!FitsCount(table.size)) {
            return Fail(reason, std::string("too many ") + table.what);
        }
    }
    if (model.colourRecords.empty() || model.positions.empty() || model.secondaryVectors.empty() ||
        model.faces.empty()) {
        return Fail(reason,
                    "model needs at least one colour record, position, secondary "
                    "vector and face");
    }
    for (size_t i = 0; i < model.nameRecords.size(); ++i) {
        if (HasZeroByte(model.nameRecords[i].name)) {
            return Fail(reason, "name record " + std::to_string(i) + " has a zero byte");
        }
    }
    return true;
}

bool CheckFaces(const PlyModel& model, std::string& reason) {
    const size_t positionCount = model.positions.size();
    for (size_t i = 0; i < model.faces.size(); ++i) {
        const PlyFace& face = model.faces[i];
        if (!FitsCount(face.layers.size())) {
            return Fail(reason, "face " + std::to_string(i) + " has too many layers");
        }
        for (size_t k = 0; k < face.positionIndex.size(); ++k) {
            const int32_t index = face.positionIndex[k];
            if (index < 0 || static_cast<size_t>(index) >= positionCount) {
                return Fail(reason, "face " + std::to_string(i) + " corner " + std::to_string(k) +
                                        " names position " + std::to_string(index) + " of " +
                                        std::to_string(positionCount));
            }
        }
    }
    return true;
}

bool CheckNodes(const PlyModel& model, std::string& reason) {
    if (!model.root) {
        return Fail(reason, "model has no root node");
    }
    std::vector<const PlyNode*> pending{model.root.get()};
    while (!pending.empty()) {
        const PlyNode* node = pending.back();
        pending.pop_back();
        if (HasZeroByte(node->name)) {
            return Fail(reason, "node name has a zero byte");
        }
        if (!FitsCount(node->indices.size())) {
            return Fail(reason, "node has too many indices");
        }
        for (const PlyNode* next : {node->child.get(), node->sibling.get()}) {
            if (next != nullptr) {
                pending.push_back(next);
            }
        }
    }
    return true;
}

void WriteHeader(ByteWriter& out) {
    for (const char c : PLY_MAGIC) {
        out.U8(static_cast<uint8_t>(c));
    }
    out.I32(PLY_FORMAT_VERSION);
}

void WriteColour(ByteWriter& out, const std::array<float, 3>& colour) {
    for (const float channel : colour) {
        out.U8(ColourByte(channel));
    }
}

void WriteColourRecords(ByteWriter& out, const std::vector<PlyColourRecord>& records) {
    out.Count(records.size());
    for (const PlyColourRecord& record : records) {
        WriteColour(out, record.colourA);
        out.F32(record.valueA);
        WriteColour(out, record.colourB);
        for (const float value : record.reals) {
            out.F32(value);
        }
    }
}

void WriteNameRecords(ByteWriter& out, const std::vector<PlyNameRecord>& records) {
    out.Count(records.size());
    for (const PlyNameRecord& record : records) {
        out.Name(record.name);
        out.I16(record.valueA);
        out.I16(record.valueB);
    }
}

void WriteVectors(ByteWriter& out, const std::vector<Vector3>& vectors) {
    out.Count(vectors.size());
    for (const Vector3& v : vectors) {
        out.Vec(v);
    }
}

void WriteLayer(ByteWriter& out, const PlyFaceLayer& layer) {
    out.I32(layer.layerId);
    out.Vec(layer.layerVector);
    out.U8(layer.byteA);
    out.U8(layer.byteB);
    for (const auto& [u, v] : layer.uv) {
        out.F32(u);
        out.F32(FileV(v));
    }
}

void WriteFaces(ByteWriter& out, const std::vector<PlyFace>& faces) {
    out.Count(faces.size());
    for (const PlyFace& face : faces) {
        out.I32(face.tag);
        for (const int32_t index : face.positionIndex) {
            out.I32(index);
        }
        for (const int32_t index : face.secondaryIndex) {
            out.I32(index);
        }
        out.Count(face.layers.size());
        for (const PlyFaceLayer& layer : face.layers) {
            WriteLayer(out, layer);
        }
    }
}

void WriteNode(ByteWriter& out, const PlyNode& node) {
    out.U8(node.child ? 1 : 0);
    out.U8(node.sibling ? 1 : 0);
    out.Name(node.name);
    out.Vec(node.origin);
    out.Vec(node.target);
    out.Vec(node.upPoint);
    out.Count(node.indices.size());
    for (const int32_t index : node.indices) {
        out.I32(index);
    }
}

// Pre-order: a node, then its whole child subtree, then its sibling subtree. The sibling
// is pushed first so the child comes off the stack before it.
void WriteNodeTree(ByteWriter& out, const PlyNode& root) {
    std::vector<const PlyNode*> pending{&root};
    while (!pending.empty()) {
        const PlyNode* node = pending.back();
        pending.pop_back();
        WriteNode(out, *node);
        if (node->sibling) {
            pending.push_back(node->sibling.get());
        }
        if (node->child) {
            pending.push_back(node->child.get());
        }
    }
}

}  // namespace

bool SaveModelToBytes(const PlyModel& model, std::vector<uint8_t>& bytes, std::string& reason) {
    if (!CheckHeader(model, reason) || !CheckTables(model, reason) || !CheckFaces(model, reason) ||
        !CheckNodes(model, reason)) {
        return false;
    }
    bytes.clear();
    ByteWriter out(bytes);
    WriteHeader(out);
    WriteColourRecords(out, model.colourRecords);
    WriteNameRecords(out, model.nameRecords);
    WriteVectors(out, model.positions);
    WriteVectors(out, model.secondaryVectors);
    WriteFaces(out, model.faces);
    WriteNodeTree(out, *model.root);
    return true;
}

bool SaveModel(const PlyModel& model, const std::string& fileName, std::string& reason) {
    std::vector<uint8_t> bytes;
    if (!SaveModelToBytes(model, bytes, reason)) {
        return false;
    }
    BinaryFile file;
    if (!file.Open(fileName, BinaryFile::MODE_WRITE)) {
        return Fail(reason, "cannot open for writing: " + file.Error());
    }
    const bool written = file.Write(bytes.data(), bytes.size());
    const bool closed = file.Close();
    if (!written || !closed) {
        return Fail(reason, "cannot write the file");
    }
    return true;
}

}  // namespace bsppvs
