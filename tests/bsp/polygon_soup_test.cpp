// The fast splitter search must choose exactly as the literal one. Generated mazes only
// have axis planes a whole cell apart; the polygon soups (see compiler_levels.h) crowd
// many polygons onto a few planes at distances that straddle the 0.01 classification
// tolerance, facing both ways.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../support/compiler_levels.h"
#include "compile/bsp_compiler.h"

namespace bsppvs {
namespace {

TEST(PolygonSoupTest, FastAndLiteralSearchBuildTheSameTree) {
    for (uint32_t seed = 1; seed <= 40; ++seed) {
        const std::vector<Winding> soup = levels::PolygonSoup(seed, 48);
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
