// The fast splitter search must choose exactly as the literal one. Generated mazes only
// have axis planes a whole cell apart; these soups crowd many polygons onto a few planes
// at distances that straddle the 0.01 classification tolerance, facing both ways, some
// nudged off their plane by less than it, with slanted polygons cutting across.

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "../support/compiler_levels.h"
#include "compile/bsp_compiler.h"

namespace bsppvs {
namespace {

// A value in [lo, hi] on a grid of quarters, so that corners repeat and line up.
float Quarter(std::mt19937& rng, int lo, int hi) {
    return static_cast<float>(std::uniform_int_distribution<int>(4 * lo, 4 * hi)(rng)) * 0.25f;
}

Vector3 OnAxes(int axis, float along, float u, float v) {
    float c[3];
    c[axis] = along;
    c[(axis + 1) % 3] = u;
    c[(axis + 2) % 3] = v;
    return {c[0], c[1], c[2]};
}

std::vector<Winding> Soup(uint32_t seed, int count) {
    static const float DISTANCES[] = {0, 0.004f, 0.01f, 0.0125f, 0.02f, 1, 1.009f, 3, -2};
    std::mt19937 rng(seed);
    std::vector<Winding> soup;
    while (static_cast<int>(soup.size()) < count) {
        const unsigned kind = rng() % 4;
        if (kind == 3) {
            Winding triangle;
            for (int k = 0; k < 3; ++k) {
                triangle.push_back({Quarter(rng, -4, 4), Quarter(rng, -4, 4), Quarter(rng, -4, 4)});
            }
            if (ComputeNormal(triangle) != ORIGIN) {
                soup.push_back(triangle);
            }
            continue;
        }
        // A rectangle in an axis plane, counter-clockwise about +axis unless flipped.
        const int axis = static_cast<int>(rng() % 3);
        const float d = DISTANCES[rng() % std::size(DISTANCES)];
        const float u0 = Quarter(rng, -4, 3);
        const float v0 = Quarter(rng, -4, 3);
        const float u1 = u0 + Quarter(rng, 1, 3);
        const float v1 = v0 + Quarter(rng, 1, 3);
        Winding quad = {OnAxes(axis, d, u0, v0), OnAxes(axis, d, u1, v0), OnAxes(axis, d, u1, v1),
                        OnAxes(axis, d, u0, v1)};
        if (kind == 2) {
            // One corner off the plane by less than the tolerance.
            Vector3& corner = quad[rng() % 4];
            float* c[3] = {&corner.x, &corner.y, &corner.z};
            *c[axis] += (rng() % 2 != 0) ? 0.006f : -0.006f;
        }
        if (rng() % 2 != 0) {
            quad = Winding(quad.rbegin(), quad.rend());
        }
        soup.push_back(quad);
    }
    return soup;
}

TEST(PolygonSoupTest, FastAndLiteralSearchBuildTheSameTree) {
    for (uint32_t seed = 1; seed <= 40; ++seed) {
        const std::vector<Winding> soup = Soup(seed, 48);
        BspCompiler fast;
        BspCompiler literal;
        for (BspCompiler* compiler : {&fast, &literal}) {
            for (const Winding& ring : soup) {
                compiler->buildPolys.push_back(levels::MakeBuildPoly(ring));
            }
        }
        fast.BuildTree();
        reference::BuildTree(literal);
        levels::ExpectSameTree(fast, literal, "soup seed " + std::to_string(seed));
    }
}

}  // namespace
}  // namespace bsppvs
