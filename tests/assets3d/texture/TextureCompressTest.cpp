#include "assets3d/TextureCompress.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "assets3d/CompressAsciiResource.h"
#include "tests/assets3d/texture/TextureFile.h"
#include "tests/assets3d/texture/TextureFixture.h"

namespace {

using texturetest::Level;
using texturetest::TextureFile;

// The largest and the mean difference of a channel (0 blue ... 3 alpha)
// between decoded and source pixels, over the pixels both hold opaque when
// `opaqueOnly` (a transparent DXT1 pixel keeps no colour).
struct Error {
  int max = 0;
  double mean = 0;
};
Error ChannelError(const std::vector<uint32_t>& decoded, const std::vector<uint32_t>& source, int channel,
                   bool opaqueOnly = false) {
  Error error;
  double total = 0;
  std::size_t counted = 0;
  for (std::size_t i = 0; i < decoded.size() && i < source.size(); ++i) {
    if (opaqueOnly && ((decoded[i] >> 24) != 255 || (source[i] >> 24) != 255)) continue;
    const int d = std::abs(static_cast<int>((decoded[i] >> (8 * channel)) & 0xFF) -
                           static_cast<int>((source[i] >> (8 * channel)) & 0xFF));
    error.max = std::max(error.max, d);
    total += d;
    ++counted;
  }
  error.mean = counted == 0 ? 0 : total / static_cast<double>(counted);
  return error;
}

class CompressTest : public texturetest::TextureFixture {
protected:
  // Converts the description with the options into "out.texture" and reads
  // the file back.
  TextureFile Convert(const std::string& description, const char* options) {
    auto texture = Load(description, options);
    EXPECT_TRUE(texture);
    if (!texture) return {};
    EXPECT_TRUE(texture->LockMips());
    EXPECT_TRUE(texture->CompressAndSave((folder_ / "out.texture").c_str(), true));
    texture->UnlockCompressed();
    EXPECT_EQ(texture->MipLockCount(), 0);
    EXPECT_EQ(texture->CompressedCount(), 0u);
    return texturetest::ReadTextureFile(folder_.ReadFile("out.texture"));
  }
  std::vector<uint32_t> DecodeLevel(const Level& level, uint32_t code) {
    folder_.WriteFile("level.dds", texturetest::Dds(level, code));
    return texturetest::Decode(folder_, "level.dds");
  }
};

// Each format on a fixture of ramps and hard edges, decoded by ImageMagick:
// uncompressed exactly, block formats within what the format can hold.
TEST_F(CompressTest, EveryFormatDecodesCloseToItsSource) {
  struct Case {
    const char* what;
    uint32_t side;
    int alphaKind;
    const char* options;
    uint32_t code;
    int colourMax;      // largest colour error allowed; -1 none
    double colourMean;  // mean colour error allowed
    int alphaMax;       // largest alpha error; kOneBit, kNoAlpha
  };
  constexpr int kOneBit = -1, kNoAlpha = -2;
  // Four colours on a line per 4 x 4 block cannot follow two ramps at once;
  // DXT3 stores alpha in 4 bits.
  const Case cases[] = {
      {"uncompressed with alpha", 16, 1, "-forceOptions -Compression=none,none,none", 1, 0, 0, 0},
      {"uncompressed without alpha", 16, 0, "", 3, 0, 0, 0},
      {"dxt1", 32, 0, "-forceOptions -Compression=dxt1", 10, 40, 8, kNoAlpha},
      {"dxt1 with one-bit alpha", 32, 2, "-forceOptions -Compression=dxt1,dxt1a", 10, 40, 8, kOneBit},
      {"dxt3", 32, 1, "-forceOptions -Compression=dxt3,dxt3,dxt3", 11, 40, 8, 9},
      {"dxt5", 64, 1, "-forceOptions -Compression=auto", 12, 40, 8, 16},
  };
  for (const Case& c : cases) {
    for (const bool mipMaps : {false, true}) {
      const std::string what = std::string(c.what) + (mipMaps ? " with mip maps" : "");
      const imagefiles::Image source = imagefiles::Pattern(c.side, c.side, c.alphaKind);
      const std::string options = std::string(c.options) + (mipMaps ? " -AutoMip=box" : " -AutoMip=none");
      const TextureFile file = Convert(Describe(source, mipMaps ? "AutoMip=box" : "AutoMip=none"), options.c_str());
      ASSERT_TRUE(file.ok) << what;
      EXPECT_EQ(file.code, c.code) << what;
      EXPECT_EQ(file.width, c.side) << what;
      EXPECT_EQ(file.depth, 1u) << what;
      EXPECT_EQ(file.flags & 8u, mipMaps ? 8u : 0u) << what;
      // The chain goes down to 1 x 1.
      const uint32_t levels = mipMaps ? texturetest::Log2(c.side) + 1 : 1;
      EXPECT_EQ(file.mipCount, levels) << what;
      ASSERT_EQ(file.levels.size(), levels) << what;
      for (uint32_t i = 0; i < levels; ++i) {
        const Level& level = file.levels[i];
        EXPECT_EQ(level.level, i) << what;
        EXPECT_EQ(level.width, std::max(1u, c.side >> i)) << what << " level " << i;
        EXPECT_EQ(level.height, std::max(1u, c.side >> i)) << what << " level " << i;
        const std::vector<uint32_t> decoded = DecodeLevel(level, c.code);
        ASSERT_EQ(decoded.size(), std::size_t{level.width} * level.height) << what << " level " << i;
        if (c.alphaMax == kOneBit) {
          for (uint32_t p : decoded) ASSERT_TRUE((p >> 24) == 0 || (p >> 24) == 255) << what << " level " << i;
        }
        if (i != 0) continue;
        std::vector<uint32_t> expected = source.pixels;
        if (c.code == 3) {
          for (uint32_t& p : expected) p |= 0xFF000000u;
        }
        for (int channel = 0; channel < 3; ++channel) {
          const Error error = ChannelError(decoded, expected, channel, c.alphaMax == kOneBit);
          EXPECT_LE(error.max, c.colourMax) << what << " channel " << channel;
          EXPECT_LE(error.mean, c.colourMean) << what << " channel " << channel;
        }
        if (c.alphaMax >= 0) {
          EXPECT_LE(ChannelError(decoded, expected, 3).max, c.alphaMax) << what;
        } else if (c.alphaMax == kOneBit) {
          // Transparent stays transparent; nvtt gives up a few opaque pixels
          // of a block to its transparent index.
          std::size_t opaque = 0, kept = 0;
          for (std::size_t p = 0; p < expected.size(); ++p) {
            if ((expected[p] >> 24) == 0) {
              EXPECT_EQ(decoded[p] >> 24, 0u) << what << " pixel " << p;
            }
            if ((expected[p] >> 24) == 255) ++opaque, kept += (decoded[p] >> 24) == 255;
          }
          EXPECT_GE(kept * 100, opaque * 95) << what;
        }
      }
    }
  }
}

TEST_F(CompressTest, ModifyMapInvertsGreenOfNonZeroPixels) {
  const imagefiles::Image source = imagefiles::Pattern(8, 8, 1, true);
  struct Case {
    const char* what;
    bool opaqueFile;  // a 24-bit source loads as format 3, which is left alone
    bool inverted;
  };
  const Case cases[] = {{"32-bit source", false, true}, {"24-bit source", true, false}};
  for (const Case& c : cases) {
    folder_.WriteFile("m.tga", imagefiles::Tga(source, c.opaqueFile ? 24 : 32, false));
    folder_.WriteFile("m.texture.txt", "Primary=m.tga\nModifyMap=1\nAutoMip=none\n");
    const TextureFile file = Convert(folder_ / "m.texture.txt", "-forceOptions -Compression=none,none,none");
    ASSERT_TRUE(file.ok) << c.what;
    ASSERT_EQ(file.code, 1u) << c.what;
    const std::vector<uint32_t> decoded = DecodeLevel(file.levels.at(0), 1);
    ASSERT_EQ(decoded.size(), source.pixels.size()) << c.what;
    for (std::size_t i = 0; i < decoded.size(); ++i) {
      uint32_t expected = c.opaqueFile ? source.pixels[i] | 0xFF000000u : source.pixels[i];
      if (c.inverted && expected != 0) expected ^= 0x0000FF00u;
      ASSERT_EQ(decoded[i], expected) << c.what << " pixel " << i;
    }
  }
}

TEST_F(CompressTest, TheFileHoldsTheHeaderAndEverySliceAndLevel) {
  folder_.WriteFile("a.tga", imagefiles::Tga(imagefiles::Pattern(16, 8, 2), 32, true));
  folder_.WriteFile("b.tga", imagefiles::Tga(imagefiles::Pattern(16, 8, 0), 32, false));
  folder_.WriteFile("s.texture.txt", "Primary=a.tga\nPrimary=b.tga\nTile=s\nHint=normalmap\nAnisotropy=4\n");
  // A normal map with one-bit alpha counts as full alpha.
  const TextureFile file =
      Convert(folder_ / "s.texture.txt", "-forceOptions -Compression=dxt1,dxt5,dxt1a -AutoMip=box");
  ASSERT_TRUE(file.ok);
  EXPECT_EQ(file.width, 16u);
  EXPECT_EQ(file.height, 8u);
  EXPECT_EQ(file.depth, 2u);
  EXPECT_EQ(file.mipCount, 5u);
  EXPECT_EQ(file.code, 10u);
  EXPECT_EQ(file.alphaClass, 1);
  EXPECT_EQ(file.flags, 1u | 4u | 8u);
  ASSERT_EQ(file.levels.size(), 10u);
  for (std::size_t i = 0; i < file.levels.size(); ++i) {
    EXPECT_EQ(file.levels[i].slice, i / 5);
    EXPECT_EQ(file.levels[i].level, i % 5);
    // DXT1: 8 bytes per 4 x 4 block, at least one block.
    const uint32_t blocks = std::max(1u, (file.levels[i].width + 3) / 4) * std::max(1u, (file.levels[i].height + 3) / 4);
    EXPECT_EQ(file.levels[i].bytes.size(), blocks * 8u) << i;
  }
}

TEST_F(CompressTest, SaveLocksAroundItsOwnCompression) {
  auto texture = Load(Describe(imagefiles::Pattern(8, 8, 0)), "-AutoMip=none");
  ASSERT_TRUE(texture);
  ASSERT_TRUE(texture->Save((folder_ / "saved.texture").c_str(), nullptr));
  EXPECT_EQ(texture->MipLockCount(), 0);
  EXPECT_EQ(texture->CompressedCount(), 0u);
  const TextureFile file = texturetest::ReadTextureFile(folder_.ReadFile("saved.texture"));
  ASSERT_TRUE(file.ok);
  EXPECT_EQ(file.code, 3u);
  ASSERT_EQ(file.levels.size(), 1u);
  EXPECT_EQ(file.levels[0].bytes.size(), 8u * 8u * 4u);
  EXPECT_FALSE(texture->Save((folder_ / "no/such/folder/x.texture").c_str(), nullptr));
  EXPECT_EQ(texture->MipLockCount(), 0);
  EXPECT_FALSE(texture->CompressAndSave((folder_ / "no/such/folder/x.texture").c_str(), false));
}

TEST(OutputHandlerTest, WritesStayInsideTheImageBuffer) {
  TextureCompress target;
  OurOutputHandler handler(target);
  EXPECT_FALSE(handler.writeData("abcd", 4)) << "no image begun";
  handler.beginImage(8, 4, 4, 1, 0, 0);
  EXPECT_TRUE(handler.writeData("abcde", 5));
  EXPECT_FALSE(handler.writeData("fghi", 4)) << "one byte past the buffer";
  EXPECT_TRUE(handler.writeData("fgh", 3));
  EXPECT_FALSE(handler.writeData("i", 1));
  EXPECT_EQ(target.Count(), 0u);
  handler.beginImage(2, 1, 1, 1, 0, 1);
  ASSERT_EQ(target.Count(), 1u) << "beginning the next image hands the last one over";
  const Vak::Bitmap* first = target.Image(0);
  EXPECT_EQ(first->GetFormat(), Vak::Bitmap::kFormatCompressed);
  EXPECT_EQ(first->GetWidth(), 4u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(first->GetData()), first->GetDataSize()), "abcdefgh");
  handler.Finish();
  EXPECT_EQ(target.Count(), 2u);
  EXPECT_EQ(target.Image(1)->GetDataSize(), 2u);
}

TEST(TextureCompressRunTest, RefusalsAndNvttFailures) {
  Vak::Bitmap image(8, 8, Vak::Bitmap::kFormatARGB);
  for (int code : {0, 2, 4, 13}) {
    TextureCompress run;
    EXPECT_FALSE(run.Run(image, code, false, false, false, false, false)) << code;
  }
  Vak::Bitmap blocks(8, 8, std::size_t{32});
  TextureCompress compressedSource;
  EXPECT_FALSE(compressedSource.Run(blocks, 10, false, false, false, false, false));

  // nvtt refuses an image without pixels; its text stays for the caller.
  Vak::Bitmap empty(0, 0, Vak::Bitmap::kFormatARGB);
  TextureCompress failing;
  EXPECT_FALSE(failing.Run(empty, 10, false, false, false, false, true));
  EXPECT_EQ(failing.Count(), 0u);
  EXPECT_STREQ(TextureCompress::LastError().c_str(), "Invalid input");

  TextureCompress good;
  EXPECT_TRUE(good.Run(image, 3, false, true, false, true, true)) << "no GPU here: nvtt falls back";
  EXPECT_EQ(good.Count(), 4u);
  EXPECT_TRUE(TextureCompress::LastError().IsNull()) << "a good run clears the last error";
}

} // namespace

namespace {

// A texture whose slices the test sets directly.
class Injected : public CompressAsciiResource {
public:
  using CompressAsciiResource::CompressAsciiResource;
  void Slices(std::vector<std::unique_ptr<Vak::Bitmap>> slices) { SetImages(std::move(slices)); }
};

TEST_F(CompressTest, AFailedCompressionGivesTheLockBackAndWritesNothing) {
  Vak::Options options;
  options.ProcessRaw("-Compression=auto");
  Injected texture(Vak::PString("t.texture"), nullptr);
  texture.SetOptions(&options);
  std::vector<std::unique_ptr<Vak::Bitmap>> slices;
  slices.push_back(std::make_unique<Vak::Bitmap>(0, 0, Vak::Bitmap::kFormatARGB));
  texture.Slices(std::move(slices));

  EXPECT_FALSE(texture.LockCompressed());
  EXPECT_EQ(texture.MipLockCount(), 0);
  EXPECT_STREQ(TextureCompress::LastError().c_str(), "Invalid input");
  EXPECT_FALSE(texture.CompressAndSave((folder_ / "failed.texture").c_str(), true));
  EXPECT_FALSE(folder_.Has("failed.texture")) << "no file without compressed images";
  EXPECT_FALSE(texture.Save((folder_ / "failed.texture").c_str(), nullptr));
  EXPECT_EQ(texture.MipLockCount(), 0);
  EXPECT_EQ(texture.GetCompressedImage(0, 0), nullptr);
  EXPECT_EQ(texture.GetCompressedImage(0, 5), nullptr);
}

} // namespace
