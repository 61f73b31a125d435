#include "formats/float_text.h"
#include "formats/obj_format.h"

namespace bsppvs {

namespace {

void AppendVertex(std::string& text, Vector3 p) {
    text += "v ";
    AppendShortestFloat(text, p.x);
    text += ' ';
    AppendShortestFloat(text, p.y);
    text += ' ';
    AppendShortestFloat(text, p.z);
    text += '\n';
}

bool HasLineBreak(const std::string& name) {
    return name.find_first_of("\r\n") != std::string::npos;
}

bool CheckNames(const LevelMesh& mesh, std::string& reason) {
    const auto check = [&](const std::vector<std::string>& names, const char* what) {
        for (size_t i = 0; i < names.size(); ++i) {
            if (HasLineBreak(names[i])) {
                reason = std::string(what) + " " + std::to_string(i) + " holds a line break";
                return false;
            }
        }
        return true;
    };
    if (!check(mesh.groups, "group name") || !check(mesh.materials, "material name")) {
        return false;
    }
    for (size_t i = 0; i < mesh.points.size(); ++i) {
        if (HasLineBreak(mesh.points[i].name)) {
            reason = "marked point " + std::to_string(i) + " has a name holding a line break";
            return false;
        }
    }
    return true;
}

// A `g` or `usemtl` line. Going back to no name needs the keyword and a blank with nothing
// after it: the keyword alone is not a statement to the reader.
void AppendNameLine(std::string& text, const char* keyword, const std::string& name) {
    text += keyword;
    text += ' ';
    text += name;
    text += '\n';
}

// Writes the positions polygons use, in their order, and numbers them from 1 for the `f`
// lines. Positions no polygon uses are left out: they may be anything, even not finite,
// which no reader would take back.
std::vector<int64_t> AppendUsedPositions(const LevelMesh& mesh, std::string& text) {
    std::vector<int64_t> number(mesh.positions.size(), 0);
    for (const int32_t corner : mesh.corners) {
        number[static_cast<size_t>(corner)] = 1;
    }
    int64_t written = 0;
    for (size_t i = 0; i < number.size(); ++i) {
        if (number[i] != 0) {
            number[i] = ++written;
            AppendVertex(text, mesh.positions[i]);
        }
    }
    return number;
}

void AppendPolygons(const LevelMesh& mesh, const std::vector<int64_t>& number, std::string& text) {
    std::string group;
    std::string material;
    for (size_t p = 0; p < mesh.polygons.size(); ++p) {
        if (mesh.GroupName(p) != group) {
            group = mesh.GroupName(p);
            AppendNameLine(text, "g", group);
        }
        if (mesh.MaterialName(p) != material) {
            material = mesh.MaterialName(p);
            AppendNameLine(text, "usemtl", material);
        }
        text += 'f';
        for (const int32_t corner : mesh.Ring(p)) {
            text += ' ';
            text += std::to_string(number[static_cast<size_t>(corner)]);
        }
        text += '\n';
    }
}

}  // namespace

bool WriteObj(const LevelMesh& mesh, std::string& text, std::string& reason) {
    if (!CheckNames(mesh, reason)) {
        return false;
    }
    text = "# bsppvs level: " + std::to_string(mesh.polygons.size()) + " polygons, " +
           std::to_string(mesh.points.size()) + " marked points\n";
    AppendPolygons(mesh, AppendUsedPositions(mesh, text), text);
    for (const MarkedPoint& point : mesh.points) {
        AppendNameLine(text, "o", point.name);
        AppendVertex(text, point.position);
        text += "p -1\n";
    }
    return true;
}

}  // namespace bsppvs
