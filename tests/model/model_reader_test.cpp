#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <functional>

#include "model/binary_file.h"
#include "model/model_reader.h"
#include "model/model_writer.h"
#include "model_bytes.h"

namespace bsppvs {
namespace {

using model_test::FileParts;
using model_test::LeBytes;
using model_test::SmallestParts;

std::unique_ptr<PlyModel> Load(const std::vector<uint8_t>& bytes, std::string& reason) {
    return LoadModelFromBytes(bytes, reason);
}

TEST(ModelReader, SmallestFileLoads) {
    const std::vector<uint8_t> bytes = SmallestParts().Join();
    ASSERT_EQ(bytes.size(), 176u);
    std::string reason;
    const auto model = Load(bytes, reason);
    ASSERT_TRUE(model) << reason;
    EXPECT_EQ(std::string(model->header->magic.data()), "PLY");
    EXPECT_TRUE(model->nameRecords.empty());
    EXPECT_EQ(model->positions, (std::vector<Vector3>{{1, 2, 3}}));
    EXPECT_EQ(model->cornerLists, (std::vector<std::vector<int32_t>>{{0, 0, 0, 0}}));
    EXPECT_TRUE(model->faces[0].layers.empty());
    EXPECT_FALSE(model->root->child || model->root->sibling || model->root->parent);
    EXPECT_EQ(model->nodeNames, (std::map<uint32_t, std::string>{{0, ""}}));
}

struct Rejection {
    const char* reason;
    std::function<void(FileParts&)> change;
};

LeBytes FaceWithLayerCount(int32_t layers, int32_t corner = 0) {
    LeBytes face;
    face.I32(1).I32(0).I32(0).I32(0).I32(0).I32(corner);
    face.I32(0).I32(0).I32(0).I32(0).I32(layers);
    return face;
}

// Every way the reader refuses a file, each made by replacing one section of the smallest
// valid file.
const Rejection REJECTIONS[] = {
    {"bad magic (expected \"PLY\")",
     [](FileParts& p) { p.header = LeBytes().U8('p').U8('l').U8('y'); }},
    {"bad magic (expected \"PLY\")", [](FileParts& p) { p.header.data[2] = 'X'; }},
    {"unsupported version 1 (expected 2)", [](FileParts& p) { p.header.data[3] = 1; }},
    {"unsupported version 3 (expected 2)", [](FileParts& p) { p.header.data[3] = 3; }},
    {"colour record count 0 is below 1", [](FileParts& p) { p.colours = LeBytes().I32(0); }},
    {"colour record count -1 is below 1", [](FileParts& p) { p.colours = LeBytes().I32(-1); }},
    {"name record count -1 is negative", [](FileParts& p) { p.names = LeBytes().I32(-1); }},
    {"position count 0 is below 1", [](FileParts& p) { p.positions = LeBytes().I32(0); }},
    {"secondary vector count 0 is below 1", [](FileParts& p) { p.secondaries = LeBytes().I32(0); }},
    {"face count 0 is below 1", [](FileParts& p) { p.faces = LeBytes().I32(0); }},
    {"face 0 layer count -1 is negative", [](FileParts& p) { p.faces = FaceWithLayerCount(-1); }},
    {"face 0 corner 3 names position 1 of 1",
     [](FileParts& p) { p.faces = FaceWithLayerCount(0, 1); }},
    {"face 0 corner 3 names position -1 of 1",
     [](FileParts& p) { p.faces = FaceWithLayerCount(0, -1); }},
    {"node 0 index count -1 is negative",
     [](FileParts& p) {
         p.nodes.data.resize(p.nodes.data.size() - 4);
         p.nodes.I32(-1);
     }},
    // Counts the remaining bytes could never hold are refused before any allocation.
    {"colour record count 2147483647 needs at least 90194313174 bytes but 123 remain",
     [](FileParts& p) { p.colours = LeBytes().I32(INT_MAX); }},
    {"name record count 2147483647 needs at least 10737418235 bytes but 119 remain",
     [](FileParts& p) { p.names = LeBytes().I32(INT_MAX); }},
    {"face count 2 needs at least 80 bytes but 79 remain",
     [](FileParts& p) {
         p.faces.data[0] = 2;
         p.nodes.data.resize(39);
     }},
    {"face 0 layer count 1 needs at least 50 bytes but 43 remain",
     [](FileParts& p) { p.faces = FaceWithLayerCount(1); }},
    {"node 0 index count 2147483647 needs at least 8589934588 bytes but 0 remain",
     [](FileParts& p) {
         p.nodes.data.resize(p.nodes.data.size() - 4);
         p.nodes.I32(INT_MAX);
     }},
};

TEST(ModelReader, RejectsMalformedFilesWithReason) {
    for (const Rejection& row : REJECTIONS) {
        FileParts parts = SmallestParts();
        row.change(parts);
        std::string reason;
        EXPECT_FALSE(Load(parts.Join(), reason));
        EXPECT_EQ(reason, row.reason);
    }
}

// A file exercising every record kind: two colour records, named records, layers, shared
// positions and a node tree with both kinds of link. Sketch of the tree, in file order:
//   a ─child→ b ─child→ c ─sibling→ d
//             b ─sibling→ e
std::vector<uint8_t> RichFile() {
    LeBytes f;
    f.U8('P').U8('L').U8('Y').I32(2);
    f.I32(2);
    for (int r = 0; r < 2; ++r) {
        f.U8(0).U8(255).U8(64).F32(0.5f).U8(1).U8(2).U8(3);
        for (int i = 0; i < 8; ++i) {
            f.F32(static_cast<float>(i * r));
        }
    }
    f.I32(2).Name("abc").I16(-3).I16(7).Name("").I16(1).I16(2);
    f.I32(3).Vec({0, 0, 0}).Vec({1, 0, 0}).Vec({0, 1, 0});
    f.I32(1).Vec({9, 9, 9});
    f.I32(2);
    f.I32(11).I32(0).I32(1).I32(2).I32(0).I32(10).I32(11).I32(12).I32(13).I32(1);
    f.I32(5).Vec({1, 2, 3}).U8(8).U8(9).F32(0.25f).F32(0.0f).F32(0.5f).F32(0.75f);
    f.F32(1.0f).F32(0.125f).F32(0.0f).F32(1.0f);
    f.I32(12).I32(2).I32(2).I32(1).I32(0).I32(20).I32(21).I32(22).I32(23).I32(0);
    f.Node(true, false, "a", {4, 5}).Node(true, true, "b").Node(false, true, "Aa");
    f.Node(false, false, "@!").Node(false, false, "b", {-1});
    return f.data;
}

TEST(ModelReader, RichFileFillsEveryTable) {
    std::string reason;
    const auto model = Load(RichFile(), reason);
    ASSERT_TRUE(model) << reason;
    const PlyColourRecord& colour = model->colourRecords[1];
    EXPECT_EQ(colour.colourA, (std::array<float, 3>{0.0f, 1.0f, 64 * (1.0f / 255)}));
    EXPECT_EQ(colour.reals[7], 7.0f);
    EXPECT_EQ(model->nameRecords[0], (PlyNameRecord{"abc", -3, 7}));
    EXPECT_EQ(model->nameRecords[1], (PlyNameRecord{"", 1, 2}));
    const PlyFaceLayer& layer = model->faces[0].layers[0];
    EXPECT_EQ(layer.layerId, 5);
    EXPECT_EQ(layer.uv[0], (std::array<float, 2>{0.25f, 1.0f}));
    EXPECT_EQ(layer.uv[1], (std::array<float, 2>{0.5f, 0.25f}));
    EXPECT_EQ(layer.uv[3], (std::array<float, 2>{0.0f, 0.0f}));
    // Corner order within a face, face order across faces.
    EXPECT_EQ(model->cornerLists,
              (std::vector<std::vector<int32_t>>{{10, 13, 23}, {11, 22}, {12, 20, 21}}));
}

TEST(ModelReader, NodeTreeLinksAndNames) {
    std::string reason;
    const auto model = Load(RichFile(), reason);
    ASSERT_TRUE(model) << reason;
    const PlyNode& a = *model->root;
    const PlyNode& b = *a.child;
    const PlyNode& c = *b.child;
    EXPECT_EQ(a.indices, (std::vector<int32_t>{4, 5}));
    EXPECT_EQ(c.sibling->name, "@!");
    EXPECT_EQ(b.sibling->indices, (std::vector<int32_t>{-1}));
    EXPECT_EQ(b.parent, &a);
    EXPECT_EQ(c.parent, &b);
    EXPECT_EQ(c.sibling->parent, nullptr);
    EXPECT_EQ(b.sibling->parent, nullptr);
    EXPECT_FALSE(a.sibling || c.child || b.sibling->child);
    // "Aa" and "@!" share a hash, so the later name wins; "b" appears twice.
    EXPECT_EQ(model->nodeNames, (std::map<uint32_t, std::string>{
                                    {HashName("a"), "a"}, {HashName("b"), "b"}, {0x1021, "@!"}}));
}

TEST(ModelReader, EveryTruncatedPrefixFails) {
    const std::vector<uint8_t> bytes = RichFile();
    for (size_t length = 0; length < bytes.size(); ++length) {
        std::string reason;
        const std::vector<uint8_t> prefix(bytes.begin(), bytes.begin() + length);
        EXPECT_FALSE(Load(prefix, reason)) << length;
        EXPECT_FALSE(reason.empty() || reason.find('\n') != std::string::npos) << length;
    }
    std::string reason;
    Load({bytes.begin(), bytes.end() - 45}, reason);  // inside the last name
    EXPECT_EQ(reason, "file ends inside node 4");
}

TEST(ModelReader, TrailingBytesAreIgnored) {
    std::vector<uint8_t> bytes = RichFile();
    std::string reason;
    const auto plain = Load(bytes, reason);
    bytes.insert(bytes.end(), {0xFF, 0x00, 0x17});
    const auto padded = Load(bytes, reason);
    ASSERT_TRUE(plain && padded);
    model_test::ExpectSameModel(*plain, *padded);
}

TEST(ModelReader, ReadsNamedFilesAndReportsMissingOnes) {
    const std::string path = ::testing::TempDir() + "model_reader_test.ply";
    const std::vector<uint8_t> bytes = SmallestParts().Join();
    std::FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_TRUE(file);
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
    EXPECT_TRUE(LoadModel(path));
    std::remove(path.c_str());
    std::string reason;
    EXPECT_FALSE(LoadModel(path, reason));
    EXPECT_EQ(reason, "cannot open: No such file or directory");
}

TEST(BinaryFile, OnlyKnownModesOpen) {
    const std::string path = ::testing::TempDir() + "binary_file_test.bin";
    for (const int mode : {0, 3, -1}) {
        BinaryFile file;
        EXPECT_FALSE(file.Open(path, mode));
        EXPECT_FALSE(file.IsOpen());
    }
    BinaryFile out;
    ASSERT_TRUE(out.Open(path, BinaryFile::MODE_WRITE));
    EXPECT_TRUE(out.Write("abc", 3) && out.Close());
    BinaryFile in;
    ASSERT_TRUE(in.Open(path, BinaryFile::MODE_READ));
    char buffer[4] = {'x', 'x', 'x', 'x'};
    EXPECT_FALSE(in.Read(buffer, 4));
    EXPECT_EQ(buffer[0], 'x');
    std::remove(path.c_str());
}

// Chains of a million nodes along one kind of link load, write back and free without
// recursion.
TEST(ModelReader, MillionNodeChainsLoad) {
    constexpr int CHAIN_LENGTH = 1'000'000;
    for (const bool alongChild : {true, false}) {
        FileParts parts = SmallestParts();
        parts.nodes = LeBytes();
        for (int i = 0; i < CHAIN_LENGTH; ++i) {
            const bool more = i + 1 < CHAIN_LENGTH;
            parts.nodes.Node(alongChild && more, !alongChild && more, "n");
        }
        const std::vector<uint8_t> file = parts.Join();
        std::string reason;
        auto model = Load(file, reason);
        ASSERT_TRUE(model) << reason;
        int length = 0;
        for (const PlyNode* node = model->root.get(); node != nullptr; ++length) {
            node = alongChild ? node->child.get() : node->sibling.get();
        }
        EXPECT_EQ(length, CHAIN_LENGTH);
        std::vector<uint8_t> written;
        EXPECT_TRUE(SaveModelToBytes(*model, written, reason));
        EXPECT_TRUE(written == file);
        model.reset();
    }
}

}  // namespace
}  // namespace bsppvs
