#include "formats/gltf_accessor.h"

#include <bit>

namespace bsppvs {

namespace {

// Where an accessor's elements lie: count elements, the first at data, each stride bytes
// after the one before, every byte of every element inside the buffer.
struct ElementRange {
    const unsigned char* data = nullptr;
    size_t count = 0;
    size_t stride = 0;
};

bool Fail(std::string& reason, int accessor, const std::string& text) {
    reason = "glTF accessor " + std::to_string(accessor) + " " + text;
    return false;
}

// Whether count elements of elementBytes, stride apart from offset, end within length.
bool FitsWithin(uint64_t offset, uint64_t count, uint64_t stride, uint64_t elementBytes,
                uint64_t length) {
    if (count == 0) {
        return offset <= length;
    }
    if (offset > length || elementBytes > length - offset) {
        return false;
    }
    return (count - 1) <= (length - offset - elementBytes) / stride;
}

bool FindRange(const tinygltf::Model& model, int index, int componentType, int type,
               size_t elementBytes, ElementRange& range, std::string& reason) {
    if (index < 0 || static_cast<size_t>(index) >= model.accessors.size()) {
        return Fail(reason, index, "does not exist");
    }
    const tinygltf::Accessor& accessor = model.accessors[static_cast<size_t>(index)];
    if (accessor.componentType != componentType || accessor.type != type) {
        return Fail(reason, index, "has the wrong element type");
    }
    if (accessor.sparse.isSparse) {
        return Fail(reason, index, "is sparse, which is not read");
    }
    const int viewIndex = accessor.bufferView;
    if (viewIndex < 0 || static_cast<size_t>(viewIndex) >= model.bufferViews.size()) {
        return Fail(reason, index, "has no buffer view");
    }
    const tinygltf::BufferView& view = model.bufferViews[static_cast<size_t>(viewIndex)];
    if (view.buffer < 0 || static_cast<size_t>(view.buffer) >= model.buffers.size()) {
        return Fail(reason, index, "has a buffer view without a buffer");
    }
    const std::vector<unsigned char>& buffer = model.buffers[static_cast<size_t>(view.buffer)].data;
    if (view.byteOffset > buffer.size() || view.byteLength > buffer.size() - view.byteOffset) {
        return Fail(reason, index, "has a buffer view beyond the end of its buffer");
    }
    const size_t stride = view.byteStride == 0 ? elementBytes : view.byteStride;
    if (stride < elementBytes) {
        return Fail(reason, index, "has a stride shorter than its elements");
    }
    if (!FitsWithin(accessor.byteOffset, accessor.count, stride, elementBytes, view.byteLength)) {
        return Fail(reason, index,
                    "of " + std::to_string(accessor.count) +
                        " elements reaches beyond the end of its buffer view");
    }
    range.data = buffer.data() + view.byteOffset + accessor.byteOffset;
    range.count = accessor.count;
    range.stride = stride;
    return true;
}

// Little-endian, whatever the machine.
uint32_t ReadUnsigned(const unsigned char* bytes, size_t width) {
    uint32_t value = 0;
    for (size_t i = width; i-- > 0;) {
        value = (value << 8) | bytes[i];
    }
    return value;
}

constexpr size_t FLOAT_BYTES = 4;

size_t IndexBytes(int componentType) {
    switch (componentType) {
        case TINYGLTF_COMPONENT_TYPE_UNSIGNED_BYTE:
            return 1;
        case TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT:
            return 2;
        case TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT:
            return 4;
        default:
            return 0;
    }
}

}  // namespace

bool ReadPositionAccessor(const tinygltf::Model& model, int accessor, std::vector<Vector3>& out,
                          std::string& reason) {
    ElementRange range;
    if (!FindRange(model, accessor, TINYGLTF_COMPONENT_TYPE_FLOAT, TINYGLTF_TYPE_VEC3,
                   3 * FLOAT_BYTES, range, reason)) {
        return false;
    }
    out.reserve(out.size() + range.count);
    for (size_t i = 0; i < range.count; ++i) {
        const unsigned char* element = range.data + i * range.stride;
        out.push_back({std::bit_cast<float>(ReadUnsigned(element, FLOAT_BYTES)),
                       std::bit_cast<float>(ReadUnsigned(element + FLOAT_BYTES, FLOAT_BYTES)),
                       std::bit_cast<float>(ReadUnsigned(element + 2 * FLOAT_BYTES, FLOAT_BYTES))});
    }
    return true;
}

bool ReadIndexAccessor(const tinygltf::Model& model, int accessor, size_t vertexCount,
                       std::vector<uint32_t>& out, std::string& reason) {
    if (accessor < 0 || static_cast<size_t>(accessor) >= model.accessors.size()) {
        return Fail(reason, accessor, "does not exist");
    }
    const int componentType = model.accessors[static_cast<size_t>(accessor)].componentType;
    const size_t width = IndexBytes(componentType);
    if (width == 0) {
        return Fail(reason, accessor, "has the wrong element type");
    }
    ElementRange range;
    if (!FindRange(model, accessor, componentType, TINYGLTF_TYPE_SCALAR, width, range, reason)) {
        return false;
    }
    out.reserve(out.size() + range.count);
    for (size_t i = 0; i < range.count; ++i) {
        const uint32_t vertex = ReadUnsigned(range.data + i * range.stride, width);
        if (vertex >= vertexCount) {
            return Fail(
                reason, accessor,
                "names vertex " + std::to_string(vertex) + " of " + std::to_string(vertexCount));
        }
        out.push_back(vertex);
    }
    return true;
}

}  // namespace bsppvs
