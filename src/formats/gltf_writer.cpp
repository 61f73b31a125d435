// Builds the glTF document in memory (one buffer holding every group's positions and
// indices) and lets the loader's serialiser write it, as JSON with the buffer embedded or as
// a binary container. Linear in the size of the mesh.

#include <tiny_gltf.h>

#include <bit>
#include <sstream>

#include "formats/gltf_format.h"

namespace bsppvs {

namespace {

// The polygons of one group, in mesh order.
struct GroupPolygons {
    int32_t group = -1;
    std::vector<size_t> polygons;
};

std::vector<GroupPolygons> PolygonsByGroup(const LevelMesh& mesh) {
    std::vector<GroupPolygons> groups;
    std::vector<int64_t> slotOfGroup(mesh.groups.size() + 1, -1);  // group + 1, for none
    for (size_t p = 0; p < mesh.polygons.size(); ++p) {
        const int32_t group = mesh.polygons[p].group;
        const bool named = group >= 0 && static_cast<size_t>(group) < mesh.groups.size();
        int64_t& slot = slotOfGroup[named ? static_cast<size_t>(group) + 1 : 0];
        if (slot < 0) {
            slot = static_cast<int64_t>(groups.size());
            groups.push_back({named ? group : -1, {}});
        }
        groups[static_cast<size_t>(slot)].polygons.push_back(p);
    }
    return groups;
}

// Appends values to the document's one buffer as a new buffer view; returns its index.
template <typename Value>
int AppendView(tinygltf::Model& document, const std::vector<Value>& values, int target) {
    std::vector<unsigned char>& data = document.buffers.front().data;
    tinygltf::BufferView& view = document.bufferViews.emplace_back();
    view.buffer = 0;
    view.byteOffset = data.size();
    view.byteLength = values.size() * sizeof(Value);
    view.target = target;
    for (const Value value : values) {
        const auto bits = std::bit_cast<uint32_t>(value);
        for (int shift = 0; shift < 32; shift += 8) {
            data.push_back(static_cast<unsigned char>(bits >> shift));
        }
    }
    return static_cast<int>(document.bufferViews.size() - 1);
}

int AppendAccessor(tinygltf::Model& document, int view, int componentType, int type, size_t count) {
    tinygltf::Accessor& accessor = document.accessors.emplace_back();
    accessor.bufferView = view;
    accessor.componentType = componentType;
    accessor.type = type;
    accessor.count = count;
    return static_cast<int>(document.accessors.size() - 1);
}

// The group's positions, each once, in order of first use; local[i] is the accessor element
// of mesh position i, -1 when the group does not use it.
int AppendPositions(tinygltf::Model& document, const LevelMesh& mesh, const GroupPolygons& group,
                    std::vector<int64_t>& local) {
    std::vector<float> coordinates;
    std::array<double, 3> low{};
    std::array<double, 3> high{};
    for (const size_t p : group.polygons) {
        for (const int32_t corner : mesh.Ring(p)) {
            if (local[static_cast<size_t>(corner)] >= 0) {
                continue;
            }
            local[static_cast<size_t>(corner)] = static_cast<int64_t>(coordinates.size() / 3);
            const Vector3 v = mesh.positions[static_cast<size_t>(corner)];
            const std::array<double, 3> xyz = {v.x, v.y, v.z};
            for (size_t axis = 0; axis < 3; ++axis) {
                const bool first = coordinates.size() < 3;
                low[axis] = first ? xyz[axis] : std::min(low[axis], xyz[axis]);
                high[axis] = first ? xyz[axis] : std::max(high[axis], xyz[axis]);
            }
            coordinates.insert(coordinates.end(), {v.x, v.y, v.z});
        }
    }
    const int view = AppendView(document, coordinates, TINYGLTF_TARGET_ARRAY_BUFFER);
    const int accessor = AppendAccessor(document, view, TINYGLTF_COMPONENT_TYPE_FLOAT,
                                        TINYGLTF_TYPE_VEC3, coordinates.size() / 3);
    // Position accessors must carry their bounds.
    document.accessors[static_cast<size_t>(accessor)].minValues.assign(low.begin(), low.end());
    document.accessors[static_cast<size_t>(accessor)].maxValues.assign(high.begin(), high.end());
    return accessor;
}

// One primitive per run of polygons of one material, each polygon the fan (c0, ci, ci+1).
void AppendPrimitives(tinygltf::Model& document, const LevelMesh& mesh, const GroupPolygons& group,
                      const std::vector<int64_t>& local, int positions, tinygltf::Mesh& target) {
    for (size_t first = 0; first < group.polygons.size();) {
        const int32_t material = mesh.polygons[group.polygons[first]].material;
        std::vector<uint32_t> indices;
        size_t next = first;
        for (; next < group.polygons.size() &&
               mesh.polygons[group.polygons[next]].material == material;
             ++next) {
            const std::span<const int32_t> ring = mesh.Ring(group.polygons[next]);
            const auto at = [&](size_t i) {
                return static_cast<uint32_t>(local[static_cast<size_t>(ring[i])]);
            };
            for (size_t i = 1; i + 1 < ring.size(); ++i) {
                indices.insert(indices.end(), {at(0), at(i), at(i + 1)});
            }
        }
        const int view = AppendView(document, indices, TINYGLTF_TARGET_ELEMENT_ARRAY_BUFFER);
        tinygltf::Primitive& primitive = target.primitives.emplace_back();
        primitive.attributes["POSITION"] = positions;
        primitive.indices = AppendAccessor(document, view, TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT,
                                           TINYGLTF_TYPE_SCALAR, indices.size());
        primitive.mode = TINYGLTF_MODE_TRIANGLES;
        const bool named = material >= 0 && static_cast<size_t>(material) < mesh.materials.size();
        primitive.material = named ? material : -1;
        first = next;
    }
}

void AppendGroupNode(tinygltf::Model& document, const LevelMesh& mesh, const GroupPolygons& group,
                     std::vector<int64_t>& local) {
    std::fill(local.begin(), local.end(), -1);
    const std::string name = group.group >= 0 ? mesh.groups[static_cast<size_t>(group.group)] : "";
    tinygltf::Mesh target;
    target.name = name;
    AppendPrimitives(document, mesh, group, local, AppendPositions(document, mesh, group, local),
                     target);
    document.meshes.push_back(std::move(target));
    tinygltf::Node& node = document.nodes.emplace_back();
    node.name = name;
    node.mesh = static_cast<int>(document.meshes.size() - 1);
}

void AppendMarkedPoint(tinygltf::Model& document, const MarkedPoint& point) {
    tinygltf::Node& node = document.nodes.emplace_back();
    node.name = point.name;
    node.translation = {point.position.x, point.position.y, point.position.z};
    tinygltf::Value::Object extras;
    extras[GLTF_MARK_KEY] = tinygltf::Value(true);
    node.extras = tinygltf::Value(std::move(extras));
}

tinygltf::Model BuildDocument(const LevelMesh& mesh) {
    tinygltf::Model document;
    document.asset.version = "2.0";
    document.asset.generator = "bsppvs";
    for (const std::string& name : mesh.materials) {
        document.materials.emplace_back().name = name;
    }
    document.buffers.emplace_back();
    std::vector<int64_t> local(mesh.positions.size(), -1);
    for (const GroupPolygons& group : PolygonsByGroup(mesh)) {
        AppendGroupNode(document, mesh, group, local);
    }
    for (const MarkedPoint& point : mesh.points) {
        AppendMarkedPoint(document, point);
    }
    if (document.buffers.front().data.empty()) {
        document.buffers.clear();
    }
    // A scene without nodes would be written as null, which no reader takes; a level
    // without anything in it has no scene.
    if (!document.nodes.empty()) {
        tinygltf::Scene& scene = document.scenes.emplace_back();
        for (size_t n = 0; n < document.nodes.size(); ++n) {
            scene.nodes.push_back(static_cast<int>(n));
        }
        document.defaultScene = 0;
    }
    return document;
}

}  // namespace

bool WriteGltf(const LevelMesh& mesh, bool binary, std::vector<uint8_t>& bytes,
               std::string& reason) {
    std::ostringstream out;
    bool written = false;
    try {
        const tinygltf::Model document = BuildDocument(mesh);
        tinygltf::TinyGLTF writer;
        written = writer.WriteGltfSceneToStream(&document, out, !binary, binary);
    } catch (const std::exception& error) {
        reason = std::string("glTF cannot be written: ") + error.what();
        return false;
    }
    if (!written || !out) {
        reason = "glTF cannot be written";
        return false;
    }
    const std::string text = out.str();
    bytes.assign(text.begin(), text.end());
    return true;
}

}  // namespace bsppvs
