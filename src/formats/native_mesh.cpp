#include "formats/native_mesh.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <sstream>
#include <string_view>
#include <vector>

#include "geometry/tolerances.h"
#include "model/ply_format.h"

namespace bsppvs {

namespace {

// The name of the root node of a model written from a level mesh.
constexpr char LEVEL_ROOT_NODE_NAME[] = "level";

bool NamesPosition(const PlyModel& model, int32_t index) {
    return index >= 0 && static_cast<size_t>(index) < model.positions.size();
}

bool Usable(float v) {
    return std::isfinite(v) && std::fabs(v) <= MAX_COORDINATE;
}

// A node whose frame is the world's moved to origin: looking along +z with +y up.
std::unique_ptr<PlyNode> MakeNode(const std::string& name, Vector3 origin) {
    auto node = std::make_unique<PlyNode>();
    node->name = name;
    node->nameHash = HashName(name);
    node->origin = origin;
    node->target = Add(origin, AXIS_Z);
    node->upPoint = Add(origin, AXIS_Y);
    node->toLocal.LookAt(node->origin, node->target, node->upPoint);
    node->toWorld = node->toLocal.RigidInverse();
    return node;
}

void AppendMarkedPoints(const PlyModel& model, LevelMesh& mesh) {
    const std::string_view prefix = NATIVE_MARK_PREFIX;
    for (const PlyNode* node = model.root ? model.root->child.get() : nullptr; node != nullptr;
         node = node->sibling.get()) {
        if (node->name.starts_with(prefix)) {
            mesh.points.push_back({node->name.substr(prefix.size()), node->origin});
        }
    }
}

void AddFace(PlyModel& model, const std::array<int32_t, 4>& corners) {
    PlyFace& face = model.faces.emplace_back();
    face.positionIndex = corners;
    // Every corner names the one secondary vector; the lists are what the reader derives.
    for (const int32_t corner : corners) {
        model.cornerLists[static_cast<size_t>(corner)].push_back(0);
    }
}

void AddFaces(const LevelMesh& mesh, PlyModel& model) {
    for (size_t p = 0; p < mesh.polygons.size(); ++p) {
        const std::span<const int32_t> ring = mesh.Ring(p);
        if (ring.size() == 4) {
            AddFace(model, {ring[0], ring[1], ring[2], ring[3]});
            continue;
        }
        for (size_t i = 1; i + 1 < ring.size(); ++i) {
            AddFace(model, {ring[0], ring[i], ring[i + 1], ring[i + 1]});
        }
    }
}

void AddNodes(const LevelMesh& mesh, PlyModel& model) {
    model.root = MakeNode(LEVEL_ROOT_NODE_NAME, ORIGIN);
    std::unique_ptr<PlyNode>* slot = &model.root->child;
    for (const MarkedPoint& point : mesh.points) {
        *slot = MakeNode(NATIVE_MARK_PREFIX + point.name, point.position);
        slot = &(*slot)->sibling;
    }
    if (model.root->child) {
        model.root->child->parent = model.root.get();
    }
    for (const PlyNode* node = model.root.get(); node != nullptr;) {
        model.nodeNames[node->nameHash] = node->name;
        node = node == model.root.get() ? node->child.get() : node->sibling.get();
    }
}

}  // namespace

LevelMesh LevelMeshFromModel(const PlyModel& model) {
    LevelMesh mesh;
    mesh.positions = model.positions;
    std::vector<int32_t> ring;
    for (const PlyFace& face : model.faces) {
        ring.assign(face.positionIndex.begin(), face.positionIndex.end());
        if (!std::all_of(ring.begin(), ring.end(),
                         [&](int32_t index) { return NamesPosition(model, index); })) {
            continue;
        }
        WeldRing(mesh.positions, ring);
        if (ring.size() >= 3) {
            mesh.AddPolygon(ring);
        }
    }
    AppendMarkedPoints(model, mesh);
    return mesh;
}

std::unique_ptr<PlyModel> ModelFromLevelMesh(const LevelMesh& mesh) {
    auto model = std::make_unique<PlyModel>();
    model->header = std::make_unique<PlyHeader>();
    model->header->magic = {PLY_MAGIC[0], PLY_MAGIC[1], PLY_MAGIC[2], 0};
    model->header->version = PLY_FORMAT_VERSION;
    // The format needs one colour record and one secondary vector; the compiler reads
    // neither.
    model->colourRecords.emplace_back();
    model->secondaryVectors.push_back(AXIS_Y);
    model->positions = mesh.positions;
    model->cornerLists.resize(mesh.positions.size());
    AddFaces(mesh, *model);
    AddNodes(mesh, *model);
    return model;
}

std::optional<std::string> CheckNativeGeometry(const PlyModel& model) {
    for (size_t f = 0; f < model.faces.size(); ++f) {
        const PlyFace& face = model.faces[f];
        for (size_t corner = 0; corner < face.positionIndex.size(); ++corner) {
            const int32_t index = face.positionIndex[corner];
            std::ostringstream problem;
            problem << "face " << f << " corner " << corner << " names position " << index;
            if (!NamesPosition(model, index)) {
                problem << " of " << model.positions.size();
                return problem.str();
            }
            const Vector3 p = model.positions[static_cast<size_t>(index)];
            if (!Usable(p.x) || !Usable(p.y) || !Usable(p.z)) {
                problem << " at (" << p.x << ", " << p.y << ", " << p.z << ")";
                problem << (IsFinite(p) ? ", beyond the largest usable coordinate 1e+07"
                                        : ", which is not finite");
                return problem.str();
            }
        }
    }
    return std::nullopt;
}

}  // namespace bsppvs
