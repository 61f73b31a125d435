#include "formats/level_checks.h"

#include <cmath>
#include <sstream>

#include "geometry/tolerances.h"

namespace bsppvs {

std::optional<std::string> CheckLevel(const LevelMesh& mesh) {
    if (std::optional<std::string> problem = CheckLevelMesh(mesh)) {
        return problem;
    }
    for (size_t i = 0; i < mesh.points.size(); ++i) {
        const Vector3 p = mesh.points[i].position;
        const auto usable = [](float v) { return std::fabs(v) <= MAX_COORDINATE; };
        if (!IsFinite(p) || !usable(p.x) || !usable(p.y) || !usable(p.z)) {
            std::ostringstream problem;
            problem << "marked point " << i << " \"" << mesh.points[i].name << "\" at (" << p.x
                    << ", " << p.y << ", " << p.z << ") "
                    << (IsFinite(p) ? "is beyond the largest usable coordinate 1e+07"
                                    : "is not finite");
            return problem.str();
        }
    }
    return std::nullopt;
}

}  // namespace bsppvs
