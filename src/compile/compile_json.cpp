#include "compile/compile_json.h"

#include <charconv>
#include <cmath>
#include <string>

namespace bsppvs {

namespace {

// Appends to one string and writes it in large blocks: the output of a big level runs to
// hundreds of megabytes, and a stream insertion per number would dominate the run.
class JsonOut {
public:
    explicit JsonOut(std::ostream& out) : out_(out) {}
    ~JsonOut() { Flush(); }

    JsonOut& Raw(std::string_view text) {
        buffer_.append(text);
        if (buffer_.size() > FLUSH_SIZE) {
            Flush();
        }
        return *this;
    }
    JsonOut& Int(int64_t value) {
        char text[24];
        const auto result = std::to_chars(text, text + sizeof text, value);
        return Raw(std::string_view(text, result.ptr - text));
    }
    JsonOut& Float(float value) {
        if (!std::isfinite(value)) {
            return Raw("null");
        }
        char text[32];
        const auto result = std::to_chars(text, text + sizeof text, value);
        return Raw(std::string_view(text, result.ptr - text));
    }
    JsonOut& Vec(Vector3 v) {
        Raw("[").Float(v.x).Raw(", ").Float(v.y).Raw(", ").Float(v.z);
        return Raw("]");
    }
    JsonOut& Points(const Winding& points) {
        Raw("[");
        for (size_t i = 0; i < points.size(); ++i) {
            Raw(i == 0 ? "" : ", ").Vec(points[i]);
        }
        return Raw("]");
    }
    void Flush() {
        out_.write(buffer_.data(), static_cast<std::streamsize>(buffer_.size()));
        buffer_.clear();
    }

private:
    static constexpr size_t FLUSH_SIZE = 1 << 20;
    std::ostream& out_;
    std::string buffer_;
};

void WriteNodes(const BspCompiler& compiler, JsonOut& json) {
    json.Raw("\"nodes\": [");
    for (size_t i = 0; i < compiler.nodes.size(); ++i) {
        const BspNode& node = compiler.nodes[i];
        json.Raw(i == 0 ? "\n  " : ",\n  ").Raw("{\"plane\": [");
        json.Float(node.plane.a).Raw(", ").Float(node.plane.b).Raw(", ");
        json.Float(node.plane.c).Raw(", ").Float(node.plane.d).Raw("], \"front\": ");
        json.Int(node.front).Raw(", \"back\": ").Int(node.back);
        json.Raw(", \"frontIsLeaf\": ").Int(node.frontIsLeaf).Raw("}");
    }
    json.Raw("]");
}

void WriteLeaves(const BspCompiler& compiler, JsonOut& json) {
    json.Raw("\"leaves\": [");
    for (size_t i = 0; i < compiler.leaves.size(); ++i) {
        const BspLeaf& leaf = compiler.leaves[i];
        json.Raw(i == 0 ? "\n  " : ",\n  ").Raw("{\"firstPoly\": ").Int(leaf.firstPoly);
        json.Raw(", \"endPoly\": ").Int(leaf.endPoly);
        json.Raw(", \"bounds\": {\"center\": ").Vec(leaf.bounds.center);
        json.Raw(", \"halfExtent\": ").Vec(leaf.bounds.halfExtent).Raw("}");
        // Leaves of one cluster share their set, which an engine may then store once.
        if (compiler.clusters.Count() > 0) {
            json.Raw(", \"cluster\": ").Int(compiler.clusters.clusterOf[i]);
        }
        json.Raw(", \"pvs\": [");
        bool firstEntry = true;
        for (size_t j = 0; j < leaf.pvs.size(); ++j) {
            if (leaf.pvs[j] != 0) {
                json.Raw(firstEntry ? "" : ", ").Int(static_cast<int64_t>(j));
                firstEntry = false;
            }
        }
        json.Raw("]}");
    }
    json.Raw("]");
}

void WritePortals(const BspCompiler& compiler, JsonOut& json) {
    json.Raw("\"portals\": [");
    for (size_t i = 0; i < compiler.portals.size(); ++i) {
        const Portal& portal = compiler.portals[i];
        json.Raw(i == 0 ? "\n  " : ",\n  ").Raw("{\"leafIndices\": [");
        for (size_t k = 0; k < portal.leafIndices.size(); ++k) {
            json.Raw(k == 0 ? "" : ", ").Int(portal.leafIndices[k]);
        }
        json.Raw("], \"points\": ").Points(portal.points).Raw("}");
    }
    json.Raw("]");
}

void WritePolys(const BspCompiler& compiler, JsonOut& json) {
    json.Raw("\"polys\": [");
    for (size_t i = 0; i < compiler.polys.size(); ++i) {
        json.Raw(i == 0 ? "\n  " : ",\n  ").Raw("{\"points\": ");
        json.Points(compiler.polys[i].points).Raw("}");
    }
    json.Raw("]");
}

}  // namespace

void WriteCompilerJson(const BspCompiler& compiler, std::ostream& out) {
    JsonOut json(out);
    json.Raw("{\"counts\": {\"polys\": ").Int(static_cast<int64_t>(compiler.polys.size()));
    json.Raw(", \"nodes\": ").Int(static_cast<int64_t>(compiler.nodes.size()));
    json.Raw(", \"leaves\": ").Int(static_cast<int64_t>(compiler.leaves.size()));
    json.Raw(", \"portals\": ").Int(static_cast<int64_t>(compiler.portals.size()));
    json.Raw(", \"triangles\": ").Int(LeafTriangleCount(compiler)).Raw("},\n");
    WriteNodes(compiler, json);
    json.Raw(",\n");
    WriteLeaves(compiler, json);
    json.Raw(",\n");
    WritePortals(compiler, json);
    json.Raw(",\n");
    WritePolys(compiler, json);
    json.Raw("}\n");
}

}  // namespace bsppvs
