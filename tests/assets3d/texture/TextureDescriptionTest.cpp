#include "engine/dorvix/AsciiTextureResource.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "tests/assets3d/texture/TextureFixture.h"

namespace {

using Vak::AsciiTextureResource;
using Vak::Bitmap;
using Vak::TextureDescription;
using Vak::TextureResource;

std::string Flatten(const TextureDescription& d) {
  std::string out;
  for (const auto& slice : d.slices) out += "[" + slice.primary + "|" + slice.alpha + "]";
  for (const auto& option : d.settings) out += option.key + "=" + option.value + ";";
  return out;
}

TEST(TextureDescriptionTest, LinesBecomeSlicesAndSettings) {
  struct Case {
    const char* text;
    bool ok;
    const char* flattened;
  };
  const Case cases[] = {
      {"", true, ""},
      {"Primary=a.tga\n", true, "[a.tga|]"},
      {"primary = a.tga \r\nALPHA=b.bmp\r\n", true, "[a.tga|b.bmp]"},
      {"Primary=a.tga\nAlpha=b.tga\nPrimary=c.tga\n", true, "[a.tga|b.tga][c.tga|]"},
      {"; note\n# note\n\n  \nTile=st\nPrimary=a.tga", true, "[a.tga|]Tile=st;"},
      {"AutoMip = box\nMipLevels=3\n", true, "AutoMip=box;MipLevels=3;"},
      {"Primary=a=b.tga\n", true, "[a=b.tga|]"},
      {"Alpha=b.tga\nPrimary=a.tga\n", false, ""},
      {"Primary a.tga\n", false, ""},
      {"=a.tga\n", false, ""},
  };
  for (const Case& c : cases) {
    TextureDescription description;
    EXPECT_EQ(description.Parse(c.text, std::strlen(c.text)), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(Flatten(description), c.flattened) << c.text;
    }
  }
}

TEST(TextureDescriptionTest, SettingsApplyAndBadValuesFail) {
  using Record = TextureResource::OptionRecord;
  struct Case {
    Record record;
    bool ok;
    // Texture state afterwards: compression, normal map, modify map, wrap S,
    // wrap T, mip maps, anisotropy, mag, min and mip filters.
    int state[10];
  };
  const Case cases[] = {
      {{}, true, {4, 0, 0, 2, 2, 1, 0, 0, 0, 0}},
      {{{"FileCompression", "DXT1"}}, true, {1, 0, 0, 2, 2, 1, 0, 0, 0, 0}},
      {{{"filecompression", "dxt3"}}, true, {2, 0, 0, 2, 2, 1, 0, 0, 0, 0}},
      {{{"FileCompression", "dxt5"}}, true, {3, 0, 0, 2, 2, 1, 0, 0, 0, 0}},
      {{{"FileCompression", "none"}}, true, {0, 0, 0, 2, 2, 1, 0, 0, 0, 0}},
      {{{"Hint", "NormalMap"}}, true, {4, 1, 0, 2, 2, 1, 0, 0, 0, 0}},
      {{{"ModifyMap", "1"}}, true, {4, 0, 1, 2, 2, 1, 0, 0, 0, 0}},
      {{{"Tile", "s"}}, true, {4, 0, 0, 2, 1, 1, 0, 0, 0, 0}},
      {{{"Tile", "t"}}, true, {4, 0, 0, 1, 2, 1, 0, 0, 0, 0}},
      {{{"Tile", "none"}}, true, {4, 0, 0, 1, 1, 1, 0, 0, 0, 0}},
      {{{"AutoMip", "none"}}, true, {4, 0, 0, 2, 2, 0, 0, 0, 0, 0}},
      {{{"AutoMip", "none"}, {"AutoMip", "box"}}, true, {4, 0, 0, 2, 2, 1, 0, 0, 0, 0}},
      {{{"Anisotropy", "8"}, {"MagFilter", "linear"}, {"MinFilter", "point"}, {"MipFilter", "none"}},
       true,
       {4, 0, 0, 2, 2, 1, 8, 3, 2, 1}},
      {{{"Unknown", "whatever"}}, true, {4, 0, 0, 2, 2, 1, 0, 0, 0, 0}},
      {{{"FileCompression", "dxt2"}}, false, {4, 0, 0, 2, 2, 1, 0, 0, 0, 0}},
      {{{"Tile", "x"}}, false, {4, 0, 0, 2, 2, 1, 0, 0, 0, 0}},
      {{{"Anisotropy", "17"}}, false, {4, 0, 0, 2, 2, 1, 0, 0, 0, 0}},
      {{{"Anisotropy", "4x"}}, false, {4, 0, 0, 2, 2, 1, 0, 0, 0, 0}},
      {{{"MipLevels", ""}}, false, {4, 0, 0, 2, 2, 1, 0, 0, 0, 0}},
      {{{"Anisotropy", "2"}, {"Anisotropy", "3y"}}, false, {4, 0, 0, 2, 2, 1, 2, 0, 0, 0}},
      {{{"Hint", "bumpy"}}, false, {4, 0, 0, 2, 2, 1, 0, 0, 0, 0}},
      {{{"ModifyMap", "2"}}, false, {4, 0, 0, 2, 2, 1, 0, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    AsciiTextureResource texture(Vak::PString("t"), nullptr);
    const std::string what = c.record.empty() ? "nothing" : c.record.front().key + "=" + c.record.front().value;
    EXPECT_EQ(texture.LoadTextureOptions(c.record), c.ok) << what;
    const int state[10] = {texture.GetFileCompression(), texture.GetNormalMapHint(), texture.GetModifyMap(),
                           texture.GetWrapS(),           texture.GetWrapT(),         texture.UseMipMaps(),
                           static_cast<int>(texture.GetAnisotropy()), texture.GetMagFilter(), texture.GetMinFilter(),
                           texture.GetMipFilter()};
    for (int i = 0; i < 10; ++i) EXPECT_EQ(state[i], c.state[i]) << what << " field " << i;
  }
}

TEST(TextureDescriptionTest, AlphaClassComesFromThePixelsUnlessHinted) {
  Bitmap opaque(2, 1, Bitmap::kFormatARGB), oneBit(2, 1, Bitmap::kFormatARGB), full(2, 1, Bitmap::kFormatARGB),
      unused(2, 1, Bitmap::kFormatXRGB);
  opaque.SetPixel(0, 0, 0xFF102030u);
  opaque.SetPixel(1, 0, 0xFF102030u);
  oneBit.SetPixel(0, 0, 0xFF102030u);
  oneBit.SetPixel(1, 0, 0x00102030u);
  full.SetPixel(0, 0, 0x00102030u);
  full.SetPixel(1, 0, 0x80102030u);
  struct Case {
    const Bitmap* image;
    int expected;
  };
  const Case cases[] = {{&opaque, 0}, {&oneBit, 2}, {&full, 1}, {&unused, 0}};
  for (const Case& c : cases) EXPECT_EQ(TextureResource::AlphaClassOf(*c.image), c.expected) << c.expected;
}

class AsciiTextureTest : public texturetest::TextureFixture {};

TEST_F(AsciiTextureTest, ImagesCombineIntoSlicesOfOneSize) {
  const imagefiles::Image colour = imagefiles::Pattern(8, 4, 0);
  imagefiles::Image grey = colour;
  for (std::size_t i = 0; i < grey.pixels.size(); ++i) {
    const uint32_t level = static_cast<uint32_t>(i * 9 % 256);
    grey.pixels[i] = 0xFF000000u | level << 16 | level << 8 | level;
  }
  folder_.WriteFile("c.tga", imagefiles::Tga(colour, 24, true));
  folder_.WriteFile("g.bmp", imagefiles::Bmp(grey, 24));
  folder_.WriteFile("small.tga", imagefiles::Tga(imagefiles::Pattern(4, 4, 0), 24, false));
  struct Case {
    const char* text;
    bool ok;
    uint32_t depth;
    int alphaClass;
  };
  const Case cases[] = {
      {"Primary=c.tga\n", true, 1, 0},
      {"Primary=c.tga\nAlpha=g.bmp\n", true, 1, 1},
      {"Primary=c.tga\nAlpha=g.bmp\nPrimary=c.tga\n", true, 2, 1},
      {"Primary=c.tga\nAlphaHint=onebit\n", true, 1, 2},
      {"", true, 0, -1},
      {"Primary=missing.tga\n", false, 0, -1},
      {"Primary=c.tga\nAlpha=missing.tga\n", false, 0, -1},
      {"Primary=c.tga\nAlpha=small.tga\n", false, 0, -1},
      {"Primary=c.tga\nPrimary=small.tga\n", false, 0, -1},
      {"Primary=c.tga\nTile=sideways\n", false, 0, -1},
  };
  for (const Case& c : cases) {
    folder_.WriteFile("x.texture.txt", c.text);
    AsciiTextureResource texture(Vak::PString("x.texture"), nullptr);
    EXPECT_EQ(texture.LoadTxt((folder_ / "x.texture.txt").c_str()).Ok(), c.ok) << c.text;
    if (!c.ok) continue;
    EXPECT_EQ(texture.GetDepth(), c.depth) << c.text;
    EXPECT_EQ(texture.GetAlphaClass(), c.alphaClass) << c.text;
    for (uint32_t slice = 0; slice < c.depth; ++slice) {
      const Bitmap* image = texture.GetLevelImage(slice);
      ASSERT_NE(image, nullptr);
      const bool withAlpha = slice == 0 && std::string(c.text).find("Alpha=") != std::string::npos;
      for (uint32_t y = 0; y < 4; ++y) {
        for (uint32_t x = 0; x < 8; ++x) {
          const uint32_t alpha = withAlpha ? grey.At(x, y) & 0xFFu : 0xFFu;
          ASSERT_EQ(image->GetPixel(x, y), (colour.At(x, y) & 0x00FFFFFFu) | alpha << 24) << c.text;
        }
      }
    }
    EXPECT_EQ(texture.GetLevelImage(c.depth), nullptr);
  }
}

} // namespace
