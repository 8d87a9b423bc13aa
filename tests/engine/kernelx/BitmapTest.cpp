#include "engine/kernelx/Bitmap.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/engine/kernelx/ImageFiles.h"
#include "tests/platform/os/TempFolder.h"

namespace {

using imagefiles::Image;
using Vak::Bitmap;

// Every pixel of the bitmap against the image (alpha 255 where the file has
// none).
void ExpectPixels(const Bitmap& bitmap, const Image& image, bool keepsAlpha, const std::string& what) {
  ASSERT_EQ(bitmap.GetWidth(), image.width) << what;
  ASSERT_EQ(bitmap.GetHeight(), image.height) << what;
  for (uint32_t y = 0; y < image.height; ++y) {
    for (uint32_t x = 0; x < image.width; ++x) {
      const uint32_t expected = keepsAlpha ? image.At(x, y) : (image.At(x, y) | 0xFF000000u);
      ASSERT_EQ(bitmap.GetPixel(x, y), expected) << what << " at " << x << "," << y;
    }
  }
}

bool Load(Bitmap& bitmap, const std::string& bytes) {
  return bitmap.LoadFromMemory(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

TEST(BitmapTest, TgaFilesOfEveryLayoutLoadTheSamePixels) {
  // Odd sizes and long runs: packets cross rows, rows need no padding.
  Image image = imagefiles::Pattern(13, 7, 1);
  for (uint32_t x = 0; x < 13; ++x) image.pixels[3 * 13 + x] = 0x80402010u;  // one row of a single colour
  struct Case {
    int bits;
    bool rle;
    bool topDown;
    bool mirrored;
  };
  const Case cases[] = {
      {24, false, false, false}, {32, false, false, false}, {24, true, false, false}, {32, true, false, false},
      {32, false, true, false},  {32, true, true, false},   {24, false, false, true}, {32, true, true, true},
  };
  for (const Case& c : cases) {
    const std::string what = std::to_string(c.bits) + (c.rle ? " rle" : " raw") + (c.topDown ? " top-down" : "") +
                             (c.mirrored ? " mirrored" : "");
    Bitmap bitmap;
    ASSERT_TRUE(Load(bitmap, imagefiles::Tga(image, c.bits, c.rle, c.topDown, c.mirrored))) << what;
    EXPECT_EQ(bitmap.GetFormat(), c.bits == 32 ? Bitmap::kFormatARGB : Bitmap::kFormatXRGB) << what;
    ExpectPixels(bitmap, image, c.bits == 32, what);
  }
}

TEST(BitmapTest, BmpFilesOfEveryLayoutLoadTheSamePixels) {
  const Image image = imagefiles::Pattern(5, 3, 1);  // 5 x 3 bytes per row: padded
  Image noAlpha = image;
  for (uint32_t& p : noAlpha.pixels) p &= 0x00FFFFFFu;
  struct Case {
    const char* what;
    const Image* image;
    int bits;
    bool topDown;
    bool bitfields;
    Bitmap::Format format;
    bool keepsAlpha;
  };
  const Case cases[] = {
      {"24 bottom-up", &image, 24, false, false, Bitmap::kFormatXRGB, false},
      {"24 top-down", &image, 24, true, false, Bitmap::kFormatXRGB, false},
      {"32", &image, 32, false, false, Bitmap::kFormatARGB, true},
      {"32 bit fields top-down", &image, 32, true, true, Bitmap::kFormatARGB, true},
      {"32 without alpha loads opaque", &noAlpha, 32, false, false, Bitmap::kFormatXRGB, false},
  };
  for (const Case& c : cases) {
    Bitmap bitmap;
    ASSERT_TRUE(Load(bitmap, imagefiles::Bmp(*c.image, c.bits, c.topDown, c.bitfields))) << c.what;
    EXPECT_EQ(bitmap.GetFormat(), c.format) << c.what;
    ExpectPixels(bitmap, *c.image, c.keepsAlpha, c.what);
  }
}

// Files another program wrote, so that the two readers and writers of this
// test cannot share one mistake.
TEST(BitmapTest, FilesWrittenByImageMagickLoad) {
  platform::test::TempFolder folder;
  for (int alphaKind : {0, 1}) {
    const Image image = imagefiles::Pattern(6, 5, alphaKind);
    std::string pam = "P7\nWIDTH 6\nHEIGHT 5\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n";
    for (uint32_t p : image.pixels) {
      pam += static_cast<char>(p >> 16);
      pam += static_cast<char>(p >> 8);
      pam += static_cast<char>(p);
      pam += static_cast<char>(p >> 24);
    }
    folder.WriteFile("in.pam", pam);
    struct Case {
      const char* output;
      std::vector<std::string> options;
    };
    // ImageMagick stores TGA rows in its own order and only labels them with
    // the orientation it holds: a top-down label, or its rows turned over
    // under the bottom-up label, gives a file in the usual sense.
    const Case cases[] = {
        {"out.tga", {"-orient", "TopLeft", "-compress", "None"}},
        {"out.tga", {"-orient", "TopLeft", "-compress", "RLE"}},
        {"out.tga", {"-flip", "-compress", "None"}},
        {"out.tga", {"-flip", "-compress", "RLE"}},
        {"out.bmp", {}},
        {"BMP3:out.bmp", {}},
    };
    for (const Case& c : cases) {
      std::vector<std::string> arguments{folder / "in.pam"};
      if (alphaKind == 0) arguments.insert(arguments.end(), {"-alpha", "off"});
      arguments.insert(arguments.end(), c.options.begin(), c.options.end());
      const std::string output = c.output;
      const bool prefixed = output.find(':') != std::string::npos;
      arguments.push_back(prefixed ? output.substr(0, output.find(':') + 1) + (folder / output.substr(output.find(':') + 1))
                                   : folder / output);
      const std::string what = std::string(c.output) + (c.options.empty() ? "" : " " + c.options.back()) +
                               (alphaKind ? " with alpha" : " opaque");
      ASSERT_TRUE(imagefiles::Convert(arguments)) << what;
      Bitmap bitmap;
      ASSERT_TRUE(bitmap.Load((folder / "out" + output.substr(output.rfind('.'))).c_str())) << what;
      // BMP3 has no alpha; the others keep what they were given.
      const bool keepsAlpha = alphaKind == 1 && output != "BMP3:out.bmp";
      ExpectPixels(bitmap, image, keepsAlpha, what);
    }
  }
}

TEST(BitmapTest, MalformedFilesFailAndLeaveTheBitmapEmpty) {
  const Image image = imagefiles::Pattern(8, 4, 1);
  const std::string tga = imagefiles::Tga(image, 32, false);
  const std::string rle = imagefiles::Tga(image, 32, true);
  const std::string bmp = imagefiles::Bmp(image, 24);
  auto patched = [](std::string bytes, std::size_t at, std::string with) { return bytes.replace(at, with.size(), with); };
  struct Case {
    const char* what;
    std::string bytes;
  };
  const Case cases[] = {
      {"empty", ""},
      {"tga header cut", tga.substr(0, 17)},
      {"tga pixels cut", tga.substr(0, tga.size() - 1)},
      {"rle packet cut", rle.substr(0, rle.size() - 1)},
      {"rle run past the image", imagefiles::Tga(imagefiles::Pattern(2, 1, 0), 32, true).substr(0, 18) +
                                     std::string("\x82\x01\x02\x03\x04", 5)},
      {"tga colour-mapped image", patched(tga, 2, "\x01")},
      {"tga grey image", patched(tga, 2, "\x03")},
      {"tga colour map type 2", patched(tga, 1, "\x02")},
      {"tga 16 bits", patched(tga, 16, "\x10")},
      {"tga zero width", patched(tga, 12, std::string("\0\0", 2))},
      {"tga 65535 x 65535 from a small file", patched(tga, 12, "\xFF\xFF\xFF\xFF")},
      {"tga colour map past the end", patched(patched(tga, 1, "\x01"), 5, "\xFF\xFF\x20")},
      {"bmp header cut", bmp.substr(0, 40)},
      {"bmp pixels cut", bmp.substr(0, bmp.size() - 1)},
      {"bmp run-length", patched(bmp, 30, "\x01")},
      {"bmp 8 bits", patched(bmp, 28, "\x08")},
      {"bmp no planes", patched(bmp, 26, std::string("\0", 1))},
      {"bmp zero height", patched(bmp, 22, std::string("\0\0\0\0", 4))},
      {"bmp pixel offset past the end", patched(bmp, 10, "\xFF\xFF\xFF\x7F")},
      {"bmp huge width", patched(bmp, 18, "\xFF\xFF\xFF\x7F")},
  };
  for (const Case& c : cases) {
    Bitmap bitmap(2, 2, Bitmap::kFormatARGB);
    EXPECT_FALSE(Load(bitmap, c.bytes)) << c.what;
    EXPECT_TRUE(bitmap.IsEmpty()) << c.what;
    EXPECT_EQ(bitmap.GetWidth(), 0u) << c.what;
  }
}

TEST(BitmapTest, LoadReadsThroughTheFileLayer) {
  platform::test::TempFolder folder;
  const Image image = imagefiles::Pattern(4, 4, 2);
  folder.WriteFile("a.tga", imagefiles::Tga(image, 32, true));
  Bitmap bitmap;
  ASSERT_TRUE(bitmap.Load((folder / "a.tga").c_str()));
  ExpectPixels(bitmap, image, true, "a.tga");
  EXPECT_FALSE(bitmap.Load((folder / "missing.tga").c_str()));
  EXPECT_TRUE(bitmap.IsEmpty());
}

// A file loads as its bytes load from memory, whichever way Load reads it.
TEST(BitmapTest, LoadOfAFileAgreesWithItsBytesInMemory) {
  platform::test::TempFolder folder;
  const Image image = imagefiles::Pattern(13, 7, 3);
  const std::string plain = imagefiles::Tga(image, 32, false);
  const std::string top = imagefiles::Tga(image, 32, false, true);
  // An image id of 5 bytes after the header, a colour map of 2 entries of 24 bits.
  std::string withId = plain;
  withId[0] = 5;
  withId.insert(18, "abcde");
  std::string withMap = plain;
  withMap[1] = 1;
  withMap[5] = 2;
  withMap[7] = 24;
  withMap.insert(18, "012345");
  struct Case {
    const char* what;
    std::string bytes;
  };
  const Case cases[] = {
      {"bottom-up", plain},
      {"top-down", top},
      {"one row", imagefiles::Tga(imagefiles::Pattern(9, 1, 4), 32, false)},
      {"image id", withId},
      {"colour map", withMap},
      {"footer after the pixels", plain + std::string(26, 'F')},
      {"mirrored", imagefiles::Tga(image, 32, false, true, true)},
      {"24 bits", imagefiles::Tga(image, 24, false)},
      {"run-length", imagefiles::Tga(image, 32, true)},
      {"pixels cut", plain.substr(0, plain.size() - 1)},
      {"header cut", plain.substr(0, 17)},
      {"empty", ""},
  };
  for (const Case& c : cases) {
    folder.WriteFile("a.tga", c.bytes);
    Bitmap fromFile(2, 2, Bitmap::kFormatXRGB), fromMemory;
    const bool loaded = Load(fromMemory, c.bytes);
    ASSERT_EQ(fromFile.Load((folder / "a.tga").c_str()), loaded) << c.what;
    EXPECT_EQ(fromFile.GetFormat(), fromMemory.GetFormat()) << c.what;
    EXPECT_EQ(fromFile.GetWidth(), fromMemory.GetWidth()) << c.what;
    EXPECT_EQ(fromFile.GetHeight(), fromMemory.GetHeight()) << c.what;
    ASSERT_EQ(fromFile.GetDataSize(), fromMemory.GetDataSize()) << c.what;
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(fromFile.GetData()), fromFile.GetDataSize()),
              std::string(reinterpret_cast<const char*>(fromMemory.GetData()), fromMemory.GetDataSize()))
        << c.what;
  }
}

TEST(BitmapTest, ScaleResamplesAndKeepsTheFormat) {
  Bitmap source(4, 2, Bitmap::kFormatARGB);
  // Columns pairwise equal: halving the width averages equal pixels, halving
  // the height averages the two rows.
  const uint32_t top[4] = {0x10203040u, 0x10203040u, 0xF0E0D0C0u, 0xF0E0D0C0u};
  const uint32_t bottom[4] = {0x30405060u, 0x30405060u, 0xD0C0B0A0u, 0xD0C0B0A0u};
  for (uint32_t x = 0; x < 4; ++x) {
    source.SetPixel(x, 0, top[x]);
    source.SetPixel(x, 1, bottom[x]);
  }
  const auto half = source.Scale(2, 1);
  ASSERT_TRUE(half);
  EXPECT_EQ(half->GetFormat(), Bitmap::kFormatARGB);
  EXPECT_EQ(half->GetPixel(0, 0), 0x20304050u);
  EXPECT_EQ(half->GetPixel(1, 0), 0xE0D0C0B0u);

  Bitmap flat(3, 3, Bitmap::kFormatXRGB);
  for (uint32_t y = 0; y < 3; ++y)
    for (uint32_t x = 0; x < 3; ++x) flat.SetPixel(x, y, 0xFF336699u);
  const auto larger = flat.Scale(7, 5);
  ASSERT_TRUE(larger);
  EXPECT_EQ(larger->GetFormat(), Bitmap::kFormatXRGB);
  for (uint32_t y = 0; y < 5; ++y)
    for (uint32_t x = 0; x < 7; ++x) EXPECT_EQ(larger->GetPixel(x, y), 0xFF336699u);

  EXPECT_FALSE(flat.Scale(0, 4));
  EXPECT_FALSE(Bitmap(4, 4, std::size_t{8}).Scale(2, 2)) << "compressed data cannot be resampled";
  EXPECT_FALSE(Bitmap().Scale(2, 2));
}

} // namespace
