#include "assets3d/CompressAsciiResource.h"

#include <gtest/gtest.h>

#include <string>

#include "Vak/Bexlorn/Options.h"
#include "tests/assets3d/texture/TextureFixture.h"

namespace {

using Slot = CompressAsciiResource::Slot;

TEST(ParseCompressionTest, WordsFillTheSlotsInOrder) {
  struct Case {
    const char* options;
    Slot opaque, oneBit, full;
  };
  const Slot none{1, true};
  const Case cases[] = {
      {"", none, none, none},
      {"-Compression=auto", {10, false}, {10, true}, {12, true}},
      {"-Compression=AUTO", {10, false}, {10, true}, {12, true}},
      {"-Compression=auto,dxt3,none", {10, false}, {10, true}, {12, true}},
      {"-Compression=dxt1,dxt1a,dxt5", {10, false}, {10, true}, {12, true}},
      {"-Compression=dxt5,auto", {12, true}, none, none},
      {"-Compression=DXT3,Dxt1,none", {11, true}, {10, false}, none},
      {"-Compression=none,dxt5,dxt1a,dxt1", none, {12, true}, {10, true}},
      {"-Compression=bogus,dxt5", none, {12, true}, none},
      // The kernel's list reading skips an empty item.
      {"-Compression=dxt1,,dxt5", {10, false}, {12, true}, none},
  };
  for (const Case& c : cases) {
    Vak::Options options;
    options.ProcessRaw(c.options);
    CompressAsciiResource::Slots slots;
    slots[0] = slots[1] = slots[2] = Slot{99, false};
    CompressAsciiResource::ParseCompression(options, slots);
    EXPECT_EQ(slots[0], c.opaque) << c.options;
    EXPECT_EQ(slots[1], c.oneBit) << c.options;
    EXPECT_EQ(slots[2], c.full) << c.options;
  }
}

class ChoiceTest : public texturetest::TextureFixture {};

TEST_F(ChoiceTest, GetSizeClampsByTheMaximumWidthThenHeight) {
  struct Case {
    uint32_t width, height;
    const char* options;
    uint32_t expectedWidth, expectedHeight;
  };
  const Case cases[] = {
      {1024, 256, "", 1024, 256},
      {1024, 256, "-MaxTextureSize=512", 512, 128},
      {1024, 256, "-MaxTextureSize=256,64", 256, 64},
      {1024, 256, "-MaxTextureSize=2048,32", 128, 32},
      {256, 1024, "-MaxTextureSize=512", 256, 1024},
      {256, 1024, "-MaxTextureSize=1024,128", 32, 128},
      {1024, 256, "-MaxTextureSize=1", 1, 1},
      {300, 200, "-MaxTextureSize=100", 100, 66},
  };
  for (const Case& c : cases) {
    const std::string what = std::to_string(c.width) + "x" + std::to_string(c.height) + " " + c.options;
    auto texture = Load(Describe(imagefiles::Pattern(c.width, c.height, 0)), c.options);
    ASSERT_TRUE(texture) << what;
    uint32_t width = 0, height = 0;
    texture->GetSize(width, height);
    EXPECT_EQ(width, c.expectedWidth) << what;
    EXPECT_EQ(height, c.expectedHeight) << what;
  }
}

// Alpha kinds of the image: 0 opaque, 1 full alpha, 2 one bit.
TEST_F(ChoiceTest, ChooseCompressionFollowsSizeSettingAndOptions) {
  struct Case {
    const char* what;
    uint32_t width, height;
    int alphaKind;
    const char* description;
    const char* options;
    int code;
    bool alpha;
  };
  const Case cases[] = {
      {"64 x 64 opaque stays uncompressed", 64, 64, 0, "", "-Compression=auto", 3, false},
      {"64 x 64 with alpha stays uncompressed", 64, 64, 1, "", "-Compression=auto", 1, true},
      {"64 x 64 with a dxt5 setting", 64, 64, 1, "FileCompression=dxt5", "-Compression=auto", 1, true},
      {"forceOptions compresses 64 x 64", 64, 64, 0, "", "-forceOptions -Compression=dxt1", 10, false},
      {"forceOptions wins before the block test", 60, 60, 2, "", "-forceOptions -Compression=dxt1,dxt1a,dxt5", 10,
       true},
      {"100 x 30 falls back from dxt5", 100, 30, 1, "", "-Compression=auto", 1, true},
      {"100 x 30 opaque falls back from dxt1", 100, 30, 0, "", "-Compression=auto", 3, false},
      {"three words, opaque", 128, 128, 0, "", "-Compression=dxt1,dxt1a,dxt5", 10, false},
      {"three words, one bit", 128, 128, 2, "", "-Compression=dxt1,dxt1a,dxt5", 10, true},
      {"three words, full", 128, 128, 1, "", "-Compression=dxt1,dxt1a,dxt5", 12, true},
      {"capitals, one bit", 128, 128, 2, "", "-Compression=AUTO", 10, true},
      {"capitals, full", 128, 128, 1, "", "-Compression=AUTO", 12, true},
      {"auto second leaves one bit at 1", 128, 128, 2, "", "-Compression=dxt5,auto", 1, true},
      {"normal map with one bit uses the full slot", 128, 128, 2, "Hint=normalmap", "-Compression=dxt1,dxt1a,dxt5",
       12, true},
      {"setting 4 takes the option choice", 128, 128, 0, "FileCompression=auto", "-Compression=dxt3", 11, true},
      {"setting 4 without Compression", 128, 128, 0, "", "-MaxTextureSize=4096", 1, true},
      {"setting dxt1 wins without forceOptions", 128, 128, 1, "FileCompression=dxt1", "-Compression=dxt5", 10,
       false},
      {"setting dxt3", 128, 128, 0, "FileCompression=dxt3", "-Compression=dxt1", 11, true},
      {"setting dxt5", 128, 128, 0, "FileCompression=dxt5", "-Compression=dxt1", 12, true},
      {"setting none with alpha", 128, 128, 2, "FileCompression=none", "-Compression=auto", 1, true},
      {"setting none opaque", 128, 128, 0, "FileCompression=none", "-Compression=auto", 3, false},
      {"forceOptions over the setting", 128, 128, 0, "FileCompression=dxt1", "-forceOptions -Compression=dxt5", 12,
       true},
      {"forceOptions with no word for the class", 128, 128, 1, "FileCompression=dxt1",
       "-forceOptions -Compression=dxt5", 1, true},
      {"clamped to 64 and below", 1024, 256, 0, "", "-Compression=auto -MaxTextureSize=64", 3, false},
      {"clamped size not whole blocks", 1024, 256, 0, "", "-Compression=auto -MaxTextureSize=200", 3, false},
  };
  for (const Case& c : cases) {
    auto texture = Load(Describe(imagefiles::Pattern(c.width, c.height, c.alphaKind), c.description), c.options);
    ASSERT_TRUE(texture) << c.what;
    EXPECT_EQ(texture->ChooseCompression(), c.code) << c.what;
    EXPECT_EQ(texture->AlphaFlag(), c.alpha) << c.what;
    EXPECT_EQ(texture->GetCompression(), c.code) << c.what;
  }
}

TEST_F(ChoiceTest, WithoutImagesOrOptionsTheCodeIsUncompressed) {
  folder_.WriteFile("empty.texture.txt", "Tile=st\n");
  auto empty = Load(folder_ / "empty.texture.txt", "-Compression=dxt5 -forceOptions");
  ASSERT_TRUE(empty);
  EXPECT_EQ(empty->GetAlphaClass(), -1);
  EXPECT_EQ(empty->ChooseCompression(), 1);
  EXPECT_TRUE(empty->AlphaFlag());
  EXPECT_TRUE(empty->CompressMips(false)) << "nothing to compress";
  EXPECT_EQ(empty->CompressedCount(), 0u);

  const std::string description = Describe(imagefiles::Pattern(128, 128, 0));
  EXPECT_FALSE(Load(description, nullptr)) << "a description loads only with options attached";
  CompressAsciiResource bare(Vak::PString("t.texture"), nullptr);
  EXPECT_EQ(bare.ChooseCompression(), 1);
}

// Without "forceOptions" the description's settings win over the options';
// with it, the options win.
TEST_F(ChoiceTest, TheSideLoadedLastWins) {
  struct Case {
    const char* options;
    bool mipMaps;
    uint8_t wrapS;
  };
  const Case cases[] = {
      {"-AutoMip=none -Tile=none", true, 2},
      {"-AutoMip=none -Tile=none -forceOptions", false, 1},
      {"-AutoMip=none", true, 2},
  };
  const std::string description = Describe(imagefiles::Pattern(16, 16, 0), "AutoMip=box\nTile=st\n");
  for (const Case& c : cases) {
    auto texture = Load(description, c.options);
    ASSERT_TRUE(texture) << c.options;
    EXPECT_EQ(texture->UseMipMaps(), c.mipMaps) << c.options;
    EXPECT_EQ(texture->GetWrapS(), c.wrapS) << c.options;
  }
  // Options the description does not override stay.
  auto texture = Load(Describe(imagefiles::Pattern(16, 16, 0), "", "plain"), "-AutoMip=none -Anisotropy=4");
  ASSERT_TRUE(texture);
  EXPECT_FALSE(texture->UseMipMaps());
  EXPECT_EQ(texture->GetAnisotropy(), 4u);
  EXPECT_EQ(texture->GetMipCount(), 1u);
  EXPECT_FALSE(Load(description, "-Tile=diagonal")) << "a bad option value fails the load";
  EXPECT_FALSE(Load(description, "-forceOptions -Tile=diagonal"));
}

TEST_F(ChoiceTest, MipCountIsTheSmallerOfTheClampedChainAndTheDescription) {
  struct Case {
    const char* description;
    const char* options;
    uint32_t count;
  };
  const Case cases[] = {
      {"", "", 8},
      {"", "-MaxTextureSize=16", 5},
      {"MipLevels=3", "", 3},
      {"MipLevels=30", "-MaxTextureSize=16", 5},
      {"AutoMip=none", "", 1},
  };
  for (const Case& c : cases) {
    auto texture = Load(Describe(imagefiles::Pattern(128, 32, 0), c.description), c.options);
    ASSERT_TRUE(texture) << c.description << c.options;
    EXPECT_EQ(texture->GetMipCount(), c.count) << c.description << " " << c.options;
  }
}

} // namespace
