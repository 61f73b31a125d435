#pragma once

// Model files built in code: a little-endian byte writer, the smallest valid file split
// into its sections so a test can replace one, and a field-by-field model comparison.

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <string>
#include <vector>

#include "model/ply_model.h"

namespace bsppvs::model_test {

struct LeBytes {
    std::vector<uint8_t> data;

    LeBytes& U8(uint8_t v) {
        data.push_back(v);
        return *this;
    }
    LeBytes& I16(int16_t v) { return U8(static_cast<uint8_t>(v)).U8(static_cast<uint8_t>(v >> 8)); }
    LeBytes& I32(int32_t v) {
        for (int i = 0; i < 4; ++i) {
            U8(static_cast<uint8_t>(static_cast<uint32_t>(v) >> (8 * i)));
        }
        return *this;
    }
    LeBytes& F32(float v) { return I32(std::bit_cast<int32_t>(v)); }
    LeBytes& Vec(Vector3 v) { return F32(v.x).F32(v.y).F32(v.z); }
    LeBytes& Name(const std::string& name) {
        data.insert(data.end(), name.begin(), name.end());
        return U8(0);
    }
    LeBytes& Node(bool child, bool sibling, const std::string& name = "",
                  const std::vector<int32_t>& indices = {}) {
        U8(child).U8(sibling).Name(name).Vec({}).Vec({0, 0, 1}).Vec({0, 1, 0});
        I32(static_cast<int32_t>(indices.size()));
        for (const int32_t index : indices) {
            I32(index);
        }
        return *this;
    }
};

// The sections of a file in order; Join concatenates them.
struct FileParts {
    LeBytes header, colours, names, positions, secondaries, faces, nodes;

    std::vector<uint8_t> Join() const {
        std::vector<uint8_t> all;
        for (const LeBytes* part :
             {&header, &colours, &names, &positions, &secondaries, &faces, &nodes}) {
            all.insert(all.end(), part->data.begin(), part->data.end());
        }
        return all;
    }
};

// The smallest file that loads: one colour record, no name records, one position and
// secondary vector, one face without layers, one unnamed node.
inline FileParts SmallestParts() {
    FileParts p;
    p.header.U8('P').U8('L').U8('Y').I32(2);
    p.colours.I32(1);
    p.colours.data.resize(p.colours.data.size() + 42);
    p.names.I32(0);
    p.positions.I32(1).Vec({1, 2, 3});
    p.secondaries.I32(1).Vec({4, 5, 6});
    p.faces.I32(1).I32(7);
    for (int k = 0; k < 8; ++k) {
        p.faces.I32(0);
    }
    p.faces.I32(0);
    p.nodes.Node(false, false);
    return p;
}

inline void ExpectSameNode(const PlyNode& a, const PlyNode& b) {
    EXPECT_EQ(a.name, b.name);
    EXPECT_EQ(a.nameHash, b.nameHash);
    EXPECT_EQ(a.origin, b.origin);
    EXPECT_EQ(a.target, b.target);
    EXPECT_EQ(a.upPoint, b.upPoint);
    EXPECT_EQ(a.toLocal, b.toLocal);
    EXPECT_EQ(a.toWorld, b.toWorld);
    EXPECT_EQ(a.indices, b.indices);
    EXPECT_EQ(a.parent == nullptr, b.parent == nullptr);
}

// Compares two models member by member, walking both trees in step without recursion.
inline void ExpectSameModel(const PlyModel& a, const PlyModel& b) {
    ASSERT_EQ(a.header == nullptr, b.header == nullptr);
    if (a.header) {
        EXPECT_EQ(*a.header, *b.header);
    }
    EXPECT_EQ(a.colourRecords, b.colourRecords);
    EXPECT_EQ(a.nameRecords, b.nameRecords);
    EXPECT_EQ(a.positions, b.positions);
    EXPECT_EQ(a.secondaryVectors, b.secondaryVectors);
    EXPECT_EQ(a.faces, b.faces);
    EXPECT_EQ(a.cornerLists, b.cornerLists);
    EXPECT_EQ(a.nodeNames, b.nodeNames);
    std::vector<std::pair<const PlyNode*, const PlyNode*>> pending{{a.root.get(), b.root.get()}};
    while (!pending.empty()) {
        const auto [x, y] = pending.back();
        pending.pop_back();
        ASSERT_EQ(x == nullptr, y == nullptr);
        if (x != nullptr) {
            ExpectSameNode(*x, *y);
            pending.emplace_back(x->child.get(), y->child.get());
            pending.emplace_back(x->sibling.get(), y->sibling.get());
        }
    }
}

}  // namespace bsppvs::model_test
