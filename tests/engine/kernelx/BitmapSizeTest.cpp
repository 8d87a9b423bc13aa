#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/kernelx/Bitmap.h"
#include "engine/kernelx/WholeFile.h"
#include "platform/os/Process.h"
#include "platform/os/Waitable.h"
#include "tests/engine/kernelx/ImageFiles.h"
#include "tests/platform/os/TempFolder.h"

namespace {

using Vak::Bitmap;

bool SizeOf(const std::string& bytes, uint32_t& width, uint32_t& height) {
  return Bitmap::ReadSizeFromMemory(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), width, height);
}

// What ImageMagick's own reader says the file's size is, as "WxH".
std::string Identify(const platform::test::TempFolder& folder, const std::string& path) {
  platform::Process identify;
  const std::vector<std::string> arguments{
      "/bin/sh", "-c", "/usr/bin/identify-im6.q16 -format %wx%h '" + path + "' > '" + (folder / "size.txt") + "'"};
  if (identify.Start(arguments) != platform::Error::None || !identify.Wait(platform::kInfinite)) return "";
  return folder.ReadFile("size.txt");
}

struct MadeFile {
  std::string name;
  std::vector<std::string> options;
};

// Layouts the loader does not decode as well as those it does.
const MadeFile kMadeFiles[] = {
    {"plain.tga", {"-compress", "None"}},
    {"rle.tga", {"-compress", "RLE"}},
    {"grey.tga", {"-colorspace", "Gray", "-compress", "None"}},
    {"palette.tga", {"-type", "Palette", "-compress", "RLE"}},
    {"plain.bmp", {}},
    {"BMP3:old.bmp", {}},
    {"BMP2:core.bmp", {}},
    {"palette.bmp", {"-type", "Palette"}},
    {"plain.png", {}},
    {"grey.png", {"-colorspace", "Gray"}},
    {"plain.jpg", {}},
    {"progressive.jpg", {"-interlace", "Plane"}},
};

TEST(BitmapSizeTest, SizesOfImageMagickFilesAgreeWithIdentify) {
  platform::test::TempFolder folder;
  for (const auto& [width, height] : {std::pair{256, 128}, std::pair{33, 7}}) {
    const std::string size = std::to_string(width) + "x" + std::to_string(height);
    for (const MadeFile& made : kMadeFiles) {
      const std::size_t colon = made.name.find(':');
      const std::string file = made.name.substr(colon == std::string::npos ? 0 : colon + 1);
      const std::string path = folder / file;
      std::vector<std::string> arguments{"-size", size, "gradient:red-blue"};
      arguments.insert(arguments.end(), made.options.begin(), made.options.end());
      arguments.push_back(colon == std::string::npos ? path : made.name.substr(0, colon + 1) + path);
      ASSERT_TRUE(imagefiles::Convert(arguments)) << made.name;
      ASSERT_EQ(Identify(folder, path), size) << made.name;
      uint32_t w = 0, h = 0;
      ASSERT_TRUE(Bitmap::ReadSize(path.c_str(), w, h)) << made.name << " " << size;
      EXPECT_EQ(std::to_string(w) + "x" + std::to_string(h), size) << made.name;

      // Any cut into the pixel data, or through the end marker, is refused.
      std::string bytes = folder.ReadFile(file);
      for (std::size_t cut : {std::size_t{1}, std::size_t{2}, bytes.size() / 2}) {
        EXPECT_FALSE(SizeOf(bytes.substr(0, bytes.size() - cut), w, h)) << made.name << " cut " << cut;
        EXPECT_EQ(w, 0u);
      }
    }
  }
}

TEST(BitmapSizeTest, GarbageAndBrokenHeadersAreRefused) {
  const imagefiles::Image image = imagefiles::Pattern(8, 4, 0);
  const std::string tga = imagefiles::Tga(image, 24, false);
  const std::string bmp = imagefiles::Bmp(image, 24);
  auto patched = [](std::string bytes, std::size_t at, std::string with) { return bytes.replace(at, with.size(), with); };
  const std::string png = std::string("\x89PNG\r\n\x1A\n", 8) + std::string("\0\0\0\x0DIHDR", 8) +
                          std::string("\0\0\0\x08\0\0\0\x04\x08\x02\0\0\0", 13) + "crc!" +
                          std::string("\0\0\0\0IEND", 8) + "crc!";
  const std::string jpeg = std::string("\xFF\xD8\xFF\xC0\0\x0B\x08\0\x04\0\x08\x01\x01\x11\0\xFF\xDA\0\x02\xFF\xD9", 21);
  struct Case {
    const char* what;
    std::string bytes;
    bool readable;
  };
  const Case cases[] = {
      {"tga as made", tga, true},
      {"bmp as made", bmp, true},
      {"jpeg frame, scan and end", jpeg, true},
      {"text", "kind \"scenery\"\r\nvelmar-build 3.1\r\n", false},
      {"one byte", "B", false},
      {"tga image type 4", patched(tga, 2, "\x04"), false},
      {"tga 7 bits", patched(tga, 16, "\x07"), false},
      {"tga zero height", patched(tga, 14, std::string("\0\0", 2)), false},
      {"tga 65535 x 65535 from a small file", patched(tga, 12, "\xFF\xFF\xFF\xFF"), false},
      {"bmp 5 bits", patched(bmp, 28, "\x05"), false},
      {"bmp pixel offset past the end", patched(bmp, 10, "\xFF\xFF"), false},
      {"bmp huge height", patched(bmp, 22, "\xFF\xFF\xFF\x7F"), false},
      {"bmp unknown compression", patched(bmp, 30, "\x07"), false},
      {"png without image data", png, false},
      {"png chunk longer than the file", patched(png, 33, "\x7F"), false},
      {"png zero width", patched(png, 16, std::string("\0\0\0\0", 4)), false},
      {"png signature only", png.substr(0, 8), false},
      {"jpeg without a frame", jpeg.substr(0, 2) + jpeg.substr(15), false},
      {"jpeg without its end", jpeg.substr(0, 19), false},
      {"jpeg segment past the end", patched(jpeg, 4, "\x7F"), false},
  };
  for (const Case& c : cases) {
    uint32_t w = 99, h = 99;
    EXPECT_EQ(SizeOf(c.bytes, w, h), c.readable) << c.what;
    if (!c.readable) {
      EXPECT_EQ(w, 0u) << c.what;
    }
  }
}

TEST(BitmapSizeTest, APackedFileClaimingGigabytesIsRefusedUnread) {
  // A packed-file header whose unpacked size says about 4 GiB, in 12 bytes.
  platform::test::TempFolder folder;
  folder.WriteFile("a.tga", std::string("CFIL\0\0pha=\0\xFF", 12));
  std::string bytes = "left over";
  EXPECT_FALSE(Vak::ReadWholeFile((folder / "a.tga").c_str(), bytes));
  EXPECT_EQ(bytes, "");
  uint32_t w = 1, h = 1;
  EXPECT_FALSE(Bitmap::ReadSize((folder / "a.tga").c_str(), w, h));
  Bitmap bitmap;
  EXPECT_FALSE(bitmap.Load((folder / "a.tga").c_str()));

  // A plain file still reads whole, past one read block.
  const std::string big(200000, 'x');
  folder.WriteFile("big.bin", big);
  EXPECT_TRUE(Vak::ReadWholeFile((folder / "big.bin").c_str(), bytes));
  EXPECT_EQ(bytes, big);
}

} // namespace
