#include "engine/fyrmond/MeshFileSupport.h"

#include <gtest/gtest.h>

#include <string>

#include "Vak/Bexlorn/Alloc.h"
#include "Vak/Bexlorn/File.h"
#include "Vak/Bexlorn/PString.h"
#include "Vak/Bexlorn/String.h"
#include "engine/kernelx/MemoryFile.h"
#include "tests/platform/os/TempFolder.h"

namespace {

using Vak::MeshFileSupport;

std::string Bytes(const char* text, std::size_t n) { return std::string(text, n); }

TEST(MeshFileSupportTest, WritesSizesAndPaddedStringsByteForByte) {
  platform::test::TempFolder folder;
  {
    Vak::File file;
    ASSERT_TRUE(file.Open((folder / "w.bin").c_str(), Vak::File::kWrite | Vak::File::kCreate).Ok());
    const uint32_t outer = MeshFileSupport::MarkSizePos(file);
    EXPECT_TRUE(MeshFileSupport::WritePaddedString(file, "abc"));
    const uint32_t inner = MeshFileSupport::MarkSizePos(file);
    EXPECT_TRUE(MeshFileSupport::WritePaddedString(file, nullptr));
    EXPECT_TRUE(MeshFileSupport::WritePaddedString(file, ""));
    EXPECT_TRUE(MeshFileSupport::WriteSizeAtMark(file, inner));
    EXPECT_TRUE(MeshFileSupport::WritePaddedString(file, "abcd"));
    EXPECT_TRUE(MeshFileSupport::WriteSizeAtMark(file, outer));
    EXPECT_EQ(file.Close(), 0);
  }
  const std::string expected = Bytes("\x24\0\0\0", 4) +             // outer size
                               Bytes("\x04\0\0\0" "abc\0", 8) +      // no padding needed
                               Bytes("\x0c\0\0\0", 4) +              // inner size
                               Bytes("\0\0\0\0", 4) +                // null
                               Bytes("\x01\0\0\0\0\0\0\0", 8) +      // empty: the zero, padded
                               Bytes("\x05\0\0\0" "abcd\0\0\0\0", 12);
  EXPECT_EQ(folder.ReadFile("w.bin"), expected);
}

// Writes each text and reads it back in all three forms.
TEST(MeshFileSupportTest, PaddedStringsRoundTrip) {
  const char* texts[] = {nullptr, "", "a", "abc", "abcd", "a longer name*with*parts"};
  platform::test::TempFolder folder;
  {
    Vak::File file;
    ASSERT_TRUE(file.Open((folder / "s.bin").c_str(), Vak::File::kWrite | Vak::File::kCreate).Ok());
    for (int form = 0; form < 3; ++form)
      for (const char* text : texts) EXPECT_TRUE(MeshFileSupport::WritePaddedString(file, text));
    EXPECT_EQ(file.Close(), 0);
  }
  Vak::File file;
  ASSERT_TRUE(file.Open((folder / "s.bin").c_str(), Vak::File::kRead).Ok());
  Vak::MemoryFile m(file, false, 0);
  for (const char* text : texts) {
    Vak::String out("x");
    ASSERT_TRUE(MeshFileSupport::ReadPaddedString(m, out));
    EXPECT_STREQ(static_cast<const char*>(out), text ? text : "");
  }
  for (const char* text : texts) {
    Vak::PString out("x");
    ASSERT_TRUE(MeshFileSupport::ReadPaddedString(m, out));
    EXPECT_EQ(out.IsNull(), text == nullptr);
    EXPECT_STREQ(out.c_str(), text ? text : "");
  }
  for (const char* text : texts) {
    char* out = reinterpret_cast<char*>(1);
    ASSERT_TRUE(MeshFileSupport::ReadPaddedString(m, out));
    if (text == nullptr) {
      EXPECT_EQ(out, nullptr);
    } else {
      ASSERT_NE(out, nullptr);
      EXPECT_STREQ(out, text);
    }
    Vak::Alloc::Delete(out);
  }
  EXPECT_EQ(m.Remaining(), 0u);
}

TEST(MeshFileSupportTest, MalformedStringsFailWithoutMovingTheCursor) {
  struct Case {
    const char* what;
    std::string bytes;
  } cases[] = {
      {"length cut", Bytes("\x04\0\0", 3)},
      {"text past the end", Bytes("\x09\0\0\0" "abc\0", 8)},
      {"padding past the end", Bytes("\x02\0\0\0" "a\0", 6)},
      {"no terminating zero", Bytes("\x04\0\0\0" "abcd", 8)},
      {"huge length", Bytes("\xff\xff\xff\xff" "abc\0", 8)},
  };
  for (const Case& c : cases) {
    platform::test::TempFolder folder;
    folder.WriteFile("s.bin", c.bytes);
    Vak::File file;
    ASSERT_TRUE(file.Open((folder / "s.bin").c_str(), Vak::File::kRead).Ok());
    Vak::MemoryFile m(file, false, 0);
    Vak::PString out("kept");
    EXPECT_FALSE(MeshFileSupport::ReadPaddedString(m, out)) << c.what;
    EXPECT_STREQ(out.c_str(), "kept") << c.what;
    EXPECT_EQ(m.Tell(), 0u) << c.what;
  }
}

} // namespace
