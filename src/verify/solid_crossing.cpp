#include "verify/solid_crossing.h"

#include <cmath>
#include <vector>

#include "geometry/tolerances.h"

namespace bsppvs {

bool CrossesSolid(const BspTree& tree, Vector3 p, Vector3 q) {
    if (tree.nodes.empty()) {
        return false;
    }
    struct Piece {
        int32_t node;
        double t0;
        double t1;
    };
    const double start[3] = {p.x, p.y, p.z};
    const double step[3] = {double(q.x) - p.x, double(q.y) - p.y, double(q.z) - p.z};
    const double length = std::sqrt(step[0] * step[0] + step[1] * step[1] + step[2] * step[2]);
    const auto distance = [&](const Plane& plane, double t) {
        return plane.a * (start[0] + t * step[0]) + plane.b * (start[1] + t * step[1]) +
               plane.c * (start[2] + t * step[2]) - plane.d;
    };
    std::vector<Piece> pending = {{0, 0.0, 1.0}};
    while (!pending.empty()) {
        const Piece piece = pending.back();
        pending.pop_back();
        const BspNode& node = tree.nodes[piece.node];
        const double s0 = distance(node.plane, piece.t0);
        const double s1 = distance(node.plane, piece.t1);
        const auto toFront = [&](double t0, double t1) {
            if (node.frontIsLeaf == 0) {
                pending.push_back({node.front, t0, t1});
            }
        };
        const auto toBack = [&](double t0, double t1) {
            if (node.back != -1) {
                pending.push_back({node.back, t0, t1});
            } else if ((t1 - t0) * length > SOLID_SLACK) {
                return true;
            }
            return false;
        };
        if (s0 >= -EPSILON && s1 >= -EPSILON) {
            toFront(piece.t0, piece.t1);
        } else if (s0 < -EPSILON && s1 < -EPSILON) {
            if (toBack(piece.t0, piece.t1)) {
                return true;
            }
        } else {
            // One end behind the band, the other in front of or within it: cut where the
            // segment leaves the back side.
            const double cut = piece.t0 + (piece.t1 - piece.t0) * (-EPSILON - s0) / (s1 - s0);
            const bool backFirst = s0 < -EPSILON;
            if (toBack(backFirst ? piece.t0 : cut, backFirst ? cut : piece.t1)) {
                return true;
            }
            toFront(backFirst ? cut : piece.t0, backFirst ? piece.t1 : cut);
        }
    }
    return false;
}

}  // namespace bsppvs
