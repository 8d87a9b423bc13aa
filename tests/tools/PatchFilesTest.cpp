#include "tools/PatchFiles.h"

#include <string>

#include <gtest/gtest.h>

#include "Vak/Bexlorn/FileSubArchive.h"
#include "tests/tools/PatchTestSupport.h"
#include "tests/tools/ToolTestSupport.h"

namespace {

using patchtest::MakeArchive;
using patchtest::ReadFrom;
using tooltest::TempFolder;
using tooltest::WorkingFolder;
using tooltest::WriteBytes;

std::string Content(std::size_t size) {
  std::string out(size, '\0');
  for (std::size_t i = 0; i < size; ++i) out[i] = static_cast<char>('a' + i % 23);
  return out;
}

TEST(PatchFilesTest, ArchiveCopiesKeepEveryFileEmptyOnesIncluded) {
  TempFolder folder;
  WorkingFolder inside(folder.Path());
  const struct {
    const char* name;
    std::size_t size;
    bool compressed;
  } cases[] = {{"empty.dat", 0, false}, {"one.txt", 1, false}, {"dir/k1.bin", 1024, false}, {"dir/k1+1.bin", 1025, true}};
  patchtest::Files files;
  for (const auto& c : cases) files.push_back({c.name, Content(c.size)});
  MakeArchive(folder / "src.va", files);

  const Vak::PString source("pf-src"), destination("pf-dst");
  ASSERT_TRUE(Vak::File::Subst(source, (folder / "src.va").c_str(), false));
  ASSERT_TRUE(Vak::File::Subst(destination, (folder / "dst.va").c_str(), true));
  for (const auto& c : cases) EXPECT_TRUE(CopyArchiveFile(source, c.name, destination, c.name)) << c.name;
  EXPECT_FALSE(CopyArchiveFile(source, "missing.txt", destination, "missing.txt"));
  Vak::File::Subst(source, nullptr, false);
  Vak::File::Subst(destination, nullptr, false);

  Vak::FileSubArchive archive((folder / "dst.va").c_str(), false);
  for (const auto& c : cases) {
    Vak::Archive::FileHeader header;
    ASSERT_TRUE(archive.GetHeader(c.name, header)) << c.name;
    EXPECT_EQ(c.size, header.uncompressedSize) << c.name;
    EXPECT_EQ(c.compressed, header.Compressed()) << c.name;
  }
  Vak::Archive::FileHeader header;
  EXPECT_FALSE(archive.GetHeader("missing.txt", header));

  ASSERT_TRUE(Vak::File::Subst(destination, (folder / "dst.va").c_str(), false));
  for (const auto& c : cases) {
    std::string read;
    EXPECT_TRUE(ReadFrom(destination, c.name, read)) << c.name;
    EXPECT_EQ(Content(c.size), read) << c.name;
  }
  Vak::File::Subst(destination, nullptr, false);
}

TEST(PatchFilesTest, PlainFilesAreWrittenWholeOrReportFailure) {
  TempFolder folder;
  const std::string text = Content(40000);
  const Vak::File::Path path((folder / "work").c_str());
  ASSERT_TRUE(WritePlainFile(Vak::PString(), path, reinterpret_cast<const uint8_t*>(text.data()), text.size()));
  EXPECT_EQ(text, tooltest::ReadBytes(folder / "work"));
  ASSERT_TRUE(WritePlainFile(Vak::PString(), path, nullptr, 0));
  EXPECT_EQ("", tooltest::ReadBytes(folder / "work"));
  const Vak::File::Path nowhere((folder / "no/such/folder/work").c_str());
  EXPECT_FALSE(WritePlainFile(Vak::PString(), nowhere, reinterpret_cast<const uint8_t*>("x"), 1));
}

TEST(PatchFilesTest, ArchivePathsMustStayInsideTheArchive) {
  const struct {
    const char* path;
    bool safe;
  } cases[] = {
      {"a.txt", true},         {"dir/sub/a.txt", true}, {"dir\\a.txt", true},  {"..name", true},
      {"a..b/c", true},        {"", false},             {"/etc/passwd", false}, {"\\a", false},
      {"C:/a", false},         {"c:a", false},          {"..", false},          {"../a", false},
      {"a/../../b", false},    {"a\\..\\b", false},     {"a/..", false},
  };
  for (const auto& c : cases) EXPECT_EQ(c.safe, IsSafeArchivePath(c.path)) << c.path;
  EXPECT_FALSE(IsSafeArchivePath(nullptr));
}

} // namespace
