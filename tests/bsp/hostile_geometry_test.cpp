// Levels no level editor should produce, run through the geometry check and, when it lets
// them pass, through every compile stage: the stages must neither crash nor hang, and what
// they leave must keep its shape (leaf ranges tiling the polygons, portals joining two
// different leaves, one set byte per leaf, no non-finite value anywhere, point location
// answering a leaf or solid space). One table per kind of hostility.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <numeric>
#include <optional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "compile/bsp_compiler.h"
#include "compile/shape_check.h"
#include "core/deep_stack.h"
#include "formats/native_mesh.h"
#include "geometry/tolerances.h"
#include "model/ply_model.h"

#include "../support/sanitized.h"

namespace bsppvs {
namespace {

using levels::SANITIZED;

constexpr float NaN = std::numeric_limits<float>::quiet_NaN();
constexpr float INF = std::numeric_limits<float>::infinity();

// A model under construction: positions and four-cornered faces.
class Level {
public:
    Level() : model_(std::make_unique<PlyModel>()) {}

    int32_t Point(Vector3 p) {
        model_->positions.push_back(p);
        return static_cast<int32_t>(model_->positions.size() - 1);
    }
    void Face(int32_t a, int32_t b, int32_t c, int32_t d) {
        model_->faces.emplace_back().positionIndex = {a, b, c, d};
    }
    // A face with its own four positions, counter-clockwise seen from its front.
    void Quad(Vector3 a, Vector3 b, Vector3 c, Vector3 d) {
        Face(Point(a), Point(b), Point(c), Point(d));
    }
    // The same, turned so that its front looks along towards.
    void QuadFacing(Vector3 towards, Vector3 a, Vector3 b, Vector3 c, Vector3 d) {
        if (Dot(ComputeNormal({a, b, c, d}), towards) < 0.0f) {
            Quad(d, c, b, a);
        } else {
            Quad(a, b, c, d);
        }
    }
    void Triangle(Vector3 a, Vector3 b, Vector3 c) {
        const int32_t last = Point(c);
        Face(Point(a), Point(b), last, last);
    }
    // An axis-aligned box from lo to hi; inward faces bound a room, outward ones a block.
    void Box(Vector3 lo, Vector3 hi, bool inward) {
        const auto corner = [&](int k) {
            return Vector3{(k & 1) != 0 ? hi.x : lo.x, (k & 2) != 0 ? hi.y : lo.y,
                           (k & 4) != 0 ? hi.z : lo.z};
        };
        // Counter-clockwise seen from outside.
        static constexpr int OUTWARD[6][4] = {{0, 4, 6, 2}, {1, 3, 7, 5}, {0, 1, 5, 4},
                                              {2, 6, 7, 3}, {0, 2, 3, 1}, {4, 5, 7, 6}};
        for (const auto& f : OUTWARD) {
            if (inward) {
                Quad(corner(f[3]), corner(f[2]), corner(f[1]), corner(f[0]));
            } else {
                Quad(corner(f[0]), corner(f[1]), corner(f[2]), corner(f[3]));
            }
        }
    }

    const PlyModel& Model() const { return *model_; }
    PlyModel& Model() { return *model_; }

private:
    std::unique_ptr<PlyModel> model_;
};

// A level together with the points whose leaves must be sane, and what some of them must be.
struct HostileCase {
    std::string name;
    std::function<void(Level&)> build;
    // Points expected in a leaf (not solid space), and points expected in solid space.
    std::vector<Vector3> inLeaf;
    std::vector<Vector3> inSolid;
    // Anything more to check of the compiled level.
    std::function<void(const BspCompiler&)> check = {};
};

// Imports and compiles the model through every stage, on the deep stack the programs give
// the compile stages.
void CompileAll(const PlyModel& model, BspCompiler& compiler) {
    RunOnDeepStack([&] { compiler.Compile(LevelMeshFromModel(model)); });
}

// Point location of the leaves' box centres and corners and of points spread over and
// beyond the whole level answers solid space or an existing leaf.
void ExpectLocationSane(const BspCompiler& c) {
    MinMax all;
    std::vector<Vector3> samples;
    for (const BspLeaf& leaf : c.leaves) {
        const Vector3 h = leaf.bounds.halfExtent;
        samples.push_back(leaf.bounds.center);
        samples.push_back(Add(leaf.bounds.center, h));
        samples.push_back(Subtract(leaf.bounds.center, h));
        all.Fold(Add(leaf.bounds.center, h));
        all.Fold(Subtract(leaf.bounds.center, h));
    }
    if (!all.empty) {
        std::mt19937 rng(7);
        const Vector3 lo = all.min;
        const Vector3 hi = all.max;
        std::uniform_real_distribution<float> unit(-0.25f, 1.25f);
        for (int k = 0; k < 200; ++k) {
            samples.push_back({lo.x + unit(rng) * (hi.x - lo.x), lo.y + unit(rng) * (hi.y - lo.y),
                               lo.z + unit(rng) * (hi.z - lo.z)});
        }
    }
    samples.push_back({NaN, 0, 0});
    for (const Vector3& p : samples) {
        const int32_t leaf = c.LocateLeaf(p, 0);
        EXPECT_TRUE(leaf >= -1 && leaf < static_cast<int32_t>(c.leaves.size()))
            << "(" << p.x << ", " << p.y << ", " << p.z << ") -> " << leaf;
    }
}

// Runs a table of levels that the geometry check must accept.
void RunAccepted(const std::vector<HostileCase>& cases) {
    for (const HostileCase& hostile : cases) {
        SCOPED_TRACE(hostile.name);
        Level level;
        hostile.build(level);
        const std::optional<std::string> problem = CheckNativeGeometry(level.Model());
        ASSERT_FALSE(problem.has_value()) << *problem;
        BspCompiler compiler;
        compiler.threads = 2;
        CompileAll(level.Model(), compiler);
        EXPECT_EQ(CheckCompiledShape(compiler), std::nullopt);
        ExpectLocationSane(compiler);
        for (const Vector3& p : hostile.inLeaf) {
            EXPECT_NE(compiler.LocateLeaf(p, 0), -1) << p.x << ", " << p.y << ", " << p.z;
        }
        for (const Vector3& p : hostile.inSolid) {
            EXPECT_EQ(compiler.LocateLeaf(p, 0), -1) << p.x << ", " << p.y << ", " << p.z;
        }
        if (hostile.check) {
            hostile.check(compiler);
        }
    }
}

// The closed room every table below can put its hostile faces in.
void Room(Level& level) {
    level.Box({-100, 0, -100}, {100, 100, 100}, true);
}

// --- Coordinates the compiler cannot work with are refused, naming the face. ---

TEST(HostileGeometryTest, NonFiniteAndHugeCoordinatesAreRefusedNamingTheFace) {
    struct Case {
        int axis;
        float value;
        const char* says;
    };
    const Case cases[] = {
        {0, NaN, "not finite"},  {1, NaN, "not finite"},  {2, -NaN, "not finite"},
        {0, INF, "not finite"},  {1, -INF, "not finite"}, {2, INF, "not finite"},
        {0, 1e30f, "beyond"},    {1, -2e7f, "beyond"},    {2, 1.0000001e7f, "beyond"},
        {0, -3.4e38f, "beyond"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("axis " + std::to_string(c.axis) + " value " + std::to_string(c.value));
        Level level;
        Room(level);
        // Face 6 names the bad position as its third corner.
        Vector3 bad{10, 20, 30};
        (&bad.x)[c.axis] = c.value;
        const int32_t p = level.Point({0, 10, 0});
        const int32_t q = level.Point({10, 10, 0});
        const int32_t r = level.Point(bad);
        level.Face(p, q, r, r);
        const std::optional<std::string> problem = CheckNativeGeometry(level.Model());
        ASSERT_TRUE(problem.has_value());
        EXPECT_NE(problem->find("face 6 corner 2"), std::string::npos) << *problem;
        EXPECT_NE(problem->find(c.says), std::string::npos) << *problem;
        EXPECT_EQ(problem->find('\n'), std::string::npos) << *problem;
    }
}

// Bad positions no face names are never read, and coordinates at the limit still compile.
TEST(HostileGeometryTest, LargestUsableCoordinatesCompile) {
    const float big = MAX_COORDINATE;
    RunAccepted({
        {"unnamed non-finite positions",
         [](Level& l) {
             Room(l);
             l.Point({NaN, INF, -INF});
         },
         {{0, 50, 0}},
         {{0, 50, 150}}},
        {"a room as large as allowed",
         [big](Level& l) {
             l.Box({-big, -big, -big}, {big, big, big}, true);
         },
         {{0, 0, 0}, {big * 0.99f, 0, 0}},
         {}},
        {"a small room far from the origin",
         [big](Level& l) {
             l.Box({big - 1000, big - 1000, big - 1000}, {big, big, big}, true);
         },
         {{big - 500, big - 500, big - 500}},
         {}},
        {"a tiny room next to a huge one",
         [big](Level& l) {
             l.Box({-big, -big, -big}, {0, big, big}, true);
             l.Box({1, 1, 1}, {1.5f, 1.5f, 1.5f}, true);
         },
         {{1.25f, 1.25f, 1.25f}, {-big / 2, 0, 0}},
         {}},
    });
}

// --- Faces whose corners coincide or line up have no area and are dropped. ---

TEST(HostileGeometryTest, FacesWithoutAreaAreDroppedWithoutNaN) {
    struct Case {
        const char* name;
        std::vector<Vector3> corners;
    };
    const Case cases[] = {
        {"four equal corners", {{5, 5, 5}, {5, 5, 5}, {5, 5, 5}, {5, 5, 5}}},
        {"two distinct corners", {{5, 5, 5}, {9, 5, 5}, {5, 5, 5}, {9, 5, 5}}},
        {"three corners within the weld distance",
         {{5, 5, 5}, {5, 5, 5.000001f}, {5.000001f, 5, 5}, {5, 5, 5}}},
        {"four collinear corners", {{0, 1, 0}, {10, 1, 0}, {20, 1, 0}, {30, 1, 0}}},
        {"collinear, out of order", {{30, 1, 0}, {0, 1, 0}, {20, 1, 0}, {10, 1, 0}}},
        {"three collinear and a repeat", {{0, 1, 0}, {10, 2, 0}, {20, 3, 0}, {20, 3, 0}}},
        {"collinear at large coordinates",
         {{9e6f, 1, 0}, {9.5e6f, 1, 0}, {9.9e6f, 1, 0}, {9e6f, 1, 0}}},
        {"a zigzag with no area", {{0, 0, 0}, {1, 1, 1}, {0, 0, 0}, {1, 1, 1}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Level level;
        level.Quad(c.corners[0], c.corners[1], c.corners[2], c.corners[3]);
        BspCompiler alone;
        alone.ImportPolys(LevelMeshFromModel(level.Model()));
        EXPECT_TRUE(alone.buildPolys.empty());
        alone.BuildTree();
        EXPECT_TRUE(alone.nodes.empty());
        EXPECT_EQ(alone.LocateLeaf({5, 5, 5}, 0), -1);
    }
    // Many of them inside a room leave just the room.
    RunAccepted({{"all of them in a room",
                  [&](Level& l) {
                      Room(l);
                      for (const Case& c : cases) {
                          l.Quad(c.corners[0], c.corners[1], c.corners[2], c.corners[3]);
                      }
                  },
                  {{0, 50, 0}},
                  {{0, 50, 101}}}});
}

// --- Many faces in one plane, overlapping, facing both ways. ---
// Only the space in front of free-standing faces is sure to be open: behind them, once the
// faces around have all split, the tree counts it as solid.

TEST(HostileGeometryTest, ThousandsOfCoplanarOverlappingFaces) {
    const auto overlapping = [](Level& l, int count, bool bothWays) {
        std::mt19937 rng(11);
        std::uniform_real_distribution<float> at(-90, 60);
        std::uniform_real_distribution<float> size(1, 30);
        for (int k = 0; k < count; ++k) {
            const float x = at(rng);
            const float z = at(rng);
            const float s = size(rng);
            const Vector3 a{x, 50, z};
            const Vector3 b{x, 50, z + s};
            const Vector3 c{x + s, 50, z + s};
            const Vector3 d{x + s, 50, z};
            if (bothWays && k % 2 == 1) {
                l.Quad(d, c, b, a);
            } else {
                l.Quad(a, b, c, d);
            }
        }
    };
    const int count = SANITIZED ? 300 : 1000;
    RunAccepted({
        {"one face a thousand times",
         [count](Level& l) {
             Room(l);
             for (int k = 0; k < count; ++k) {
                 l.Quad({-50, 50, -50}, {-50, 50, 50}, {50, 50, 50}, {50, 50, -50});
             }
         },
         {{0, 75, 0}},
         {}},
        {"overlapping faces facing up",
         [&](Level& l) {
             Room(l);
             overlapping(l, count, false);
         },
         {{0, 75, 0}},
         {}},
        {"overlapping faces facing both ways",
         [&](Level& l) {
             Room(l);
             overlapping(l, count, true);
         },
         {{0, 75, 0}},
         {}},
        {"overlapping faces and nothing else",
         [&](Level& l) { overlapping(l, count, true); },
         {},
         {}},
        {"a floor laid twice, the copy facing down",
         [](Level& l) {
             Room(l);
             l.Quad({-100, 0, 100}, {100, 0, 100}, {100, 0, -100}, {-100, 0, -100});
         },
         {},
         {}},
    });
}

// --- Faces turned the wrong way. ---

TEST(HostileGeometryTest, FacesTurnedTheWrongWay) {
    RunAccepted({
        // Inside out: the inside is behind every face, the outside in front of one.
        {"a box with outward faces",
         [](Level& l) {
             l.Box({-100, 0, -100}, {100, 100, 100}, false);
         },
         {{-150, 50, 0}, {0, 50, 150}},
         {{0, 50, 0}}},
        {"a room with one wall turned round",
         [](Level& l) {
             Room(l);
             PlyFace& wall = l.Model().faces[1];
             std::swap(wall.positionIndex[0], wall.positionIndex[2]);
         },
         {},
         {}},
        {"a room with a block inside turned inward",
         [](Level& l) {
             Room(l);
             l.Box({-20, 0, -20}, {20, 40, 20}, true);
         },
         {},
         {}},
        {"a room inside a room, both facing in",
         [](Level& l) {
             Room(l);
             l.Box({-50, 10, -50}, {50, 90, 50}, true);
         },
         {{0, 50, 0}},
         {}},
        {"every other face of a room turned round",
         [](Level& l) {
             Room(l);
             for (size_t f = 0; f < l.Model().faces.size(); f += 2) {
                 std::swap(l.Model().faces[f].positionIndex[1],
                           l.Model().faces[f].positionIndex[3]);
             }
         },
         {},
         {}},
    });
}

// --- Levels that are not closed. ---

TEST(HostileGeometryTest, LevelsThatAreNotClosed) {
    RunAccepted({
        {"a single floor",
         [](Level& l) {
             l.Quad({-100, 0, 100}, {100, 0, 100}, {100, 0, -100}, {-100, 0, -100});
         },
         {{0, 50, 0}, {1000, 1, 1000}},
         {{0, -1, 0}}},
        {"a single triangle",
         [](Level& l) {
             l.Triangle({0, 0, 0}, {0, 0, 1}, {1, 0, 0});
         },
         {},
         {}},
        {"an open box missing a wall",
         [](Level& l) {
             Room(l);
             l.Model().faces.erase(l.Model().faces.begin() + 1);
         },
         {{0, 50, 0}},
         {}},
        {"a box missing its floor and ceiling",
         [](Level& l) {
             Room(l);
             l.Model().faces.erase(l.Model().faces.begin() + 2, l.Model().faces.begin() + 4);
         },
         {{0, 50, 0}},
         {}},
        {"two rooms side by side with open sides facing",
         [](Level& l) {
             Room(l);
             l.Model().faces.erase(l.Model().faces.begin() + 1);
             l.Box({100, 0, -100}, {300, 100, 100}, true);
             l.Model().faces.erase(l.Model().faces.begin() + 5);
         },
         {{0, 50, 0}, {200, 50, 0}},
         {}},
        {"walls standing apart",
         [](Level& l) {
             for (int k = 0; k < 20; ++k) {
                 const float x = static_cast<float>(k * 37 % 200 - 100);
                 const float z = static_cast<float>(k * 53 % 200 - 100);
                 l.Quad({x, 0, z}, {x, 100, z}, {x + 20, 100, z + 5}, {x + 20, 0, z + 5});
             }
         },
         {},
         {}},
    });
}

// --- Slivers and needles, narrower than the tolerances. ---

TEST(HostileGeometryTest, SliversAndNeedles) {
    RunAccepted({
        {"quads a ten-thousandth wide",
         [](Level& l) {
             Room(l);
             for (int k = 0; k < 50; ++k) {
                 const float x = -90.0f + 3.5f * static_cast<float>(k);
                 l.QuadFacing({0, 0, 1}, {x, 10, -80}, {x, 90, -80}, {x + 1e-4f, 90, -80},
                              {x + 1e-4f, 10, -80});
             }
         },
         {{0, 50, 0}},
         {}},
        {"blocks a ten-thousandth thick",
         [](Level& l) {
             Room(l);
             for (int k = 0; k < 50; ++k) {
                 const float x = -90.0f + 3.5f * static_cast<float>(k);
                 l.Box({x, 10, -80}, {x + 1e-4f, 90, -60}, false);
             }
         },
         {{0, 50, 0}, {-88, 50, -70}},
         {}},
        {"needles a thousand long and a thousandth thick",
         [](Level& l) {
             l.Box({-1000, 0, -1000}, {1000, 100, 1000}, true);
             for (int k = 0; k < 30; ++k) {
                 const float z = -900.0f + 60.0f * static_cast<float>(k);
                 const float y = 5.0f + 3.0f * static_cast<float>(k);
                 l.Box({-500, y, z}, {500, y + 1e-3f, z + 1e-3f}, false);
             }
         },
         {{0, 50, 950}, {0, 50, -950}, {600, 50, 0}},
         {}},
        {"slanted slivers crossing one another",
         [](Level& l) {
             Room(l);
             for (int k = 0; k < 40; ++k) {
                 const float t = static_cast<float>(k) * 0.157f;
                 const Vector3 a{80 * std::cos(t), 10, 80 * std::sin(t)};
                 const Vector3 b{-80 * std::cos(t), 90, -80 * std::sin(t)};
                 l.Quad(a, b, Add(b, {0, 2e-4f, 1e-4f}), Add(a, {0, 2e-4f, 1e-4f}));
             }
         },
         {},
         {}},
        {"a room one ten-thousandth high",
         [](Level& l) {
             l.Box({-100, 0, -100}, {100, 1e-4f, 100}, true);
         },
         {},
         {}},
        {"quads whose fourth corner is a hair off the plane",
         [](Level& l) {
             Room(l);
             for (int k = 0; k < 40; ++k) {
                 const float y = 2.0f + 2.0f * static_cast<float>(k);
                 l.Quad({-50, y, -50}, {-50, y, 50}, {50, y + 0.004f, 50}, {50, y, -50});
             }
         },
         {},
         {}},
    });
}

// --- Deep trees and long chains: every stage must cope without running out of stack. ---

// A convex room of n vertical walls (n even), every wall in front of every other: the tree
// is a chain of one node per wall. The floor plan is the convex polygon whose edges are the
// n shortest primitive lattice vectors in order of angle, so every corner is a whole
// number: the walls' planes are exact, and no wall strays behind another by rounding.
void ConvexRoom(Level& l, int n) {
    std::vector<std::pair<int, int>> edges;
    for (int reach = 1; static_cast<int>(edges.size()) < n; ++reach) {
        // The primitive vectors with largest component exactly reach, in both directions.
        for (int a = -reach; a <= reach; ++a) {
            for (int b = -reach; b <= reach; ++b) {
                const bool onRim = std::max(std::abs(a), std::abs(b)) == reach;
                const bool towardsFirstHalf = b > 0 || (b == 0 && a > 0);
                if (onRim && towardsFirstHalf && std::gcd(a, b) == 1 &&
                    static_cast<int>(edges.size()) < n) {
                    edges.emplace_back(a, b);
                    edges.emplace_back(-a, -b);
                }
            }
        }
    }
    std::sort(edges.begin(), edges.end(), [](auto u, auto v) {
        return std::atan2(u.second, u.first) < std::atan2(v.second, v.first);
    });
    // Counter-clockwise seen from above (x towards z); the edges sum to zero.
    std::vector<Vector3> ring;
    int x = 0;
    int z = 0;
    for (const auto& [a, b] : edges) {
        ring.push_back({static_cast<float>(x), 0.0f, static_cast<float>(z)});
        x += a;
        z += b;
    }
    Vector3 centre = ORIGIN;
    for (const Vector3& p : ring) {
        centre = Add(centre, p);
    }
    centre = {std::round(centre.x / static_cast<float>(n)), 0.0f,
              std::round(centre.z / static_cast<float>(n))};
    const Vector3 up{0, 100, 0};
    for (size_t k = 0; k < ring.size(); ++k) {
        const Vector3 a = Subtract(ring[k], centre);
        const Vector3 b = Subtract(ring[(k + 1) % ring.size()], centre);
        // Facing the inside of the room.
        l.Quad(a, b, Add(b, up), Add(a, up));
    }
}

// A long hall cut by n thin partitions, each with a door at the same place, so that every
// leaf sees down the whole row and the visibility pass follows chains n gates long.
void PartitionedHall(Level& l, int n, bool alternateDoors) {
    const float step = 10.0f;
    const float thick = 0.5f;
    const float length = step * static_cast<float>(n + 1);
    l.Box({0, 0, 0}, {length, 100, 100}, true);
    for (int k = 1; k <= n; ++k) {
        const float x = step * static_cast<float>(k);
        // Solid part from z0 to z1; the door is the rest.
        const bool low = alternateDoors && k % 2 == 0;
        const float z0 = low ? 40.0f : 0.0f;
        const float z1 = low ? 100.0f : 60.0f;
        const float x0 = x - thick;
        const float x1 = x + thick;
        l.QuadFacing({-1, 0, 0}, {x0, 0, z0}, {x0, 100, z0}, {x0, 100, z1}, {x0, 0, z1});
        l.QuadFacing({1, 0, 0}, {x1, 0, z0}, {x1, 100, z0}, {x1, 100, z1}, {x1, 0, z1});
        // The end of the partition, facing into the door.
        const float edge = low ? z0 : z1;
        l.QuadFacing({0, 0, low ? -1.0f : 1.0f}, {x0, 0, edge}, {x0, 100, edge}, {x1, 100, edge},
                     {x1, 0, edge});
    }
}

TEST(HostileGeometryTest, DeepTreesAndLongChains) {
    const int walls = SANITIZED ? 400 : 5000;
    const int partitions = SANITIZED ? 60 : 300;
    const int parallel = SANITIZED ? 200 : 2000;
    std::vector<HostileCase> cases = {
        {"a convex room of " + std::to_string(walls) + " walls",
         [walls](Level& l) { ConvexRoom(l, walls); },
         {{0, 50, 0}, {0, 99, 0}, {0, -1, 0}},
         {{1e6f, 50, 0}}},
        {std::to_string(partitions) + " partitions with doors in a row",
         [partitions](Level& l) { PartitionedHall(l, partitions, false); },
         {{5, 50, 50}, {10.0f * partitions + 5, 50, 50}},
         {{10, 50, 30}}},
        {std::to_string(partitions) + " partitions with doors zigzagging",
         [partitions](Level& l) { PartitionedHall(l, partitions, true); },
         {{5, 50, 50}},
         {}},
        {std::to_string(parallel) + " parallel thin walls",
         [parallel](Level& l) {
             const float length = 2.0f * static_cast<float>(parallel + 1);
             l.Box({-length, 0, -10}, {length, 100, 10}, true);
             for (int k = 0; k < parallel; ++k) {
                 const float x = 2.0f * static_cast<float>(2 * k - parallel);
                 // Each wall a sliver thick, standing free in the middle of the hall.
                 l.QuadFacing({-1, 0, 0}, {x, 10, -5}, {x, 90, -5}, {x, 90, 5}, {x, 10, 5});
                 const float back = x + 0.02f;
                 l.QuadFacing({1, 0, 0}, {back, 10, -5}, {back, 90, -5}, {back, 90, 5},
                              {back, 10, 5});
             }
         },
         {{1, 50, 8}},
         {}},
    };
    // Nothing is split: the room is one leaf at the end of a chain of one node per wall.
    cases[0].check = [walls](const BspCompiler& c) {
        EXPECT_EQ(c.nodes.size(), static_cast<size_t>(walls));
        EXPECT_EQ(c.leaves.size(), 1u);
        for (size_t k = 0; k + 1 < c.nodes.size(); ++k) {
            ASSERT_EQ(c.nodes[k].front, static_cast<int32_t>(k + 1));
        }
    };
    // Down the row of doors the first room sees the last: the visibility pass followed a
    // chain of gates through every door.
    cases[1].check = [partitions](const BspCompiler& c) {
        const int32_t first = c.LocateLeaf({5, 50, 80}, 0);
        const int32_t last = c.LocateLeaf({10.0f * partitions + 5, 50, 80}, 0);
        ASSERT_NE(first, -1);
        ASSERT_NE(last, -1);
        EXPECT_EQ(c.leaves[first].pvs[last], 1);
        EXPECT_EQ(c.leaves[last].pvs[first], 1);
    };
    RunAccepted(cases);
}

}  // namespace
}  // namespace bsppvs
