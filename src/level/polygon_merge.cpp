#include "level/polygon_merge.h"

#include <algorithm>
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "level/ring_shape.h"

namespace bsppvs {

namespace {

uint64_t EdgeKey(int32_t from, int32_t to) {
    return (uint64_t{static_cast<uint32_t>(from)} << 32) | static_cast<uint32_t>(to);
}

struct Piece {
    std::vector<int32_t> ring;  // position indices
    int32_t group = -1;
    int32_t material = -1;
    bool merged = false;    // taken into another piece
    bool joinable = false;  // within the merge's scope
};

Winding Corners(const LevelMesh& mesh, const std::vector<int32_t>& ring) {
    Winding corners;
    corners.reserve(ring.size());
    for (const int32_t index : ring) {
        corners.push_back(mesh.positions[index]);
    }
    return corners;
}

// p runs a -> b at pa (b follows), q runs b -> a at qb (a follows): p from b round to a,
// then q's corners strictly between a and b.
std::vector<int32_t> Joined(const std::vector<int32_t>& p, size_t pa, const std::vector<int32_t>& q,
                            size_t qb) {
    std::vector<int32_t> ring;
    ring.reserve(p.size() + q.size() - 2);
    for (size_t k = 1; k <= p.size(); ++k) {
        ring.push_back(p[(pa + k) % p.size()]);  // b ... a
    }
    for (size_t k = 2; k < q.size(); ++k) {
        ring.push_back(q[(qb + k) % q.size()]);  // after a, up to before b
    }
    return ring;
}

// Two pieces that share more than one edge join into a ring that runs out to the far end
// of the second shared edge and straight back (a, b, a): the spike has no area and is no
// part of the outline, so it is taken out, repeatedly.
void RemoveSpikes(std::vector<int32_t>& ring) {
    bool changed = true;
    while (changed && ring.size() >= 3) {
        changed = false;
        for (size_t i = 0; i < ring.size() && ring.size() >= 3; ++i) {
            const size_t before = (i + ring.size() - 1) % ring.size();
            const size_t after = (i + 1) % ring.size();
            if (ring[before] == ring[after]) {
                // Drop the spike's tip and one copy of the corner it returns to.
                const size_t first = std::min(i, after);
                const size_t second = std::max(i, after);
                ring.erase(ring.begin() + static_cast<std::ptrdiff_t>(second));
                ring.erase(ring.begin() + static_cast<std::ptrdiff_t>(first));
                changed = true;
                break;
            }
        }
    }
}

class Merger {
public:
    Merger(LevelMesh& mesh, MergeScope scope) : mesh_(mesh) {
        for (size_t f = 0; f < mesh.polygons.size(); ++f) {
            const LevelPolygon& polygon = mesh.polygons[f];
            const std::span<const int32_t> ring = mesh.Ring(polygon);
            pieces_.push_back({{ring.begin(), ring.end()},
                               polygon.group,
                               polygon.material,
                               false,
                               ring.size() == 3 || scope == MergeScope::EVERY_POLYGON});
            if (pieces_.back().joinable) {
                IndexEdges(static_cast<int32_t>(f));
            }
        }
    }

    void Run() {
        for (size_t p = 0; p < pieces_.size(); ++p) {
            while (!pieces_[p].merged && pieces_[p].joinable && JoinOne(static_cast<int32_t>(p))) {
            }
        }
    }

    void Write() {
        LevelMesh result;
        result.positions = std::move(mesh_.positions);
        result.groups = std::move(mesh_.groups);
        result.materials = std::move(mesh_.materials);
        result.points = std::move(mesh_.points);
        for (const Piece& piece : pieces_) {
            if (!piece.merged) {
                const int32_t f = result.AddPolygon(piece.ring, piece.group);
                result.polygons[f].material = piece.material;
            }
        }
        mesh_ = std::move(result);
    }

private:
    void IndexEdges(int32_t p) {
        const std::vector<int32_t>& ring = pieces_[p].ring;
        for (size_t i = 0; i < ring.size(); ++i) {
            edgeOwner_[EdgeKey(ring[i], ring[(i + 1) % ring.size()])] = p;
        }
    }

    // Joins one neighbour into piece p; false when none can be.
    bool JoinOne(int32_t p) {
        const std::vector<int32_t>& ring = pieces_[p].ring;
        for (size_t i = 0; i < ring.size(); ++i) {
            const int32_t a = ring[i];
            const int32_t b = ring[(i + 1) % ring.size()];
            const auto found = edgeOwner_.find(EdgeKey(b, a));
            if (found == edgeOwner_.end() || found->second == p) {
                continue;
            }
            const int32_t q = found->second;
            Piece& other = pieces_[q];
            if (other.merged || !other.joinable || other.group != pieces_[p].group ||
                other.material != pieces_[p].material) {
                continue;
            }
            const auto at = std::find(other.ring.begin(), other.ring.end(), b);
            const auto qb = static_cast<size_t>(at - other.ring.begin());
            if (at == other.ring.end() || other.ring[(qb + 1) % other.ring.size()] != a) {
                continue;
            }
            std::vector<int32_t> joined = Joined(ring, i, other.ring, qb);
            RemoveSpikes(joined);
            if (joined.size() < 3) {
                continue;
            }
            const Winding corners = Corners(mesh_, joined);
            if (!IsFlatRing(corners) || !IsConvexRing(corners)) {
                continue;
            }
            other.merged = true;
            pieces_[p].ring = std::move(joined);
            IndexEdges(p);
            return true;
        }
        return false;
    }

    LevelMesh& mesh_;
    std::vector<Piece> pieces_;
    // Directed edge (from, to) -> the piece that runs it.
    std::unordered_map<uint64_t, int32_t> edgeOwner_;
};

}  // namespace

void MergeCoplanarPolygons(LevelMesh& mesh, MergeScope scope) {
    Merger merger(mesh, scope);
    merger.Run();
    merger.Write();
}

}  // namespace bsppvs
