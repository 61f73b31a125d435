#include <gtest/gtest.h>

#include <cstdio>
#include <random>

#include "model/model_reader.h"
#include "model/model_writer.h"
#include "model_bytes.h"

namespace bsppvs {
namespace {

using model_test::LeBytes;
using model_test::SmallestParts;

std::unique_ptr<PlyModel> MustLoad(const std::vector<uint8_t>& bytes) {
    std::string reason;
    auto model = LoadModelFromBytes(bytes, reason);
    EXPECT_TRUE(model) << reason;
    return model;
}

std::vector<uint8_t> MustSave(const PlyModel& model) {
    std::vector<uint8_t> bytes;
    std::string reason;
    EXPECT_TRUE(SaveModelToBytes(model, bytes, reason)) << reason;
    return bytes;
}

// A file with one layer whose v values are the given file values, one pair per corner.
std::vector<uint8_t> FileWithVs(const std::array<float, 4>& fileV) {
    auto parts = SmallestParts();
    parts.faces.data.resize(parts.faces.data.size() - 4);
    parts.faces.I32(1).I32(0).Vec({}).U8(0).U8(0);
    for (const float v : fileV) {
        parts.faces.F32(0.5f).F32(v);
    }
    return parts.Join();
}

TEST(ModelWriter, CanonicalFilesReencodeByteForByte) {
    const std::vector<uint8_t> file = FileWithVs({0.0f, 0.3f, 1.0f, 2.75f});
    EXPECT_EQ(MustSave(*MustLoad(file)), file);
}

// The flip 1 - v is not its own inverse in float for large magnitudes (2^24 + 2 reads as
// -2^24, and 1 + 2^24 rounds back to 2^24), so the writer must choose the file value that
// reads back as the stored one.
TEST(ModelWriter, FlippedVReadsBackExactly) {
    std::vector<float> fileVs = {0.0f,  1.0f,   1e-10f,   16777218.0f, -16777218.0f,
                                 3e38f, -1e30f, 7.0e-45f, 0.1f,        1e20f};
    std::mt19937 random(7);
    std::uniform_int_distribution<uint32_t> bits;
    while (fileVs.size() < 20000) {
        const float v = std::bit_cast<float>(bits(random));
        if (std::isfinite(v)) {
            fileVs.push_back(v);
        }
    }
    for (size_t i = 0; i + 4 <= fileVs.size(); i += 4) {
        const auto model =
            MustLoad(FileWithVs({fileVs[i], fileVs[i + 1], fileVs[i + 2], fileVs[i + 3]}));
        model_test::ExpectSameModel(*model, *MustLoad(MustSave(*model)));
    }
}

TEST(ModelWriter, ColourBytesRoundTrip) {
    auto parts = SmallestParts();
    parts.colours = LeBytes().I32(256);
    for (int b = 0; b < 256; ++b) {
        parts.colours.U8(b).U8(255 - b).U8(b).F32(0).U8(b).U8(b).U8(0);
        parts.colours.data.resize(parts.colours.data.size() + 32);
    }
    const std::vector<uint8_t> file = parts.Join();
    const auto model = MustLoad(file);
    EXPECT_EQ(model->colourRecords[255].colourA[0], 1.0f);
    EXPECT_EQ(MustSave(*model), file);
}

TEST(ModelWriter, NamedFileRoundTrip) {
    const auto model = MustLoad(SmallestParts().Join());
    const std::string path = ::testing::TempDir() + "model_writer_test.ply";
    std::string reason;
    ASSERT_TRUE(SaveModel(*model, path, reason)) << reason;
    const auto back = LoadModel(path, reason);
    ASSERT_TRUE(back) << reason;
    model_test::ExpectSameModel(*model, *back);
    std::remove(path.c_str());
    EXPECT_FALSE(SaveModel(*model, ::testing::TempDir() + "missing/dir/x.ply", reason));
    EXPECT_EQ(reason, "cannot open for writing: No such file or directory");
}

TEST(ModelWriter, RefusesModelsTheFormatCannotHold) {
    const struct {
        const char* reason;
        void (*change)(PlyModel&);
    } cases[] = {
        {"model has no header", [](PlyModel& m) { m.header.reset(); }},
        {"model header is not \"PLY\" version 2", [](PlyModel& m) { m.header->version = 3; }},
        {"model has no root node", [](PlyModel& m) { m.root.reset(); }},
        {"model needs at least one colour record, position, secondary vector and face",
         [](PlyModel& m) { m.faces.clear(); }},
        {"face 0 corner 1 names position 4 of 1",
         [](PlyModel& m) { m.faces[0].positionIndex[1] = 4; }},
        {"node name has a zero byte",
         [](PlyModel& m) {
             m.root->child = std::make_unique<PlyNode>();
             m.root->child->name = {'a', '\0'};
         }},
        {"name record 0 has a zero byte",
         [](PlyModel& m) {
             m.nameRecords.push_back({std::string(1, '\0'), 0, 0});
         }},
    };
    for (const auto& c : cases) {
        auto model = MustLoad(SmallestParts().Join());
        c.change(*model);
        std::vector<uint8_t> bytes;
        std::string reason;
        EXPECT_FALSE(SaveModelToBytes(*model, bytes, reason));
        EXPECT_EQ(reason, c.reason);
    }
}

}  // namespace
}  // namespace bsppvs
