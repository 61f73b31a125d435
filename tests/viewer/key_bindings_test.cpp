// The key table without a window: registration order fixes the action indices, a second
// binding of a key is refused, and the two maps keep overlapping codes apart.

#include "viewer/key_bindings.h"

#include <GL/glut.h>
#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace bsppvs {
namespace {

std::vector<int> calls;
void First(uint32_t, int32_t, int32_t) {
    calls.push_back(1);
}
void Second(uint32_t, int32_t, int32_t) {
    calls.push_back(2);
}

TEST(KeyBindingsTest, RegisterKeysFixesTheActionIndices) {
    KeyBindings bindings;
    RegisterKeys(bindings);
    const std::vector<std::pair<char, int32_t>> keys = {
        {'l', 0}, {'L', 1}, {'p', 2}, {'P', 3},  {'1', 4},  {'2', 5},  {'3', 6},
        {'c', 7}, {'z', 8}, {'Z', 9}, {'a', 10}, {'d', 11}, {'s', 12}, {'w', 13}};
    const std::vector<std::pair<int, int32_t>> specialKeys = {
        {GLUT_KEY_UP, 14}, {GLUT_KEY_DOWN, 15}, {GLUT_KEY_LEFT, 16}, {GLUT_KEY_RIGHT, 17}};
    ASSERT_EQ(bindings.keys.size(), keys.size());
    ASSERT_EQ(bindings.specialKeys.size(), specialKeys.size());
    for (const auto& [key, index] : keys) {
        EXPECT_EQ(bindings.keys.at(static_cast<unsigned char>(key)), index) << key;
    }
    for (const auto& [key, index] : specialKeys) {
        EXPECT_EQ(bindings.specialKeys.at(key), index) << key;
    }
    EXPECT_EQ(bindings.actionCount, 18);
    EXPECT_EQ(bindings.actions.size(), 18u);
}

TEST(KeyBindingsTest, FirstBindingStaysAndMapsAreSeparate) {
    KeyBindings bindings;
    calls.clear();
    EXPECT_TRUE(bindings.RegisterKey('d', First));
    EXPECT_FALSE(bindings.RegisterKey('d', Second));
    // The Left arrow has the code of 'd', in the other map.
    EXPECT_TRUE(bindings.RegisterSpecialKey(GLUT_KEY_LEFT, Second));
    EXPECT_EQ(bindings.actionCount, 2);

    bindings.Dispatch(bindings.keys, 'd', 0, 0);
    bindings.Dispatch(bindings.specialKeys, GLUT_KEY_LEFT, 0, 0);
    bindings.Dispatch(bindings.keys, 'q', 0, 0);  // unbound: nothing happens
    EXPECT_EQ(calls, (std::vector<int>{1, 2}));
}

}  // namespace
}  // namespace bsppvs
