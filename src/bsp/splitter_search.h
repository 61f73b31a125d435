#pragma once

// The counts behind a splitter's score: how many other polygons of the node's list lie in
// front of its plane (coplanar same-facing included), behind it (coplanar opposite-facing
// included), or across it.

#include <cstdint>
#include <vector>

#include "bsp/build_poly.h"
#include "bsp/classify.h"

namespace bsppvs {

struct SideCounts {
    int32_t front = 0;
    int32_t back = 0;
    int32_t spanning = 0;

    void Count(PolySide side, int32_t delta) {
        switch (side) {
            case FRONT:
            case COPLANAR_SAME:
                front += delta;
                break;
            case BACK:
            case COPLANAR_OPPOSITE:
                back += delta;
                break;
            case SPANNING:
                spanning += delta;
                break;
        }
    }
    friend bool operator==(const SideCounts&, const SideCounts&) = default;
};

// The counts of every candidate (every element whose usedAsSplitter is 0), in list order,
// equal to classifying every other element against the candidate's plane one by one.
//
// A polygon's side of a plane depends only on the extreme values over its corners of
// t = a*x + b*y + c*z, each rounded exactly as the classification rounds it, and, when it
// lies in the plane, on its facing. So the candidates that share a normal are counted
// together: with their distances d sorted, each polygon is front, spanning, coplanar or
// back over consecutive runs of d, found by binary search, and accumulated in difference
// arrays. The cost per node is about (polygons x distinct normals x log candidates)
// instead of (polygons x candidates).
// Long lists are counted on up to `threads` threads, with the same result.
std::vector<SideCounts> CountCandidateSides(BuildPolyList& list, int32_t threads = 1);

}  // namespace bsppvs
