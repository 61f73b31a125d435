#include "bsp/model_check.h"

#include <cmath>
#include <sstream>

#include "model/ply_model.h"

namespace bsppvs {

namespace {

bool Usable(float v) {
    return std::isfinite(v) && std::fabs(v) <= MAX_COORDINATE;
}

}  // namespace

std::optional<std::string> CheckModelGeometry(const PlyModel& model) {
    for (size_t f = 0; f < model.faces.size(); ++f) {
        const PlyFace& face = model.faces[f];
        for (int corner = 0; corner < 4; ++corner) {
            const int32_t index = face.positionIndex[corner];
            std::ostringstream problem;
            problem << "face " << f << " corner " << corner << " names position " << index;
            if (index < 0 || static_cast<size_t>(index) >= model.positions.size()) {
                problem << " of " << model.positions.size();
                return problem.str();
            }
            const Vector3 p = model.positions[index];
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
